// A site with one chat room and one logged-in user, written straight into the
// suite's file formats, for the tests of the room's title frame, palette and
// pictures.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "tests/e2e/harness.h"

namespace roomsite {

constexpr int kFolder = 12;
constexpr int32_t kSkey1 = 111;
constexpr int32_t kSkey2 = 222;
// The folder's script address carries a query part, which the pages drop.
inline const char* const kCgiName = "/cgi-bin/velt.cgi?mode=chat";
inline const char* const kJobExe = "/cgi-bin/velt.cgi";

struct RoomSite {
    e2e::Site site;
    std::string room_dir;  // data directory of the room, ending in '/'
    std::string fcg_dir;   // the room's picture directory, ending in '/'
    std::string uid;       // the user's id as stored
};

// One 536-byte key record of skey.mst: two native integers, the user id in 22
// bytes, two 252-byte texts and two bytes of padding.
inline std::string skey_record(const std::string& uid, int32_t k1, int32_t k2) {
    std::string rec(536, '\0');
    std::memcpy(&rec[0], &k1, 4);
    std::memcpy(&rec[4], &k2, 4);
    std::memcpy(&rec[8], uid.data(), uid.size() < 21 ? uid.size() : 21);
    return rec;
}

// Makes the site: the folder kFolder named room_name with the given default
// levels, the user uid with user_level and a stored session key, and, when
// permit is not negative, an access-list entry for the user granting permit.
inline RoomSite make_room(const std::string& room_name, int user_level, int access_level, int write_level,
                          int permit = -1, const std::string& uid = "taro") {
    RoomSite r;
    r.site = e2e::make_site();
    r.uid = uid;
    const std::string& d = r.site.data_dir;
    e2e::write_file(d + "tree.mst", "1,Top,0,/cgi-bin/other.cgi,0,0,,0,0,0,0,\n " + std::to_string(kFolder) + "," +
                                        room_name + ",0," + kCgiName + "," + std::to_string(access_level) + "," +
                                        std::to_string(write_level) + ",,0,0,0,0,\n");
    e2e::write_file(d + "user.mst", "hanako\n" + uid + "\n");
    const std::string user_dir = d + "user/" + uid + "/";
    e2e::make_dir(user_dir);
    e2e::write_file(user_dir + "personal.mst",
                    "USER_NAME,Taro Yamada\nUSER_LEVEL," + std::to_string(user_level) + "\nP_GROUP,0\nMODE,1\n");
    e2e::write_file(user_dir + "password.mst", "");
    e2e::write_file(user_dir + "skey.mst", skey_record(uid, kSkey1, kSkey2));
    r.room_dir = d + std::to_string(kFolder) + "/";
    r.fcg_dir = r.room_dir + "fcg/";
    e2e::make_dir(r.fcg_dir);
    if (permit >= 0) e2e::write_file(r.room_dir + "acl.mst", "U," + uid + "," + std::to_string(permit) + ",\n");
    return r;
}

// The query of a request of the logged-in user for job, with extra parameters
// appended ("&NAME=value...", already encoded). skey1 replaces the key text.
inline std::string query(const RoomSite& r, const std::string& job, const std::string& extra = "",
                         const std::string& uid_encoded = "", const std::string& skey1 = "") {
    return "uid=" + (uid_encoded.empty() ? r.uid : uid_encoded) +
           "&SKEY1=" + (skey1.empty() ? std::to_string(kSkey1) : skey1) + "&SKEY2=" + std::to_string(kSkey2) +
           "&FOLDER_NO=" + std::to_string(kFolder) + "&JOB=" + job + extra;
}

// Every run ends with status 0 and says nothing on standard error.
inline void expect_clean(const e2e::Result& res) {
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.err, "");
}

}  // namespace roomsite
