// The operator tool on a fresh site: what it writes is what the program reads
// (a password login into the room it added), UTF-8 arguments stored as
// Shift_JIS, the list, password, removal, trim and check commands, and every
// refusal is a message on standard error, a non-zero exit and no file changed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "store/fileio.h"
#include "tests/e2e/harness.h"

namespace {

const std::string kAdmin = std::string(VELT_BINARY_DIR) + "/velt-admin";

struct AdminRun {
    int status = -1;
    std::string out, err;
};

// Runs velt-admin with the given argument text (already shell-quoted), the
// text `input` on its standard input, and its clock `ahead` (a date(1)
// offset such as "+5 min") ahead of the real one when that is not empty (file
// times stay real, so that files look that much older). A lock_wait_ms not 0
// shortens its wait for a held lock.
AdminRun admin(const std::string& args, const std::string& input = "", const std::string& ahead = "",
               int lock_wait_ms = 0) {
    char out[] = "/tmp/velt-admin-out-XXXXXX";
    char err[] = "/tmp/velt-admin-err-XXXXXX";
    char in[] = "/tmp/velt-admin-in-XXXXXX";
    close(mkstemp(out));
    close(mkstemp(err));
    close(mkstemp(in));
    e2e::write_file(in, input);
    const std::string clock = ahead.empty() ? ""
                                            : "ASAN_OPTIONS=verify_asan_link_order=0 NO_FAKE_STAT=1 faketime \"$(date -d '" + ahead +
                                                  "' '+%Y-%m-%d %H:%M:%S')\" ";
    const std::string wait = lock_wait_ms != 0 ? "VELT_LOCK_WAIT_MS=" + std::to_string(lock_wait_ms) + " " : "";
    const int st =
        std::system((wait + clock + kAdmin + " " + args + " <" + in + " >" + out + " 2>" + err).c_str());
    std::remove(in);
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
        {"add-user " + q_cgi + " bob --password x --name '\xF0\x9F\x8D\xA3'", 2, "which Shift_JIS cannot hold"},
        {"add-user " + q_cgi + " bob --password x --name '\xFF'", 2, "not valid UTF-8"},
        {"add-user " + q_cgi + " bob --password x --name '\x81' --encoding sjis", 2, "not valid Shift_JIS"},
        {"add-user " + q_cgi + " bob --password x --encoding latin1", 2, "--encoding takes utf8 or sjis"},
        {"passwd " + q_cgi + " bob --password x", 1, "no user bob"},
        {"remove-user " + q_cgi + " bob", 1, "no user bob"},
        {"remove-room " + q_cgi + " 10", 1, "no folder 10"},
        {"trim-history " + q_cgi + " 9", 2, "--keep"},
        {"trim-history " + q_cgi + " 9 --keep -1", 2, "0 or more"},
        {"list-users " + q_cgi + " --all", 2, "unknown option --all"},
        {"add-user " + q_cgi + " bob --password x --level -5", 2, "the level must be 0 or more"},
        {"add-room " + q_cgi + " 10 --name ''", 2, "the room name is empty"},
        {"add-room " + q_cgi + " 10 --name Neg --access-level -1", 2, "the access level must be 0 or more"},
        {"add-room " + q_cgi + " 10 --name Neg --write-level -2147483648", 2, "the write level must be 0 or more"},
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
    const AdminRun r = admin("add-user " + q_cgi + " bob --password x", "", "", e2e::SHORT_LOCK_WAIT_MS);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("locked"), std::string::npos) << r.err;
    EXPECT_FALSE(e2e::file_exists(site.data_dir + "user/bob"));
}

