// End-to-end runs of the login gate and the access check: password logins,
// session keys, refusal pages, ids that must not reach the file system, the
// empty response below level 1, and the switch to the user's language.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/e2e/room_site.h"

using namespace e2e;

namespace {

constexpr int kFolder = 12;
const std::string kTaroPw = "se\x95\x5C" "cret&1";  // a double-byte character with a 0x5C second byte

// The password file as the suite writes it: each byte NOT-ed and XOR-ed with
// the user id, read from its last character backwards, as two hex digits.
std::string scrambled(const std::string& pw, const std::string& key) {
    std::string out;
    std::size_t k = key.size() - 1;
    for (unsigned char c : pw) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>((~c ^ static_cast<unsigned char>(key[k])) & 0xFF));
        out += hex;
        k = (k == 0) ? key.size() - 1 : k - 1;
    }
    return out;
}

// "%XX" for every byte but letters and digits, as a browser would send it.
std::string enc(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c)) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

int32_t int_at(const std::string& bytes, std::size_t off) {
    int32_t v = 0;
    std::memcpy(&v, bytes.data() + off, 4);
    return v;
}

void expect_clean(const Result& r) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

// The refusal pages, in the site's language.
std::string err_page(int title, int text) {
    return site_head() + "<CENTER>\n<BR><FONT SIZE=\"5\"><B>" + message(title) +
           "</B></FONT>\n<P><BR><HR><P><BR>\n<FONT COLOR=\"RED\"><B>" + message(text) +
           "</B></FONT>\n<FORM METHOD=POST >\n"
           "<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n"
           "</FORM>\n</CENTER>\n</BODY>\n</HTML>\n";
}
std::string session_page() {
    return site_head() + "<CENTER>\n<BR><FONT SIZE=\"5\"><B>" + message(7) +
           "</B></FONT>\n<P><BR><HR><P><BR>\n</CENTER>\n</BODY>\n</HTML>\n";
}

// The address of the room's title frame that the room page prints for the
// user and key it goes on with.
std::string title_frame(const std::string& uid, const std::string& k1, const std::string& k2) {
    return "\t<FRAME SRC = \"/cgi-bin/velt.cgi?uid=" + uid + "&SKEY1=" + k1 + "&SKEY2=" + k2 +
           "&JOB=FRM221&FOLDER_NO=12\" NAME=\"FRM221SEL12\">\n";
}

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        site = make_site();
        folder(0, 5);
        write_file(site.data_dir + "user.mst", "Hanako\nTaro\n");
        add_user("Taro", kTaroPw, "USER_NAME,Taro Yamada\nUSER_LEVEL,5\nMODE,1\n");
        add_user("Hanako", "hana", "USER_LEVEL,5\n");
        make_dir(site.data_dir + std::to_string(kFolder));
    }
    void TearDown() override { remove_site(site); }

    void folder(int access, int write) {
        write_file(site.data_dir + "tree.mst", "1,Top,0,/cgi-bin/other.cgi,0,0,,0,0,0,0,\n 12,Chat,0,/cgi-bin/velt.cgi?x=1," +
                                                   std::to_string(access) + "," + std::to_string(write) + ",,0,0,0,0,\n");
    }
    void add_user(const std::string& id, const std::string& pw, const std::string& personal) {
        const std::string d = site.data_dir + "user/" + id + "/";
        make_dir(d);
        write_file(d + "password.mst", scrambled(pw, id));
        write_file(d + "personal.mst", personal);
    }
    std::string skey_file(const std::string& id) { return site.data_dir + "user/" + id + "/skey.mst"; }

    Result login(const std::string& uid, const std::string& pw, const std::string& job = "",
                 const std::string& faketime = "") {
        Request req;
        req.method = "POST";
        req.content_type = "application/x-www-form-urlencoded";
        req.body = "uid=" + enc(uid) + "&upw=" + enc(pw) + "&FOLDER_NO=12&JOB=" + job;
        req.env["REMOTE_ADDR"] = "192.0.2.7";
        req.env["HTTP_USER_AGENT"] = "Mozilla/4.0 (compatible; \"x\")";
        req.faketime = faketime;
        return run(site, req);
    }
    Result by_key(const std::string& uid, const std::string& k1, const std::string& k2, const std::string& job = "ROOM") {
        return get(site, "uid=" + enc(uid) + "&SKEY1=" + k1 + "&SKEY2=" + k2 + "&FOLDER_NO=12&JOB=" + job);
    }
    // Every path below the site, to see that a refused request made no file.
    std::set<std::string> files() {
        std::set<std::string> out;
        for (auto& e : std::filesystem::recursive_directory_iterator(site.root)) out.insert(e.path().string());
        return out;
    }

    Site site;
};

