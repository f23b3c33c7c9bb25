// End-to-end runs of a room's settings: the settings form (job SET_CONFIG)
// and the update with picture upload (job SET_CONFIGWR), checked on the exact
// page printed and the exact bytes left in dir.cnf, info.txt, tree.mst and the
// room's picture directory.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <set>
#include <string>

#include "access/struct.h"
#include "tests/e2e/harness.h"

using namespace e2e;

namespace {

// Folder 7 is the room; the lines around it must survive every update.
const std::string kTreeBefore =
    "1,Top,0,/cgi-bin/zepa.cgi,0,0,top.gif,0,0,0,0,\n"
    "  7,Sea Room,3,/cgi-bin/velt.cgi?MODE=chat,0,0,old-folder.gif,1,2,3,4,\n"
    " 9,Other room,0,/cgi-bin/velt.cgi,0,0,,0,0,0,0,\n";
const std::string kTreeOther1 = "1,Top,0,/cgi-bin/zepa.cgi,0,0,top.gif,0,0,0,0,\n";
const std::string kTreeOther9 = " 9,Other room,0,/cgi-bin/velt.cgi,0,0,,0,0,0,0,\n";

std::string room7_line(const std::string& name, const std::string& pic) {
    return "  7," + name + ",3,/cgi-bin/velt.cgi?MODE=chat,0,0," + pic + ",1,2,3,4,\n";
}

// The first bytes of a file, as many as `prefix` has.
std::string head_of(const std::string& path, const std::string& prefix) {
    return read_file(path).substr(0, prefix.size());
}

void expect_clean(const Result& r) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

void write_skey(const std::string& path, int32_t k1, int32_t k2, const char* uid) {
    MST_SKEY rec;
    std::memset(&rec, 0, sizeof rec);
    rec.SKEY1 = k1;
    rec.SKEY2 = k2;
    std::strncpy(rec.USER_ID, uid, sizeof rec.USER_ID - 1);
    write_file(path, std::string(reinterpret_cast<const char*>(&rec), sizeof rec));
}

// Names of the files in a directory (empty when it does not exist).
std::set<std::string> dir_names(const std::string& dir) {
    std::set<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.insert(n);
    }
    closedir(d);
    return names;
}

// Upload temporary files left in the data directory.
std::set<std::string> temp_files(const Site& site) {
    std::set<std::string> out;
    for (const auto& n : dir_names(site.data_dir))
        if (n.compare(0, 3, "CGI") == 0) out.insert(n);
    return out;
}

// What the form shows; the defaults are those of a room without settings.
struct FormValues {
    std::string name = "Sea Room";
    std::string info;
    std::string titlepic;
    std::string folderpic = "old-folder.gif";
    std::string backpic[3];
    std::string fontcolor[3];
    std::string frameset[3] = {"10%", "40%", "50%"};
};