TEST_F(AdminTest, AListedUserWhoseSettingsCannotBeReadIsNotTakenForAnUnreadableList) {
    ASSERT_EQ(admin("add-user " + q_cgi + " taro --password a").status, 0);
    // A directory in the place of personal.mst cannot be opened as a file.
    const std::string personal = site.data_dir + "user/taro/personal.mst";
    ASSERT_EQ(std::remove(personal.c_str()), 0);
    e2e::make_dir(personal);
    const std::string users = data("user.mst");
    const std::string says = "cannot read the personal settings of taro: a file could not be opened or created";
    for (const std::string& args : {"passwd " + q_cgi + " TARO --password b", "remove-user " + q_cgi + " TARO",
                                   "add-user " + q_cgi + " TARO --password b"}) {
        const AdminRun r = admin(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find(says), std::string::npos) << args << "\n" << r.err;
        EXPECT_EQ(r.err.find("user list"), std::string::npos) << args << "\n" << r.err;
    }
    const AdminRun r = admin("list-users " + q_cgi);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "taro\t?\t?\t(" + says + ")\n");
    EXPECT_EQ(data("user.mst"), users);
    EXPECT_TRUE(e2e::file_exists(site.data_dir + "user/taro/password.mst"));
}

// Shift_JIS bytes of a UTF-8 text, as the suite stores it.
std::string sjis(const std::string& utf8) {
    char path[] = "/tmp/velt-sjis-XXXXXX";
    close(mkstemp(path));
    e2e::write_file(path, utf8);
    const int st = std::system(("iconv -f UTF-8 -t CP932 " + std::string(path) + " -o " + path + ".out").c_str());
    EXPECT_EQ(st, 0);
    const std::string out = e2e::read_file(std::string(path) + ".out");
    std::remove(path);
    std::remove((std::string(path) + ".out").c_str());
    return out;
}

TEST_F(AdminTest, TextArgumentsAreStoredAsShiftJisAndListedAsUtf8) {
    // "表" and "ソ" end in the byte 0x5C, a backslash on its own.
    ASSERT_EQ(admin("add-room " + q_cgi + " 7 --name '表示ソフト, 雑談室'").status, 2);  // a comma splits tree.mst
    AdminRun r = admin("add-room " + q_cgi + " 7 --name '表示ソフトの雑談室' --access-level 1 --write-level 2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(data("tree.mst"), " 7," + sjis("表示ソフトの雑談室") + ",0,/cgi-bin/velt.cgi,1,2,,0,0,0,0,\n");
    r = admin("add-user " + q_cgi + " yamada --password 'パス' --name '山田 太郎' --level 5");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "user added: yamada (山田 太郎), level 5, mode 1\n");
    EXPECT_NE(data("user/yamada/personal.mst").find("USER_NAME," + sjis("山田 太郎") + "\n"), std::string::npos);
    // A caller that passes Shift_JIS says so.
    r = admin("add-user " + q_cgi + " sato --password x --name '" + sjis("佐藤") + "' --encoding sjis");
    ASSERT_EQ(r.status, 0) << r.err;

    r = admin("list-users " + q_cgi);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "yamada\t5\t1\t山田 太郎\nsato\t1\t1\t佐藤\n");
    e2e::write_file(site.data_dir + "7/chatdata.dat", std::string(3 * 408, 'x'));
    r = admin("list-rooms " + q_cgi);
    EXPECT_EQ(r.out, "7\t1\t2\t3\t表示ソフトの雑談室\t/cgi-bin/velt.cgi\n");

    // The program logs in with the Shift_JIS password, as a Shift_JIS page posts it.
    const e2e::Result page = e2e::post(site, "uid=yamada&upw=%83p%83X&FOLDER_NO=7&JOB=ROOM");
    EXPECT_NE(page.out.find("<FRAMESET"), std::string::npos) << page.out;
}

