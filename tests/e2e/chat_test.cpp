// End-to-end tests of a room as its users see it: entering and leaving (the
// frameset), the input frame and posting, and the message list frame, run on
// the built program against a site written in the suite's own file formats.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/harness.h"

namespace {

using e2e::error_page;
using e2e::message;
using e2e::site_head;
using e2e::talk_head;

constexpr int kFolder = 7;
const std::string kExe = "/cgi-bin/velt.cgi";

struct User {
    std::string uid;
    std::string name;
    int level;
    int mode;
    int32_t k1, k2;
};
const User kTaro{"taro", "Taro Yamada", 5, 1, 111, 222};
const User kHanako{"hanako", "Hanako Sato", 5, 1, 333, 444};
const User kGuest{"guest", "Guest", 1, 1, 555, 666};  // may open the room, not write
const User kShare{"share", "Front desk", 5, 2, 777, 888};

// ---- records written and read by byte offsets, independent of the program ----

void put_int(std::string& rec, std::size_t off, int32_t v) { std::memcpy(&rec[off], &v, 4); }
void put_text(std::string& rec, std::size_t off, std::size_t width, const std::string& s) {
    std::memcpy(&rec[off], s.data(), s.size() < width ? s.size() : width - 1);
}
int32_t int_at(const std::string& rec, std::size_t off) {
    int32_t v;
    std::memcpy(&v, &rec[off], 4);
    return v;
}
std::string text_at(const std::string& rec, std::size_t off, std::size_t width) {
    std::string s = rec.substr(off, width);
    return s.substr(0, s.find('\0'));
}

// chatuser.idx: 164 bytes per member.
std::string member_rec(const std::string& uid, const std::string& name, const std::string& last,
                       const std::string& color, int disp, int reload, int mode = 1) {
    std::string r(164, '\0');
    put_int(r, 0, kFolder);
    put_int(r, 4, mode);
    put_text(r, 8, 22, uid);
    put_text(r, 30, 82, name);
    put_text(r, 112, 20, last);
    put_text(r, 132, 22, color);
    put_int(r, 156, disp);
    put_int(r, 160, reload);
    return r;
}

// chatdata.dat: 408 bytes per line, newest first.
std::string line_rec(const std::string& uid, const std::string& name, const std::string& color,
                     const std::string& talk, int mode = 1) {
    std::string r(408, '\0');
    put_int(r, 0, kFolder);
    put_int(r, 4, mode);
    put_text(r, 8, 22, uid);
    put_text(r, 30, 82, name);
    put_text(r, 112, 20, "2024/01/02 03:04");
    put_text(r, 132, 22, color);
    put_text(r, 154, 252, talk);
    return r;
}

struct Line {
    int32_t folder, mode;
    std::string uid, name, date, color, talk;
};
std::vector<Line> read_lines(const std::string& bytes) {
    std::vector<Line> out;
    for (std::size_t off = 0; off + 408 <= bytes.size(); off += 408) {
        const std::string r = bytes.substr(off, 408);
        out.push_back({int_at(r, 0), int_at(r, 4), text_at(r, 8, 22), text_at(r, 30, 82), text_at(r, 112, 20),
                       text_at(r, 132, 22), text_at(r, 154, 252)});
    }
    return out;
}

// The program's clock reading, as a stamp (the sites here have no correction).
std::string stamp_now() {
    std::time_t t = std::time(nullptr);
    std::tm tmv;
    localtime_r(&t, &tmv);
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d", tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday,
                  tmv.tm_hour, tmv.tm_min);
    return buf;
}

std::string skey_rec(const User& u) {
    std::string r(536, '\0');
    put_int(r, 0, u.k1);
    put_int(r, 4, u.k2);
    put_text(r, 8, 22, u.uid);
    return r;
}

// ---- the site ----

struct ChatSite {
    e2e::Site site;
    std::string room;  // the room's data directory, ending in '/'
    std::string data() const { return e2e::read_file(room + "chatdata.dat"); }
    std::string index() const { return e2e::read_file(room + "chatuser.idx"); }
    std::string personal(const User& u) const {
        return e2e::read_file(site.data_dir + "user/" + u.uid + "/personal.mst");
    }
};

ChatSite make_chat_site() {
    ChatSite c;
    c.site = e2e::make_site();
    const std::string& d = c.site.data_dir;
    // Folder 7: everyone of level 1 may open it, level 5 may write.
    e2e::write_file(d + "tree.mst", "1,Top,0,/cgi-bin/other.cgi,0,0,,0,0,0,0,\n " + std::to_string(kFolder) +
                                        ",Lobby,0," + kExe + ",1,5,,0,0,0,0,\n");
    std::string list;
    for (const User* u : {&kTaro, &kHanako, &kGuest, &kShare}) {
        list += u->uid + "\n";
        const std::string dir = d + "user/" + u->uid + "/";
        e2e::make_dir(dir);
        e2e::write_file(dir + "personal.mst", "USER_NAME," + u->name + "\nUSER_LEVEL," + std::to_string(u->level) +
                                                  "\nP_GROUP,0\nMODE," + std::to_string(u->mode) + "\n");
        e2e::write_file(dir + "password.mst", "");
        e2e::write_file(dir + "skey.mst", skey_rec(*u));
    }
    e2e::write_file(d + "user.mst", list);
    c.room = d + std::to_string(kFolder) + "/";
    e2e::make_dir(c.room);
    return c;
}

struct ChatTest : ::testing::Test {
    ChatSite c = make_chat_site();
    void TearDown() override { e2e::remove_site(c.site); }
};

void expect_clean(const e2e::Result& r) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

std::string creds_query(const User& u) {
    return "uid=" + u.uid + "&SKEY1=" + std::to_string(u.k1) + "&SKEY2=" + std::to_string(u.k2) +
           "&FOLDER_NO=" + std::to_string(kFolder);
}

