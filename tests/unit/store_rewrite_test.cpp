// Tests of the lock protocol, the locked read-or-rewrite of data files, the
// picture move and the data path builders: stale locks under a shifted
// program clock, failed rewrites that change nothing, commits by one rename.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <set>
#include <vector>
#include <string>
#include <thread>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "store/cust.h"
#include "store/datetime.h"
#include "store/fileio.h"
#include "tests/unit/store_seam.h"
#include "tests/unit/store_tmpdir.h"

namespace {

using store_test::Buf;
using store_test::exists;
using store_test::mode_of;
using store_test::read_all;
using store_test::kLockWaitMs;
using store_test::write_all;

std::set<std::string> names_in(const std::string& d) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(d)) names.insert(e.path().filename().string());
    return names;
}

// True where the file system makes files without a name (else the store
// layer names its temporary files from the start, and the tests of unnamed
// files have nothing to look at).
bool unnamed_offered(const std::string& d) {
    const int fd = open(d.c_str(), O_TMPFILE | O_RDWR, 0600);
    if (fd == -1) return false;
    close(fd);
    return true;
}

class FioTest : public store_test::TmpDirTest {
protected:
    std::string prefix() const { return dir + "/"; }

    ino_t inode_of(const std::string& path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    }

    // How often call f looks at lock file `name` (opens it by that name): a
    // request that waits looks again at every step of its wait, one that
    // goes on at once looks no more than a few times. Counted, not timed,
    // so that a busy machine cannot fail the check.
    template <class F>
    static long lock_looks(const char* name, F f) {
        store_seam::Seam seam;
        f();
        long looks = 0;
        for (const store_seam::CALL& c : seam.trace) looks += c.entry == "open" && c.what == name;
        return looks;
    }

    // Seconds a call takes, for the checks that a held lock is waited for.
    template <class F>
    static double seconds(F f) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }

    // One text rewrite that keeps every line but `drop` and returns `result`.
    int rewrite_dropping(const std::string& drop, int result) {
        FIO_ACCESS a;
        int r = Fio_open(&a, prefix().c_str(), "user.mst", "user.chk", FIO_REWRITE, FIO_TEXT);
        if (r != 0) return r;
        char line[10000];
        while (Fio_gets(&a, line, sizeof line))
            if (drop != line) Fio_puts(&a, line);
        return Fio_close(&a, result);
    }
};

// ---- Lock protocol ----

TEST_F(FioTest, TestAndAcquireAndRelease) {
    Buf chk(dir + "\\tree_mst.chk");
    EXPECT_EQ(Fio_xor_control(chk, 0), 0);
    EXPECT_FALSE(exists(at("tree_mst.chk")));  // a test creates nothing

    EXPECT_EQ(Fio_xor_control(chk, 1), 0);
    EXPECT_TRUE(exists(at("tree_mst.chk")));
    EXPECT_EQ(Fio_xor_control(chk, 0), 1);

    EXPECT_EQ(Fio_xor_control(chk, 2), 0);
    EXPECT_FALSE(exists(at("tree_mst.chk")));
    EXPECT_EQ(Fio_xor_control(chk, 7), 0);
}

TEST_F(FioTest, LockYoungerThanAMinuteHoldsAnOlderOneIsBroken) {
    write_all(at("chatdata.chk"), "");
    Buf chk(at("chatdata.chk"));

    Tm_clock_offset = 30;  // made 30 seconds ago
    EXPECT_EQ(Fio_xor_control(chk, 0), 1);
    EXPECT_TRUE(exists(at("chatdata.chk")));

    Tm_clock_offset = 62;  // made over a minute ago (a second of margin: file times may run a tick ahead of the clock)
    EXPECT_EQ(Fio_xor_control(chk, 0), 0);
    EXPECT_FALSE(exists(at("chatdata.chk")));
}

TEST_F(FioTest, StaleLockIsBrokenByAnAcquisitionWithoutWaiting) {
    write_all(at("acl.chk"), "");
    Tm_clock_offset = 90;
    Buf chk(at("acl.chk"));
    int r = -1;
    Fio_lock_wait_ms = 9000;
    EXPECT_LE(lock_looks("acl.chk", [&] { r = Fio_xor_control(chk, 1); }), 3);  // no wait was needed
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(exists(at("acl.chk")));  // the new lock, ours
}

TEST(FioLockWait, OnlyAWholeNumberOf1To9000MillisecondsChangesTheWait) {
    const std::vector<std::pair<const char*, int>> cases = {
        {"300", 300}, {"1", 1}, {"9000", 9000}, {"0300", 300}, {nullptr, 4000}, {"", 4000}, {"0", 4000},
        {"9001", 4000}, {"-300", 4000}, {"+300", 4000}, {" 300", 4000}, {"300ms", 4000}, {"3e2", 4000},
        {"99999", 4000}, {"\x95\x5C", 4000}};
    for (const auto& c : cases) EXPECT_EQ(Fio_lock_wait_of(c.first), c.second) << (c.first ? c.first : "null");
}

TEST_F(FioTest, AcquisitionOfAHeldLockFailsAfterTheWait) {
    write_all(at("skey.chk"), "");  // another program's lock: no mark, no kernel lock
    Buf chk(at("skey.chk"));
    int r = 0;
    double took = seconds([&] { r = Fio_xor_control(chk, 1); });
    EXPECT_EQ(r, 1);
    EXPECT_GE(took, kLockWaitMs / 1000.0 * 0.9);
    EXPECT_EQ(read_all(at("skey.chk")), "");  // the other request's lock stays as it was
}