TEST_F(AdminTest, PasswdEndsTheSessionAndRemoveUserTheAccount) {
    ASSERT_EQ(admin("add-room " + q_cgi + " 9 --name Lobby --access-level 1").status, 0);
    ASSERT_EQ(admin("add-user " + q_cgi + " taro --password old").status, 0);
    const e2e::Result login = e2e::post(site, "uid=taro&upw=old&FOLDER_NO=9&JOB=ROOM");
    ASSERT_NE(login.out.find("<FRAMESET"), std::string::npos);
    const std::size_t k = login.out.find("SKEY1=");
    const std::string keys = login.out.substr(k, login.out.find("&JOB=", k) - k);

    // The new password from standard input; the session of the old one ends.
    AdminRun r = admin("passwd " + q_cgi + " TARO --password -", "new pw\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "password changed: taro; open sessions must log in again\n");
    EXPECT_NE(e2e::get(site, "uid=taro&" + keys + "&FOLDER_NO=9&JOB=FRM221").out.find(e2e::message(7)), std::string::npos);
    EXPECT_NE(e2e::post(site, "uid=taro&upw=old&FOLDER_NO=9&JOB=ROOM").out.find(e2e::message(6)), std::string::npos);
    EXPECT_NE(e2e::post(site, "uid=taro&upw=new+pw&FOLDER_NO=9&JOB=ROOM").out.find("<FRAMESET"), std::string::npos);

    r = admin("remove-user " + q_cgi + " taro");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "user removed: taro\n");
    EXPECT_EQ(data("user.mst"), "");
    EXPECT_FALSE(e2e::file_exists(site.data_dir + "user/taro"));
    EXPECT_NE(e2e::post(site, "uid=taro&upw=new+pw&FOLDER_NO=9&JOB=ROOM").out.find(e2e::message(6)), std::string::npos);
}

// A message record of room 9 whose line of talk is `talk`.
std::string chat_record(const std::string& talk) {
    std::string rec(408, '\0');
    rec[0] = 9;
    rec[4] = 1;
    std::memcpy(&rec[154], talk.data(), talk.size());
    return rec;
}

TEST_F(AdminTest, TrimHistoryKeepsTheNewestUnderTheLockAndRemoveRoomTheRest) {
    ASSERT_EQ(admin("add-room " + q_cgi + " 9 --name Lobby").status, 0);
    std::string history;
    for (int i = 5; i >= 1; --i) history += chat_record("line " + std::to_string(i));  // newest first
    e2e::write_file(site.data_dir + "9/chatdata.dat", history);

    // A held lock (another request posting) refuses the trim and keeps the file.
    e2e::write_file(site.data_dir + "9/chatdata.chk", "");
    AdminRun r = admin("trim-history " + q_cgi + " 9 --keep 2", "", "", e2e::SHORT_LOCK_WAIT_MS);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("locked"), std::string::npos) << r.err;
    EXPECT_EQ(data("9/chatdata.dat"), history);
    std::remove((site.data_dir + "9/chatdata.chk").c_str());

    r = admin("trim-history " + q_cgi + " 9 --keep 2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "room 9: 2 messages kept, 3 dropped\n");
    EXPECT_EQ(data("9/chatdata.dat"), history.substr(0, 2 * 408));
    EXPECT_FALSE(e2e::file_exists(site.data_dir + "9/chatdata.chk"));
    r = admin("trim-history " + q_cgi + " 9 --keep 2");
    EXPECT_EQ(r.out, "room 9: 2 messages kept, 0 dropped\n");

    // A folder with a folder below it stays; a room goes with all its files.
    e2e::write_file(site.data_dir + "tree.mst", data("tree.mst") + "  10,Below,0,/cgi-bin/velt.cgi,0,0,,0,0,0,0,\n");
    r = admin("remove-room " + q_cgi + " 9");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("has folders below it (10)"), std::string::npos) << r.err;
    e2e::write_file(site.data_dir + "tree.mst", " 9,Lobby,0,/cgi-bin/velt.cgi,0,0,,0,0,0,0,\n");
    e2e::make_dir(site.data_dir + "9/fcg");
    e2e::write_file(site.data_dir + "9/fcg/title.gif", "GIF");
    r = admin("remove-room " + q_cgi + " 9");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "room removed: folder 9 (Lobby)\n");
    EXPECT_EQ(data("tree.mst"), "");
    EXPECT_FALSE(e2e::file_exists(site.data_dir + "9"));
}

