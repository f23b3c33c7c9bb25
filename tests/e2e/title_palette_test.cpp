// End-to-end runs of a room's title frame (job FRM221) and colour palette page
// (job COLOR_SELECT): exact pages, the settings button by access level, and
// escaping of request text.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/e2e/room_site.h"

using namespace e2e;
using namespace roomsite;

namespace {

const std::string kScript =
    "<SCRIPT Language=\"JavaScript\">\n<!--\nvar count=0;\nfunction postcheck(){\ncount++;\n"
    "if ( count < 2 ){ return true; }\nelse { return false; }\n}\n// -->\n</SCRIPT>\n";

// Shift_JIS room name with a 0x5C second byte, markup and an ampersand: the
// title frame shows it as text.
const std::string kRoomName = "Chat \x95\x5C <script>A&B</script>";
const std::string kRoomNameHtml = "Chat \x95\x5C &lt;script&gt;A&amp;B&lt;/script&gt;";

std::string settings_button(const std::string& skey1_html, const std::string& uid_html) {
    return "<TD>\n<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"/cgi-bin/velt.cgi\" METHOD=POST  TARGET=\"FRM22" +
           std::string(SITE_ID) + "\">\n" + "<INPUT TYPE=\"hidden\" name=\"SKEY1\" value=\"" + skey1_html +
           "\">\n<INPUT TYPE=\"hidden\" name=\"SKEY2\" value=\"222\">\n<INPUT TYPE=\"hidden\" name=\"uid\" value=\"" +
           uid_html +
           "\">\n<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"SET_CONFIG\">\n"
           "<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"12\">\n"
           "<INPUT TYPE=\"submit\" VALUE=\"" +
           message(102) + "\" onClick=\"return postcheck()\" >\n</FORM>\n</TD>\n";
}

std::string name_cell(const std::string& color_attr) {
    return "<TABLE>\n<TR>\n<TD NOWRAP>\n<FONT SIZE=\"5\"" + color_attr + "><B>" + kRoomNameHtml + "</B></FONT>\n</TD>\n";
}

class TitleFrame : public ::testing::Test {
protected:
    void TearDown() override {
        for (auto& r : rooms) remove_site(r.site);
    }
    RoomSite& room(int user_level, int access_level, int write_level, int permit = -1,
                   const std::string& uid = "taro") {
        rooms.push_back(make_room(kRoomName, user_level, access_level, write_level, permit, uid));
        return rooms.back();
    }
    std::vector<RoomSite> rooms;
};

TEST_F(TitleFrame, EmptySettingsGiveTheNameOnTheDefaultBackground) {
    RoomSite& r = room(0, 0, 0, 7);
    const Result res = get(r.site, query(r, "FRM221"));
    expect_clean(res);
    EXPECT_EQ(res.out, site_head() + kScript + name_cell("") + "</TR>\n</TABLE>\n</BODY>\n</HTML>\n");
}

TEST_F(TitleFrame, AdministratorSeesEverySettingAndTheButton) {
    RoomSite& r = room(0, 0, 0, 8);
    const std::string cnf = "BACKPIC1,sea.jpg,\nTITLEPIC,logo.gif,\nFONTCOLOR1,FF0000,\nSHARE_USER_PERMIT,0,\n";
    write_file(r.room_dir + "dir.cnf", cnf);
    // Information text with CR LF line ends, its own markup and a double-byte
    // character whose second byte is 0x5C; a lone LF is dropped.
    write_file(r.room_dir + "info.txt", "Welcome\r\n<b>Rules</b> \x95\x5C\r\nend\nhere");
    const Result res = get(r.site, query(r, "FRM221"));
    expect_clean(res);
    const std::string bg =
        "<BODY BACKGROUND=\"/cgi-bin/velt.cgi?JOB=BG1_DL&SKEY1=111&SKEY2=222&uid=taro&FOLDER_NO=12\" >\n";
    EXPECT_EQ(res.out, site_head(bg) + kScript + name_cell(" COLOR=\"#FF0000\"") + settings_button("111", "taro") +
                           "</TR>\n</TABLE>\n"
                           "<IMG SRC=\"/cgi-bin/velt.cgi?JOB=BG4_DL&SKEY1=111&SKEY2=222&uid=taro&FOLDER_NO=12\" ><BR>\n"
                           "<FONT COLOR=\"#FF0000\">Welcome<BR>\n<b>Rules</b> \x95\x5C<BR>\nendhere</FONT>\n"
                           "</BODY>\n</HTML>\n");
    // Showing the frame changes no file of the room.
    EXPECT_EQ(read_file(r.room_dir + "dir.cnf"), cnf);
    EXPECT_EQ(read_file(r.room_dir + "info.txt"), "Welcome\r\n<b>Rules</b> \x95\x5C\r\nend\nhere");
}

TEST_F(TitleFrame, SettingsButtonForLevelsEightAndNineOnly) {
    struct Case {
        int user_level, access_level, write_level, permit;
        bool button;
        const char* what;
    };
    const Case cases[] = {
        {0, 0, 10, -1, false, "level 1 from the folder's read default"},
        {0, 0, 0, -1, false, "level 2 from the folder's write default"},
        {0, 0, 0, 7, false, "level 7 from the access list"},
        {0, 0, 0, 8, true, "level 8 from the access list"},
        {100, 50, 50, -1, true, "level 9, a system administrator"},
    };
    for (const Case& c : cases) {
        RoomSite& r = room(c.user_level, c.access_level, c.write_level, c.permit);
        const Result res = get(r.site, query(r, "FRM221"));
        expect_clean(res);
        const std::string button = settings_button("111", "taro");
        const std::string expected = site_head() + kScript + name_cell("") + (c.button ? button : "") +
                                     "</TR>\n</TABLE>\n</BODY>\n</HTML>\n";
        EXPECT_EQ(res.out, expected) << c.what;
    }
}

TEST_F(TitleFrame, InformationTextWithoutColourHasNoFontTag) {
    RoomSite& r = room(0, 0, 0);
    write_file(r.room_dir + "info.txt", "one\r\ntwo");
    const Result res = get(r.site, query(r, "FRM221"));
    expect_clean(res);
    EXPECT_EQ(res.out, site_head() + kScript + name_cell("") + "</TR>\n</TABLE>\none<BR>\ntwo</BODY>\n</HTML>\n");
}

TEST_F(TitleFrame, RequestAndSettingsTextIsEscaped) {
    // A user id with an ampersand, a key text whose number is right but which
    // carries markup behind it, and a font colour that tries to leave its
    // attribute.
    RoomSite& r = room(0, 0, 0, 9, "a&b");
    write_file(r.room_dir + "dir.cnf", "BACKPIC1,sea.jpg,\nTITLEPIC,t.gif,\nFONTCOLOR1,\"><i>,\n");
    write_file(r.room_dir + "info.txt", "x");
    const Result res = get(r.site, query(r, "FRM221", "", "a%26b", "0111%22%3Cx"));
    expect_clean(res);
    const std::string bg = "<BODY BACKGROUND=\"/cgi-bin/velt.cgi?JOB=BG1_DL&SKEY1=0111%22%3Cx&SKEY2=222&uid=a%26b"
                           "&FOLDER_NO=12\" >\n";
    EXPECT_EQ(res.out, site_head(bg) + kScript + name_cell(" COLOR=\"#&quot;&gt;&lt;i&gt;\"") +
                           settings_button("0111&quot;&lt;x", "a&amp;b") +
                           "</TR>\n</TABLE>\n"
                           "<IMG SRC=\"/cgi-bin/velt.cgi?JOB=BG4_DL&SKEY1=0111%22%3Cx&SKEY2=222&uid=a%26b"
                           "&FOLDER_NO=12\" ><BR>\n"
                           "<FONT COLOR=\"#&quot;&gt;&lt;i&gt;\">x</FONT>\n</BODY>\n</HTML>\n");
}

TEST_F(TitleFrame, OnlyTheProgramsOwnScriptsAreAllowed) {
    // The information text may carry markup, script included; the page's
    // policy names none of it, and a changed own script falls outside it too.
    RoomSite& r = room(0, 0, 0, 8);
    write_file(r.room_dir + "info.txt",
               "<script>top.pwned=1</script><img src=x onerror=\"top.pwned=2\">"
               "<A HREF='javascript:top.pwned=3'>x</A>");
    Request req;
    req.query = query(r, "FRM221");
    req.foreign_scripts = true;
    const Result res = run(r.site, req);
    expect_clean(res);
    EXPECT_EQ(foreign_scripts(res.out),
              (std::vector<std::string>{"top.pwned=1", "top.pwned=2", "javascript:top.pwned=3"}));
    std::string changed = res.out;
    changed.replace(changed.find("count < 2"), 9, "count < 3");
    changed.replace(changed.find("return postcheck()"), 18, "return !postcheck()");
    EXPECT_EQ(foreign_scripts(changed).size(), 5u);
    EXPECT_EQ(foreign_scripts("Content-type: text/html\n\n<HTML>"), std::vector<std::string>{"no policy"});
}

// ---- colour palette ----

struct Link {
    std::string href, target, name;
};

// The text between `open` and the next `close` at or after `from`; `from`
// moves behind `close`. Empty with `from` at npos when either is missing.
std::string take_between(const std::string& text, const std::string& open, const std::string& close,
                         std::size_t& from) {
    std::size_t a = text.find(open, from);
    std::size_t b = a == std::string::npos ? a : text.find(close, a + open.size());
    if (b == std::string::npos) {
        from = std::string::npos;
        return "";
    }
    from = b + close.size();
    return text.substr(a + open.size(), b - a - open.size());
}

// The links of a palette page, in page order: each one
// <A HREF="href" TARGET="target">name</A></TD>.
std::vector<Link> links_of(const std::string& page) {
    std::vector<Link> out;
    std::size_t at = 0;
    while (true) {
        Link l;
        l.href = take_between(page, "<A HREF=\"", "\"", at);
        if (at == std::string::npos) break;
        if (page.compare(at, 9, " TARGET=\"") != 0) break;
        l.target = take_between(page, " TARGET=\"", "\">", at);
        l.name = take_between(page, "", "</A></TD>\n", at);
        if (at == std::string::npos) break;
        out.push_back(l);
    }
    return out;
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

// The palette page as it must look for these names (in page order) and the
// address parts of this request.
std::string palette_page(const std::string& head, const std::vector<std::string>& names, const std::string& skey1,
                         const std::string& uid) {
    std::string s = head + "<TABLE BORDER>\n";
    for (std::size_t r = 0; r < 35; ++r) {
        s += "<TR>\n";
        for (std::size_t k = 0; k < 4; ++k) {
            const std::string& n = names.at(r * 4 + k);
            s += "\t<TD NOWRAP BGCOLOR=\"" + n + "\" ALIGN=\"CENTER\">&nbsp;&nbsp;<BR></TD>";
            s += "<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">";
            s += "<A HREF=\"/cgi-bin/velt.cgi?SKEY1=" + skey1 + "&SKEY2=222&uid=" + uid +
                 "&JOB=ROOM&FOLDER_NO=12&COLOR=" + n + "\" TARGET=\"FRM22" + SITE_ID + "\">" + n + "</A></TD>\n";
        }
        s += "</TR>\n";
    }
    return s + "</TABLE>\n</BODY>\n</HTML>\n";
}

TEST_F(TitleFrame, PaletteHas35RowsOf4NamedColours) {
    RoomSite& r = room(0, 0, 10);  // level 1 is enough
    const Result res = get(r.site, query(r, "COLOR_SELECT"));
    expect_clean(res);
    EXPECT_EQ(count_of(res.out, "<TR>\n"), 35u);
    EXPECT_EQ(count_of(res.out, "<A HREF="), 140u);
    const std::vector<Link> links = links_of(res.out);
    ASSERT_EQ(links.size(), 140u);
    std::vector<std::string> names;
    std::set<std::string> distinct;
    for (const Link& l : links) {
        names.push_back(l.name);
        distinct.insert(l.name);
        EXPECT_EQ(l.target, std::string("FRM22") + SITE_ID);
        EXPECT_LE(l.name.size(), 21u);
    }
    EXPECT_EQ(distinct.size(), 140u);
    EXPECT_EQ(names.front(), "Black");
    EXPECT_EQ(names.back(), "White");
    // The table's own spellings and neighbours.
    EXPECT_EQ(names[1], "Navy");
    EXPECT_EQ(names[11], "Mediumspringgreen");
    EXPECT_EQ(names[14], "Aqua");
    EXPECT_EQ(names[15], "Cyan");
    EXPECT_EQ(names[21], "Darkslategray");
    EXPECT_EQ(names[62], "Darkgray");
    EXPECT_EQ(names[79], "Lightgrey");
    EXPECT_EQ(names[106], "Lightgoldenrodyellow");
    EXPECT_EQ(names[110], "Fuchsia");
    EXPECT_EQ(names[111], "Magenta");
    EXPECT_EQ(names[136], "Yellow");
    // The link of Navy reloads room 12 with that colour.
    EXPECT_EQ(links[1].href, "/cgi-bin/velt.cgi?SKEY1=111&SKEY2=222&uid=taro&JOB=ROOM&FOLDER_NO=12&COLOR=Navy");
    // Every row: a swatch and a white cell with the link, four times.
    EXPECT_EQ(res.out, palette_page(site_head(), names, "111", "taro"));
}

// The palette as the suite has always shown it, written out here on its own
// (not read from the program's table): every name, its spelling and its place.
const std::vector<std::string> kPalette = {
    "Black", "Navy", "Darkblue", "Mediumblue",
    "Blue", "Darkgreen", "Green", "Teal",
    "Darkcyan", "Deepskyblue", "Darkturquoise", "Mediumspringgreen",
    "Lime", "Springgreen", "Aqua", "Cyan",
    "Midnightblue", "Dodgerblue", "Lightseagreen", "Forestgreen",
    "Seagreen", "Darkslategray", "Limegreen", "Mediumseagreen",
    "Turquoise", "Royalblue", "Steelblue", "Darkslateblue",
    "Mediumturquoise", "Indigo", "Darkolivegreen", "Cadetblue",
    "Cornflowerblue", "Mediumaquamarine", "Dimgray", "Slateblue",
    "Olivedrab", "Slategray", "Lightslategray", "Mediumslateblue",
    "Lawngreen", "Chartreuse", "Aquamarine", "Maroon",
    "Purple", "Olive", "Gray", "Skyblue",
    "Lightskyblue", "Blueviolet", "Darkred", "Darkmagenta",
    "Saddlebrown", "Darkseagreen", "Lightgreen", "Mediumpurple",
    "Darkviolet", "Palegreen", "Darkorchid", "Yellowgreen",
    "Sienna", "Brown", "Darkgray", "Lightblue",
    "Greenyellow", "Paleturquoise", "Lightsteelblue", "Powderblue",
    "Firebrick", "Darkgoldenrod", "Mediumorchid", "Rosybrown",
    "Darkkhaki", "Silver", "Mediumvioletred", "Indianred",
    "Peru", "Chocolate", "Tan", "Lightgrey",
    "Thistle", "Orchid", "Goldenrod", "Palevioletred",
    "Crimson", "Gainsboro", "Plum", "Burlywood",
    "Lightcyan", "Lavender", "Darksalmon", "Violet",
    "Palegoldenrod", "Lightcoral", "Khaki", "Aliceblue",
    "Honeydew", "Azure", "Sandybrown", "Wheat",
    "Beige", "Whitesmoke", "Mintcream", "Ghostwhite",
    "Salmon", "Linen", "Lightgoldenrodyellow", "Antiquewhite",
    "Oldlace", "Red", "Fuchsia", "Magenta",
    "Deeppink", "Orangered", "Tomato", "Hotpink",
    "Coral", "Darkorange", "Lightsalmon", "Orange",
    "Lightpink", "Pink", "Gold", "Peachpuff",
    "Navajowhite", "Moccasin", "Bisque", "Mistyrose",
    "Blanchedalmond", "Papayawhip", "Lavenderblush", "Seashell",
    "Cornsilk", "Lemonchiffon", "Floralwhite", "Snow",
    "Yellow", "Lightyellow", "Ivory", "White",
};

TEST_F(TitleFrame, PaletteShowsEveryColourInItsPlace) {
    ASSERT_EQ(kPalette.size(), 140u);
    RoomSite& r = room(0, 0, 10);
    const Result res = get(r.site, query(r, "COLOR_SELECT"));
    expect_clean(res);
    EXPECT_EQ(res.out, palette_page(site_head(), kPalette, "111", "taro"));
}

TEST_F(TitleFrame, PaletteWearsTheListFramesBackgroundAndEscapesTheRequest) {
    RoomSite& r = room(0, 0, 0, 2, "a&b");
    write_file(r.room_dir + "dir.cnf", "BACKPIC1,one.gif,\nBACKPIC3,list.gif,\n");
    const Result res = get(r.site, query(r, "COLOR_SELECT", "", "a%26b", "0111%22%3Cx"));
    expect_clean(res);
    std::vector<std::string> names;
    for (const Link& l : links_of(res.out)) names.push_back(l.name);
    ASSERT_EQ(names.size(), 140u);
    const std::string bg = "<BODY BACKGROUND=\"/cgi-bin/velt.cgi?JOB=BG3_DL&SKEY1=0111%22%3Cx&SKEY2=222&uid=a%26b"
                           "&FOLDER_NO=12\" >\n";
    EXPECT_EQ(res.out, palette_page(site_head(bg), names, "0111%22%3Cx", "a%26b"));
}

TEST_F(TitleFrame, PickingAColourProposesItInTheEntryForm) {
    RoomSite& r = room(0, 0, 0);
    const Result palette = get(r.site, query(r, "COLOR_SELECT"));
    expect_clean(palette);
    const std::vector<Link> links = links_of(palette.out);
    ASSERT_EQ(links.size(), 140u);
    // Follow the link of Navy: the room page passes the colour to its input
    // frame, whose entry form then proposes it.
    const std::string& href = links[1].href;
    const std::string room_query = href.substr(href.find('?') + 1);
    const Result frameset = get(r.site, room_query);
    expect_clean(frameset);
    const std::size_t job = frameset.out.find("JOB=FRM222");
    ASSERT_NE(job, std::string::npos) << frameset.out;
    const std::size_t src = frameset.out.rfind("<FRAME SRC = \"", job);
    ASSERT_NE(src, std::string::npos) << frameset.out;
    std::size_t at = src;
    const std::string address = take_between(frameset.out, "<FRAME SRC = \"", "\"", at);
    ASSERT_NE(address.find('?'), std::string::npos) << address;
    const std::string input_query = address.substr(address.find('?') + 1);
    EXPECT_NE(input_query.find("&COLOR=Navy"), std::string::npos) << input_query;
    const Result input = get(r.site, input_query);
    expect_clean(input);
    EXPECT_NE(input.out.find("<INPUT TYPE=\"text\" NAME=\"COLOR\" SIZE=\"20\" VALUE=\"Navy\" MAXLENGTH=\"20\">"),
              std::string::npos)
        << input.out;
}

}  // namespace