// Lock files that this program made: a mark of its own and the kernel lock of
// a live holder.
TEST_F(FioTest, LiveHolderIsNeverBrokenAndADeadOneAtOnce) {
    Buf chk(at("chatdata.chk"));
    ASSERT_EQ(Fio_xor_control(chk, 1), 0);
    const std::string mark = read_all(at("chatdata.chk"));
    EXPECT_EQ(mark.rfind(FIO_MARK_PREFIX, 0), 0u) << mark;
    EXPECT_EQ(mode_of(at("chatdata.chk")), 0600u);

    Tm_clock_offset = 3600;  // the lock looks an hour old: a clock step, NFS
    EXPECT_EQ(Fio_xor_control(chk, 0), 1);
    EXPECT_EQ(read_all(at("chatdata.chk")), mark);
    Tm_clock_offset = -3600;  // or an hour ahead
    EXPECT_EQ(Fio_xor_control(chk, 0), 1);
    Tm_clock_offset = 0;

    // Waiters get it as soon as the holder lets go.
    std::thread holder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Fio_xor_control(chk, 2);
    });
    Buf chk2(at("chatdata.chk"));
    Fio_lock_wait_ms = 9000;
    EXPECT_EQ(Fio_xor_control(chk2, 1), 0);
    holder.join();
    EXPECT_NE(read_all(at("chatdata.chk")), mark);  // the new holder's own mark
    EXPECT_EQ(Fio_xor_control(chk2, 2), 0);
    EXPECT_FALSE(exists(at("chatdata.chk")));

    // A young lock of this host whose holder is gone (no kernel lock) is
    // broken at once; one of another host waits for its minute.
    write_all(at("chatdata.chk"), mark);
    {
        // Looked at once and broken: a wait would look again and again.
        store_seam::Seam seam;
        EXPECT_EQ(Fio_xor_control(chk, 0), 0);
        int opens = 0;
        for (const store_seam::CALL& c : seam.trace) opens += c.entry == "open" && c.what == "chatdata.chk";
        EXPECT_LE(opens, 3);
        EXPECT_LE(seam.trace.size(), 20u);
    }
    EXPECT_FALSE(exists(at("chatdata.chk")));
    write_all(at("chatdata.chk"), FIO_MARK_PREFIX "elsewhere 12 00ff\n");
    EXPECT_EQ(Fio_xor_control(chk, 0), 1);
    Tm_clock_offset = 62;
    EXPECT_EQ(Fio_xor_control(chk, 0), 0);
}

TEST_F(FioTest, ReleaseNeverRemovesAnotherRequestsLock) {
    Buf chk(at("acl.chk"));
    EXPECT_EQ(Fio_xor_control(chk, 2), 0);  // nothing taken, nothing there
    write_all(at("acl.chk"), "");
    EXPECT_EQ(Fio_xor_control(chk, 2), 0);
    EXPECT_TRUE(exists(at("acl.chk")));
}

TEST_F(FioTest, WriterWhoseLockWasBrokenCommitsNothing) {
    write_all(at("user.mst"), "Taro\n");
    FIO_ACCESS a;
    ASSERT_EQ(Fio_open(&a, prefix().c_str(), "user.mst", "user.chk", FIO_REWRITE, FIO_TEXT), 0);
    Fio_puts(&a, "Jiro\n");
    // Another program judged the lock by age, broke it and took its own.
    ASSERT_EQ(unlink(at("user.chk").c_str()), 0);
    write_all(at("user.chk"), "");
    write_all(at("user.mst"), "Hanako\n");
    EXPECT_EQ(Fio_close(&a, FIO_OK), FIO_LOCKED);
    EXPECT_EQ(read_all(at("user.mst")), "Hanako\n");
    EXPECT_FALSE(exists(a.tmp_path));
    EXPECT_TRUE(exists(at("user.chk")));  // the other's lock stays
}

// A lock the caller took with Fio_xor_control, named to the store: the
// access works under it without waiting, taking or releasing it, and its
// commit still checks that it is the caller's.
TEST_F(FioTest, ARewriteUnderTheCallersOwnLockChecksItBeforeItsCommit) {
    const std::string before = "TITLEPIC,\x95\x5C.gif,\n";
    struct Case {
        const char* what;
        std::function<void()> meanwhile;  // done to the lock between the writes and the commit
        int result;
        bool stays;  // a lock file stays after the caller's release (another's file)
    };
    const std::string chk = at("dir_cnf.chk");
    const Case cases[] = {
        {"still the caller's", [] {}, FIO_OK, false},
        // Another program judged it by age, broke it and took its own.
        {"broken and taken by another", [&] { unlink(chk.c_str()), write_all(chk, "velt other 1 00\n"); },
         FIO_LOCKED, true},
        // (The release goes by the file alone, which is still the caller's.)
        {"its mark overwritten", [&] { write_all(chk, "velt other 1 00\n"); }, FIO_LOCKED, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_all(at("dir.cnf"), before);
        Buf lock(chk);
        ASSERT_EQ(Fio_xor_control(lock, 1), 0);
        FIO_ACCESS r;
        ASSERT_EQ(Fio_open(&r, prefix().c_str(), "dir.cnf", "dir_cnf.chk", FIO_READ, FIO_TEXT), FIO_OK);  // no wait
        EXPECT_EQ(Fio_close(&r, FIO_OK), FIO_OK);
        FIO_ACCESS a;
        ASSERT_EQ(Fio_open(&a, prefix().c_str(), "dir.cnf", "dir_cnf.chk", FIO_REWRITE, FIO_TEXT), FIO_OK);
        Fio_puts(&a, "TITLEPIC,new,\n");
        const std::string mark = read_all(chk);
        c.meanwhile();
        EXPECT_EQ(Fio_close(&a, FIO_OK), c.result);
        EXPECT_EQ(read_all(at("dir.cnf")), c.result == FIO_OK ? "TITLEPIC,new,\n" : before);
        EXPECT_FALSE(exists(a.tmp_path));
        // The access released nothing: the lock file is as before its close.
        EXPECT_EQ(read_all(chk), c.result == FIO_OK ? mark : "velt other 1 00\n");
        Fio_xor_control(lock, 2);
        EXPECT_EQ(exists(chk), c.stays);
        std::remove(chk.c_str());
    }
}

TEST_F(FioTest, BreakingADeadWritersLockRemovesItsTemporaryFile) {
    write_all(at("system.log"), "a,\n");
    write_all(at("system.log.4242.0badf00d.tmp"), "half of a dead rewrite");
    write_all(at("system.log.other"), "not a temporary file");
    write_all(at("system.chk"), "");
    Tm_clock_offset = 62;
    FIO_ACCESS a;
    ASSERT_EQ(Fio_open(&a, prefix().c_str(), "system.log", "system.chk", FIO_REWRITE, FIO_TEXT), 0);
    EXPECT_FALSE(exists(at("system.log.4242.0badf00d.tmp")));
    EXPECT_TRUE(exists(at("system.log.other")));
    EXPECT_EQ(Fio_close(&a, FIO_NOT_FOUND), FIO_NOT_FOUND);
}

// ---- What killed requests leave ----

TEST_F(FioTest, AnUnnamedLockDraftNeverShowsUp) {
    if (!unnamed_offered(dir)) GTEST_SKIP() << "the file system here makes no unnamed files";
    Buf chk(at("chatdata.chk"));
    ASSERT_EQ(Fio_xor_control(chk, 1), 0);
    EXPECT_EQ(names_in(dir), std::set<std::string>{"chatdata.chk"});
    // Another request waits for the lock, and is killed while it waits.
    const pid_t waiter = fork();
    ASSERT_GE(waiter, 0);
    if (waiter == 0) {
        Buf mine(at("chatdata.chk"));
        Fio_lock_wait_ms = 10000;
        Fio_xor_control(mine, 1);
        _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(names_in(dir), std::set<std::string>{"chatdata.chk"});
    kill(waiter, SIGKILL);
    waitpid(waiter, nullptr, 0);
    EXPECT_EQ(names_in(dir), std::set<std::string>{"chatdata.chk"});
    Fio_xor_control(chk, 2);
    EXPECT_EQ(names_in(dir), std::set<std::string>{});
}

// The temporary files in d.
std::set<std::string> temps_in(const std::string& d) {
    std::set<std::string> out;
    for (const std::string& n : names_in(d))
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".tmp") == 0) out.insert(n);
    return out;
}