TEST_F(AdminTest, CheckReportsDamageAndRepairsOnlyStaleLeftovers) {
    ASSERT_EQ(admin("add-room " + q_cgi + " 9 --name Lobby").status, 0);
    ASSERT_EQ(admin("add-user " + q_cgi + " taro --password x").status, 0);
    const std::string d = site.data_dir;
    // The program's own temporary files are judged by their maker's kernel
    // lock, the suite's plain "<data file>.tmp" by its age.
    const std::string locks[] = {d + "user.chk", d + "9/chatdata.chk", d + "user/taro/skey.chk", d + "9/dir.cnf.tmp",
                                 d + "9/chatdata.dat.4242.0badf00d.tmp"};
    for (const std::string& f : locks) e2e::write_file(f, "");
    e2e::write_file(d + "CGI1234", "upload");
    // A temporary file whose writer is alive (this process) is never a
    // leftover, however old; nor is a lock whose holder is alive.
    const std::string live_tmp = d + "9/info.txt.77.00c0ffee.tmp";
    e2e::write_file(live_tmp, "half");
    const int live_fd = open(live_tmp.c_str(), O_RDWR);
    ASSERT_EQ(flock(live_fd, LOCK_EX), 0);
    std::string live = d + "9/chatuser.chk";
    ASSERT_EQ(Fio_xor_control(&live[0], 1), 0);

    // Young leftovers may belong to a request at work: not reported.
    AdminRun r = admin("check " + q_cgi);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "check: " + d + " is in order\n");
    // Five minutes on, the locks and the temporary file are stale, the upload not yet.
    r = admin("check " + q_cgi, "", "+5 min");
    EXPECT_EQ(r.status, 1);
    for (const std::string& f : locks) EXPECT_NE(r.out.find("leftover: " + f + " ("), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("CGI1234"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(live_tmp), std::string::npos) << r.out;
    for (const std::string& f : locks) EXPECT_TRUE(e2e::file_exists(f)) << f;
    r = admin("check " + q_cgi + " --repair", "", "+5 min");
    EXPECT_EQ(r.status, 0) << r.out;
    for (const std::string& f : locks) EXPECT_FALSE(e2e::file_exists(f)) << f;
    EXPECT_TRUE(e2e::file_exists(live));
    EXPECT_EQ(r.out.find(live), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(live_tmp), std::string::npos) << r.out;
    EXPECT_TRUE(e2e::file_exists(live_tmp));
    close(live_fd);
    Fio_xor_control(&live[0], 2);
    EXPECT_TRUE(e2e::file_exists(d + "CGI1234"));
    r = admin("check " + q_cgi + " --repair", "", "+2 hours");
    EXPECT_NE(r.out.find("removed: " + d + "CGI1234 (upload, "), std::string::npos) << r.out;
    EXPECT_FALSE(e2e::file_exists(d + "CGI1234"));

    // Damage is reported, never repaired.
    e2e::write_file(d + "9/chatdata.dat", std::string(409, 'x'));
    e2e::write_file(d + "tree.mst", data("tree.mst") + "garbage\n 12,Gone,0,/cgi-bin/velt.cgi,0,0,,0,0,0,0,\n");
    e2e::write_file(d + "user/taro/personal.mst", data("user/taro/personal.mst") + "no comma\n");
    e2e::write_file(d + "user.mst", "taro\nhanako\n");
    const std::string tree = data("tree.mst");
    r = admin("check " + q_cgi + " --repair", "", "+5 min");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("problem: " + d + "9/chatdata.dat is 409 bytes, not a whole number of 408-byte records\n"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("problem: " + d + "tree.mst line 2 does not parse: garbage\n"), std::string::npos);
    EXPECT_NE(r.out.find("problem: folder 12 (Gone) has no directory " + d + "12/\n"), std::string::npos);
    EXPECT_NE(r.out.find("problem: user hanako has no directory " + d + "user/hanako/\n"), std::string::npos);
    EXPECT_NE(r.out.find("personal.mst line 12 does not parse: no comma\n"), std::string::npos);
    EXPECT_NE(r.out.find("check: 5 problems, 0 leftovers\n"), std::string::npos);
    EXPECT_EQ(data("tree.mst"), tree);
    EXPECT_EQ(data("9/chatdata.dat").size(), 409u);
}