// A frame or link of the room, as the browser loads it (a lock_wait_ms not 0
// shortens the program's wait for a held lock).
e2e::Result page(const ChatSite& c, const User& u, const std::string& job, const std::string& extra = "",
                 int lock_wait_ms = 0) {
    e2e::Request req;
    req.query = creds_query(u) + "&JOB=" + job + extra;
    req.lock_wait_ms = lock_wait_ms;
    e2e::Result r = e2e::run(c.site, req);
    expect_clean(r);
    return r;
}

using e2e::Fields;
using e2e::hidden_fields;
using e2e::html_unescape;

// A form of the room, as the browser posts it (multipart, the credentials
// first, then the form's own fields).
e2e::Result form(const ChatSite& c, const User& u, const std::string& job, const Fields& fields,
                 int lock_wait_ms = 0) {
    e2e::Multipart mp;
    e2e::mp_field(mp, "SKEY1", std::to_string(u.k1));
    e2e::mp_field(mp, "SKEY2", std::to_string(u.k2));
    e2e::mp_field(mp, "uid", u.uid);
    e2e::mp_field(mp, "FOLDER_NO", std::to_string(kFolder));
    e2e::mp_field(mp, "JOB", job);
    for (const auto& f : fields) e2e::mp_field(mp, f.first, f.second);
    e2e::Request req = e2e::mp_request(mp);
    req.lock_wait_ms = lock_wait_ms;
    e2e::Result r = e2e::run(c.site, req);
    expect_clean(r);
    return r;
}

// Posts exactly the fields a page's form holds (as a browser would submit it).
e2e::Result submit(const ChatSite& c, const Fields& fields) {
    e2e::Multipart mp;
    for (const auto& f : fields) e2e::mp_field(mp, f.first, f.second);
    e2e::Result r = e2e::run(c.site, e2e::mp_request(mp));
    expect_clean(r);
    return r;
}

// The query of the frame named name in a frameset page.
std::string frame_query(const std::string& html, const std::string& name) {
    const std::size_t at = html.find("NAME=\"" + name + "\"");
    const std::size_t src = html.rfind("SRC = \"", at);
    const std::size_t q = html.find('?', src);
    const std::size_t end = html.find('"', q);
    return html_unescape(html.substr(q + 1, end - q - 1));
}

// ---- expected pages, written out from the page descriptions ----

std::string hidden(const std::string& name, const std::string& value) {
    return "<INPUT TYPE=\"hidden\" name=\"" + name + "\" value=\"" + value + "\">\n";
}
std::string hidden_block(const User& u, const std::string& job) {
    return hidden("SKEY1", std::to_string(u.k1)) + hidden("SKEY2", std::to_string(u.k2)) + hidden("uid", u.uid) +
           hidden("FOLDER_NO", std::to_string(kFolder)) + hidden("JOB", job);
}

std::string frameset(const User& u, const std::string& name_enc, const std::string& color_enc,
                     const std::string& rows = "10%,40%,50%") {
    const std::string base = kExe + "?uid=" + u.uid + "&SKEY1=" + std::to_string(u.k1) +
                             "&SKEY2=" + std::to_string(u.k2);
    const std::string f = std::to_string(kFolder);
    return site_head(" ") + "<FRAMESET ROWS=\"" + rows + "\" >\n" + "\t<FRAME SRC = \"" + base +
           "&JOB=FRM221&FOLDER_NO=" + f + "\" NAME=\"FRM221SEL" + f + "\">\n" + "\t<FRAME SRC = \"" + base +
           "&JOB=FRM222&FOLDER_NO=" + f + "&CHAT_NAME=" + name_enc + "&COLOR=" + color_enc + "\" NAME=\"FRM222SEL" +
           f + "\">\n" + "\t<FRAME SRC = \"" + base + "&JOB=FRM223&FOLDER_NO=" + f + "&CHAT_NAME=" + name_enc +
           "\" NAME=\"FRM223SEL" + f + "\">\n" + "</FRAMESET>\n" + "</HTML>\n";
}

std::string refresh(const User& u, int seconds, const std::string& name_enc) {
    std::string s = "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"" + std::to_string(seconds) + ";URL=" + kExe +
                    "?SKEY1=" + std::to_string(u.k1) + "&SKEY2=" + std::to_string(u.k2) + "&uid=" + u.uid +
                    "&JOB=FRM223&FOLDER_NO=" + std::to_string(kFolder);
    if (!name_enc.empty()) s += "&CHAT_NAME=" + name_enc;
    return s + "\">\n";
}

std::string shown_line(const std::string& color, const std::string& name, const std::string& talk) {
    return "<B><FONT COLOR=\"" + color + "\">" + name + "</FONT></B>&nbsp;>&nbsp;" + talk + "<BR>\n";
}

std::string member_entry(int n, const std::string& color, const std::string& name, int mode) {
    return std::to_string(n) + ":<B><FONT COLOR=\"" + color + "\">" + name + "</FONT></B>[" +
           message(mode == 1 ? 317 : 318) + "]<BR>";
}

const std::string kEnd = "</BODY>\n</HTML>\n";

// ---- the room's life ----