// A writer of room 12's message file that dies in the middle of its rewrite,
// holding the lock: by _exit, or killed.
void writer_dies(const char* room, bool killed) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        FIO_ACCESS a;
        if (Fio_open(&a, room, "chatdata.dat", "chatdata.chk", FIO_REWRITE, FIO_BINARY) != FIO_OK) _exit(1);
        Fio_write_rec(&a, "half", 4);
        if (!killed) _exit(0);
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char c;
    if (killed && read(ready[0], &c, 1) == 1) kill(pid, SIGKILL);
    close(ready[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(killed ? WIFSIGNALED(status) : WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(FioTest, EveryBreakerOfADeadWritersLockRemovesItsTemporaryFile) {
    ASSERT_EQ(mkdir(at("12").c_str(), 0700), 0);
    char room[FIO_PATH_MAX];
    ASSERT_EQ(Fio_dir_room(room, 12), 0);
    enum { READ, IN_PLACE, ACQUIRE, REWRITE };
    struct Case {
        const char* breaker;
        int how;
        bool killed;
    };
    const Case cases[] = {{"reader", READ, false},   {"in-place writer", IN_PLACE, true},
                          {"acquisition", ACQUIRE, false}, {"rewrite", REWRITE, true}};
    const bool offered = unnamed_offered(dir);
    for (int named : {0, 1}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.breaker) + (named ? ", named files" : ", unnamed files"));
            Fio_named_temporaries = named;
            Tm_clock_offset = 0;
            writer_dies(room, c.killed);
            ASSERT_TRUE(exists(at("12/chatdata.chk")));
            // Only a named temporary file outlives its maker until the break.
            EXPECT_EQ(temps_in(at("12")).size(), named || !offered ? 1u : 0u);
            // Past the moments in which a named file may still await its lock.
            Tm_clock_offset = 3;
            FIO_ACCESS a;
            if (c.how == ACQUIRE) {
                Buf chk(at("12/chatdata.chk"));
                ASSERT_EQ(Fio_xor_control(chk, 1), 0);
                EXPECT_EQ(temps_in(at("12")), std::set<std::string>{});
                Fio_xor_control(chk, 2);
            } else {
                const int how = c.how == READ ? FIO_READ : c.how == IN_PLACE ? FIO_IN_PLACE : FIO_REWRITE;
                ASSERT_EQ(Fio_open(&a, room, "chatdata.dat", "chatdata.chk", how, FIO_BINARY), FIO_OK);
                EXPECT_EQ(Fio_close(&a, FIO_NOT_FOUND), FIO_NOT_FOUND);
            }
            EXPECT_EQ(temps_in(at("12")), std::set<std::string>{});
            EXPECT_FALSE(exists(at("12/chatdata.chk")));
        }
    }
}

