// End-to-end runs of the gate and the access check when a master file stays
// locked by a live holder, or a login cannot store its key: the busy answer
// (503), never "wrong password", "session no longer valid" or "no access",
// and nothing stored (above all no record under an empty user id).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/e2e/room_site.h"

namespace {

using roomsite::expect_clean;

// Every file under dir with its bytes.
std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        out[e.path().string()] = e.is_regular_file() ? e2e::read_file(e.path().string()) : "<dir>";
    return out;
}

// Room 12 of level 0 (anybody may read and post there, so an empty user
// would), taro of level 5 in group 7, which the access list names: every
// master file of the gate and the check is read, and exists already (a read
// that creates a missing file would count as a change).
roomsite::RoomSite busy_site() {
    roomsite::RoomSite r = roomsite::make_room("Lobby", 5, 0, 0);
    const std::string user = r.site.data_dir + "user/taro/";
    e2e::write_file(r.room_dir + "acl.mst", "U,hanako,9,\nG,7,3,\n");
    e2e::write_file(user + "user_g.mst", "7,\n");
    e2e::write_file(user + "personal.mst", "USER_NAME,Taro Yamada\nUSER_LEVEL,5\nP_GROUP,0\nMODE,1\n"
                                           "TOTAL_LOGIN_COUNT,41\n");
    return r;
}

// Entering the room under a chat name: what an empty user would store.
const std::string kEnter = "&CHAT_NAME=%95%5C%2C%26%22&COLOR=Navy&DISP_LINE=30&RELOAD_TIME=60";
const std::string kFolderBusy =
    "Status: 503 Service Unavailable\nContent-Type: text/plain\n\nThe chat's folder list is busy; please try again.\n";

TEST(BusyGate, EachMasterFileHeldByALiveHolderGivesTheBusyAnswerAndStoresNothing) {
    struct Case {
        const char* lock;   // below the data directory
        bool password;      // a password login, else a request by key
        bool folder_list;   // the folder's own read meets it: its answer
    };
    const std::vector<Case> cases = {
        {"user.chk", false, false},           {"user.chk", true, false},
        {"user/taro/personal.chk", false, false}, {"user/taro/personal.chk", true, false},
        {"user/taro/skey.chk", false, false}, {"user/taro/skey.chk", true, false},
        {"user/taro/password.chk", true, false}, {"12/acl.chk", false, false},
        {"user/taro/user_g.chk", false, false}, {"tree_mst.chk", false, true},
    };
    // Each waits the whole (short) lock wait: all at once, each on a site of
    // its own.
    std::vector<roomsite::RoomSite> sites;
    std::vector<pid_t> holders;
    std::vector<std::map<std::string, std::string>> before;
    std::vector<e2e::Result> results(cases.size());
    for (const Case& c : cases) {
        sites.push_back(busy_site());
        holders.push_back(e2e::hold_lock(sites.back().site.data_dir + c.lock));
        before.push_back(snapshot(sites.back().site.root));
    }
    std::vector<std::thread> runs;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        runs.emplace_back([&, i] {
            const std::string q = cases[i].password ? "uid=taro&upw=&FOLDER_NO=12&JOB=ROOM_IN" + kEnter
                                                    : roomsite::query(sites[i], "ROOM_IN", kEnter);
            e2e::Request req;
            req.query = q;
            req.lock_wait_ms = e2e::SHORT_LOCK_WAIT_MS;
            results[i] = e2e::run(sites[i].site, req);
        });
    }
    for (std::thread& t : runs) t.join();

    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(std::string(cases[i].lock) + (cases[i].password ? " at a password login" : " by key"));
        expect_clean(results[i]);
        EXPECT_EQ(results[i].out, cases[i].folder_list ? kFolderBusy : e2e::busy_page());
        // No presence record, no notice, no key, no count: nothing at all.
        EXPECT_TRUE(snapshot(sites[i].site.root) == before[i]);
        EXPECT_FALSE(e2e::file_exists(sites[i].room_dir + "chatuser.idx"));
        EXPECT_FALSE(e2e::file_exists(sites[i].room_dir + "chatdata.dat"));
        e2e::release_lock(holders[i], sites[i].site.data_dir + cases[i].lock);
    }
    // Once free, the same request enters the room.
    const e2e::Result free = e2e::get(sites[0].site, roomsite::query(sites[0], "ROOM_IN", kEnter));
    EXPECT_NE(free.out.find("<FRAMESET ROWS="), std::string::npos) << free.out;
    EXPECT_TRUE(e2e::file_exists(sites[0].room_dir + "chatuser.idx"));
    for (const roomsite::RoomSite& s : sites) e2e::remove_site(s.site);
}

// Gives path and everything below it to user id `to` (the test runs as root).
void give_to(const std::string& path, int to) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(path))
        EXPECT_EQ(lchown(e.path().c_str(), static_cast<uid_t>(to), static_cast<gid_t>(to)), 0);
    EXPECT_EQ(lchown(path.c_str(), static_cast<uid_t>(to), static_cast<gid_t>(to)), 0);
}

TEST(BusyGate, ALoginThatCannotStoreItsKeyIsBusyNotAWrongPassword) {
    // The user's directory cannot be written (as on a full disk): the
    // password is right, the new key cannot be stored.
    roomsite::RoomSite r = busy_site();
    const std::string user = r.site.data_dir + "user/taro";
    e2e::Request req;
    req.query = "uid=taro&upw=&FOLDER_NO=12&JOB=ROOM_IN" + kEnter;
    if (geteuid() == 0) {
        // Root writes into any directory: the program runs as nobody instead.
        constexpr int kNobody = 65534;
        give_to(r.site.root, kNobody);
        req.user = kNobody;
    }
    ASSERT_EQ(chmod(user.c_str(), 0500), 0);
    const auto before = snapshot(r.site.root);
    const e2e::Result res = e2e::run(r.site, req);
    expect_clean(res);
    EXPECT_EQ(res.out, e2e::busy_page());
    EXPECT_TRUE(snapshot(r.site.root) == before);

    // Writable again, the same login enters.
    ASSERT_EQ(chmod(user.c_str(), 0700), 0);
    const e2e::Result ok = e2e::run(r.site, req);
    EXPECT_NE(ok.out.find("<FRAMESET ROWS="), std::string::npos) << ok.out;
    e2e::remove_site(r.site);
}

}  // namespace