TEST_F(AdminTest, CheckReportsUnnamedAndMissingPicturesAndRepairRemovesTheUnnamed) {
    ASSERT_EQ(admin("add-room " + q_cgi + " 9 --name Lobby").status, 0);
    ASSERT_EQ(admin("add-room " + q_cgi + " 19 --name Other").status, 0);
    const std::string d = site.data_dir;
    const std::string fcg = d + "9/fcg/";
    e2e::write_file(d + "tree.mst", " 9,Lobby,0,/cgi-bin/velt.cgi,0,0,folder.gif,0,0,0,0,\n"
                                    " 19,Other,0,/cgi-bin/velt.cgi,0,0,stray.gif,0,0,0,0,\n");
    // The title picture twice (only the later line counts for the pages; both
    // keep their file), a background that is gone, a line of another key.
    e2e::write_file(d + "9/dir.cnf", "TITLEPIC,t.gif,\nBACKPIC2,gone.gif,\nTITLEPIC,t2.gif,\nOTHER,stray.gif,\n"
                                     "BACKPIC3,,\n");
    // Another room's folder picture names nothing in this room.
    e2e::make_dir(d + "19/fcg");
    e2e::write_file(d + "19/fcg/stray.gif", "19");
    e2e::make_dir(fcg + "sub");
    for (const std::string n : {"t.gif", "t2.gif", "folder.gif", "stray.gif", "picture.1.ab.tmp"})
        e2e::write_file(fcg + n, n);
    e2e::write_file(fcg + "\x95\x5C", "unnamed, double-byte");
    const std::string missing = "problem: picture " + fcg + "gone.gif is missing; BACKPIC2 of " + d + "9/dir.cnf names it\n";

    AdminRun r = admin("check " + q_cgi);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("leftover: " + fcg + "stray.gif (picture no setting names)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("leftover: " + fcg + "\xE8\xA1\xA8 (picture no setting names)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(missing), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("check: 1 problems, 2 leftovers"), std::string::npos) << r.out;
    EXPECT_TRUE(e2e::file_exists(fcg + "stray.gif"));

    r = admin("check " + q_cgi + " --repair");
    EXPECT_EQ(r.status, 1);  // the missing picture is left to the operator
    EXPECT_NE(r.out.find("removed: " + fcg + "stray.gif (picture no setting names)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(missing), std::string::npos) << r.out;
    EXPECT_FALSE(e2e::file_exists(fcg + "stray.gif"));
    EXPECT_FALSE(e2e::file_exists(fcg + "\x95\x5C"));
    for (const char* n : {"t.gif", "t2.gif", "folder.gif", "picture.1.ab.tmp", "sub"}) EXPECT_TRUE(e2e::file_exists(fcg + n)) << n;
    EXPECT_FALSE(e2e::file_exists(d + "9/dir_cnf.chk"));

    e2e::write_file(d + "9/dir.cnf", "TITLEPIC,t.gif,\nTITLEPIC,t2.gif,\n");
    r = admin("check " + q_cgi);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "check: " + d + " is in order\n");
}

TEST_F(AdminTest, HelpForTheToolAndEachCommand) {
    AdminRun r = admin("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* c : {"create-site", "add-user", "list-users", "passwd", "remove-user", "add-room", "list-rooms",
                          "remove-room", "trim-history", "check"}) {
        EXPECT_NE(r.out.find(std::string("  ") + c + " CGI_DIR"), std::string::npos) << c;
        const AdminRun one = admin(std::string(c) + " --help");
        EXPECT_EQ(one.status, 0);
        EXPECT_EQ(one.out.rfind(std::string("usage: velt-admin ") + c + " CGI_DIR", 0), 0u) << one.out;
        EXPECT_EQ(admin(std::string("help ") + c).out, one.out);
    }
    // A wrong command line shows the command's usage on standard error.
    r = admin("passwd " + q_cgi);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage: velt-admin passwd CGI_DIR USER_ID --password PW"), std::string::npos) << r.err;
}

}  // namespace