TEST_F(FioTest, ABreakerRemovesOnlyTemporaryFilesWhoseMakerIsGone) {
    // The lock of a request of this host that died: its mark, no kernel lock.
    Buf chk(at("chatdata.chk"));
    ASSERT_EQ(Fio_xor_control(chk, 1), 0);
    const std::string mark = read_all(at("chatdata.chk"));
    Fio_xor_control(chk, 2);

    struct Case {
        const char* name;
        bool held;  // its maker alive: the kernel lock held
        bool dead;  // removed once a few seconds old
    };
    const Case cases[] = {
        {"chatdata.dat.4242.0badf00d.tmp", false, true},  // a dead rewrite's
        {"chatuser.chk.17.00C0FFEE.tmp", false, true},    // a dead waiter's lock draft
        {"\x95\x5C.jpg.8.12345678.tmp", false, true},     // any file's, Shift_JIS names too
        {"info.txt.99.deadbeef.tmp", true, false},        // a live writer's, however old
        {"dir.cnf.tmp", false, false},                    // the suite's plain form
        {"dir.cnf.x.deadbeef.tmp", false, false},         // no process id
        {"dir.cnf.12.deadbee.tmp", false, false},         // seven hex digits
        {"dir.cnf.12.deadbeef.tmp.old", false, false},
    };
    std::vector<int> held;
    for (const Case& c : cases) {
        write_all(at(c.name), "x");
        if (!c.held) continue;
        held.push_back(open(at(c.name).c_str(), O_RDWR));
        ASSERT_EQ(flock(held.back(), LOCK_EX), 0);
    }
    // A rewrite at work beside them, its temporary file named from the start.
    Fio_named_temporaries = 1;
    FIO_ACCESS a;
    ASSERT_EQ(Fio_open(&a, prefix().c_str(), "user.mst", "user.chk", FIO_REWRITE, FIO_TEXT), FIO_OK);
    Fio_puts(&a, "Taro\n");
    // Broken at once, the lock leaves every one: too young to tell a dead
    // maker from one about to lock its file.
    write_all(at("chatdata.chk"), mark);
    EXPECT_EQ(Fio_xor_control(chk, 0), 0);
    for (const Case& c : cases) EXPECT_TRUE(exists(at(c.name))) << c.name;

    Tm_clock_offset = 3;
    write_all(at("chatdata.chk"), mark);
    EXPECT_EQ(Fio_xor_control(chk, 0), 0);
    for (const Case& c : cases) EXPECT_EQ(exists(at(c.name)), !c.dead) << c.name;
    for (int fd : held) close(fd);
    EXPECT_TRUE(exists(a.tmp_path));
    EXPECT_EQ(Fio_close(&a, FIO_OK), FIO_OK);
    EXPECT_EQ(read_all(at("user.mst")), "Taro\n");

    // The same judgement for tools, file by file.
    Buf live(at("info.txt.99.deadbeef.tmp")), plain(at("dir.cnf.tmp"));
    EXPECT_EQ(Fio_temp_dead(plain, 1), FIO_NOT_TEMPORARY);
    EXPECT_EQ(Fio_temp_dead(live, 0), 1);
    EXPECT_TRUE(exists(at("info.txt.99.deadbeef.tmp")));
    Buf d(dir + "/");
    EXPECT_EQ(Fio_remove_dead_temps(d), 1);
    EXPECT_FALSE(exists(at("info.txt.99.deadbeef.tmp")));
}

TEST_F(FioTest, ALockStampedFarAheadIsStaleOneSlightlyAheadIsNot) {
    struct Case {
        long ahead;  // seconds the lock file's times lie ahead of the clock
        int held;
    };
    for (const Case& c : {Case{120, 0}, Case{30, 1}}) {
        SCOPED_TRACE(c.ahead);
        write_all(at("acl.chk"), "");  // another program's lock: no mark, no kernel lock
        // Made while the clock ran ahead (a clock stepped back since, or a
        // file server's clock): its times lie ahead. The status-change time
        // cannot be set; the program's clock goes back instead.
        Tm_clock_offset = 0;
        const struct timespec times[2] = {{time(nullptr) + c.ahead, 0}, {time(nullptr) + c.ahead, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, at("acl.chk").c_str(), times, 0), 0);
        Tm_clock_offset = -c.ahead;
        Buf chk(at("acl.chk"));
        EXPECT_EQ(Fio_xor_control(chk, 0), c.held);
        EXPECT_EQ(exists(at("acl.chk")), c.held == 1);
        std::remove(at("acl.chk").c_str());
    }
}

TEST_F(FioTest, AcquisitionWhereNoLockCanBeMadeFailsAtOnce) {
    Buf chk(dir + "\\99\\chatuser.chk");  // the room directory is missing
    int r = 0;
    Fio_lock_wait_ms = 9000;
    EXPECT_LE(lock_looks("chatuser.chk", [&] { r = Fio_xor_control(chk, 1); }), 3);
    EXPECT_EQ(r, 1);
}

// ---- Text rewrites ----

TEST_F(FioTest, ReadOfAMissingTextFileCreatesItEmptyAndNoLock) {
    FIO_ACCESS a;
    ASSERT_EQ(Fio_open(&a, prefix().c_str(), "user.mst", "user.chk", FIO_READ, FIO_TEXT), 0);
    char line[100];
    EXPECT_EQ(Fio_gets(&a, line, sizeof line), 0);
    EXPECT_FALSE(exists(at("user.chk")));
    EXPECT_EQ(Fio_close(&a, FIO_NOT_FOUND), FIO_NOT_FOUND);
    EXPECT_TRUE(exists(at("user.mst")));
    EXPECT_EQ(read_all(at("user.mst")), "");
    EXPECT_FALSE(exists(at("user.chk")));
    EXPECT_FALSE(exists(at("user.mst.tmp")));
}

TEST_F(FioTest, HeldLockIsWaitedForThenAnswersMinus9AndTouchesNothing) {
    write_all(at("user.chk"), "");
    for (int how : {FIO_READ, FIO_REWRITE}) {
        FIO_ACCESS a;
        int r = 0;
        double took = seconds([&] { r = Fio_open(&a, prefix().c_str(), "user.mst", "user.chk", how, FIO_TEXT); });
        EXPECT_EQ(r, FIO_LOCKED);
        EXPECT_GE(took, kLockWaitMs / 1000.0 * 0.9);
        EXPECT_TRUE(exists(at("user.chk")));
        EXPECT_FALSE(exists(at("user.mst")));
        EXPECT_FALSE(exists(at("user.mst.tmp")));
    }
    // A snapshot read does not look at the lock.
    write_all(at("user.mst"), "Taro\n");
    FIO_ACCESS a;
    ASSERT_EQ(Fio_open(&a, prefix().c_str(), "user.mst", "user.chk", FIO_SNAPSHOT, FIO_TEXT), FIO_OK);
    char line[100];
    EXPECT_EQ(Fio_gets(&a, line, sizeof line), 1);
    EXPECT_STREQ(line, "Taro\n");
    Fio_close(&a, FIO_OK);
    EXPECT_TRUE(exists(at("user.chk")));
}