TEST_F(ChatTest, EnterPostSeeLineFirstThenLeave) {
    const std::string before = stamp_now();
    e2e::Result r = form(c, kTaro, "ROOM_IN",
                         {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"},
                          {"SUB", "Enter"}});
    EXPECT_EQ(r.out, frameset(kTaro, "Taro", "Navy"));

    // One presence record with the entry's settings and a fresh stamp.
    const std::string idx = c.index();
    ASSERT_EQ(idx.size(), 164u);
    EXPECT_EQ(int_at(idx, 0), kFolder);
    EXPECT_EQ(int_at(idx, 4), 1);
    EXPECT_EQ(text_at(idx, 8, 22), "taro");
    EXPECT_EQ(text_at(idx, 30, 82), "Taro");
    EXPECT_GE(text_at(idx, 112, 20), before);
    EXPECT_LE(text_at(idx, 112, 20), stamp_now());
    EXPECT_EQ(text_at(idx, 132, 22), "Navy");
    EXPECT_EQ(int_at(idx, 156), 30);
    EXPECT_EQ(int_at(idx, 160), 60);
    // The entry notice, and the colour remembered for the next entry form.
    std::vector<Line> lines = read_lines(c.data());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].name, "Taro");
    EXPECT_EQ(lines[0].color, "Navy");
    EXPECT_EQ(lines[0].talk, message(312));
    EXPECT_EQ(lines[0].uid, "taro");
    EXPECT_NE(c.personal(kTaro).find("\nCOLOR,Navy\n"), std::string::npos);

    // The talk form, byte for byte.
    r = page(c, kTaro, "FRM222", "&CHAT_NAME=Taro&COLOR=Navy");
    const std::string talk_form =
        talk_head("") + "<SCRIPT Language=\"JavaScript\">\n<!--\nfunction onLoad(){\n" +
        "document.INPUT.CTALK.focus();\n}\nvar count=0;\nfunction autoclear(){\n" +
        "document.INPUT.CTALK.value=\"\";\ndocument.INPUT.CTALK.focus();\n}\n// -->\n</SCRIPT>\n" +
        "<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"" + kExe +
        "\" METHOD=POST onSubmit=\"setTimeout(&quot;autoclear()&quot;,10)\" TARGET=\"FRM223SEL7\">\n" +
        hidden_block(kTaro, "CWRITE") + hidden("CHAT_NAME", "Taro") + hidden("COLOR", "Navy") + message(301) +
        ":[Taro]&nbsp;&nbsp;" + message(216) + "[Navy]&nbsp;&nbsp;" + message(303) + "[30]&nbsp;&nbsp;" +
        message(304) + "[60]<P>\n" + message(309) +
        ":<INPUT TYPE=\"text\" NAME=\"CTALK\" SIZE=\"60\" MAXLENGTH=\"250\"><BR>\n" + "<TABLE>\n<TR>\n<TD>\n" +
        "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"" + message(310) + "\">\n</FORM>\n</TD>\n" + "<TD>\n" +
        "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"" + kExe + "\" METHOD=POST  TARGET=\"FRM22zepa1\">\n" +
        hidden_block(kTaro, "ROOM_OUT") + hidden("CHAT_NAME", "Taro") + hidden("COLOR", "Navy") +
        "<INPUT TYPE=\"submit\" VALUE=\"" + message(311) + "\" >\n</FORM>\n</TD>\n" + "<TD>\n" +
        "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"" + kExe + "\" METHOD=POST  TARGET=\"FRM223SEL7\">\n" +
        hidden_block(kTaro, "FRM223") + "<INPUT TYPE=\"submit\" VALUE=\"" + message(316) + "\" >\n</FORM>\n</TD>\n" +
        "</TR>\n</TABLE>\n" + kEnd;
    EXPECT_EQ(r.out, talk_form);

    // Post through the talk form: the answer is the list, the new line first
    // in the poster's colour, the entry notice below it.
    Fields post = hidden_fields(r.out, 0);
    post.emplace_back("CTALK", "Hello, all & everyone");
    post.emplace_back("SUB", "Post");
    r = submit(c, post);
    EXPECT_EQ(r.out, site_head("") + refresh(kTaro, 60, "Taro") + shown_line("Navy", "Taro", "Hello, all &amp; everyone") +
                         shown_line("Navy", "Taro", message(312)) + kEnd);
    lines = read_lines(c.data());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].talk, "Hello, all & everyone");
    EXPECT_EQ(lines[0].mode, 1);
    EXPECT_GE(lines[0].date, before);
    EXPECT_EQ(lines[1].talk, message(312));

    // Another member sees the same lines in the list of the room.
    form(c, kHanako, "ROOM_IN", {{"CHAT_NAME", "Hanako"}, {"COLOR", "#FF0000"}, {"DISP_LINE", "10"}, {"RELOAD_TIME", "999"}});
    r = page(c, kHanako, "FRM223", "&CHAT_NAME=Hanako");
    EXPECT_EQ(r.out, site_head("") + shown_line("#FF0000", "Hanako", message(312)) +
                         shown_line("Navy", "Taro", "Hello, all &amp; everyone") +
                         shown_line("Navy", "Taro", message(312)) + kEnd);

    // Leaving: the leave notice, the record gone, no chat name in the frames.
    r = submit(c, hidden_fields(talk_form, 1));
    EXPECT_EQ(r.out, frameset(kTaro, "", "Navy"));
    lines = read_lines(c.data());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].name, "Taro");
    EXPECT_EQ(lines[0].talk, message(313));
    EXPECT_EQ(lines[0].color, "Navy");
    const std::string left = c.index();
    ASSERT_EQ(left.size(), 164u);
    EXPECT_EQ(text_at(left, 30, 82), "Hanako");
}

TEST_F(ChatTest, EmptyTalkPostsNothingAndAnswersWithTheList) {
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "999"}});
    const std::string data = c.data();
    e2e::Result r = form(c, kTaro, "CWRITE", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"CTALK", ""}});
    EXPECT_EQ(r.out, site_head("") + shown_line("Navy", "Taro", message(312)) + kEnd);
    EXPECT_EQ(c.data(), data);
}

TEST_F(ChatTest, LongTalkIsStoredCutToItsField) {
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "999"}});
    form(c, kTaro, "CWRITE", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"CTALK", std::string(300, 'x')}});
    EXPECT_EQ(read_lines(c.data())[0].talk, std::string(251, 'x'));
}