TEST_F(LoginTest, WithoutAUserIdTheRequestGetsMessagesThreeAndFour) {
    const std::set<std::string> before = files();
    Result r = get(site, "FOLDER_NO=12&JOB=ROOM&upw=x");
    expect_clean(r);
    EXPECT_EQ(r.out, err_page(3, 4));
    // Key halves without uid take the same way.
    r = get(site, "FOLDER_NO=12&JOB=ROOM&SKEY1=1&SKEY2=2");
    expect_clean(r);
    EXPECT_EQ(r.out, err_page(3, 4));
    EXPECT_EQ(files(), before);
}

TEST_F(LoginTest, AWrongPasswordOrUnknownUserGetsMessagesFiveAndSix) {
    const std::set<std::string> before = files();
    for (auto [uid, pw] : std::vector<std::pair<std::string, std::string>>{
             {"Taro", "se\x95\x5C" "cret&2"}, {"Taro", ""}, {"Hanako", kTaroPw}, {"Jiro", "x"}}) {
        Result r = login(uid, pw, "ROOM");
        expect_clean(r);
        EXPECT_EQ(r.out, err_page(5, 6)) << uid;
    }
    EXPECT_EQ(files(), before);
}

TEST_F(LoginTest, APasswordLoginStoresANewKeyThatTheRoomPageCarries) {
    Result r = login("Taro", kTaroPw, "ROOM");
    expect_clean(r);
    const std::string rec = read_file(skey_file("Taro"));
    ASSERT_EQ(rec.size(), 536u);
    const int32_t k1 = int_at(rec, 0), k2 = int_at(rec, 4);
    EXPECT_GE(k1, 1);
    EXPECT_GE(k2, 1);
    EXPECT_EQ(std::string(rec.c_str() + 8), "Taro");
    EXPECT_EQ(std::string(rec.c_str() + 30), "192.0.2.7");
    EXPECT_EQ(std::string(rec.c_str() + 282), "Mozilla/4.0 (compatible; \"x\")");
    EXPECT_EQ(r.out.rfind(site_head(" "), 0), 0u) << r.out;
    EXPECT_NE(r.out.find(title_frame("Taro", std::to_string(k1), std::to_string(k2))), std::string::npos) << r.out;

    // The following request by key passes; a wrong half is refused.
    r = by_key("Taro", std::to_string(k1), std::to_string(k2));
    expect_clean(r);
    EXPECT_NE(r.out.find(title_frame("Taro", std::to_string(k1), std::to_string(k2))), std::string::npos) << r.out;
    r = by_key("Taro", std::to_string(k1), std::to_string(k2 == 1 ? 2 : k2 - 1));
    expect_clean(r);
    EXPECT_EQ(r.out, session_page());
}

TEST_F(LoginTest, AWrongKeyGetsTheSessionErrorPage) {
    write_file(skey_file("Taro"), roomsite::skey_record("Taro", 4711, 815));
    for (auto [k1, k2] : std::vector<std::pair<std::string, std::string>>{{"4711", "816"}, {"815", "4711"}, {"abc", "815"}}) {
        Result r = by_key("Taro", k1, k2);
        expect_clean(r);
        EXPECT_EQ(r.out, session_page()) << k1 << "/" << k2;
    }
    // A user without a key file, and one without a directory.
    Result r = by_key("Hanako", "4711", "815");
    EXPECT_EQ(r.out, session_page());
    r = by_key("Jiro", "4711", "815");
    EXPECT_EQ(r.out, session_page());
    EXPECT_FALSE(file_exists(site.data_dir + "user/Jiro"));
}