// Accesses open at the same time, more than the buffers the process keeps:
// each reads and writes through buffers of its own, whichever is closed
// first, and the buffers given back serve the next accesses.
TEST_F(FioTest, AccessesOpenAtOnceNeverShareTheirBuffers) {
    const int n = 5;
    for (int round = 0; round < 2; ++round) {
        FIO_ACCESS a[n];
        for (int i = 0; i < n; ++i) {
            const std::string name = "f" + std::to_string(i) + ".txt";
            write_all(at(name), "old " + std::to_string(i) + "\n" + std::string(40000, char('a' + i)) + "\n");
            const std::string lock = "f" + std::to_string(i) + ".chk";
            ASSERT_EQ(Fio_open(&a[i], prefix().c_str(), name.c_str(), lock.c_str(), FIO_REWRITE, FIO_TEXT), FIO_OK);
        }
        // Interleaved: a line of each, then a write of each.
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(Fio_gets(&a[i], a[i].line, FIO_LINE_SIZE));
            EXPECT_EQ(std::string(a[i].line), "old " + std::to_string(i) + "\n");
        }
        for (int i = 0; i < n; ++i) Fio_printf(&a[i], "new %d\n", i);
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(Fio_gets(&a[i], a[i].line, FIO_LINE_SIZE));
            Fio_copy_line(&a[i], a[i].line, FIO_LINE_SIZE);
        }
        for (int i : {3, 0, 4, 1, 2}) EXPECT_EQ(Fio_close(&a[i], FIO_OK), FIO_OK);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(read_all(at("f" + std::to_string(i) + ".txt")),
                      "new " + std::to_string(i) + "\n" + std::string(40000, char('a' + i)) + "\n");
        }
    }
}

TEST_F(FioTest, SuccessfulTextRewriteReplacesTheFileByOneRename) {
    for (int named : {1, 0}) {
        SCOPED_TRACE(named ? "named temporary file" : "unnamed temporary file");
        if (!named && !unnamed_offered(dir)) continue;
        Fio_named_temporaries = named;
        write_all(at("user.mst"), "Taro\nHanako\nJiro\n");
        const ino_t old_inode = inode_of(at("user.mst"));

        FIO_ACCESS a;
        ASSERT_EQ(Fio_open(&a, prefix().c_str(), "user.mst", "user.chk", FIO_REWRITE, FIO_TEXT), 0);
        EXPECT_TRUE(exists(at("user.chk")));
        // The temporary file is this access's own: "<data file>.<pid>.<hex>.tmp",
        // a name it takes only at its commit where the file system allows.
        const std::string tmp = a.tmp_path;
        EXPECT_EQ(tmp.rfind(at("user.mst") + "." + std::to_string(getpid()) + ".", 0), 0u) << tmp;
        EXPECT_EQ(tmp.substr(tmp.size() - 4), ".tmp");
        struct stat tmp_st;
        ASSERT_EQ(fstat(a.tmp_fd, &tmp_st), 0);
        EXPECT_EQ(tmp_st.st_mode & 07777, 0600u);
        const ino_t tmp_inode = tmp_st.st_ino;
        if (named) {
            EXPECT_EQ(mode_of(tmp), 0600u);
            EXPECT_EQ(inode_of(tmp), tmp_inode);
        } else {
            EXPECT_EQ(names_in(dir), (std::set<std::string>{"user.mst", "user.chk"}));
        }
        // A reader that opened the file before the commit keeps the old content.
        FILE* reader = std::fopen(at("user.mst").c_str(), "r");
        ASSERT_NE(reader, nullptr);

        char line[10000];
        while (Fio_gets(&a, line, sizeof line))
            if (std::strcmp(line, "Hanako\n") != 0) Fio_puts(&a, line);
        Fio_printf(&a, "%s\n", "Saburo");
        EXPECT_EQ(read_all(at("user.mst")), "Taro\nHanako\nJiro\n");  // nothing visible yet
        EXPECT_EQ(Fio_close(&a, FIO_OK), FIO_OK);

        EXPECT_EQ(read_all(at("user.mst")), "Taro\nJiro\nSaburo\n");
        EXPECT_EQ(inode_of(at("user.mst")), tmp_inode);  // the temporary file itself took the name
        EXPECT_NE(inode_of(at("user.mst")), old_inode);
        EXPECT_FALSE(exists(tmp));
        EXPECT_FALSE(exists(at("user.chk")));

        char old_line[100];
        ASSERT_NE(std::fgets(old_line, sizeof old_line, reader), nullptr);
        ASSERT_NE(std::fgets(old_line, sizeof old_line, reader), nullptr);
        EXPECT_STREQ(old_line, "Hanako\n");
        std::fclose(reader);
        EXPECT_EQ(names_in(dir), std::set<std::string>{"user.mst"});
    }
}

TEST_F(FioTest, FailedTextRewriteLeavesTheFileByteForByte) {
    const std::string before = "Taro\r\nHanako\n\x95\x5C,x\nno line end";
    write_all(at("user.mst"), before);
    const ino_t old_inode = inode_of(at("user.mst"));
    EXPECT_EQ(rewrite_dropping("Hanako\n", FIO_NOT_FOUND), FIO_NOT_FOUND);
    EXPECT_EQ(read_all(at("user.mst")), before);
    EXPECT_EQ(inode_of(at("user.mst")), old_inode);
    EXPECT_FALSE(exists(at("user.mst.tmp")));
    EXPECT_FALSE(exists(at("user.chk")));

    EXPECT_EQ(rewrite_dropping("Taro\r\n", FIO_EXISTS), FIO_EXISTS);
    EXPECT_EQ(read_all(at("user.mst")), before);
    EXPECT_FALSE(exists(at("user.mst.tmp")));
}