TEST_F(ChatTest, ReaderWithoutWriteRightGetsMessage11AndBareFrames) {
    EXPECT_EQ(form(c, kGuest, "CWRITE", {{"CHAT_NAME", "G"}, {"COLOR", "Navy"}, {"CTALK", "hi"}}).out, error_page(11));
    EXPECT_FALSE(e2e::file_exists(c.room + "chatdata.dat"));
    // The input and list frames stop after the head; the frameset is served.
    EXPECT_EQ(page(c, kGuest, "FRM222").out, site_head(""));
    EXPECT_EQ(page(c, kGuest, "FRM223", "&CHAT_NAME=G").out, site_head(""));
    EXPECT_EQ(page(c, kGuest, "ROOM").out, frameset(kGuest, "", ""));
}

TEST_F(ChatTest, ReaderWithoutWriteRightCannotEnterOrLeaveTheRoom) {
    // Entering would put a presence record and a notice under a chosen name
    // into a room the reader may not write in.
    e2e::Result r = form(c, kGuest, "ROOM_IN", {{"CHAT_NAME", "<i>G</i>"}, {"COLOR", "Navy"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"}});
    expect_clean(r);
    EXPECT_NE(r.out.find("<FRAMESET ROWS="), std::string::npos) << r.out;
    EXPECT_FALSE(e2e::file_exists(c.room + "chatuser.idx") && !c.index().empty());
    EXPECT_FALSE(e2e::file_exists(c.room + "chatdata.dat") && !c.data().empty());
    EXPECT_EQ(c.personal(kGuest).find("COLOR"), std::string::npos);

    // A reader's leave posts no notice either, whatever name it gives.
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"}});
    const std::string idx = c.index(), data = c.data();
    r = form(c, kGuest, "ROOM_OUT", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}});
    EXPECT_EQ(r.out, frameset(kGuest, "", "Navy"));
    EXPECT_EQ(c.index(), idx);
    EXPECT_EQ(c.data(), data);
}

TEST_F(ChatTest, HeldMessageLockGivesTheBusyPageAndStoresNothing) {
    e2e::write_file(c.room + "chatdata.dat", line_rec("hanako", "Hanako", "Red", "earlier"));
    e2e::write_file(c.room + "chatdata.chk", "");
    const std::string data = c.data();
    EXPECT_EQ(form(c, kTaro, "CWRITE", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"CTALK", "lost"}},
                   e2e::SHORT_LOCK_WAIT_MS)
                  .out,
              e2e::busy_page());
    EXPECT_EQ(c.data(), data);
}

TEST_F(ChatTest, UnopenableMessageFileGivesMessage12) {
    e2e::make_dir(c.room + "chatdata.dat");  // a directory cannot be opened as the file
    EXPECT_EQ(form(c, kTaro, "CWRITE", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"CTALK", "lost"}}).out,
              error_page(12));
}

// ---- entering and leaving ----

TEST_F(ChatTest, EnteringTwiceKeepsOneRecordAndPostsTwoNotices) {
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"}});
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro"}, {"COLOR", "Green"}, {"DISP_LINE", "10"}, {"RELOAD_TIME", "999"}});
    const std::string idx = c.index();
    ASSERT_EQ(idx.size(), 164u);
    EXPECT_EQ(text_at(idx, 132, 22), "Green");
    EXPECT_EQ(int_at(idx, 156), 10);
    EXPECT_EQ(int_at(idx, 160), 999);
    const std::vector<Line> lines = read_lines(c.data());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].color, "Green");
    EXPECT_EQ(lines[1].color, "Navy");
    // The same user under a second chat name is a second member.
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro2"}, {"COLOR", "Navy"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"}});
    EXPECT_EQ(c.index().size(), 328u);
}

// The colour an entry keeps is stored already: personal.mst is left as it is
// (not rewritten, so the same file); a new colour replaces it.
TEST_F(ChatTest, EnteringWithTheKeptColourLeavesThePersonalSettingsAlone) {
    const std::string path = c.site.data_dir + "user/" + kTaro.uid + "/personal.mst";
    auto inode = [&path] {
        struct stat st;
        return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"}});
    const std::string stored = c.personal(kTaro);
    ASSERT_NE(stored.find("\nCOLOR,Navy\n"), std::string::npos);
    const ino_t before = inode();
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"}});
    EXPECT_EQ(inode(), before);
    EXPECT_EQ(c.personal(kTaro), stored);
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy\x95\x5C"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"}});
    EXPECT_NE(inode(), before);
    EXPECT_NE(c.personal(kTaro).find("\nCOLOR,Navy\x95\x5C\n"), std::string::npos);
    EXPECT_EQ(read_lines(c.data()).size(), 3u);  // every entry posted its notice
}

TEST_F(ChatTest, EnteringWithoutColourUsesBlue) {
    e2e::Result r = form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro"}, {"COLOR", ""}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"}});
    EXPECT_EQ(r.out, frameset(kTaro, "Taro", "blue"));
    EXPECT_EQ(text_at(c.index(), 132, 22), "blue");
    EXPECT_EQ(read_lines(c.data())[0].color, "blue");
    // An empty colour is not remembered.
    EXPECT_EQ(c.personal(kTaro).find("COLOR,"), std::string::npos);
}

TEST_F(ChatTest, EnteringWithoutNameOnlyRemembersTheColour) {
    e2e::Result r = form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", ""}, {"COLOR", "Olive"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"}});
    EXPECT_EQ(r.out, frameset(kTaro, "", "Olive"));
    EXPECT_FALSE(e2e::file_exists(c.room + "chatuser.idx") && !c.index().empty());
    EXPECT_FALSE(e2e::file_exists(c.room + "chatdata.dat") && !c.data().empty());
    // Stored once, then updated in place.
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", ""}, {"COLOR", "Teal"}});
    const std::string p = c.personal(kTaro);
    EXPECT_NE(p.find("\nCOLOR,Teal\n"), std::string::npos);
    EXPECT_EQ(p.find("Olive"), std::string::npos);
}