std::string html(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

const std::string kValueCell = "\t<TD NOWRAP BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\">";

std::string label_cell(int m) { return "\t<TD NOWRAP BGCOLOR=\"#E0FFFF\" ALIGN=\"LEFT\">" + message(m) + "</TD>\n"; }

std::string picture_cell(const std::string& current, const std::string& field) {
    std::string s = kValueCell + html(current);
    if (!current.empty())
        s += "<INPUT TYPE=\"checkbox\" NAME=\"" + field + "_DEL\" VALUE=\"DEL\">" + message(219);
    s += "<BR>\n" + message(9) + "<INPUT TYPE=\"FILE\" NAME=\"" + field + "\">\n</TD>\n";
    return s;
}

const std::string kScript =
    "<SCRIPT Language=\"JavaScript\">\n<!--\nfunction title_chk(){\n"
    "if ( document.INPUT.NAME.value==\"\" ) {\n";

std::string script() {
    return kScript + "window.alert( \"" + message(200) + "\" );\nreturn false }\n}\n// -->\n</SCRIPT>\n";
}

// The whole settings page for an administrator of folder 7 (credentials
// admin / 111 / 222), written out from the page's layout; exe is the
// program's address the form posts to.
std::string expected_form(const FormValues& v, const std::string& exe = "/cgi-bin/velt.cgi") {
    std::string s = site_head() + script();
    s += "<FONT SIZE=\"5\"><B>(" + html(v.name) + ") " + message(201) + "</B></FONT>\n";
    s += "<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"" + html(exe) + "\" METHOD=POST >\n";
    s += "<INPUT TYPE=\"hidden\" name=\"SKEY1\" value=\"111\">\n";
    s += "<INPUT TYPE=\"hidden\" name=\"SKEY2\" value=\"222\">\n";
    s += "<INPUT TYPE=\"hidden\" name=\"uid\" value=\"admin\">\n";
    s += "<INPUT TYPE=\"hidden\" name=\"FOLDER_NO\" value=\"7\">\n";
    s += "<INPUT TYPE=\"hidden\" name=\"JOB\" value=\"SET_CONFIGWR\">\n";
    s += "<TABLE BORDER>\n";
    s += "<TR>\n" + label_cell(202) + kValueCell + "7</TD>\n</TR>\n";
    s += "<TR>\n" + label_cell(203) + kValueCell + "<INPUT TYPE=\"text\" NAME=\"NAME\" VALUE=\"" + html(v.name) +
         "\" SIZE=\"40\" MAXLENGTH=\"80\"></TD>\n</TR>\n";
    s += "<TR>\n" + label_cell(207) + kValueCell + "<TEXTAREA NAME=\"INFO\" COLS=\"40\" ROWS=\"5\" MAXLENGTH=\"250\">" +
         html(v.info) + "</TEXTAREA></TD>\n</TR>\n";
    s += "<TR>\n" + label_cell(212) + picture_cell(v.titlepic, "TITLEPIC") + "</TR>\n";
    s += "<TR>\n" + label_cell(204) + picture_cell(v.folderpic, "PIC_FILENAME") + "</TR>\n";
    s += "</TABLE>\n<TABLE BORDER>\n";
    for (int k = 0; k < 3; ++k) {
        const std::string n = std::to_string(k + 1);
        s += "<TR>\n\t<TD NOWRAP BGCOLOR=\"#E0FFFF\" ALIGN=\"LEFT\" ROWSPAN=\"3\">" + message(213 + k) + "</TD>\n";
        s += label_cell(220) + picture_cell(v.backpic[k], "BACKPIC" + n) + "</TR>\n";
        s += "<TR>\n" + label_cell(216) + kValueCell + "<INPUT TYPE=\"text\" NAME=\"FONTCOLOR" + n + "\" VALUE=\"" +
             html(v.fontcolor[k]) + "\" SIZE=\"10\" MAXLENGTH=\"6\"> " + message(217) + "</TD>\n</TR>\n";
        s += "<TR>\n" + label_cell(221) + kValueCell + "<INPUT TYPE=\"text\" NAME=\"FRAMESET" + n + "\" VALUE=\"" +
             html(v.frameset[k]) + "\" SIZE=\"10\" MAXLENGTH=\"6\"></TD>\n</TR>\n";
    }
    s += "</TABLE>\n<P>\n<TABLE>\n<TR>\n<TD>\n";
    s += "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"" + message(205) + "\" onClick=\"return title_chk()\">\n";
    s += "</TD>\n</TR>\n</TABLE>\n</FORM>\n</BODY>\n</HTML>\n";
    return s;
}

// The page a user below level 8 gets instead of the form.
std::string expected_refusal() {
    return site_head() + script() + message(8) + "\n<FORM>\n<INPUT TYPE=\"button\" VALUE=\"" + message(21) +
           "\" onClick=\"history.back()\">\n</FORM>\n</BODY>\n</HTML>\n";
}

// A site with folder 7 as the room, the administrator "admin" (user level
// 100, key 111/222) and the ordinary user "taro" (level 5, key 333/444, who
// gets access level 2 from the folder's defaults).
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { build(""); }
    void TearDown() override { remove_site(site); }

    void build(const std::string& extra) {
        site = make_site(extra);
        room = site.data_dir + "7/";
        fcg = room + "fcg/";
        write_file(site.data_dir + "tree.mst", kTreeBefore);
        write_file(site.data_dir + "user.mst", "admin\ntaro\n");
        make_dir(site.data_dir + "user/admin");
        make_dir(site.data_dir + "user/taro");
        write_file(site.data_dir + "user/admin/personal.mst", "USER_NAME,Admin\nUSER_LEVEL,100\n");
        write_file(site.data_dir + "user/taro/personal.mst", "USER_NAME,Taro\nUSER_LEVEL,5\n");
        write_skey(site.data_dir + "user/admin/skey.mst", 111, 222, "admin");
        write_skey(site.data_dir + "user/taro/skey.mst", 333, 444, "taro");
        make_dir(room);
    }

    // Starts a settings post of `uid` for folder 7.
    static Multipart update_of(const std::string& uid = "admin") {
        Multipart mp;
        mp_field(mp, "SKEY1", uid == "admin" ? "111" : "333");
        mp_field(mp, "SKEY2", uid == "admin" ? "222" : "444");
        mp_field(mp, "uid", uid);
        mp_field(mp, "FOLDER_NO", "7");
        mp_field(mp, "JOB", "SET_CONFIGWR");
        return mp;
    }

    // The text fields of the form with the values shown in `v`.
    static void text_fields(Multipart& mp, const FormValues& v) {
        mp_field(mp, "NAME", v.name);
        mp_field(mp, "INFO", v.info);
        for (int k = 0; k < 3; ++k) mp_field(mp, "FONTCOLOR" + std::to_string(k + 1), v.fontcolor[k]);
        for (int k = 0; k < 3; ++k) mp_field(mp, "FRAMESET" + std::to_string(k + 1), v.frameset[k]);
    }

    // Posts the update as a browser posts the form: a file field the test
    // did not fill goes as an empty file part ("no file chosen"). A lock_wait_ms
    // not 0 shortens the program's wait for a held lock.
    Result send(Multipart& mp, int lock_wait_ms = 0) const {
        for (const char* f : {"TITLEPIC", "PIC_FILENAME", "BACKPIC1", "BACKPIC2", "BACKPIC3"})
            if (mp.body.find("name=\"" + std::string(f) + "\"") == std::string::npos) mp_file(mp, f, "", "");
        e2e::Request req = mp_request(mp);
        req.lock_wait_ms = lock_wait_ms;
        return run(site, req);
    }

    // The whole form in page order as a browser sends it, without the field
    // `skip`: the title picture carries an upload and the first background's
    // delete box is ticked.
    static Multipart whole_form(const FormValues& v, const std::string& skip, const std::string& uid = "admin") {
        Multipart mp = update_of(uid);
        auto text = [&](const std::string& name, const std::string& value) {
            if (name != skip) mp_field(mp, name, value);
        };
        auto file = [&](const std::string& name, const std::string& filename, const std::string& bytes) {
            if (name != skip) mp_file(mp, name, filename, bytes);
        };
        text("NAME", v.name);
        text("INFO", v.info);
        file("TITLEPIC", "new.gif", "NEW");
        file("PIC_FILENAME", "", "");
        mp_field(mp, "BACKPIC1_DEL", "DEL");
        for (int k = 0; k < 3; ++k) {
            const std::string n = std::to_string(k + 1);
            file("BACKPIC" + n, "", "");
            text("FONTCOLOR" + n, v.fontcolor[k]);
            text("FRAMESET" + n, v.frameset[k]);
        }
        return mp;
    }

    // Every file of the room and the data directory's masters, for "nothing
    // changed" checks.
    std::string snapshot() const {
        std::string s = read_file(site.data_dir + "tree.mst") + "|" + read_file(room + "dir.cnf") + "|" +
                        read_file(room + "info.txt") + "|";
        for (const auto& n : dir_names(room)) s += n + ";";
        s += "|";
        for (const auto& n : dir_names(fcg)) s += n + "=" + read_file(fcg + n) + ";";
        return s;
    }

    Site site;
    std::string room;
    std::string fcg;
};

