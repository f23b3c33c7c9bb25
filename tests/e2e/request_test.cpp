// End-to-end runs of the request entry: the version page, the error pages of
// missing site files, the status answers of requests that get no page, the
// folder number
// and the script address the pages point to.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/e2e/room_site.h"

using namespace e2e;

namespace {

const std::string kVersionBody =
    "ZEPA CHAT-PlugIn version:[Ver3.11], OS:[WWW ServerOS Linux(x86)]\n</BODY>\n</HTML>\n";

std::string file_error_page(const std::string& title, const std::string& body_line) {
    return page_head("", "", body_line) +
           "<CENTER>\n<BR><FONT SIZE=\"5\"><B>" + title + "</B></FONT>\n<P><BR><HR><P><BR>\n"
           "<FONT COLOR=\"RED\"><B>read failure(file not open)</B></FONT>\n"
           "<FORM METHOD=POST >\n"
           "<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n"
           "</FORM>\n</CENTER>\n</BODY>\n</HTML>\n";
}

// Every run ends with status 0 and says nothing on standard error.
void expect_clean(const Result& r) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

class RequestTest : public ::testing::Test {
protected:
    void SetUp() override { site = make_site(); }
    void TearDown() override { remove_site(site); }
    Site site;
};

TEST_F(RequestTest, VersionPageNeedsNoLoginAndNoFolder) {
    const Result r = get(site, "help=ver");
    expect_clean(r);
    EXPECT_EQ(r.out, site_head() + kVersionBody);
    // The head carries the site's messages 1 and 2 and its default background.
    EXPECT_NE(r.out.find("<TITLE>"), std::string::npos);
    EXPECT_NE(r.out.find("<BODY BACKGROUND=\"/zepa/cg/back.gif\" >\n"), std::string::npos);
}

TEST_F(RequestTest, VersionPageByPostAndAmongOtherParameters) {
    const Result r = post(site, "uid=taro&help=ver&JOB=ROOM&FOLDER_NO=abc");
    expect_clean(r);
    EXPECT_EQ(r.out, site_head() + kVersionBody);

    // Only the first help counts.
    const Result first = get(site, "help=ver&help=x");
    expect_clean(first);
    EXPECT_EQ(first.out, site_head() + kVersionBody);
}

TEST_F(RequestTest, ShiftedClockRunPrintsTheSamePage) {
    // The dynamically linked twin under faketime, as clock-dependent tests use.
    Request req;
    req.query = "help=ver";
    req.faketime = "2004-01-01 05:30:00";
    const Result r = run(site, req);
    expect_clean(r);
    EXPECT_EQ(r.out, site_head() + kVersionBody);
}

TEST_F(RequestTest, VersionPageInTheSiteLanguage) {
    Site jp = make_site("LANGUAGE,japanese,\n");
    const Result r = get(jp, "help=ver");
    expect_clean(r);
    const std::string msg1 = message(1, "japanese");
    ASSERT_NE(msg1, message(1, "english"));
    EXPECT_EQ(r.out, site_head("", "japanese") + kVersionBody);
    remove_site(jp);
}

TEST_F(RequestTest, LanguageWithoutSectionGivesEmptyHead) {
    Site other = make_site("LANGUAGE,klingon,\n");
    const Result r = get(other, "help=ver");
    expect_clean(r);
    EXPECT_EQ(r.out, page_head("", "", "") + kVersionBody);
    remove_site(other);
}

TEST_F(RequestTest, OtherHelpValuesAreNotTheVersionPage) {
    for (const char* q : {"help=VER", "help=ver2", "help=+ver", "help=ver%20", "help=", "Help=ver"}) {
        const Result r = get(site, q);
        expect_clean(r);
        EXPECT_EQ(r.out, NO_ROOM) << q;
    }
}

TEST_F(RequestTest, MissingConfigurationFile) {
    std::remove((site.cgi_dir + "/zepa.ini").c_str());
    const Result r = get(site, "help=ver");
    expect_clean(r);
    // Nothing loaded yet: empty messages and an empty background address.
    EXPECT_EQ(r.out, file_error_page("zepa.ini", "<BODY BACKGROUND=\"\" >"));
}

TEST_F(RequestTest, MissingMessageFile) {
    std::remove((site.cgi_dir + "/velt.lng").c_str());
    const Result r = get(site, "help=ver");
    expect_clean(r);
    // The configuration is loaded, so the site's background shows.
    EXPECT_EQ(r.out, file_error_page(".lng", "<BODY BACKGROUND=\"/zepa/cg/back.gif\" >"));
}

TEST_F(RequestTest, ARequestWithoutARoomIsNotFound) {
    // A bare request of the program, as bots and probes send it, included.
    for (const char* q : {"", "JOB=", "JOB=room", "JOB=ROOM%20", "JOB=NOSUCH&FOLDER_NO=1", "uid=taro&JOB=xyz"}) {
        const Result r = get(site, q);
        expect_clean(r);
        EXPECT_EQ(r.out, NO_ROOM) << q;
    }
}

TEST_F(RequestTest, UnusualRequestsEndCleanly) {
    // A body far shorter than announced (the client went away: not even the
    // version page is taken from it), a multipart body, an unknown method,
    // and escapes cut off at the end of the text.
    Request shortbody;
    shortbody.method = "POST";
    shortbody.content_type = "application/x-www-form-urlencoded";
    shortbody.body = "help=ver";
    shortbody.content_length = "5000";
    Result r = run(site, shortbody);
    expect_clean(r);
    EXPECT_EQ(r.out, CUT_BODY);

    Multipart mp;
    mp_field(mp, "JOB", "NOSUCH");
    r = run(site, mp_request(mp));
    expect_clean(r);
    EXPECT_EQ(r.out, NO_ROOM);

    Request put;
    put.method = "PUT";
    put.query = "help=ver";
    r = run(site, put);
    expect_clean(r);
    EXPECT_EQ(r.out, NO_ROOM);

    r = get(site, "help=ver&x=%");
    expect_clean(r);
    EXPECT_EQ(r.out, site_head() + kVersionBody);
    r = get(site, "x=%4&help=ver&y=%");
    expect_clean(r);
    EXPECT_EQ(r.out, site_head() + kVersionBody);
}

TEST_F(RequestTest, ShippedMessageFileSetsEveryNumberInBothLanguages) {
    std::vector<int> numbers = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 19, 21, 102};
    for (int n = 200; n <= 205; ++n) numbers.push_back(n);
    for (int n : {207, 212, 213, 214, 215, 216, 217, 219, 220, 221}) numbers.push_back(n);
    for (int n = 300; n <= 318; ++n) numbers.push_back(n);
    for (const char* lang : {"english", "japanese"}) {
        for (int n : numbers) {
            const std::string m = message(n, lang);
            EXPECT_FALSE(m.empty()) << lang << " message " << n;
            EXPECT_LE(m.size(), 201u) << lang << " message " << n;
        }
        // The head: a title, and the character set the pages are written in;
        // its own line end is not part of the message.
        const std::string head = message(1, lang);
        EXPECT_EQ(head.find("<TITLE>"), 0u) << lang;
        const std::string meta = "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=Shift_JIS\">";
        ASSERT_GE(head.size(), meta.size());
        EXPECT_EQ(head.substr(head.size() - meta.size()), meta) << lang;
        // Texts placed in double-quoted script strings and in a comment.
        for (int n : {200, 306, 308}) EXPECT_EQ(message(n, lang).find_first_of("\"\\"), std::string::npos);
        EXPECT_EQ(message(2, lang).find("--"), std::string::npos);
    }
    // The Japanese section is Shift_JIS, with a character whose second byte is
    // a backslash (as in "hyou" of "hyouji").
    EXPECT_NE(message(303, "japanese").find("\x95\x5C"), std::string::npos);
}


