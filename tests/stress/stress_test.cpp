// Busy-room tests: many real processes of the CGI at once on one room of a
// temporary site, and processes killed in the middle of a rewrite. They
// assert counts and bytes (nothing refused, nothing lost, every record whole),
// never timings; the latencies they print are figures for the record.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "store/fileio.h"
#include "tests/e2e/harness.h"

namespace {

constexpr int kFolder = 12;
constexpr int kRecord = 408;

std::string user_id(int n) { return "u" + std::to_string(n); }

void put_int(std::string& r, std::size_t off, int32_t v) { std::memcpy(&r[off], &v, 4); }
void put_text(std::string& r, std::size_t off, std::size_t cap, const std::string& s) {
    std::memcpy(&r[off], s.data(), std::min(s.size(), cap - 1));
}
std::string text_at(const std::string& r, std::size_t off, std::size_t cap) {
    std::string s = r.substr(off, cap);
    return s.substr(0, s.find('\0'));
}

// One line of the message file, as the program writes it.
std::string line_rec(const std::string& uid, const std::string& talk) {
    std::string r(kRecord, '\0');
    put_int(r, 0, kFolder);
    put_int(r, 4, 1);
    put_text(r, 8, 22, uid);
    put_text(r, 30, 82, uid);
    put_text(r, 112, 20, "2026/01/01 00:00");
    put_text(r, 132, 22, "Navy");
    put_text(r, 154, 252, talk);
    return r;
}

// The lines of talk of a message file, newest first; false when the file is
// not made of whole records of this room.
bool talks_of(const std::string& bytes, std::vector<std::string>* talks) {
    if (bytes.size() % kRecord != 0) return false;
    for (std::size_t off = 0; off < bytes.size(); off += kRecord) {
        const std::string r = bytes.substr(off, kRecord);
        int32_t folder = 0, mode = 0;
        std::memcpy(&folder, &r[0], 4);
        std::memcpy(&mode, &r[4], 4);
        if (folder != kFolder || mode == 0) return false;
        talks->push_back(text_at(r, 154, 252));
    }
    return true;
}

// A site with room kFolder (level 1 may open it, 5 may write) and `users`
// users u0, u1, ... of level 5, each with the session keys 1000+n / 2000+n.
struct BusySite {
    e2e::Site site;
    std::string room;
};

BusySite make_busy_site(int users) {
    BusySite b;
    b.site = e2e::make_site();
    const std::string& d = b.site.data_dir;
    e2e::write_file(d + "tree.mst", "1,Top,0,/cgi-bin/other.cgi,0,0,,0,0,0,0,\n " + std::to_string(kFolder) +
                                        ",Busy,0,/cgi-bin/velt.cgi,1,5,,0,0,0,0,\n");
    std::string list;
    for (int n = 0; n < users; ++n) {
        const std::string uid = user_id(n);
        list += uid + "\n";
        const std::string dir = d + "user/" + uid + "/";
        e2e::make_dir(dir);
        e2e::write_file(dir + "personal.mst", "USER_NAME," + uid + "\nUSER_LEVEL,5\nP_GROUP,0\nMODE,1\n");
        e2e::write_file(dir + "password.mst", "");
        std::string key(536, '\0');
        put_int(key, 0, 1000 + n);
        put_int(key, 4, 2000 + n);
        put_text(key, 8, 22, uid);
        e2e::write_file(dir + "skey.mst", key);
    }
    e2e::write_file(d + "user.mst", list);
    b.room = d + std::to_string(kFolder) + "/";
    e2e::make_dir(b.room);
    return b;
}

std::string creds(int n) {
    return "uid=" + user_id(n) + "&SKEY1=" + std::to_string(1000 + n) + "&SKEY2=" + std::to_string(2000 + n) +
           "&FOLDER_NO=" + std::to_string(kFolder);
}

e2e::Request job(int n, const std::string& name, const std::string& extra, const std::string& faketime = "") {
    e2e::Request req;
    req.method = "POST";
    req.content_type = "application/x-www-form-urlencoded";
    req.body = creds(n) + "&JOB=" + name + extra;
    req.faketime = faketime;
    // File times as the disk has them: only the program's clock runs ahead,
    // so every lock file looks older than it is.
    if (!faketime.empty()) req.env["NO_FAKE_STAT"] = "1";
    return req;
}

e2e::Request enter(int n, const std::string& faketime = "") {
    return job(n, "ROOM_IN", "&CHAT_NAME=" + user_id(n) + "&COLOR=Navy&DISP_LINE=50&RELOAD_TIME=10", faketime);
}
e2e::Request leave(int n) { return job(n, "ROOM_OUT", "&CHAT_NAME=" + user_id(n) + "&COLOR=Navy"); }
e2e::Request post(int n, const std::string& talk, const std::string& faketime = "") {
    return job(n, "CWRITE", "&CHAT_NAME=" + user_id(n) + "&COLOR=Navy&CTALK=" + talk, faketime);
}

// Starts `threads` workers at once, each running body(t); returns when all
// are done.
void in_parallel(int threads, const std::function<void(int)>& body) {
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back(body, t);
    for (auto& th : pool) th.join();
}

// Per-request latencies and failures collected by the workers.
struct Tally {
    std::mutex m;
    std::vector<double> ms;
    std::vector<std::string> bad;  // what went wrong, one entry a request
    void add(double took, const std::string& fault) {
        std::lock_guard<std::mutex> g(m);
        ms.push_back(took);
        if (!fault.empty()) bad.push_back(fault);
    }
    void print(const char* what) {
        std::sort(ms.begin(), ms.end());
        if (ms.empty()) return;
        std::printf("[figures] %s: %zu requests, %zu faults, p50 %.1f ms, p99 %.1f ms, worst %.1f ms\n", what,
                    ms.size(), bad.size(), ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
    }
};

// Runs a request, timing it; the fault text is empty when check accepts it.
void timed(Tally& tally, const e2e::Site& site, const e2e::Request& req,
           const std::function<std::string(const e2e::Result&)>& check) {
    const auto t0 = std::chrono::steady_clock::now();
    const e2e::Result r = e2e::run(site, req);
    const double took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::string fault = check(r);
    if (fault.empty() && (r.status != 0 || !r.err.empty())) fault = "unclean run";
    tally.add(took, fault);
}

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// The answer of a stored post: the message list with the member's own line.
std::string check_post_answer(const e2e::Result& r, const std::string& talk) {
    if (contains(r.out, e2e::message(19))) return "refused as busy: " + talk;
    if (!contains(r.out, "&nbsp;>&nbsp;" + talk + "<BR>")) return "answered without its line: " + talk;
    return "";
}

std::string check_frameset(const e2e::Result& r) {
    return contains(r.out, "<FRAMESET") ? "" : "no frameset: " + r.out.substr(0, 200);
}

std::set<std::string> members_of(const std::string& index) {
    std::set<std::string> names;
    for (std::size_t off = 0; off + 164 <= index.size(); off += 164) names.insert(text_at(index, off + 30, 82));
    return names;
}

class BusyRoom : public ::testing::Test {
protected:
    void TearDown() override { e2e::remove_site(b.site); }
    void enter_all(int users, const std::string& faketime = "") {
        for (int n = 0; n < users; ++n) ASSERT_EQ(check_frameset(e2e::run(b.site, enter(n, faketime))), "");
    }
    BusySite b;
};

TEST_F(BusyRoom, EightPostersInParallelLoseAndRefuseNothing) {
    const int posters = 8, posts = 100;
    b = make_busy_site(posters);
    enter_all(posters);
    Tally tally;
    in_parallel(posters, [&](int t) {
        for (int i = 0; i < posts; ++i) {
            const std::string talk = "p" + std::to_string(t) + "-" + std::to_string(i);
            timed(tally, b.site, post(t, talk), [&](const e2e::Result& r) { return check_post_answer(r, talk); });
        }
    });
    tally.print("8 posters x 100 posts");
    EXPECT_EQ(tally.bad, std::vector<std::string>{});

    std::vector<std::string> talks;
    ASSERT_TRUE(talks_of(e2e::read_file(b.room + "chatdata.dat"), &talks));
    EXPECT_EQ(talks.size(), static_cast<std::size_t>(posters + posters * posts));
    std::map<std::string, int> seen;
    for (const auto& t : talks) ++seen[t];
    for (int t = 0; t < posters; ++t) {
        int last = posts;  // each poster's lines stand newest first
        for (std::size_t k = 0; k < talks.size(); ++k) {
            const std::string prefix = "p" + std::to_string(t) + "-";
            if (talks[k].rfind(prefix, 0) != 0) continue;
            const int i = std::stoi(talks[k].substr(prefix.size()));
            EXPECT_LT(i, last);
            last = i;
        }
        for (int i = 0; i < posts; ++i) EXPECT_EQ(seen["p" + std::to_string(t) + "-" + std::to_string(i)], 1);
    }
}

TEST_F(BusyRoom, SixteenMembersEnterAndLeaveInParallel) {
    const int users = 16, cycles = 10;
    b = make_busy_site(users);
    Tally tally;
    in_parallel(users, [&](int n) {
        for (int i = 0; i < cycles; ++i) {
            timed(tally, b.site, enter(n), check_frameset);
            timed(tally, b.site, leave(n), check_frameset);
        }
        timed(tally, b.site, enter(n), check_frameset);
    });
    tally.print("16 members x 10 enter/leave cycles");
    EXPECT_EQ(tally.bad, std::vector<std::string>{});
    std::set<std::string> all;
    for (int n = 0; n < users; ++n) all.insert(user_id(n));
    const std::string index = e2e::read_file(b.room + "chatuser.idx");
    EXPECT_EQ(index.size(), static_cast<std::size_t>(users * 164));
    EXPECT_EQ(members_of(index), all);

    in_parallel(users, [&](int n) { timed(tally, b.site, leave(n), check_frameset); });
    EXPECT_EQ(tally.bad, std::vector<std::string>{});
    EXPECT_EQ(e2e::read_file(b.room + "chatuser.idx"), "");
    // Every entry and leave was announced exactly once.
    std::vector<std::string> talks;
    ASSERT_TRUE(talks_of(e2e::read_file(b.room + "chatdata.dat"), &talks));
    EXPECT_EQ(talks.size(), static_cast<std::size_t>(users * (2 * cycles + 2)));
}

TEST_F(BusyRoom, ReadersNeverSeeAbsenceWhileWritersWork) {
    const int posters = 4, readers = 8, posts = 25, reloads = 25;
    b = make_busy_site(posters + readers);
    enter_all(posters + readers);
    Tally writes, reads;
    in_parallel(posters + readers, [&](int n) {
        if (n < posters) {
            for (int i = 0; i < posts; ++i) {
                const std::string talk = "w" + std::to_string(n) + "-" + std::to_string(i);
                timed(writes, b.site, post(n, talk), [&](const e2e::Result& r) { return check_post_answer(r, talk); });
            }
            return;
        }
        const std::string name = "&CHAT_NAME=" + user_id(n);
        for (int i = 0; i < reloads; ++i) {
            timed(reads, b.site, job(n, "FRM223", name), [&](const e2e::Result& r) -> std::string {
                if (contains(r.out, e2e::message(314))) return "not in this room";
                if (!contains(r.out, "&nbsp;>&nbsp;")) return "empty list";
                return "";
            });
            timed(reads, b.site, job(n, "FRM222", name + "&COLOR=Navy"), [&](const e2e::Result& r) -> std::string {
                const std::string presets = e2e::message(303) + "[50]&nbsp;&nbsp;" + e2e::message(304) + "[10]";
                return contains(r.out, presets) ? "" : "input frame without the member's presets";
            });
        }
    });
    writes.print("4 posters while 8 members reload");
    reads.print("8 members reloading list and input frames");
    EXPECT_EQ(writes.bad, std::vector<std::string>{});
    EXPECT_EQ(reads.bad, std::vector<std::string>{});
}

// Every lock looks older than a minute to these requests: their clock runs 61
// seconds ahead (a clock step, a file server whose clock runs behind).
std::string clock_ahead() { return "@" + std::to_string(static_cast<long>(time(nullptr)) + 61); }

void stale_clock_posters(BusySite& b, int writers, int posts) {
    const int old_records = 5000;
    std::string old;
    for (int i = old_records - 1; i >= 0; --i) old += line_rec("old", "old-" + std::to_string(i));
    e2e::write_file(b.room + "chatdata.dat", old);
    const std::string ahead = clock_ahead();
    for (int n = 0; n < writers; ++n) ASSERT_EQ(check_frameset(e2e::run(b.site, enter(n, ahead))), "");

    Tally tally;
    std::mutex m;
    std::set<std::string> stored;
    in_parallel(writers, [&](int t) {
        for (int i = 0; i < posts; ++i) {
            const std::string talk = "s" + std::to_string(t) + "-" + std::to_string(i);
            timed(tally, b.site, post(t, talk, clock_ahead()), [&](const e2e::Result& r) {
                std::string fault = check_post_answer(r, talk);
                if (fault.empty()) {
                    std::lock_guard<std::mutex> g(m);
                    stored.insert(talk);
                }
                return fault;
            });
        }
    });
    tally.print(("stale-looking locks, " + std::to_string(writers) + " writers").c_str());
    std::vector<std::string> talks;
    ASSERT_TRUE(talks_of(e2e::read_file(b.room + "chatdata.dat"), &talks));
    // Not one post answered as stored is missing, and not one old line.
    std::set<std::string> in_file(talks.begin(), talks.end());
    for (const auto& t : stored) EXPECT_EQ(in_file.count(t), 1u) << t;
    ASSERT_GE(talks.size(), static_cast<std::size_t>(old_records));
    for (int i = 0; i < old_records; ++i)
        ASSERT_EQ(talks[talks.size() - 1 - i], "old-" + std::to_string(i));
    EXPECT_EQ(talks.size(), old_records + writers + stored.size());
}

TEST_F(BusyRoom, StaleLookingLocksLoseNothingWithTwoWriters) {
    b = make_busy_site(2);
    stale_clock_posters(b, 2, 15);
}

TEST_F(BusyRoom, StaleLookingLocksLoseNothingWithEightWriters) {
    b = make_busy_site(8);
    stale_clock_posters(b, 8, 6);
}

// Starts the CGI for a post of member 0 without waiting for it; returns its
// process id.
pid_t start_post(const BusySite& b, const std::string& talk) {
    const std::string body = creds(0) + "&JOB=CWRITE&CHAT_NAME=u0&COLOR=Navy&CTALK=" + talk;
    const std::string in_path = b.site.root + "/kill-in-" + talk;
    e2e::write_file(in_path, body);
    std::string exe = std::string(VELT_BINARY_DIR) + "/velt.cgi";
    std::vector<std::string> env = {"REQUEST_METHOD=POST", "CONTENT_TYPE=application/x-www-form-urlencoded",
                                    "CONTENT_LENGTH=" + std::to_string(body.size()), "QUERY_STRING="};
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    char* argv[] = {&exe[0], nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open(in_path.c_str(), O_RDONLY);
        const int out = open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 ||
            chdir(b.site.cgi_dir.c_str()) != 0)
            _exit(127);
        execve(argv[0], argv, envp.data());
        _exit(127);
    }
    return pid;
}

// Starts the CGI for a post and kills it after `delay_us`; returns once it is
// gone.
void post_and_kill(const BusySite& b, const std::string& talk, int delay_us) {
    const pid_t pid = start_post(b, talk);
    ASSERT_GT(pid, 0);
    usleep(static_cast<useconds_t>(delay_us));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

TEST_F(BusyRoom, KilledRewritesLeaveWholeFilesAndAreRecoveredFrom) {
    b = make_busy_site(1);
    enter_all(1);
    const int records = 10000, kills = 100;
    std::string file;
    for (int i = records - 1; i >= 0; --i) file += line_rec("old", "old-" + std::to_string(i));
    file = e2e::read_file(b.room + "chatdata.dat") + file;  // the entry notice stays newest
    e2e::write_file(b.room + "chatdata.dat", file);

    // The time one whole post takes sets the range of the kill moments.
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(check_post_answer(e2e::run(b.site, post(0, "timing")), "timing"), "");
    const int whole_us = static_cast<int>(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    std::string before = e2e::read_file(b.room + "chatdata.dat");

    std::mt19937 rng(12345);
    int changed = 0;
    for (int k = 0; k < kills; ++k) {
        const std::string talk = "k" + std::to_string(k);
        post_and_kill(b, talk, static_cast<int>(rng() % static_cast<unsigned>(whole_us + 1)));
        const std::string after = e2e::read_file(b.room + "chatdata.dat");
        // The old content, or the new: the old with one whole record in front.
        const bool old_one = after == before;
        const bool new_one = after.size() == before.size() + kRecord && after.compare(kRecord, std::string::npos, before) == 0 &&
                             text_at(after.substr(0, kRecord), 154, 252) == talk;
        ASSERT_TRUE(old_one || new_one) << "kill " << k << ": " << after.size() << " bytes";
        if (new_one) ++changed;
        before = after;
    }
    std::printf("[figures] %d kills during posts into %d records (a post takes %d us): %d committed before the kill\n",
                kills, records, whole_us, changed);

    // A lock left by one more killed writer: the first request whose clock
    // says the minute is over gets through.
    post_and_kill(b, "last", whole_us / 2);
    const e2e::Result r = e2e::run(b.site, post(0, "after", clock_ahead()));
    EXPECT_EQ(check_post_answer(r, "after"), "");
    std::vector<std::string> talks;
    ASSERT_TRUE(talks_of(e2e::read_file(b.room + "chatdata.dat"), &talks));
    EXPECT_EQ(talks.front(), "after");
    EXPECT_EQ(talks.back(), "old-0");
}

// How many names in dir end in tail.
int count_ending(const std::string& dir, const std::string& tail) {
    int n = 0;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return -1;
    for (struct dirent* e = readdir(d); e != nullptr; e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0) ++n;
    }
    closedir(d);
    return n;
}

TEST_F(BusyRoom, KilledWaitersAndHoldersLeaveNoFilesBehind) {
    b = make_busy_site(1);
    enter_all(1);
    std::string file;
    for (int i = 1999; i >= 0; --i) file += line_rec("old", "old-" + std::to_string(i));
    e2e::write_file(b.room + "chatdata.dat", e2e::read_file(b.room + "chatdata.dat") + file);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(check_post_answer(e2e::run(b.site, post(0, "timing")), "timing"), "");
    const int whole_us = static_cast<int>(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());

    // Posts killed at moments spread over a post, most while they hold the lock.
    for (int k = 0; k < 5; ++k) post_and_kill(b, "h" + std::to_string(k), whole_us * (k + 1) / 6);

    // Posts killed while they wait for the lock that a live process holds,
    // and then that holder killed too.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        std::string lock = b.room + "chatdata.chk";
        if (Fio_xor_control(&lock[0], 1) != 0) _exit(1);
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    close(ready[1]);
    std::vector<pid_t> waiters;
    for (int k = 0; k < 5; ++k) waiters.push_back(start_post(b, "w" + std::to_string(k)));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (pid_t w : waiters) {
        ASSERT_GT(w, 0);
        kill(w, SIGKILL);
        waitpid(w, nullptr, 0);
    }
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    std::printf("[figures] after 5 killed holders and 5 killed waiters: %d temporary files, %d lock files\n",
                count_ending(b.room, ".tmp"), count_ending(b.room, ".chk"));

    // A temporary file with a name (one a kill caught between taking its name
    // and its rename, or any where unnamed files are not offered) is judged
    // dead only once it is two seconds old, since its maker might be about to
    // lock it (the times are whole seconds, so that is certain only after
    // three); then the next post, which breaks the dead holder's lock,
    // removes every one.
    std::this_thread::sleep_for(std::chrono::milliseconds(3100));
    EXPECT_EQ(check_post_answer(e2e::run(b.site, post(0, "after")), "after"), "");
    EXPECT_EQ(count_ending(b.room, ".tmp"), 0);
    EXPECT_EQ(count_ending(b.room, ".chk"), 0);
}

TEST_F(BusyRoom, UnauthenticatedUploadsLeaveNothingBehind) {
    b = make_busy_site(1);
    in_parallel(20, [&](int t) {
        e2e::Multipart mp;
        e2e::mp_field(mp, "FOLDER_NO", std::to_string(kFolder));
        e2e::mp_field(mp, "JOB", "SET_CONFIGWR");
        e2e::mp_file(mp, "TITLEPIC", "x" + std::to_string(t) + ".gif", std::string(100000, 'x'));
        const e2e::Result r = e2e::run(b.site, e2e::mp_request(mp));
        EXPECT_EQ(r.status, 0);
    });
    std::vector<std::string> left;
    DIR* d = opendir(b.site.data_dir.c_str());
    ASSERT_NE(d, nullptr);
    for (struct dirent* e = readdir(d); e != nullptr; e = readdir(d))
        if (std::strncmp(e->d_name, "CGI", 3) == 0) left.push_back(e->d_name);
    closedir(d);
    EXPECT_EQ(left, std::vector<std::string>{});
}

// Makes user n a system administrator, who may change the room's settings.
void make_admin(const BusySite& b, int n) {
    e2e::write_file(b.site.data_dir + "user/" + user_id(n) + "/personal.mst",
                    "USER_NAME," + user_id(n) + "\nUSER_LEVEL,100\nP_GROUP,0\nMODE,1\n");
}

// A settings update of user n as the form sends it: every field, each file
// field empty but `field`, which uploads a picture named `upload`.
e2e::Request settings_update(int n, const std::string& field, const std::string& upload) {
    e2e::Multipart mp;
    e2e::mp_field(mp, "SKEY1", std::to_string(1000 + n));
    e2e::mp_field(mp, "SKEY2", std::to_string(2000 + n));
    e2e::mp_field(mp, "uid", user_id(n));
    e2e::mp_field(mp, "FOLDER_NO", std::to_string(kFolder));
    e2e::mp_field(mp, "JOB", "SET_CONFIGWR");
    e2e::mp_field(mp, "NAME", "Busy");
    e2e::mp_field(mp, "INFO", "");
    for (const char* f : {"TITLEPIC", "PIC_FILENAME", "BACKPIC1", "BACKPIC2", "BACKPIC3"})
        e2e::mp_file(mp, f, f == field ? upload : "", f == field ? "bytes of " + upload : "");
    const char* sizes[] = {"10%", "40%", "50%"};
    for (int k = 1; k <= 3; ++k) e2e::mp_field(mp, "FONTCOLOR" + std::to_string(k), "");
    for (int k = 1; k <= 3; ++k) e2e::mp_field(mp, "FRAMESET" + std::to_string(k), sizes[k - 1]);
    return e2e::mp_request(mp);
}

// The pictures the room's settings name: the four picture keys of dir.cnf
// and the folder's picture (the seventh field of its line in tree.mst).
std::set<std::string> named_pictures(const BusySite& b) {
    std::set<std::string> names;
    std::istringstream cnf(e2e::read_file(b.room + "dir.cnf"));
    for (std::string line; std::getline(cnf, line);) {
        const std::size_t c1 = line.find(','), c2 = line.find(',', c1 + 1);
        if (c2 == std::string::npos) continue;
        const std::string key = line.substr(0, c1), value = line.substr(c1 + 1, c2 - c1 - 1);
        if ((key == "TITLEPIC" || key.rfind("BACKPIC", 0) == 0) && !value.empty()) names.insert(value);
    }
    std::istringstream tree(e2e::read_file(b.site.data_dir + "tree.mst"));
    for (std::string line; std::getline(tree, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line.substr(line.find_first_not_of(' ')));
        for (std::string x; std::getline(fields, x, ',');) f.push_back(x);
        if (f.size() > 6 && f[0] == std::to_string(kFolder) && !f[6].empty()) names.insert(f[6]);
    }
    return names;
}

std::set<std::string> pictures_in(const BusySite& b) {
    std::set<std::string> names;
    DIR* d = opendir((b.room + "fcg").c_str());
    if (d == nullptr) return names;
    for (struct dirent* e = readdir(d); e != nullptr; e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.insert(e->d_name);
    closedir(d);
    return names;
}

std::string check_settings_answer(const e2e::Result& r) {
    if (contains(r.out, "<FORM NAME=\"INPUT\"") || contains(r.out, e2e::message(19))) return "";
    return "neither the settings form nor the busy page: " + r.out.substr(0, 200);
}

// Two administrators (users 0 and 1) update the room's pictures at once, 30
// rounds of update(admin, round); after each round the picture directory
// holds exactly the pictures the settings name.
void picture_rounds(BusySite& b, const std::function<e2e::Request(int, int)>& update, const char* what) {
    make_admin(b, 0);
    make_admin(b, 1);
    Tally tally;
    for (int round = 0; round < 30; ++round) {
        in_parallel(2, [&](int t) { timed(tally, b.site, update(t, round), check_settings_answer); });
        ASSERT_EQ(pictures_in(b), named_pictures(b)) << "round " << round;
    }
    tally.print(what);
    EXPECT_EQ(tally.bad, std::vector<std::string>{});
}

TEST_F(BusyRoom, ATitlePictureReplacedWhileABackgroundOfItsNameIsUploaded) {
    b = make_busy_site(2);
    e2e::make_dir(b.room + "fcg");
    e2e::write_file(b.room + "fcg/shared.png", "first");
    e2e::write_file(b.room + "dir.cnf", "TITLEPIC,shared.png,\n");
    // One replaces the title picture shared.png by other.png and back, the
    // other uploads a background that is also named shared.png.
    picture_rounds(b, [](int t, int round) {
        if (t == 1) return settings_update(1, "BACKPIC1", "shared.png");
        return settings_update(0, "TITLEPIC", round % 2 == 0 ? "other.png" : "shared.png");
    }, "2 administrators x 30 rounds, title picture replaced while a background of its name arrives");
    EXPECT_EQ(named_pictures(b), (std::set<std::string>{"shared.png"}));
}

TEST_F(BusyRoom, TwoTitlePicturesUploadedAtOnce) {
    b = make_busy_site(2);
    picture_rounds(b, [](int t, int round) {
        return settings_update(t, "TITLEPIC", std::string(t == 0 ? "a" : "b") + std::to_string(round) + ".png");
    }, "2 administrators x 30 rounds, each uploading a title picture");
    EXPECT_EQ(pictures_in(b).size(), 1u);
}

}  // namespace