TEST_F(FioTest, CommitThatCannotRenameReportsMinus2AndKeepsTheOldFile) {
    Fio_named_temporaries = 1;  // a temporary file with a name to take away
    write_all(at("user.mst"), "Taro\nHanako\n");
    FIO_ACCESS a;
    ASSERT_EQ(Fio_open(&a, prefix().c_str(), "user.mst", "user.chk", FIO_REWRITE, FIO_TEXT), 0);
    Fio_puts(&a, "Taro\n");
    // Someone removes the temporary file before the commit: the rename fails.
    ASSERT_EQ(unlink(a.tmp_path), 0);
    EXPECT_EQ(Fio_close(&a, FIO_OK), FIO_NO_FILE);
    EXPECT_EQ(read_all(at("user.mst")), "Taro\nHanako\n");
    EXPECT_FALSE(exists(at("user.mst.tmp")));
    EXPECT_FALSE(exists(at("user.chk")));
}

TEST_F(FioTest, CommitAfterAFailedWriteReportsMinus2) {
    write_all(at("user.mst"), "Taro\n");
    FIO_ACCESS a;
    ASSERT_EQ(Fio_open(&a, prefix().c_str(), "user.mst", "user.chk", FIO_REWRITE, FIO_TEXT), 0);
    Fio_write_rec(&a, "x", 1);  // a record write into a text access cannot succeed
    EXPECT_EQ(a.write_error, 1);
    EXPECT_EQ(Fio_close(&a, FIO_OK), FIO_NO_FILE);
    EXPECT_EQ(read_all(at("user.mst")), "Taro\n");
    EXPECT_FALSE(exists(at("user.mst.tmp")));
    EXPECT_FALSE(exists(at("user.chk")));
}

TEST_F(FioTest, LeftoverTemporaryFileIsReplaced) {
    write_all(at("system.log"), "a,\n");
    write_all(at("system.log.tmp"), "garbage from an interrupted rewrite\n");
    FIO_ACCESS a;
    ASSERT_EQ(Fio_open(&a, prefix().c_str(), "system.log", "system.chk", FIO_REWRITE, FIO_TEXT), 0);
    char line[1000];
    while (Fio_gets(&a, line, sizeof line)) Fio_puts(&a, line);
    Fio_puts(&a, "b,\n");
    EXPECT_EQ(Fio_close(&a, FIO_OK), FIO_OK);
    EXPECT_EQ(read_all(at("system.log")), "a,\nb,\n");
}

TEST_F(FioTest, UnopenableDataFileGivesMinus2AndReleasesTheLock) {
    ASSERT_EQ(mkdir(at("user.mst").c_str(), 0700), 0);  // a directory stands in its place
    FIO_ACCESS a;
    EXPECT_EQ(Fio_open(&a, prefix().c_str(), "user.mst", "user.chk", FIO_REWRITE, FIO_TEXT), FIO_NO_FILE);
    EXPECT_FALSE(exists(at("user.chk")));
    EXPECT_EQ(Fio_open(&a, prefix().c_str(), "user.mst", "user.chk", FIO_READ, FIO_TEXT), FIO_NO_FILE);
    EXPECT_FALSE(exists(at("user.chk")));

    // A reader never removes a lock it did not take, also when it fails.
    write_all(at("user.chk"), "");
    Tm_clock_offset = 10;
    EXPECT_EQ(Fio_open(&a, prefix().c_str(), "user.mst", "user.chk", FIO_READ, FIO_TEXT), FIO_LOCKED);
    EXPECT_TRUE(exists(at("user.chk")));
}

TEST_F(FioTest, UncreatableTemporaryFileGivesMinus2AndReleasesTheLock) {
    write_all(at("user.mst"), "Taro\n");
    // Descriptors run out right after the lock file and the data file.
    int lowest = dup(0);
    ASSERT_GE(lowest, 0);
    close(lowest);
    struct rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old_limit), 0);
    struct rlimit few = old_limit;
    few.rlim_cur = static_cast<rlim_t>(lowest + 2);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &few), 0);
    FIO_ACCESS a;
    const int r = Fio_open(&a, prefix().c_str(), "user.mst", "user.chk", FIO_REWRITE, FIO_TEXT);
    setrlimit(RLIMIT_NOFILE, &old_limit);
    EXPECT_EQ(r, FIO_NO_FILE);
    EXPECT_FALSE(exists(at("user.chk")));
    EXPECT_EQ(read_all(at("user.mst")), "Taro\n");
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"user.mst"}));
}

TEST_F(FioTest, MissingRoomDirectoryGivesMinus2WithoutWaiting) {
    char room[FIO_PATH_MAX];
    ASSERT_EQ(Fio_dir_room(room, 99), 0);
    for (int how : {FIO_READ, FIO_REWRITE}) {
        FIO_ACCESS a;
        int r = 0;
        Fio_lock_wait_ms = 9000;
        EXPECT_LE(lock_looks("chatdata.chk",
                             [&] { r = Fio_open(&a, room, "chatdata.dat", "chatdata.chk", how, FIO_BINARY); }),
                  3);
        EXPECT_EQ(r, FIO_NO_FILE);
    }
    EXPECT_FALSE(exists(at("99")));
}

TEST_F(FioTest, AccessUnderALockTheCallerHolds) {
    ASSERT_EQ(mkdir(at("5").c_str(), 0700), 0);
    write_all(at("5/chatuser.chk"), "");
    write_all(at("5/chatuser.idx"), "AAAABBBB");
    char room[FIO_PATH_MAX];
    ASSERT_EQ(Fio_dir_room(room, 5), 0);
    FIO_ACCESS a;
    ASSERT_EQ(Fio_open(&a, room, "chatuser.idx", nullptr, FIO_REWRITE, FIO_BINARY), 0);
    char rec[4];
    ASSERT_EQ(Fio_read_rec(&a, rec, 4), 1);
    ASSERT_EQ(Fio_read_rec(&a, rec, 4), 1);
    Fio_write_rec(&a, rec, 4);
    EXPECT_EQ(Fio_close(&a, FIO_OK), FIO_OK);
    EXPECT_EQ(read_all(at("5/chatuser.idx")), "BBBB");
    EXPECT_TRUE(exists(at("5/chatuser.chk")));  // still the caller's
}