TEST_F(ChatTest, SharedAccountNeverStoresItsColour) {
    form(c, kShare, "ROOM_IN", {{"CHAT_NAME", "Desk"}, {"COLOR", "Red"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"}});
    EXPECT_EQ(c.personal(kShare).find("COLOR"), std::string::npos);
    EXPECT_EQ(int_at(c.index(), 4), 2);
    EXPECT_EQ(read_lines(c.data())[0].mode, 2);
}

TEST_F(ChatTest, PresenceIndexLockedMeansBusyPageAndNoEntryNotice) {
    // The member could not be recorded after the wait: no frameset claims the
    // entry, and the room does not announce him.
    e2e::write_file(c.room + "chatuser.chk", "");
    e2e::Result r = form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"}},
                         e2e::SHORT_LOCK_WAIT_MS);
    EXPECT_EQ(r.out, e2e::busy_page());
    EXPECT_FALSE(e2e::file_exists(c.room + "chatdata.dat") && !c.data().empty());
    EXPECT_FALSE(e2e::file_exists(c.room + "chatuser.idx") && !c.index().empty());
}

TEST_F(ChatTest, RoomWithColourAndNoNameChangesNothing) {
    EXPECT_EQ(page(c, kTaro, "ROOM", "&COLOR=Navy").out, frameset(kTaro, "", "Navy"));
    EXPECT_EQ(c.personal(kTaro).find("COLOR"), std::string::npos);
    EXPECT_FALSE(e2e::file_exists(c.room + "chatdata.dat"));
    // The room's frame sizes go into the frameset.
    e2e::write_file(c.room + "dir.cnf", "FRAMESET1,15%,\nFRAMESET2,35%,\nFRAMESET3,*,\n");
    EXPECT_EQ(page(c, kTaro, "ROOM", "&CHAT_NAME=Taro&COLOR=Navy").out, frameset(kTaro, "Taro", "Navy", "15%,35%,*"));
}

TEST_F(ChatTest, DroppedMemberSees314AndLeavesWithoutSecondNotice) {
    // Last seen long ago, and the sweep has not run this minute.
    e2e::write_file(c.room + "chatuser.idx", member_rec("taro", "Taro", "2000/01/01 00:00", "Navy", 30, 60));
    e2e::write_file(c.room + "chattime.txt", "2000/01/01 00:00");
    e2e::Result r = page(c, kTaro, "FRM223", "&CHAT_NAME=Taro");
    EXPECT_EQ(r.out, site_head("") + message(314) + "[-1]<P>" + kEnd);
    std::vector<Line> lines = read_lines(c.data());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].talk, message(315));

    r = form(c, kTaro, "ROOM_OUT", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}});
    EXPECT_EQ(r.out, frameset(kTaro, "", "Navy"));
    EXPECT_EQ(read_lines(c.data()).size(), 1u);
}

TEST_F(ChatTest, NameNeverEnteredSees314) {
    EXPECT_EQ(page(c, kTaro, "FRM223", "&CHAT_NAME=Nobody").out, site_head("") + message(314) + "[-1]<P>" + kEnd);
    // A post under a name that is not in the room is stored all the same.
    form(c, kTaro, "CWRITE", {{"CHAT_NAME", "Nobody"}, {"COLOR", ""}, {"CTALK", "hello?"}});
    const std::vector<Line> lines = read_lines(c.data());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].color, "");  // stored empty, shown as blue
}

// ---- the message list ----

TEST_F(ChatTest, MessagesRespectLinesReloadAndRoomLook) {
    std::string data;
    for (int i = 4; i >= 1; --i) data += line_rec("hanako", "Hanako", i == 2 ? "" : "Red", "line " + std::to_string(i));
    e2e::write_file(c.room + "chatdata.dat", data);
    e2e::write_file(c.room + "dir.cnf", "BACKPIC3,b3.gif,\nFONTCOLOR3,FF0000,\n");
    const std::string now = stamp_now();
    e2e::write_file(c.room + "chatuser.idx", member_rec("taro", "Taro", now, "Navy", 3, 999));

    const std::string body = "<BODY BACKGROUND=\"" + kExe + "?JOB=BG3_DL&SKEY1=111&SKEY2=222&uid=taro&FOLDER_NO=7\" >\n";
    e2e::Result r = page(c, kTaro, "FRM223", "&CHAT_NAME=Taro");
    EXPECT_EQ(r.out, site_head(body) + "<FONT COLOR=\"#FF0000\">" + shown_line("Red", "Hanako", "line 4") +
                         shown_line("Red", "Hanako", "line 3") + shown_line("blue", "Hanako", "line 2") + kEnd);

    // A member with zero lines still sees the newest; a reload time brings the
    // refresh with the chat name.
    e2e::write_file(c.room + "chatuser.idx", member_rec("taro", "Taro", now, "Navy", 0, 60));
    r = page(c, kTaro, "FRM223", "&CHAT_NAME=Taro");
    EXPECT_EQ(r.out, site_head(body) + refresh(kTaro, 60, "Taro") + "<FONT COLOR=\"#FF0000\">" +
                         shown_line("Red", "Hanako", "line 4") + kEnd);
}

TEST_F(ChatTest, ShowingTheListIsTheSignOfLife) {
    e2e::write_file(c.room + "chatuser.idx", member_rec("taro", "Taro", "2000/01/01 00:00", "", 30, 60));
    // chattime.txt missing: this first request only starts the sweep's clock.
    const std::string before = stamp_now();
    page(c, kTaro, "FRM223", "&CHAT_NAME=Taro");
    const std::string idx = c.index();
    ASSERT_EQ(idx.size(), 164u);
    EXPECT_GE(text_at(idx, 112, 20), before);
    EXPECT_LE(text_at(idx, 112, 20), stamp_now());
}