// The room of room_site.h with the given script address in its folder record;
// taro (level 5) may read and write there by the folder's defaults.
roomsite::RoomSite room_with_cgi_name(const std::string& cgi_name) {
    roomsite::RoomSite r = roomsite::make_room("Lobby", 5, 0, 0);
    write_file(r.site.data_dir + "tree.mst", "1,Top,0,/cgi-bin/other.cgi,0,0,,0,0,0,0,\n 12,Lobby,0," + cgi_name +
                                                 ",0,0,,0,0,0,0,\n");
    return r;
}

// The title frame's line of the room page for the script address exe.
std::string title_frame_of(const std::string& exe) {
    return "\t<FRAME SRC = \"" + exe + "?uid=taro&SKEY1=111&SKEY2=222&JOB=FRM221&FOLDER_NO=12\" NAME=\"FRM221SEL12\">\n";
}

TEST(ScriptAddress, TheFolderScriptNameUpToItsFirstQuestionMarkCutTo127) {
    const std::string long_name = "/cgi-bin/" + std::string(191, 'v');  // 200 characters, no "?"
    const std::string cut_late = "/" + std::string(199, 'w') + "?a=1";  // "?" behind the cut
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/cgi-bin/velt.cgi?mode=chat&x=?", "/cgi-bin/velt.cgi"},
        {"?mode=chat", "?mode=chat"},          // a "?" in the first place is kept
        {"?a?b", "?a?b"},                      // only the first "?" is looked at
        {"/cgi-bin/velt.cgi", "/cgi-bin/velt.cgi"},
        {long_name, long_name.substr(0, 127)},
        {cut_late, cut_late.substr(0, 127)},
    };
    for (const auto& [cgi_name, exe] : cases) {
        SCOPED_TRACE(cgi_name);
        roomsite::RoomSite r = room_with_cgi_name(cgi_name);
        const Result res = get(r.site, roomsite::query(r, "ROOM"));
        expect_clean(res);
        EXPECT_NE(res.out.find(title_frame_of(exe)), std::string::npos) << res.out;
        // The folder record keeps its full script name.
        EXPECT_NE(read_file(r.site.data_dir + "tree.mst").find("," + cgi_name + ","), std::string::npos);
        remove_site(r.site);
    }
}

TEST(FolderNumber, ReadAsADecimalNumberInTheMannerOfStrtol) {
    roomsite::RoomSite r = room_with_cgi_name("/cgi-bin/velt.cgi");
    const std::string creds = "uid=taro&SKEY1=111&SKEY2=222&JOB=ROOM";
    for (const char* no : {"12", "%2012", "+12", "012", "12abc", "12%2C5"}) {
        SCOPED_TRACE(no);
        const Result res = get(r.site, creds + "&FOLDER_NO=" + no);
        expect_clean(res);
        EXPECT_NE(res.out.find(title_frame_of("/cgi-bin/velt.cgi")), std::string::npos) << res.out;
    }
    // Folder 0 (no digits, or no parameter) is not in the tree: not found.
    for (const char* q : {"&FOLDER_NO=abc", "&FOLDER_NO=", "", "&FOLDER_NO=-12"}) {
        SCOPED_TRACE(q);
        const Result res = get(r.site, creds + q);
        expect_clean(res);
        EXPECT_EQ(res.out, NO_ROOM);
    }
    remove_site(r.site);
}

}  // namespace