// ---- Binary rewrites ----

struct Rec {
    char bytes[408];
};

Rec make_rec(char fill) {
    Rec r;
    std::memset(r.bytes, fill, sizeof r.bytes);
    r.bytes[407] = '\0';
    return r;
}

TEST_F(FioTest, BinaryRewriteRoundTripPrependsARecord) {
    ASSERT_EQ(mkdir(at("12").c_str(), 0700), 0);
    // Two whole records and a damaged trailing piece.
    Rec r1 = make_rec('1'), r2 = make_rec('2');
    write_all(at("12/chatdata.dat"), std::string(r1.bytes, 408) + std::string(r2.bytes, 408) + "partial");
    // A leftover temporary file longer than the new content.
    write_all(at("12/chatdata.dat.tmp"), std::string(5000, 'g'));

    char room[FIO_PATH_MAX];
    ASSERT_EQ(Fio_dir_room(room, 12), 0);
    FIO_ACCESS a;
    ASSERT_EQ(Fio_open(&a, room, "chatdata.dat", "chatdata.chk", FIO_REWRITE, FIO_BINARY), 0);
    EXPECT_TRUE(exists(at("12/chatdata.chk")));
    Rec fresh = make_rec('N');
    Fio_write_rec(&a, fresh.bytes, 408);
    Rec r;
    int copied = 0;
    while (Fio_read_rec(&a, r.bytes, 408)) {
        Fio_write_rec(&a, r.bytes, 408);
        ++copied;
    }
    EXPECT_EQ(copied, 2);
    EXPECT_EQ(Fio_close(&a, FIO_OK), FIO_OK);
    EXPECT_FALSE(exists(at("12/chatdata.chk")));
    EXPECT_FALSE(exists(at("12/chatdata.dat.tmp")));
    EXPECT_EQ(read_all(at("12/chatdata.dat")),
              std::string(fresh.bytes, 408) + std::string(r1.bytes, 408) + std::string(r2.bytes, 408));

    // Read back without the lock, also from a position.
    ASSERT_EQ(Fio_open(&a, room, "chatdata.dat", "chatdata.chk", FIO_READ, FIO_BINARY), 0);
    ASSERT_EQ(Fio_seek_rec(&a, 408), 0);
    ASSERT_EQ(Fio_read_rec(&a, r.bytes, 408), 1);
    EXPECT_EQ(std::memcmp(r.bytes, r1.bytes, 408), 0);
    ASSERT_EQ(Fio_read_rec(&a, r.bytes, 408), 1);
    EXPECT_EQ(Fio_read_rec(&a, r.bytes, 408), 0);
    EXPECT_FALSE(exists(at("12/chatdata.chk")));
    EXPECT_EQ(Fio_close(&a, FIO_OK), FIO_OK);
}

TEST_F(FioTest, BinaryReadOfAMissingFileCreatesItEmpty0600) {
    mode_t old = umask(0);
    ASSERT_EQ(mkdir(at("7").c_str(), 0700), 0);
    char room[FIO_PATH_MAX];
    ASSERT_EQ(Fio_dir_room(room, 7), 0);
    FIO_ACCESS a;
    int r = Fio_open(&a, room, "chatuser.idx", "chatuser.chk", FIO_READ, FIO_BINARY);
    umask(old);
    ASSERT_EQ(r, 0);
    char rec[164];
    EXPECT_EQ(Fio_read_rec(&a, rec, 164), 0);
    EXPECT_EQ(Fio_close(&a, FIO_OK), FIO_OK);
    EXPECT_EQ(read_all(at("7/chatuser.idx")), "");
    EXPECT_EQ(mode_of(at("7/chatuser.idx")), 0600u);
    EXPECT_FALSE(exists(at("7/chatuser.chk")));
}

TEST_F(FioTest, FailedBinaryRewriteLeavesTheFile) {
    ASSERT_EQ(mkdir(at("3").c_str(), 0700), 0);
    const std::string before = std::string(164, 'a') + std::string(164, 'b');
    write_all(at("3/chatuser.idx"), before);
    char room[FIO_PATH_MAX];
    ASSERT_EQ(Fio_dir_room(room, 3), 0);
    FIO_ACCESS a;
    ASSERT_EQ(Fio_open(&a, room, "chatuser.idx", "chatuser.chk", FIO_REWRITE, FIO_BINARY), 0);
    char rec[164];
    while (Fio_read_rec(&a, rec, 164)) {
        if (rec[0] == 'a') Fio_write_rec(&a, rec, 164);
    }
    EXPECT_EQ(Fio_close(&a, FIO_EXISTS), FIO_EXISTS);
    EXPECT_EQ(read_all(at("3/chatuser.idx")), before);
    EXPECT_FALSE(exists(at("3/chatuser.idx.tmp")));
    EXPECT_FALSE(exists(at("3/chatuser.chk")));
}

TEST_F(FioTest, WholeFileReadInPieces) {
    ASSERT_EQ(mkdir(at("4").c_str(), 0700), 0);
    std::string text;
    for (int i = 0; i < 2500; ++i) text += static_cast<char>(i % 7 == 0 ? '\r' : 'a' + i % 26);
    write_all(at("4/info.txt"), text);
    char room[FIO_PATH_MAX];
    ASSERT_EQ(Fio_dir_room(room, 4), 0);
    FIO_ACCESS a;
    ASSERT_EQ(Fio_open(&a, room, "info.txt", "info.chk", FIO_READ, FIO_BINARY), 0);
    std::string got;
    char piece[1000];
    int n;
    int pieces = 0;
    while ((n = Fio_read(&a, piece, sizeof piece)) > 0) {
        got.append(piece, static_cast<size_t>(n));
        ++pieces;
    }
    EXPECT_EQ(n, 0);
    EXPECT_EQ(Fio_close(&a, FIO_OK), FIO_OK);
    EXPECT_EQ(got, text);
    EXPECT_EQ(pieces, 3);
}