TEST_F(ChatTest, AtMostTheNewestHundredLines) {
    std::string data;
    for (int i = 150; i >= 1; --i) data += line_rec("hanako", "Hanako", "Red", std::to_string(i));
    e2e::write_file(c.room + "chatdata.dat", data);
    e2e::write_file(c.room + "chatuser.idx", member_rec("taro", "Taro", stamp_now(), "Navy", 200, 999));
    std::string expected = site_head("");
    for (int i = 150; i > 50; --i) expected += shown_line("Red", "Hanako", std::to_string(i));
    EXPECT_EQ(page(c, kTaro, "FRM223", "&CHAT_NAME=Taro").out, expected + kEnd);
}

TEST_F(ChatTest, MemberListNumbersEveryBlockOfTwentyFromOne) {
    for (int count : {3, 20, 25}) {
        std::string idx;
        std::string entries;
        for (int i = 1; i <= count; ++i) {
            const std::string name = "M" + std::to_string(i);
            const int mode = i % 2 ? 1 : 2;
            idx += member_rec("u" + std::to_string(i), name, stamp_now(), i == 4 ? "" : "Green", 30, 60, mode);
            entries += member_entry((i - 1) % 20 + 1, i == 4 ? "blue" : "Green", name, mode);
        }
        e2e::write_file(c.room + "chatuser.idx", idx);
        e2e::write_file(c.room + "chatdata.dat", line_rec("u1", "M1", "Green", "hi"));
        e2e::Result r = page(c, kTaro, "FRM223");
        EXPECT_EQ(r.out, site_head("") + refresh(kTaro, 10, "") + message(300) + "<P>" + entries + "total:[" +
                             std::to_string(count) + "]<P>" + kEnd)
            << count << " members";
        EXPECT_TRUE(e2e::file_exists(c.room + "chatdata.dat")) << count << " members";
    }
}

TEST_F(ChatTest, EmptyRoomLosesItsHistory) {
    e2e::write_file(c.room + "chatdata.dat", line_rec("hanako", "Hanako", "Red", "old talk"));
    e2e::Result r = page(c, kTaro, "FRM223");
    EXPECT_EQ(r.out, site_head("") + refresh(kTaro, 10, "") + message(300) + "<P>total:[0]<P>" + kEnd);
    EXPECT_FALSE(e2e::file_exists(c.room + "chatdata.dat"));
    // The next entry starts with an empty history.
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"}});
    EXPECT_EQ(read_lines(c.data()).size(), 1u);
}

TEST_F(ChatTest, RefusedMemberListIsNotAnEmptyRoom) {
    e2e::write_file(c.room + "chatdata.dat", line_rec("hanako", "Hanako", "Red", "keep me"));
    const std::string data = c.data();
    // The index locked by a writer: the list is the index as last committed.
    e2e::write_file(c.room + "chatuser.idx", member_rec("hanako", "Hanako", stamp_now(), "Red", 30, 30));
    e2e::write_file(c.room + "chatuser.chk", "");
    e2e::Result r = page(c, kTaro, "FRM223", "", e2e::SHORT_LOCK_WAIT_MS);
    EXPECT_NE(r.out.find("Hanako</FONT></B>"), std::string::npos);
    EXPECT_NE(r.out.find("total:[1]<P>"), std::string::npos);
    EXPECT_EQ(c.data(), data);
    std::remove((c.room + "chatuser.chk").c_str());
    std::remove((c.room + "chatuser.idx").c_str());

    // The index cannot be opened at all.
    e2e::make_dir(c.room + "chatuser.idx");
    r = page(c, kTaro, "FRM223");
    EXPECT_EQ(r.out, site_head("") + refresh(kTaro, 10, "") + message(300) + "<P>" + message(12) + "<P>" + kEnd);
    EXPECT_EQ(c.data(), data);
}

// ---- the entry form ----

TEST_F(ChatTest, EntryFormProposesThePresentSettings) {
    e2e::write_file(c.room + "chatuser.idx", member_rec("taro", "Taro Yamada", stamp_now(), "Green", 20, 999));
    e2e::Result r = page(c, kTaro, "FRM222");
    const std::string expected =
        site_head("") + "<SCRIPT Language=\"JavaScript\">\n<!--\nvar count=0;\nfunction postcheck(){\n" +
        "if ( document.INPUT.CHAT_NAME.value==\"\" ) {\nwindow.alert( \"" + message(306) + "\" );\n" +
        "return false; }\ncount++;\ndocument.INPUT.SUB.value=\"" + message(308) + "\";\n" +
        "if ( count < 2 ){ return true; }\nelse { return false; }\n}\n// -->\n</SCRIPT>\n" +
        "<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"" + kExe +
        "\" METHOD=POST  TARGET=\"FRM22zepa1\">\n" + hidden_block(kTaro, "ROOM_IN") + message(301) +
        "<INPUT TYPE=\"text\" NAME=\"CHAT_NAME\" SIZE=\"40\" VALUE=\"Taro Yamada\" MAXLENGTH=\"80\"><BR>\n" +
        message(216) + "<INPUT TYPE=\"text\" NAME=\"COLOR\" SIZE=\"20\" VALUE=\"Green\" MAXLENGTH=\"20\"><BR>\n" +
        message(303) + "<SELECT NAME=\"DISP_LINE\" >\n<OPTION VALUE=\"20\">20\n<OPTION VALUE=\"10\">10\n" +
        "<OPTION VALUE=\"20\">20\n<OPTION VALUE=\"30\">30\n<OPTION VALUE=\"40\">40\n<OPTION VALUE=\"50\">50\n" +
        "</SELECT><BR>\n" + message(304) + "<SELECT NAME=\"RELOAD_TIME\" >\n<OPTION VALUE=\"999\">" +
        message(305) + "\n<OPTION VALUE=\"10\">10\n<OPTION VALUE=\"20\">20\n<OPTION VALUE=\"30\">30\n" +
        "<OPTION VALUE=\"60\">60\n<OPTION VALUE=\"120\">120\n<OPTION VALUE=\"180\">180\n<OPTION VALUE=\"999\">" +
        message(305) + "\n</SELECT><BR>\n" + "<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"" + message(302) +
        "\" onClick=\"return postcheck()\" >\n</FORM>\n<P>\n" +
        "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"" + kExe + "\" METHOD=POST  TARGET=\"FRM223SEL7\">\n" +
        hidden_block(kTaro, "COLOR_SELECT") + "<INPUT TYPE=\"submit\" VALUE=\"" + message(307) + "\" >\n</FORM>\n" +
        kEnd;
    EXPECT_EQ(r.out, expected);

    // A colour from the palette wins.
    r = page(c, kTaro, "FRM222", "&COLOR=Navy");
    EXPECT_NE(r.out.find("NAME=\"COLOR\" SIZE=\"20\" VALUE=\"Navy\""), std::string::npos);
}