TEST_F(LoginTest, AKeyWithLeadingZerosPasses) {
    write_file(skey_file("Taro"), roomsite::skey_record("Taro", 4711, 815));
    Result r = by_key("Taro", "0004711", "00815");
    expect_clean(r);
    // The pages go on with the key text as sent.
    EXPECT_NE(r.out.find(title_frame("Taro", "0004711", "00815")), std::string::npos) << r.out;
    EXPECT_EQ(read_file(skey_file("Taro")), roomsite::skey_record("Taro", 4711, 815));
}

TEST_F(LoginTest, ALoginAsTaroForTaroWorksOnTheFollowingRequests) {
    Result r = login("taro", kTaroPw, "ROOM");
    expect_clean(r);
    const std::string rec = read_file(skey_file("Taro"));
    ASSERT_EQ(rec.size(), 536u);
    const std::string k1 = std::to_string(int_at(rec, 0)), k2 = std::to_string(int_at(rec, 4));
    // The room page carries the id as user.mst spells it ...
    EXPECT_NE(r.out.find(title_frame("Taro", k1, k2)), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("uid=taro"), std::string::npos);
    // ... so the frames it loads pass the key check.
    r = by_key("Taro", k1, k2, "ROOM");
    expect_clean(r);
    EXPECT_NE(r.out.find(title_frame("Taro", k1, k2)), std::string::npos) << r.out;
    EXPECT_FALSE(file_exists(site.data_dir + "user/taro"));
}

TEST_F(LoginTest, TwoLoginsInTheSameSecondGetDifferentKeys) {
    // Both runs see the same frozen clock.
    Result a = login("Taro", kTaroPw, "", "2004-01-01 05:30:00");
    expect_clean(a);
    const std::string first = read_file(skey_file("Taro"));
    Result b = login("Hanako", "hana", "", "2004-01-01 05:30:00");
    expect_clean(b);
    Result c = login("Taro", kTaroPw, "", "2004-01-01 05:30:00");
    expect_clean(c);
    const std::string hanako = read_file(skey_file("Hanako"));
    const std::string second = read_file(skey_file("Taro"));
    ASSERT_EQ(first.size(), 536u);
    ASSERT_EQ(hanako.size(), 536u);
    ASSERT_EQ(second.size(), 536u);
    std::set<int32_t> keys = {int_at(first, 0), int_at(first, 4), int_at(hanako, 0), int_at(hanako, 4),
                              int_at(second, 0), int_at(second, 4)};
    EXPECT_EQ(keys.size(), 6u);
    for (int32_t k : keys) EXPECT_GE(k, 1);
    // Only the later pair of Taro stays valid.
    Result r = by_key("Taro", std::to_string(int_at(first, 0)), std::to_string(int_at(first, 4)));
    EXPECT_EQ(r.out, session_page());
}

TEST_F(LoginTest, IdsThatCouldLeaveTheDataDirectoryAreRefusedAndCreateNothing) {
    // Even a user list that names them, and a directory they could reach.
    write_file(site.data_dir + "user.mst", "Taro\n../x\n..\n");
    make_dir(site.data_dir + "x");
    write_file(site.data_dir + "user/password.mst", "");
    const std::set<std::string> before = files();
    for (const std::string uid : {"../x", "..", "../../x", "Taro/../Taro"}) {
        Result r = login(uid, "", "ROOM");
        expect_clean(r);
        EXPECT_EQ(r.out, err_page(5, 6)) << uid;
        r = by_key(uid, "1", "2");
        expect_clean(r);
        EXPECT_EQ(r.out, session_page()) << uid;
    }
    EXPECT_EQ(files(), before);
}