// ---- Paths ----

TEST_F(FioTest, DataPathsAreConvertedBeforeTheyReachThePlatform) {
    const std::string hyo = "\x95\x5C";
    ASSERT_EQ(mkdir(at("user").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(at("user/" + hyo).c_str(), 0700), 0);
    char udir[FIO_PATH_MAX];
    ASSERT_EQ(Fio_dir_user(udir, hyo.c_str()), 0);
    EXPECT_EQ(std::string(udir), prefix() + "user\\" + hyo + "\\");
    FIO_ACCESS a;
    ASSERT_EQ(Fio_open(&a, udir, "skey.mst", "skey.chk", FIO_REWRITE, FIO_TEXT), 0);
    EXPECT_TRUE(exists(at("user/" + hyo + "/skey.chk")));
    Fio_puts(&a, "1,2,\n");
    EXPECT_EQ(Fio_close(&a, FIO_OK), FIO_OK);
    EXPECT_EQ(read_all(at("user/" + hyo + "/skey.mst")), "1,2,\n");
    EXPECT_FALSE(exists(at("user/" + hyo + "/skey.chk")));
    EXPECT_FALSE(exists(at("user/\x95")));
}

TEST_F(FioTest, DirectoryPrefixes) {
    char out[FIO_PATH_MAX];
    ASSERT_EQ(Fio_dir_data(out), 0);
    EXPECT_EQ(std::string(out), prefix());
    ASSERT_EQ(Fio_dir_room(out, 12), 0);
    EXPECT_EQ(std::string(out), prefix() + "12\\");
    ASSERT_EQ(Fio_dir_user(out, "Taro"), 0);
    EXPECT_EQ(std::string(out), prefix() + "user\\Taro\\");
}

TEST_F(FioTest, UnsafeUserIdsAreRefused) {
    char out[FIO_PATH_MAX];
    for (const char* id : {"", ".", "..", "a/b", "../x", "a\\b", "\\", "x\x95", "\x95\x5C/"}) {
        std::strcpy(out, "junk");
        EXPECT_EQ(Fio_dir_user(out, id), -1) << id;
        EXPECT_STREQ(out, "") << id;
        EXPECT_FALSE(Fio_safe_name(id)) << id;
    }
    EXPECT_EQ(Fio_dir_user(out, nullptr), -1);
    for (const char* id : {"Taro", "...", ".hidden", "\x95\x5C", "a.b"}) EXPECT_TRUE(Fio_safe_name(id)) << id;
    EXPECT_EQ(Fio_dir_user(out, std::string(500, 'u').c_str()), 0);
    EXPECT_EQ(Fio_dir_user(out, std::string(2000, 'u').c_str()), -1);  // would not fit
}

// ---- Picture move ----

TEST_F(FioTest, FilemoveCopiesSyncsRemovesTheSourceAndKeepsItOwnerOnly) {
    std::string content;
    for (int i = 0; i < 2500; ++i) content += static_cast<char>(i * 7);
    write_all(at("CGI0"), content);
    ASSERT_EQ(mkdir(at("12").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(at("12/fcg").c_str(), 0700), 0);
    write_all(at("12/fcg/sea.jpg"), std::string(6000, 'o'));  // an older, longer picture
    Buf src(dir + "\\CGI0"), dst(dir + "\\12\\fcg\\sea.jpg");
    EXPECT_EQ(Fio_filemove(src, dst), 0);
    EXPECT_EQ(read_all(at("12/fcg/sea.jpg")), content);
    EXPECT_EQ(mode_of(at("12/fcg/sea.jpg")), 0600u);
    EXPECT_EQ(names_in(at("12/fcg")), std::set<std::string>{"sea.jpg"});
    EXPECT_FALSE(exists(at("CGI0")));
}

TEST_F(FioTest, FilemoveFailuresReportMinus1AndKeepTheUpload) {
    // A missing source moves nothing and makes no empty picture.
    Buf src(at("CGI9")), dst(at("pic.gif"));
    EXPECT_EQ(Fio_filemove(src, dst), -1);
    EXPECT_FALSE(exists(at("pic.gif")));
    EXPECT_FALSE(exists(at("CGI9")));

    // A destination that cannot be created leaves the source in place.
    write_all(at("CGI1"), "gif");
    Buf src2(at("CGI1")), dst2(dir + "\\77\\fcg\\pic.gif");
    EXPECT_EQ(Fio_filemove(src2, dst2), -1);
    EXPECT_EQ(read_all(at("CGI1")), "gif");
}

TEST_F(FioTest, AFailedCopyKeepsThePictureThatStoodThereAndTheUpload) {
    write_all(at("pic.gif"), std::string(300, 'o'));   // the room's picture
    write_all(at("CGI2"), std::string(2500, 'n'));     // a new upload of that name
    // A file-size limit makes the copy fail after its first kilobyte.
    Buf src(at("CGI2")), dst(at("pic.gif"));
    int r = 0;
    {
        store_test::FileSizeLimit limit(1000);
        r = Fio_filemove(src, dst);
    }
    EXPECT_EQ(r, -1);
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"CGI2", "pic.gif"}));
    EXPECT_EQ(read_all(at("pic.gif")), std::string(300, 'o'));
    EXPECT_EQ(read_all(at("CGI2")), std::string(2500, 'n'));
    EXPECT_FALSE(exists(at("pic.gif.tmp")));
}

}  // namespace
