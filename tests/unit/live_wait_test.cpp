// Unit tests of a live poll's hold: woken by a change another process makes
// to the room's message file, with and without the kernel's notices; and the
// hold's length from the environment.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "live/wait.h"
#include "store_tmpdir.h"

namespace {

using store_test::write_all;

const char FILE_NAME[] = "chatdata.dat";

class LiveWait : public store_test::TmpDirTest {
protected:
    std::string room;  // ends in '/'

    void SetUp() override {
        TmpDirTest::SetUp();
        room = at("3") + "/";
        ASSERT_EQ(mkdir(room.c_str(), 0700), 0);
    }
    void TearDown() override {
        live_wait_no_inotify = 0;
        TmpDirTest::TearDown();
    }
    std::string data() const { return room + FILE_NAME; }
    LIVE_FILE_ID id() const {
        LIVE_FILE_ID out;
        live_file_id(room.c_str(), FILE_NAME, &out);
        return out;
    }

    // Runs what in another process after a short while; returns its id.
    template <typename F>
    pid_t later(F what) {
        const pid_t pid = fork();
        if (pid == 0) {
            usleep(200 * 1000);
            what();
            _exit(0);
        }
        return pid;
    }
    static void reap(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
};

// The commits a poll must notice: a post's rename of a whole new file over
// the old one, the removal of an emptied room's file, the first post's file.
struct Change {
    const char* what;
    bool file_before;
    bool rename_new;  // else remove
};
const Change CHANGES[] = {
    {"a new file renamed over the old", true, true},
    {"the file removed", true, false},
    {"a first file renamed into place", false, true},
};

void apply(const std::string& data, const Change& c) {
    if (c.rename_new) {
        write_all(data + ".new", std::string(816, 'n'));
        std::rename((data + ".new").c_str(), data.c_str());
    } else {
        std::remove(data.c_str());
    }
}

TEST_F(LiveWait, AChangeByAnotherProcessEndsTheWait) {
    for (bool notices : {true, false}) {
        for (const Change& c : CHANGES) {
            SCOPED_TRACE(std::string(c.what) + (notices ? "" : ", without the kernel's notices"));
            live_wait_no_inotify = notices ? 0 : 1;
            std::remove(data().c_str());
            if (c.file_before) write_all(data(), std::string(408, 'o'));
            const LIVE_FILE_ID seen = id();
            const std::string path = data();
            const pid_t pid = later([&] { apply(path, c); });
            EXPECT_EQ(live_wait_for_change(room.c_str(), FILE_NAME, seen, 20000), LIVE_WAIT_CHANGED);
            reap(pid);
        }
    }
}

TEST_F(LiveWait, WithoutAChangeOfItsFileTheWaitTimesOut) {
    write_all(data(), std::string(408, 'o'));
    const LIVE_FILE_ID seen = id();
    // Other files of the room come and go meanwhile (the lock, the presence index).
    const std::string r = room;
    const pid_t pid = later([&] {
        write_all(r + "chatdata.chk", "velt x");
        write_all(r + "chatuser.idx.new", "x");
        std::rename((r + "chatuser.idx.new").c_str(), (r + "chatuser.idx").c_str());
        std::remove((r + "chatdata.chk").c_str());
    });
    EXPECT_EQ(live_wait_for_change(room.c_str(), FILE_NAME, seen, 700), LIVE_WAIT_TIMED_OUT);
    reap(pid);
    EXPECT_EQ(live_wait_for_change(room.c_str(), FILE_NAME, seen, 0), LIVE_WAIT_TIMED_OUT);
}

TEST_F(LiveWait, AChangeBeforeTheWaitEndsItAtOnce) {
    const LIVE_FILE_ID missing = id();
    EXPECT_EQ(missing.exists, 0);
    write_all(data(), std::string(408, 'o'));
    EXPECT_EQ(live_wait_for_change(room.c_str(), FILE_NAME, missing, 20000), LIVE_WAIT_CHANGED);
    // And a new file renamed over it, as a post commits.
    const LIVE_FILE_ID seen = id();
    write_all(data() + ".new", std::string(816, 'o'));
    std::rename((data() + ".new").c_str(), data().c_str());
    EXPECT_FALSE(live_same_file(id(), seen));
    EXPECT_EQ(live_wait_for_change(room.c_str(), FILE_NAME, seen, 20000), LIVE_WAIT_CHANGED);
    EXPECT_EQ(live_wait_for_change(nullptr, FILE_NAME, seen, 10), LIVE_WAIT_ERROR);
    EXPECT_EQ(live_wait_for_change(room.c_str(), "", seen, 10), LIVE_WAIT_ERROR);
}

TEST(LiveHold, TheOperatorSetsItWithinItsBounds) {
    const struct {
        const char* env;  // null: unset
        int hold;
    } cases[] = {
        {nullptr, 25}, {"1", 1}, {"30", 30}, {"55", 55}, {"56", 25}, {"0", 25},  {"", 25},
        {"abc", 25},   {"5s", 25}, {" 5", 25}, {"055", 25}, {"-5", 25}, {"99999999999", 25},
    };
    for (const auto& k : cases) {
        if (k.env == nullptr) {
            unsetenv("VELT_LIVE_HOLD");
        } else {
            setenv("VELT_LIVE_HOLD", k.env, 1);
        }
        EXPECT_EQ(live_hold_seconds(), k.hold) << (k.env ? k.env : "(unset)");
    }
    unsetenv("VELT_LIVE_HOLD");
}

}  // namespace
