// The operator tool on a fresh site: what it writes is what the program reads
// (a password login into the room it added), and every refusal is a message on
// standard error, a non-zero exit and no file changed.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/e2e/harness.h"

namespace {

const std::string kAdmin = std::string(VELT_BINARY_DIR) + "/velt-admin";

struct AdminRun {
    int status = -1;
    std::string out, err;
};

// Runs velt-admin with the given argument text (already shell-quoted).
AdminRun admin(const std::string& args) {
    char out[] = "/tmp/velt-admin-out-XXXXXX";
    char err[] = "/tmp/velt-admin-err-XXXXXX";
    close(mkstemp(out));
    close(mkstemp(err));
    const int st = std::system((kAdmin + " " + args + " >" + out + " 2>" + err).c_str());
    AdminRun r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = e2e::read_file(out);
    r.err = e2e::read_file(err);
    std::remove(out);
    std::remove(err);
    return r;
}

struct AdminTest : ::testing::Test {
    e2e::Site site;  // filled by the tool, removed as any test site
    std::string q_cgi;

    void SetUp() override {
        ASSERT_EQ(access(kAdmin.c_str(), X_OK), 0) << kAdmin << " is missing: build the velt_admin target";
        char root[] = "/tmp/velt-site-XXXXXX";
        ASSERT_NE(mkdtemp(root), nullptr);
        site.root = root;
        site.cgi_dir = site.root + "/cgi";
        site.data_dir = site.root + "/data/";
        q_cgi = "'" + site.cgi_dir + "'";
        const AdminRun r = admin("create-site " + q_cgi + " --data '" + site.root + "/data' --site-id s1 --language english");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
    }
    void TearDown() override { e2e::remove_site(site); }