TEST_F(LoginTest, BelowLevelOneAccessIsForbidden) {
    write_file(skey_file("Taro"), roomsite::skey_record("Taro", 4711, 815));
    folder(6, 10);  // Taro's USER_LEVEL 5 does not reach the room
    Result r = by_key("Taro", "4711", "815");
    expect_clean(r);
    EXPECT_EQ(r.out, e2e::NO_ACCESS);
    // An entry of the access list lets him in.
    write_file(site.data_dir + "12/acl.mst", "U,Taro,2,\n");
    r = by_key("Taro", "4711", "815");
    expect_clean(r);
    EXPECT_NE(r.out.find(title_frame("Taro", "4711", "815")), std::string::npos) << r.out;
}

TEST_F(LoginTest, ASharedAccountIsShutOutWhereTheRoomSaysSo) {
    write_file(site.data_dir + "user.mst", "Hanako\nTaro\nGuest\n");
    add_user("Guest", "", "USER_LEVEL,5\nMODE,2\n");
    write_file(skey_file("Guest"), roomsite::skey_record("GUEST", -7, 99));
    // The shared account logs in to the pair stored for it.
    Result r = login("guest", "", "ROOM");
    expect_clean(r);
    EXPECT_NE(r.out.find(title_frame("Guest", "-7", "99")), std::string::npos) << r.out;
    EXPECT_EQ(read_file(skey_file("Guest")), roomsite::skey_record("GUEST", -7, 99));
    write_file(site.data_dir + "12/dir.cnf", "SHARE_USER_PERMIT,1,\n");
    r = by_key("Guest", "-7", "99");
    expect_clean(r);
    EXPECT_EQ(r.out, e2e::NO_ACCESS);
}

TEST_F(LoginTest, AUserWithALanguageSectionSeesThatLanguage) {
    ASSERT_NE(message(1, "japanese"), message(1));
    write_file(site.data_dir + "user/Taro/personal.mst", "USER_LEVEL,5\nLANGUAGE,japanese\n");
    write_file(skey_file("Taro"), roomsite::skey_record("Taro", 4711, 815));
    Result r = by_key("Taro", "4711", "815");
    expect_clean(r);
    EXPECT_EQ(r.out.rfind(site_head(" ", "japanese"), 0), 0u) << r.out;
    EXPECT_NE(r.out.find(title_frame("Taro", "4711", "815")), std::string::npos);
    // The gate answers before the user is known: in the site's language.
    r = by_key("Taro", "4711", "816");
    EXPECT_EQ(r.out, session_page());
    // A language the message file lacks leaves every message empty.
    write_file(site.data_dir + "user/Taro/personal.mst", "USER_LEVEL,5\nLANGUAGE,klingon\n");
    r = by_key("Taro", "4711", "815");
    expect_clean(r);
    EXPECT_EQ(r.out.rfind(page_head("", "", " "), 0), 0u) << r.out;
    // The site's own language, or none, keeps the site's messages.
    for (const char* lang : {"english", ""}) {
        write_file(site.data_dir + "user/Taro/personal.mst", std::string("USER_LEVEL,5\nLANGUAGE,") + lang + "\n");
        r = by_key("Taro", "4711", "815");
        EXPECT_EQ(r.out.rfind(site_head(" "), 0), 0u) << lang << r.out;
    }
}

}  // namespace

TEST_F(LoginTest, AUserDeletedFromTheUserListIsRefusedDespiteHisKeyFile) {
    folder(0, 0);  // defaults that would give anybody level 2
    write_file(skey_file("Taro"), roomsite::skey_record("Taro", 4711, 815));
    Result r = by_key("Taro", "4711", "815");
    expect_clean(r);
    EXPECT_NE(r.out.find(title_frame("Taro", "4711", "815")), std::string::npos) << r.out;

    write_file(site.data_dir + "user.mst", "Hanako\n");
    const std::string before = read_file(site.data_dir + "12/chatdata.dat");
    r = by_key("Taro", "4711", "815", "CWRITE&CHAT_NAME=T&CTALK=still+here");
    expect_clean(r);
    EXPECT_EQ(r.out, session_page());
    EXPECT_EQ(read_file(site.data_dir + "12/chatdata.dat"), before);
}