TEST_F(ChatTest, EntryFormOfAnAbsentUserUsesPresetsAndPersonalColour) {
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", ""}, {"COLOR", "Maroon"}});
    e2e::Result r = page(c, kTaro, "FRM222");
    EXPECT_NE(r.out.find("VALUE=\"Maroon\" MAXLENGTH=\"20\""), std::string::npos);
    EXPECT_NE(r.out.find("<SELECT NAME=\"DISP_LINE\" >\n<OPTION VALUE=\"30\">30\n<OPTION VALUE=\"10\">"), std::string::npos);
    EXPECT_NE(r.out.find("<SELECT NAME=\"RELOAD_TIME\" >\n<OPTION VALUE=\"30\">30\n<OPTION VALUE=\"10\">"), std::string::npos);

    // A writer at work on the index changes nothing of what the form proposes.
    const std::string unlocked = r.out;
    e2e::write_file(c.room + "chatuser.chk", "");
    EXPECT_EQ(page(c, kTaro, "FRM222").out, unlocked);
}

// ---- settings carried by the frames ----

TEST_F(ChatTest, TalkFormOfAnAbsentNameShowsThePresetsOnTheRoomBackground) {
    // Of the room's settings the input frame uses only its background; the
    // font colour of frame 2 plays no part.
    e2e::write_file(c.room + "dir.cnf", "BACKPIC2,b2.gif,\nFONTCOLOR2,00FF00,\n");
    const std::string body = "<BODY BACKGROUND=\"" + kExe + "?JOB=BG2_DL&SKEY1=111&SKEY2=222&uid=taro&FOLDER_NO=7\" >\n";
    const std::string settings = message(301) + ":[Nobody]&nbsp;&nbsp;" + message(216) + "[Navy]&nbsp;&nbsp;" +
                                 message(303) + "[30]&nbsp;&nbsp;" + message(304) + "[30]<P>\n";
    e2e::Result r = page(c, kTaro, "FRM222", "&CHAT_NAME=Nobody&COLOR=Navy");
    EXPECT_EQ(r.out.compare(0, talk_head(body).size(), talk_head(body)), 0);
    EXPECT_NE(r.out.find(settings), std::string::npos);
    EXPECT_EQ(r.out.find("<FONT"), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - kEnd.size()), kEnd);
    // The entry form is on the same background.
    EXPECT_EQ(page(c, kTaro, "FRM222").out.compare(0, site_head(body).size(), site_head(body)), 0);

    // A writer at work on the index never makes the presets zero.
    e2e::write_file(c.room + "chatuser.chk", "");
    r = page(c, kTaro, "FRM222", "&CHAT_NAME=Nobody&COLOR=Navy");
    EXPECT_NE(r.out.find(settings), std::string::npos);
}

TEST_F(ChatTest, EntryNumbersAreReadAsLeadingDecimals) {
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"DISP_LINE", " +20abc"}, {"RELOAD_TIME", "abc"}});
    const std::string idx = c.index();
    ASSERT_EQ(idx.size(), 164u);
    EXPECT_EQ(int_at(idx, 156), 20);
    EXPECT_EQ(int_at(idx, 160), 0);
    // A reload time of 0 brings no refresh.
    EXPECT_EQ(page(c, kTaro, "FRM223", "&CHAT_NAME=Taro").out,
              site_head("") + shown_line("Navy", "Taro", message(312)) + kEnd);
}

TEST_F(ChatTest, OnlyReloadTimesFromOneTo998Refresh) {
    e2e::write_file(c.room + "chatdata.dat", line_rec("hanako", "Hanako", "Red", "hi"));
    for (int reload : {-5, 0, 1, 998, 999, 1000}) {
        e2e::write_file(c.room + "chatuser.idx", member_rec("taro", "Taro", stamp_now(), "Navy", 30, reload));
        const bool refreshes = reload >= 1 && reload <= 998;
        EXPECT_EQ(page(c, kTaro, "FRM223", "&CHAT_NAME=Taro").out,
                  site_head("") + (refreshes ? refresh(kTaro, reload, "Taro") : "") +
                      shown_line("Red", "Hanako", "hi") + kEnd)
            << "reload " << reload;
    }
}