TEST_F(SettingsTest, FormForAnAdministratorOfARoomWithoutSettings) {
    const Result r = get(site, "uid=admin&SKEY1=111&SKEY2=222&FOLDER_NO=7&JOB=SET_CONFIG");
    expect_clean(r);
    // No delete box but the folder picture's, the default frame sizes.
    EXPECT_EQ(r.out, expected_form(FormValues()));
    EXPECT_EQ(r.out.find("TITLEPIC_DEL"), std::string::npos);
    EXPECT_NE(r.out.find("PIC_FILENAME_DEL"), std::string::npos);
    // Opening the form changes nothing but the empty settings files it reads.
    EXPECT_EQ(read_file(site.data_dir + "tree.mst"), kTreeBefore);
    EXPECT_EQ(read_file(room + "dir.cnf"), "");
}

TEST_F(SettingsTest, FormShowsStoredValuesEscaped) {
    write_file(room + "dir.cnf",
               "TITLEPIC,t\"q.gif,\nBACKPIC2,b&2.gif,\nFONTCOLOR1,<b>,\nFRAMESET3,'5%,\nFRAMESET1,,\n");
    write_file(room + "info.txt", "Line <1>\r\nA & \x95\x5C \"q\"");
    write_file(site.data_dir + "tree.mst",
               kTreeOther1 + room7_line("R<b>&\x95\x5C", "") + kTreeOther9);
    const Result r = get(site, "uid=admin&SKEY1=111&SKEY2=222&FOLDER_NO=7&JOB=SET_CONFIG");
    expect_clean(r);
    FormValues v;
    v.name = "R<b>&\x95\x5C";
    v.info = "Line <1>\r\nA & \x95\x5C \"q\"";
    v.titlepic = "t\"q.gif";
    v.folderpic = "";
    v.backpic[1] = "b&2.gif";
    v.fontcolor[0] = "<b>";
    v.frameset[0] = "";
    v.frameset[2] = "'5%";
    EXPECT_EQ(r.out, expected_form(v));
    // The heading and the field both show the room name as text.
    EXPECT_NE(r.out.find("<B>(R&lt;b&gt;&amp;\x95\x5C) "), std::string::npos);
    EXPECT_NE(r.out.find("VALUE=\"R&lt;b&gt;&amp;\x95\x5C\""), std::string::npos);
    EXPECT_NE(r.out.find(">Line &lt;1&gt;\r\nA &amp; \x95\x5C &quot;q&quot;</TEXTAREA>"), std::string::npos);
}