    std::string data(const std::string& name) const { return e2e::read_file(site.data_dir + name); }
};

TEST_F(AdminTest, SiteIsWhatTheProgramReads) {
    const std::string ini = e2e::read_file(site.cgi_dir + "/zepa.ini");
    EXPECT_EQ(ini.rfind("***** ZEPA (Pure CGI System) Configuration file *****,,\nSITE_ID,s1,\nCGI_FILE_NAME,", 0), 0u);
    EXPECT_NE(ini.find("\nLANGUAGE,english,\n"), std::string::npos);
    EXPECT_NE(ini.find("\nDATA_FILE_PATH," + site.data_dir + ",\n"), std::string::npos);
    EXPECT_NE(ini.find("\nATTACHED_FILE_LIMIT,10000000,\nTIME_CORRECT,,\nMAILER,,\n"), std::string::npos);
    EXPECT_EQ(e2e::read_file(site.cgi_dir + "/velt.lng"), e2e::read_file(std::string(VELT_BINARY_DIR) + "/velt.lng"));
    EXPECT_FALSE(e2e::file_exists(site.cgi_dir + "/zepa.ini.tmp"));
    // The program answers from it: the version page.
    e2e::Result v = e2e::get(site, "help=ver");
    EXPECT_EQ(v.status, 0);
    EXPECT_NE(v.out.find("ZEPA CHAT-PlugIn version:[Ver3.11]"), std::string::npos);
}

TEST_F(AdminTest, AddedUserLogsIntoAddedRoom) {
    AdminRun r = admin("add-room " + q_cgi + " 9 --name 'Tea room' --cgi /cgi-bin/velt.cgi --access-level 2 --write-level 3");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(data("tree.mst"), " 9,Tea room,0,/cgi-bin/velt.cgi,2,3,,0,0,0,0,\n");
    EXPECT_TRUE(e2e::file_exists(site.data_dir + "9"));

    r = admin("add-user " + q_cgi + " Taro --password 's3cret,&x' --name 'Taro, the first' --level 3 --color Navy");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(data("user.mst"), "Taro\n");
    const std::string personal = data("user/Taro/personal.mst");
    EXPECT_NE(personal.find("USER_NAME,Taro, the first\n"), std::string::npos);
    EXPECT_NE(personal.find("\nUSER_LEVEL,3\n"), std::string::npos);
    EXPECT_NE(personal.find("\nMODE,1\n"), std::string::npos);
    EXPECT_NE(personal.find("\nCOLOR,Navy\n"), std::string::npos);
    // The password is stored scrambled, not in clear.
    const std::string pw = data("user/Taro/password.mst");
    EXPECT_EQ(pw.size(), 18u);
    EXPECT_EQ(pw.find("s3cret"), std::string::npos);

    // The program logs the user in with that password and shows the room.
    e2e::Result page = e2e::post(site, "uid=taro&upw=s3cret%2C%26x&FOLDER_NO=9&JOB=ROOM");
    EXPECT_EQ(page.status, 0);
    EXPECT_EQ(page.err, "");
    EXPECT_NE(page.out.find("<FRAME SRC = \"/cgi-bin/velt.cgi?uid=Taro&SKEY1="), std::string::npos) << page.out;
    // The entry form offers the registered name and the colour.
    const std::size_t k1 = page.out.find("SKEY1=") + 6;
    const std::string keys = page.out.substr(k1 - 6, page.out.find("&JOB=", k1) - k1 + 6);
    e2e::Result form = e2e::get(site, "uid=Taro&" + keys + "&FOLDER_NO=9&JOB=FRM222");
    EXPECT_NE(form.out.find("VALUE=\"Taro, the first\" MAXLENGTH=\"80\""), std::string::npos) << form.out;
    EXPECT_NE(form.out.find("VALUE=\"Navy\" MAXLENGTH=\"20\""), std::string::npos);

    // A wrong password is refused.
    page = e2e::post(site, "uid=Taro&upw=s3cret&FOLDER_NO=9&JOB=ROOM");
    EXPECT_NE(page.out.find(e2e::message(6)), std::string::npos);
    EXPECT_EQ(page.out.find("<FRAMESET"), std::string::npos);
}

TEST_F(AdminTest, RefusalsChangeNothing) {
    ASSERT_EQ(admin("add-user " + q_cgi + " taro --password a").status, 0);
    ASSERT_EQ(admin("add-room " + q_cgi + " 9 --name Lobby").status, 0);
    const std::string users = data("user.mst");
    const std::string tree = data("tree.mst");
    const std::string ini = e2e::read_file(site.cgi_dir + "/zepa.ini");

    struct Case {
        std::string args;
        int status;
        std::string says;
    };
    const Case cases[] = {
        {"create-site " + q_cgi + " --data /tmp/elsewhere", 1, "exists already"},
        {"add-user " + q_cgi + " TARO --password b", 1, "user TARO exists already (as taro)"},
        {"add-user " + q_cgi + " ../up --password b", 2, "user id"},
        {"add-user " + q_cgi + " 'a,b' --password b", 2, "comma"},
        {"add-user " + q_cgi + " bob --password 123456789012345678901", 2, "longer than 20 bytes"},
        {"add-user " + q_cgi + " bob --password x --mode 3", 2, "mode"},
        {"add-user " + q_cgi + " bob --password x --name 'two\nlines'", 2, "line end"},
        {"add-user " + q_cgi + " bob", 2, "--password"},
        {"add-room " + q_cgi + " 9 --name Other", 1, "folder 9 exists already"},
        {"add-room " + q_cgi + " 10 --name 'a,b'", 2, "comma"},
        {"add-room " + q_cgi + " 0 --name Zero", 2, "1 or more"},
        {"add-room " + q_cgi + " x --name X", 2, "whole number"},
        {"add-user '" + site.root + "' bob --password x", 1, "no readable zepa.ini"},
        {"frobnicate", 2, "unknown command"},
    };
    for (const Case& c : cases) {
        const AdminRun r = admin(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(r.out, "") << c.args;
    }
    EXPECT_EQ(data("user.mst"), users);
    EXPECT_EQ(data("tree.mst"), tree);
    EXPECT_EQ(e2e::read_file(site.cgi_dir + "/zepa.ini"), ini);
    EXPECT_FALSE(e2e::file_exists(site.data_dir + "user/bob"));
    EXPECT_FALSE(e2e::file_exists(site.data_dir + "10"));
}

TEST_F(AdminTest, LockedUserListLeavesNoHalfUser) {
    e2e::write_file(site.data_dir + "user.chk", "");  // another request is writing the list
    const AdminRun r = admin("add-user " + q_cgi + " bob --password x");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("locked"), std::string::npos) << r.err;
    EXPECT_FALSE(e2e::file_exists(site.data_dir + "user/bob"));
}

}  // namespace