TEST_F(ChatTest, LeavingWithoutColourPostsTheNoticeWithoutOne) {
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro"}, {"COLOR", "Navy"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"}});
    e2e::Result r = form(c, kTaro, "ROOM_OUT", {{"CHAT_NAME", "Taro"}, {"COLOR", ""}});
    EXPECT_EQ(r.out, frameset(kTaro, "", ""));
    const std::vector<Line> lines = read_lines(c.data());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].talk, message(313));
    EXPECT_EQ(lines[0].color, "");  // stored empty, shown as blue
    EXPECT_EQ(c.index(), "");
}

TEST_F(ChatTest, MemberOfAnUnknownModeHasNoTag) {
    e2e::write_file(c.room + "chatuser.idx", member_rec("u1", "M1", stamp_now(), "Green", 30, 60, 3) +
                                                 member_rec("u2", "M2", stamp_now(), "Green", 30, 60, 2));
    EXPECT_EQ(page(c, kTaro, "FRM223").out,
              site_head("") + refresh(kTaro, 10, "") + message(300) + "<P>1:<B><FONT COLOR=\"Green\">M1</FONT></B><BR>" +
                  member_entry(2, "Green", "M2", 2) + "total:[2]<P>" + kEnd);
}

// ---- user text on the pages ----

// The chat name is carried through the frameset's address, the talk form's
// hidden fields and the refresh address; each step must give the same bytes
// back, and no page may carry the text as markup.
void round_trip(ChatTest& t, const std::string& name, const std::string& name_url, const std::string& name_html) {
    ChatSite& c = t.c;
    e2e::Result r = form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", name}, {"COLOR", "Navy"}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "60"}});
    EXPECT_EQ(r.out, frameset(kTaro, name_url, "Navy"));
    EXPECT_EQ(text_at(c.index(), 30, 82), name);

    // The input frame as the frameset loads it.
    r = e2e::get(c.site, frame_query(r.out, "FRM222SEL7"));
    expect_clean(r);
    EXPECT_NE(r.out.find(hidden("CHAT_NAME", name_html)), std::string::npos);
    EXPECT_NE(r.out.find("[" + name_html + "]&nbsp;&nbsp;"), std::string::npos);

    // Posting through that form stores the name as typed.
    Fields post = hidden_fields(r.out, 0);
    post.emplace_back("CTALK", "<script>alert(1)</script>");
    r = submit(c, post);
    const std::vector<Line> lines = read_lines(c.data());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].name, name);
    EXPECT_EQ(lines[0].talk, "<script>alert(1)</script>");
    EXPECT_EQ(r.out, site_head("") + refresh(kTaro, 60, name_url) +
                         shown_line("Navy", name_html, "&lt;script&gt;alert(1)&lt;/script&gt;") +
                         shown_line("Navy", name_html, message(312)) + kEnd);
    EXPECT_EQ(r.out.find("<script>"), std::string::npos);

    // The refresh address finds the member again.
    const std::size_t u = r.out.find("URL=" + kExe + "?");
    const std::string q = r.out.substr(u + 5 + kExe.size(), r.out.find('"', u) - u - 5 - kExe.size());
    e2e::Result again = e2e::get(c.site, html_unescape(q));
    expect_clean(again);
    EXPECT_EQ(again.out, r.out);

    // The member list shows the name as text as well; leaving through the
    // talk form's leave button finds the record.
    EXPECT_NE(page(c, kHanako, "FRM223").out.find(member_entry(1, "Navy", name_html, 1)), std::string::npos);
    const std::string talk = e2e::get(c.site, frame_query(frameset(kTaro, name_url, "Navy"), "FRM222SEL7")).out;
    submit(c, hidden_fields(talk, 1));
    EXPECT_EQ(c.index(), "");
    EXPECT_EQ(read_lines(c.data())[0].talk, message(313));
}

TEST_F(ChatTest, NameWithQuoteAndAmpersandRoundTrips) {
    round_trip(*this, "Tom \"T&J\" <b>", "Tom%20%22T%26J%22%20%3Cb%3E", "Tom &quot;T&amp;J&quot; &lt;b&gt;");
}

TEST_F(ChatTest, ShiftJisNameWithBackslashByteRoundTrips) {
    // 0x95 0x5C: the second byte is a backslash when read byte by byte.
    round_trip(*this, "\x95\x5C\x8E\xA6", "%95%5C%8E%A6", "\x95\x5C\x8E\xA6");
}

TEST_F(ChatTest, FrameSizesCannotBreakOutOfTheRowsAttribute) {
    e2e::write_file(c.room + "dir.cnf", "FRAMESET1,1\"><b>,\nFRAMESET2,40%,\nFRAMESET3,*,\n");
    EXPECT_EQ(page(c, kTaro, "ROOM").out, frameset(kTaro, "", "", "1&quot;&gt;&lt;b&gt;,40%,*"));
}

TEST_F(ChatTest, ColourCannotBreakOutOfItsAttribute) {
    const std::string color = "red\" onmouseover=\"alert(1)";
    form(c, kTaro, "ROOM_IN", {{"CHAT_NAME", "Taro"}, {"COLOR", color}, {"DISP_LINE", "30"}, {"RELOAD_TIME", "999"}});
    // The field holds 21 bytes of it.
    const std::string stored = "red\" onmouseover=\"ale";
    ASSERT_EQ(stored, color.substr(0, 21));
    EXPECT_EQ(text_at(c.index(), 132, 22), stored);
    const std::string html = "red&quot; onmouseover=&quot;ale";
    EXPECT_EQ(page(c, kTaro, "FRM223", "&CHAT_NAME=Taro").out,
              site_head("") + shown_line(html, "Taro", message(312)) + kEnd);
    EXPECT_NE(page(c, kTaro, "FRM223").out.find(member_entry(1, html, "Taro", 1)), std::string::npos);
    EXPECT_NE(page(c, kTaro, "FRM222").out.find("VALUE=\"" + html + "\" MAXLENGTH=\"20\""), std::string::npos);
}

}  // namespace
