// Two whole requests in this one process (velt_main called twice, with the
// environment, standard input and working directory a web server gives the
// program): the second reply must be byte for byte what a fresh process of
// build/velt.cgi answers to the same request, so nothing of the first
// request (its parameters, user, level, room, messages or reply) is left in
// the second.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/e2e/harness.h"
#include "tests/e2e/in_process.h"
#include "tests/e2e/room_site.h"

namespace {

using e2e::run_here;
using roomsite::query;

e2e::Request get(const std::string& q) {
    e2e::Request req;
    req.query = q;
    return req;
}

// A room (its name ends in a 0x5C second byte) with its title picture, the
// administrator taro (level 9 in every room) and the ordinary member hanako.
roomsite::RoomSite make_room() {
    roomsite::RoomSite r = roomsite::make_room("Lobby \x95\x5C", 100, 1, 2);
    const std::string hanako = r.site.data_dir + "user/hanako/";
    e2e::make_dir(hanako);
    e2e::write_file(hanako + "personal.mst", "USER_NAME,Hanako, \"&\"\nUSER_LEVEL,5\nMODE,1\nCOLOR,green\n");
    e2e::write_file(hanako + "password.mst", "");
    e2e::write_file(hanako + "skey.mst", roomsite::skey_record("hanako", 333, 444));
    e2e::write_file(r.room_dir + "dir.cnf", "TITLEPIC,title.gif,\nFONTCOLOR1,FF0000,\n");
    e2e::write_file(r.room_dir + "info.txt", "Welcome\r\nto the lobby");
    e2e::write_file(r.fcg_dir + "title.gif", std::string("GIF89a\0\x5C,", 9));
    e2e::write_file(r.site.data_dir + "mimemap.txt", "gif,image/gif,\n");
    return r;
}

std::string hanako(const std::string& job, const std::string& extra = "") {
    return "uid=hanako&SKEY1=333&SKEY2=444&FOLDER_NO=12&JOB=" + job + extra;
}

TEST(InProcess, TheSecondRequestAnswersAsAFreshProcessWould) {
    struct Case {
        const char* what;
        e2e::Request first;
        e2e::Request second;
        bool second_without_settings;  // the second runs in a site without zepa.ini
    };
    const roomsite::RoomSite probe = make_room();
    e2e::Multipart login;
    e2e::mp_field(login, "uid", "taro");
    e2e::mp_field(login, "upw", "");
    e2e::mp_field(login, "FOLDER_NO", "12");
    e2e::mp_field(login, "JOB", "ROOM_IN");
    e2e::mp_field(login, "CHAT_NAME", "Taro, \x95\x5C");
    e2e::mp_file(login, "TITLEPIC", "x.gif", "not stored");
    const Case cases[] = {
        {"the administrator's level and user", get(query(probe, "FRM221")), get(hanako("FRM221")), false},
        {"the parameters", get(query(probe, "FRM222", "&CHAT_NAME=Taro&COLOR=red")), get(query(probe, "FRM222")),
         false},
        {"a picture", get(query(probe, "BG4_DL")), get(query(probe, "BG1_DL")), false},
        {"a password login's body and uploads", e2e::mp_request(login), get(hanako("FRM223")), false},
        {"the message table", get(query(probe, "FRM221")), get(query(probe, "FRM221")), true},
        {"a status answer", get(query(probe, "NO_SUCH_JOB")), get("help=ver"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const roomsite::RoomSite r = make_room();
        const roomsite::RoomSite bare = make_room();
        std::remove((bare.site.cgi_dir + "/zepa.ini").c_str());
        const e2e::Site& second_site = c.second_without_settings ? bare.site : r.site;

        const std::string first = run_here(r.site, c.first);
        EXPECT_NE(first, "");
        const std::string second = run_here(second_site, c.second);
        const e2e::Result fresh = e2e::run(second_site, c.second);
        EXPECT_EQ(fresh.status, 0);
        EXPECT_EQ(second, fresh.out);
        e2e::remove_site(r.site);
        e2e::remove_site(bare.site);
    }
    e2e::remove_site(probe.site);
}

}  // namespace