TEST_F(SettingsTest, FormPostsToTheEscapedProgramAddress) {
    // The folder's address up to its "?", as every page takes it; plain
    // addresses print byte for byte.
    for (const std::string exe : {"/cgi-bin/v&x=\"1\".cgi", "/cgi-bin/<\x95\x5C>'.cgi", "/cgi-bin/velt2.cgi"}) {
        SCOPED_TRACE(exe);
        write_file(site.data_dir + "tree.mst", kTreeOther1 + "  7,Sea Room,3," + exe +
                                                   "?MODE=chat,0,0,old-folder.gif,1,2,3,4,\n" + kTreeOther9);
        const Result r = get(site, "uid=admin&SKEY1=111&SKEY2=222&FOLDER_NO=7&JOB=SET_CONFIG");
        expect_clean(r);
        EXPECT_EQ(r.out, expected_form(FormValues(), exe));
    }
}

TEST_F(SettingsTest, FormShowsTheWholeInformationText) {
    // Longer than the 251 bytes the title frame shows: a save from this form
    // must not cut it.
    std::string info;
    for (int i = 0; i < 300; ++i) info += "\x95\x5C" + std::to_string(i % 10) + "\r\n";
    write_file(room + "info.txt", info);
    const Result r = get(site, "uid=admin&SKEY1=111&SKEY2=222&FOLDER_NO=7&JOB=SET_CONFIG");
    expect_clean(r);
    FormValues v;
    v.info = info;
    EXPECT_EQ(r.out, expected_form(v));
}

TEST_F(SettingsTest, FormRefusedBelowLevel8) {
    const Result r = get(site, "uid=taro&SKEY1=333&SKEY2=444&FOLDER_NO=7&JOB=SET_CONFIG");
    expect_clean(r);
    EXPECT_EQ(r.out, expected_refusal());
}

