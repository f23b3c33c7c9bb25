// End-to-end tests of the start-up around the suite's master files: a folder
// that is not in the tree is answered "not found" and touches nothing, and a
// password login is logged in system.log and counted in personal.mst.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "access/user_mst.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/room_site.h"

namespace {

using roomsite::expect_clean;

// Every file under the data directory with its bytes.
std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
        const std::string rel = e.path().string().substr(dir.size());
        out[rel] = e.is_regular_file() ? e2e::read_file(e.path().string()) : std::string("<dir>");
    }
    return out;
}

// The site of room 12 with taro, whose password "pw" is stored the way the
// suite's other programs store it, and a session key of his.
roomsite::RoomSite make_login_site(const std::string& log_date) {
    roomsite::RoomSite r;
    r.site = e2e::make_site("LOG_DATE," + log_date + ",\n");
    r.uid = "taro";
    const std::string& d = r.site.data_dir;
    e2e::write_file(d + "tree.mst", "1,Top,0,/cgi-bin/other.cgi,0,0,,0,0,0,0,\n 12,Lobby,0," +
                                        std::string(roomsite::kCgiName) + ",1,2,,0,0,0,0,\n");
    e2e::write_file(d + "user.mst", "hanako\ntaro\n");
    e2e::make_dir(d + "user/taro/");
    e2e::write_file(d + "user/taro/personal.mst", "USER_NAME,Taro Yamada\nUSER_LEVEL,10\nMODE,1\n");
    char scrambled[41] = "pw";
    f03_encryption(scrambled, 1, "taro");
    e2e::write_file(d + "user/taro/password.mst", scrambled);
    e2e::write_file(d + "user/taro/skey.mst", roomsite::skey_record("taro", roomsite::kSkey1, roomsite::kSkey2));
    r.room_dir = d + "12/";
    e2e::make_dir(r.room_dir);
    return r;
}

std::string password_query(int folder, const std::string& uid = "taro") {
    return "uid=" + uid + "&upw=pw&FOLDER_NO=" + std::to_string(folder) + "&JOB=NO_SUCH_JOB";
}

std::string key_query(int folder) {
    return "uid=taro&SKEY1=" + std::to_string(roomsite::kSkey1) + "&SKEY2=" + std::to_string(roomsite::kSkey2) +
           "&FOLDER_NO=" + std::to_string(folder) + "&JOB=NO_SUCH_JOB";
}

TEST(FolderRead, AFolderNotInTheTreeIsNotFoundAndTouchesNoFile) {
    roomsite::RoomSite r = make_login_site("1");
    const auto before = snapshot(r.site.data_dir);
    for (const std::string& q :
         {password_query(99), key_query(99), std::string("FOLDER_NO=abc&JOB=ROOM_IN&uid=taro&upw=pw")}) {
        SCOPED_TRACE(q);
        e2e::Result res = e2e::get(r.site, q);
        expect_clean(res);
        EXPECT_EQ(res.out, e2e::NO_ROOM);
    }
    // No login, key, log, presence or settings file came or changed.
    EXPECT_TRUE(snapshot(r.site.data_dir) == before);
    // A folder tree that another program is rewriting is worth asking again.
    e2e::write_file(r.site.data_dir + "tree_mst.chk", "");
    e2e::Request held;
    held.query = key_query(12);
    held.lock_wait_ms = e2e::SHORT_LOCK_WAIT_MS;
    const e2e::Result busy = e2e::run(r.site, held);
    expect_clean(busy);
    EXPECT_EQ(busy.out, "Status: 503 Service Unavailable\nContent-Type: text/plain\n\n"
                        "The chat's folder list is busy; please try again.\n");
    e2e::remove_site(r.site);
}

TEST(FolderRead, APasswordLoginIsLoggedAndCountedWhileLoggingIsOn) {
    roomsite::RoomSite r = make_login_site("1");
    const std::string& d = r.site.data_dir;
    e2e::Request req;
    req.query = password_query(12, "TARO");
    req.env["REMOTE_ADDR"] = "192.0.2.7";
    req.env["HTTP_USER_AGENT"] = "Mozilla/5.0 (X11, Linux)";
    e2e::Result res = e2e::run(r.site, req);
    expect_clean(res);
    // The job names no page: after the whole start-up it is not found.
    EXPECT_EQ(res.out, e2e::NO_PAGE);

    // One line: time stamp, the stored spelling of the id, the name, "login",
    // the address, the browser (its comma made harmless).
    const std::string log = e2e::read_file(d + "system.log");
    ASSERT_GE(log.size(), 17u);
    EXPECT_EQ(log.substr(16), ",taro,Taro Yamada,login,192.0.2.7,Mozilla/5.0 (X11_ Linux),\n");
    EXPECT_EQ(log[4], '/');
    EXPECT_EQ(log[13], ':');
    std::string personal = e2e::read_file(d + "user/taro/personal.mst");
    EXPECT_NE(personal.find("\nLAST_LOGIN_DATE," + log.substr(0, 16) + "\n"), std::string::npos) << personal;
    EXPECT_NE(personal.find("\nTOTAL_LOGIN_COUNT,1\n"), std::string::npos) << personal;

    // A second password login counts on (its job, "room", matches no page
    // either: names compare case-sensitively and whole); a request by
    // session key does not.
    res = e2e::get(r.site, "uid=taro&upw=pw&FOLDER_NO=12&JOB=room");
    expect_clean(res);
    EXPECT_EQ(res.out, e2e::NO_PAGE);
    personal = e2e::read_file(d + "user/taro/personal.mst");
    EXPECT_NE(personal.find("\nTOTAL_LOGIN_COUNT,2\n"), std::string::npos) << personal;
    EXPECT_EQ(personal.find("TOTAL_LOGIN_COUNT,1"), std::string::npos);
    const std::string two = e2e::read_file(d + "system.log");
    EXPECT_EQ(std::count(two.begin(), two.end(), '\n'), 2);

    // The logins made new keys; the request below brings the one stored here.
    e2e::write_file(d + "user/taro/skey.mst", roomsite::skey_record("taro", roomsite::kSkey1, roomsite::kSkey2));
    expect_clean(e2e::get(r.site, key_query(12)));
    EXPECT_EQ(e2e::read_file(d + "system.log"), two);
    EXPECT_EQ(e2e::read_file(d + "user/taro/personal.mst"), personal);
    e2e::remove_site(r.site);
}

TEST(FolderRead, NoLoggingWhileLogDateIsZeroOrEmpty) {
    for (const char* setting : {"0", "", "x"}) {
        SCOPED_TRACE(setting);
        roomsite::RoomSite r = make_login_site(setting);
        const std::string& d = r.site.data_dir;
        expect_clean(e2e::get(r.site, password_query(12)));
        EXPECT_EQ(e2e::read_file(d + "system.log"), "");
        const std::string personal = e2e::read_file(d + "user/taro/personal.mst");
        EXPECT_EQ(personal.find("TOTAL_LOGIN_COUNT"), std::string::npos) << personal;
        EXPECT_EQ(personal.find("LAST_LOGIN_DATE"), std::string::npos) << personal;
        e2e::remove_site(r.site);
    }
}

}  // namespace