TEST_F(SettingsTest, AdministratorStoresEverythingWithATitlePicture) {
    write_file(room + "dir.cnf", "SHARE_USER_PERMIT,0,\nTITLEPIC,old.gif,\nFRAMESET2,30%,\nother,keep me,\n");
    make_dir(fcg);
    write_file(fcg + "old.gif", "OLD");
    write_file(fcg + "other.gif", "OTHER");
    write_file(room + "info.txt", "an older and much longer information text");

    // A picture whose bytes look like line ends, boundaries and zero bytes.
    const std::string picture = std::string("\x89PNG\r\n\x1a\n\0\0--x\r\n--", 18) + std::string(2500, '\xA5') + "\r\n";
    FormValues v;
    v.name = "Sea & Sky \x95\x5C";
    v.info = "Welcome!\r\n<b>bold</b> & \x95\x5C\r\nlast line";
    v.fontcolor[0] = "FF0000";
    v.fontcolor[1] = "";
    v.fontcolor[2] = "00FF00";
    v.frameset[0] = "15%";
    v.frameset[1] = "35%";
    v.frameset[2] = "";
    Multipart mp = update_of();
    text_fields(mp, v);
    mp_file(mp, "TITLEPIC", "C:\\pics\\sea.jpg", picture, "image/jpeg");
    mp_file(mp, "BACKPIC1", "", "");  // a file field left empty
    const Result r = send(mp);
    expect_clean(r);

    EXPECT_EQ(read_file(room + "dir.cnf"),
              "SHARE_USER_PERMIT,0,\nTITLEPIC,sea.jpg,\nFRAMESET2,35%,\nother,keep me,\n"
              "FONTCOLOR1,FF0000,\nFONTCOLOR2,,\nFONTCOLOR3,00FF00,\nFRAMESET1,15%,\nFRAMESET3,,\n");
    EXPECT_EQ(read_file(fcg + "sea.jpg"), picture);
    struct stat st;
    ASSERT_EQ(stat((fcg + "sea.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(dir_names(fcg), (std::set<std::string>{"sea.jpg", "other.gif"}));
    EXPECT_EQ(temp_files(site), std::set<std::string>{});
    EXPECT_EQ(read_file(site.data_dir + "tree.mst"),
              kTreeOther1 + room7_line("Sea & Sky \x95\x5C", "old-folder.gif") + kTreeOther9);
    EXPECT_EQ(read_file(room + "info.txt"), v.info);

    // The form again, with what was stored.
    v.titlepic = "sea.jpg";
    EXPECT_EQ(r.out, expected_form(v));
}

TEST_F(SettingsTest, FolderPictureGoesIntoTheTreeLine) {
    Multipart mp = update_of();
    text_fields(mp, FormValues());
    mp_file(mp, "PIC_FILENAME", "/home/me/folder.png", "PNGDATA");
    const Result r = send(mp);
    expect_clean(r);
    EXPECT_EQ(read_file(fcg + "folder.png"), "PNGDATA");
    EXPECT_EQ(read_file(site.data_dir + "tree.mst"),
              kTreeOther1 + room7_line("Sea Room", "folder.png") + kTreeOther9);
    EXPECT_EQ(temp_files(site), std::set<std::string>{});
    FormValues v;
    v.folderpic = "folder.png";
    EXPECT_EQ(r.out, expected_form(v));
}

TEST_F(SettingsTest, DeleteBoxesAndAnUploadThatWinsOverOne) {
    write_file(room + "dir.cnf", "TITLEPIC,t.gif,\nBACKPIC2,b2.gif,\nBACKPIC3,b3.gif,\n");
    make_dir(fcg);
    for (const char* n : {"t.gif", "b2.gif", "b3.gif", "old-folder.gif"}) write_file(fcg + n, n);

    Multipart mp = update_of();
    text_fields(mp, FormValues());
    mp_field(mp, "BACKPIC2_DEL", "DEL");
    mp_field(mp, "PIC_FILENAME_DEL", "DEL");
    mp_field(mp, "TITLEPIC_DEL", "DEL");
    mp_file(mp, "TITLEPIC", "new.gif", "NEW");
    const Result r = send(mp);
    expect_clean(r);

    EXPECT_EQ(read_file(room + "dir.cnf"),
              "TITLEPIC,new.gif,\nBACKPIC2,,\nBACKPIC3,b3.gif,\n"
              "FONTCOLOR1,,\nFONTCOLOR2,,\nFONTCOLOR3,,\nFRAMESET1,10%,\nFRAMESET2,40%,\nFRAMESET3,50%,\n");
    EXPECT_EQ(dir_names(fcg), (std::set<std::string>{"new.gif", "b3.gif"}));
    EXPECT_EQ(read_file(fcg + "new.gif"), "NEW");
    EXPECT_EQ(read_file(site.data_dir + "tree.mst"), kTreeOther1 + room7_line("Sea Room", "") + kTreeOther9);
    EXPECT_EQ(temp_files(site), std::set<std::string>{});

    FormValues v;
    v.titlepic = "new.gif";
    v.folderpic = "";
    v.backpic[2] = "b3.gif";
    EXPECT_EQ(r.out, expected_form(v));
}

TEST_F(SettingsTest, OneFileForTwoSettingsAndSharedFilesKept) {
    write_file(room + "dir.cnf", "TITLEPIC,shared.gif,\nBACKPIC1,shared.gif,\nBACKPIC3,b3.gif,\n");
    make_dir(fcg);
    write_file(fcg + "shared.gif", "SHARED");
    write_file(fcg + "b3.gif", "B3");

    Multipart mp = update_of();
    text_fields(mp, FormValues());
    mp_file(mp, "BACKPIC1", "C:\\a\\same.gif", "FIRST");
    mp_file(mp, "BACKPIC3", "D:/b/same.gif", "SECOND");
    const Result r = send(mp);
    expect_clean(r);

    // Both settings name one file, holding the later upload; b3.gif is no
    // longer named and goes; shared.gif is still the title picture and stays.
    EXPECT_EQ(dir_names(fcg), (std::set<std::string>{"same.gif", "shared.gif"}));
    EXPECT_EQ(read_file(fcg + "same.gif"), "SECOND");
    EXPECT_EQ(read_file(fcg + "shared.gif"), "SHARED");
    const std::string stored = "TITLEPIC,shared.gif,\nBACKPIC1,same.gif,\nBACKPIC3,same.gif,\n";
    EXPECT_EQ(head_of(room + "dir.cnf", stored), stored);
    EXPECT_EQ(temp_files(site), std::set<std::string>{});
}

TEST_F(SettingsTest, FirstUploadCreatesThePictureDirectory) {
    ASSERT_FALSE(file_exists(fcg));
    Multipart mp = update_of();
    text_fields(mp, FormValues());
    mp_file(mp, "BACKPIC2", "bg.gif", "BG");
    expect_clean(send(mp));
    EXPECT_EQ(read_file(fcg + "bg.gif"), "BG");

    // A later upload uses the directory as it is.
    Multipart again = update_of();
    text_fields(again, FormValues());
    mp_file(again, "BACKPIC3", "bg3.gif", "BG3");
    expect_clean(send(again));
    EXPECT_EQ(dir_names(fcg), (std::set<std::string>{"bg.gif", "bg3.gif"}));
}

TEST_F(SettingsTest, TextFieldPosingAsAnUploadMovesAndRemovesNothing) {
    write_file(room + "dir.cnf", "TITLEPIC,t.gif,\n");
    make_dir(fcg);
    write_file(fcg + "t.gif", "T");
    write_file(site.data_dir + "victim.txt", "precious");
    write_file(site.data_dir + "CGI0", "another request's upload");

    Multipart mp = update_of();
    text_fields(mp, FormValues());
    mp_field(mp, "TITLEPIC", "x.gif," + site.data_dir + "victim.txt");
    mp_field(mp, "BACKPIC1", "y.gif," + site.data_dir + "CGI0");
    mp_field(mp, "BACKPIC2", "x.gif,/some/other/file");
    mp_field(mp, "PIC_FILENAME", "f.gif," + site.data_dir + "tree.mst");
    const Result r = send(mp);
    expect_clean(r);

    EXPECT_EQ(read_file(site.data_dir + "victim.txt"), "precious");
    EXPECT_EQ(read_file(site.data_dir + "CGI0"), "another request's upload");
    EXPECT_EQ(dir_names(fcg), std::set<std::string>{"t.gif"});
    EXPECT_EQ(read_file(room + "dir.cnf"),
              "TITLEPIC,t.gif,\nFONTCOLOR1,,\nFONTCOLOR2,,\nFONTCOLOR3,,\n"
              "FRAMESET1,10%,\nFRAMESET2,40%,\nFRAMESET3,50%,\n");
    EXPECT_EQ(read_file(site.data_dir + "tree.mst"), kTreeBefore);
}

TEST_F(SettingsTest, UserBelowLevel8ChangesNoFile) {
    write_file(room + "dir.cnf", "TITLEPIC,t.gif,\nFRAMESET1,20%,\n");
    write_file(room + "info.txt", "info");
    make_dir(fcg);
    write_file(fcg + "t.gif", "T");
    // A first request of the user makes the room's own files (presence, access
    // list), so that only what the update might change is compared.
    expect_clean(get(site, "uid=taro&SKEY1=333&SKEY2=444&FOLDER_NO=7&JOB=SET_CONFIG"));
    const std::string before = snapshot();

    FormValues v;
    v.name = "Taken over";
    v.info = "defaced";
    v.fontcolor[0] = "000000";
    Multipart mp = update_of("taro");
    text_fields(mp, v);
    mp_field(mp, "TITLEPIC_DEL", "DEL");
    mp_file(mp, "BACKPIC1", "evil.gif", "EVIL");
    const Result r = send(mp);
    expect_clean(r);
    EXPECT_EQ(r.out, expected_refusal());
    EXPECT_EQ(snapshot(), before);
}

TEST_F(SettingsTest, RoomAdministratorByAccessListMayStore) {
    write_file(room + "acl.mst", "U,taro,8,\n");
    FormValues v;
    v.name = "Taro's room";
    Multipart mp = update_of("taro");
    text_fields(mp, v);
    const Result r = send(mp);
    expect_clean(r);
    EXPECT_EQ(read_file(site.data_dir + "tree.mst"),
              kTreeOther1 + room7_line("Taro's room", "old-folder.gif") + kTreeOther9);
    EXPECT_NE(r.out.find("VALUE=\"Taro&#39;s room\""), std::string::npos);
}

TEST_F(SettingsTest, UploadOverTheSizeLimitStoresNoPicture) {
    remove_site(site);
    build("ATTACHED_FILE_LIMIT,200,\n");
    write_file(room + "dir.cnf", "TITLEPIC,t.gif,\n");
    make_dir(fcg);
    write_file(fcg + "t.gif", "T");

    FormValues v;
    v.name = "Renamed";
    Multipart mp = update_of();
    text_fields(mp, v);
    mp_file(mp, "TITLEPIC", "big.gif", std::string(5000, 'B'));
    const Result r = send(mp);
    expect_clean(r);

    // The text fields still count; the picture does not.
    EXPECT_EQ(dir_names(fcg), std::set<std::string>{"t.gif"});
    EXPECT_EQ(head_of(room + "dir.cnf", "TITLEPIC,t.gif,\n"), "TITLEPIC,t.gif,\n");
    EXPECT_EQ(read_file(site.data_dir + "tree.mst"),
              kTreeOther1 + room7_line("Renamed", "old-folder.gif") + kTreeOther9);
    EXPECT_EQ(temp_files(site), std::set<std::string>{});
    v.titlepic = "t.gif";
    EXPECT_EQ(r.out, expected_form(v));
}

TEST_F(SettingsTest, BrowserNameWithACommaIsStoredWithAnUnderscore) {
    Multipart mp = update_of();
    text_fields(mp, FormValues());
    mp_file(mp, "TITLEPIC", "C:\\my,pics\\sea,side.jpg", "SEA");
    mp_file(mp, "PIC_FILENAME", "a,b.gif", "AB");
    const Result r = send(mp);
    expect_clean(r);
    EXPECT_EQ(read_file(fcg + "sea_side.jpg"), "SEA");
    EXPECT_EQ(read_file(fcg + "a_b.gif"), "AB");
    EXPECT_EQ(head_of(room + "dir.cnf", "TITLEPIC,sea_side.jpg,\n"), "TITLEPIC,sea_side.jpg,\n");
    EXPECT_EQ(read_file(site.data_dir + "tree.mst"), kTreeOther1 + room7_line("Sea Room", "a_b.gif") + kTreeOther9);
    EXPECT_EQ(temp_files(site), std::set<std::string>{});
}

TEST_F(SettingsTest, BrowserNameThatIsOnlyADirectoryStoresNoPicture) {
    write_file(room + "dir.cnf", "TITLEPIC,t.gif,\nBACKPIC1,b1.gif,\nBACKPIC2,b2.gif,\n");
    make_dir(fcg);
    for (const char* n : {"t.gif", "b1.gif", "b2.gif", "old-folder.gif"}) write_file(fcg + n, n);

    Multipart mp = update_of();
    text_fields(mp, FormValues());
    mp_file(mp, "TITLEPIC", "C:\\pics\\", "X");
    mp_file(mp, "BACKPIC1", "..", "X");
    mp_file(mp, "BACKPIC2", "/tmp/.", "X");
    mp_file(mp, "PIC_FILENAME", "C:\\..", "X");
    const Result r = send(mp);
    expect_clean(r);

    // Each such setting is emptied as by its delete box: the old picture goes,
    // nothing is moved, and no upload is left behind.
    EXPECT_EQ(dir_names(fcg), std::set<std::string>{});
    EXPECT_EQ(head_of(room + "dir.cnf", "TITLEPIC,,\nBACKPIC1,,\nBACKPIC2,,\n"), "TITLEPIC,,\nBACKPIC1,,\nBACKPIC2,,\n");
    EXPECT_EQ(read_file(site.data_dir + "tree.mst"), kTreeOther1 + room7_line("Sea Room", "") + kTreeOther9);
    EXPECT_TRUE(file_exists(room + "dir.cnf"));
    EXPECT_EQ(temp_files(site), std::set<std::string>{});
}

TEST_F(SettingsTest, LongPictureNameIsCutAtACharacterBoundary) {
    // 150 double-byte characters (second byte 0x5C) and ".gif": 304 bytes.
    std::string name;
    for (int i = 0; i < 150; ++i) name += "\x95\x5C";
    Multipart mp = update_of();
    text_fields(mp, FormValues());
    mp_file(mp, "BACKPIC3", "C:\\pics\\" + name + ".gif", "LONG");
    const Result r = send(mp);
    expect_clean(r);

    const std::string cut = name.substr(0, 250);  // 251 bytes would split a character
    EXPECT_EQ(dir_names(fcg), std::set<std::string>{cut});
    EXPECT_EQ(read_file(fcg + cut), "LONG");
    EXPECT_EQ(head_of(room + "dir.cnf", "BACKPIC3," + cut + ",\n"), "BACKPIC3," + cut + ",\n");
    FormValues v;
    v.backpic[2] = cut;
    EXPECT_EQ(r.out, expected_form(v));
}

TEST_F(SettingsTest, InformationTextIsCutTo3999BytesAtACharacterBoundary) {
    FormValues v;
    v.info = std::string(3998, 'i') + "\x95\x5C" + std::string(1000, 'j');
    Multipart mp = update_of();
    text_fields(mp, v);
    expect_clean(send(mp));
    EXPECT_EQ(read_file(room + "info.txt"), std::string(3998, 'i'));

    v.info = std::string(5000, 'k');
    Multipart again = update_of();
    text_fields(again, v);
    expect_clean(send(again));
    EXPECT_EQ(read_file(room + "info.txt"), std::string(3999, 'k'));
}

TEST_F(SettingsTest, FieldsAreCutToTheirCapacities) {
    // A room name of 100 bytes keeps its first 81, a font colour or frame size
    // of 10 characters its first 7.
    FormValues v;
    v.name = std::string(60, 'n') + std::string(40, 'm');
    v.fontcolor[1] = "0123456789";
    v.frameset[0] = "abcdefghij";
    Multipart mp = update_of();
    text_fields(mp, v);
    const Result r = send(mp);
    expect_clean(r);
    const std::string name81 = std::string(60, 'n') + std::string(21, 'm');
    EXPECT_EQ(read_file(site.data_dir + "tree.mst"),
              kTreeOther1 + room7_line(name81, "old-folder.gif") + kTreeOther9);
    EXPECT_EQ(read_file(room + "dir.cnf"),
              "FONTCOLOR1,,\nFONTCOLOR2,0123456,\nFONTCOLOR3,,\nFRAMESET1,abcdefg,\nFRAMESET2,40%,\nFRAMESET3,50%,\n");
    v.name = name81;
    v.fontcolor[1] = "0123456";
    v.frameset[0] = "abcdefg";
    EXPECT_EQ(r.out, expected_form(v));
}

TEST_F(SettingsTest, RoomNameThatWouldBreakTheTreeLine) {
    FormValues v;
    v.name = "a,b\r\nc";
    Multipart mp = update_of();
    text_fields(mp, v);
    const Result r = send(mp);
    expect_clean(r);
    EXPECT_EQ(read_file(site.data_dir + "tree.mst"),
              kTreeOther1 + room7_line("a_b__c", "old-folder.gif") + kTreeOther9);
    // The form shows the name as stored.
    v.name = "a_b__c";
    EXPECT_EQ(r.out, expected_form(v));
}

TEST_F(SettingsTest, LockedSettingsFileKeepsTheOldPictureAndSaysSo) {
    write_file(room + "dir.cnf", "TITLEPIC,t.gif,\n");
    make_dir(fcg);
    write_file(fcg + "t.gif", "T");
    write_file(room + "dir_cnf.chk", "");  // another request is rewriting dir.cnf
    const std::string tree = read_file(site.data_dir + "tree.mst");
    FormValues v;
    v.name = "Renamed";
    v.info = "new info";
    Multipart mp = update_of();
    text_fields(mp, v);
    mp_file(mp, "TITLEPIC", "sea.jpg", "SEA");
    const Result r = send(mp, e2e::SHORT_LOCK_WAIT_MS);
    expect_clean(r);
    // The setting could not be stored after the wait: the picture it names
    // stays, the new one, named by nothing, does not linger, the update ends
    // there, and the answer says the room was busy instead of showing a form
    // with values that were not stored.
    EXPECT_EQ(read_file(room + "dir.cnf"), "TITLEPIC,t.gif,\n");
    EXPECT_EQ(dir_names(fcg), std::set<std::string>{"t.gif"});
    EXPECT_EQ(read_file(site.data_dir + "tree.mst"), tree);
    EXPECT_EQ(read_file(room + "info.txt"), "");  // made empty by the settings read, not stored
    EXPECT_EQ(temp_files(site), std::set<std::string>{});
    EXPECT_EQ(r.out, busy_page());
}

TEST_F(SettingsTest, FailedMoveKeepsTheOldPicture) {
    write_file(room + "dir.cnf", "TITLEPIC,t.gif,\n");
    write_file(room + "fcg", "a file where the picture directory should be");
    Multipart mp = update_of();
    text_fields(mp, FormValues());
    mp_file(mp, "TITLEPIC", "sea.jpg", "SEA");
    const Result r = send(mp);
    expect_clean(r);
    EXPECT_EQ(head_of(room + "dir.cnf", "TITLEPIC,t.gif,\n"), "TITLEPIC,t.gif,\n");
    EXPECT_EQ(read_file(room + "fcg"), "a file where the picture directory should be");
    EXPECT_EQ(temp_files(site), std::set<std::string>{});
}

const char* const kIncomplete =
    "Status: 400 Bad Request\nContent-Type: text/plain\n\nThe settings form arrived incomplete; nothing was stored.\n";

TEST_F(SettingsTest, AFormWithoutAFieldItAlwaysSendsStoresNothing) {
    write_file(room + "dir.cnf", "TITLEPIC,t.gif,\nBACKPIC1,b1.gif,\nFRAMESET1,20%,\n");
    write_file(room + "info.txt", "info \x95\x5C");
    make_dir(fcg);
    write_file(fcg + "t.gif", "T");
    write_file(fcg + "b1.gif", "B1");
    // First requests make the room's own files (an ordinary user's also the
    // access list), so that only what the update might change is compared.
    expect_clean(get(site, "uid=admin&SKEY1=111&SKEY2=222&FOLDER_NO=7&JOB=SET_CONFIG"));
    expect_clean(get(site, "uid=taro&SKEY1=333&SKEY2=444&FOLDER_NO=7&JOB=SET_CONFIG"));
    const std::string before = snapshot();
    FormValues v;
    v.name = "Renamed, \x95\x5C & \"co\"";
    v.info = "new, \x95\x5C";
    v.fontcolor[0] = "FF0000";

    for (const char* skip : {"NAME", "INFO", "TITLEPIC", "PIC_FILENAME", "BACKPIC1", "BACKPIC2", "BACKPIC3",
                             "FONTCOLOR1", "FONTCOLOR2", "FONTCOLOR3", "FRAMESET1", "FRAMESET2", "FRAMESET3"}) {
        Multipart mp = whole_form(v, skip);
        const Result r = run(site, mp_request(mp));
        expect_clean(r);
        EXPECT_EQ(r.out, kIncomplete) << skip;
        EXPECT_EQ(snapshot(), before) << skip;
    }
    // A body that ends inside the frame sizes (the client went away, its
    // length as received).
    Multipart whole = whole_form(v, "");
    Request cut = mp_request(whole);
    cut.body.resize(cut.body.find("name=\"FRAMESET2\"") + 22);
    Result r = run(site, cut);
    expect_clean(r);
    EXPECT_EQ(r.out, kIncomplete);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(temp_files(site), std::set<std::string>{});

    // Below level 8 the refusal of the form comes first.
    Multipart low = whole_form(v, "NAME", "taro");
    r = run(site, mp_request(low));
    EXPECT_EQ(r.out, expected_refusal());
    EXPECT_EQ(snapshot(), before);

    // The whole form stores.
    whole = whole_form(v, "");
    r = run(site, mp_request(whole));
    expect_clean(r);
    EXPECT_EQ(head_of(room + "dir.cnf", "TITLEPIC,new.gif,\nBACKPIC1,,\n"), "TITLEPIC,new.gif,\nBACKPIC1,,\n");
    EXPECT_EQ(dir_names(fcg), std::set<std::string>{"new.gif"});
    EXPECT_EQ(read_file(room + "info.txt"), v.info);
}

}  // namespace
