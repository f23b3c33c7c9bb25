// End-to-end runs of the picture jobs BG1_DL to BG4_DL: the bytes of a room's
// pictures under the type of the site's mimemap.txt, and "not found" for every
// failure, symbolic links included.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "tests/e2e/harness.h"
#include "tests/e2e/room_site.h"

using namespace e2e;
using namespace roomsite;

namespace {

// The answer to every picture request that finds no picture to deliver.
const char* const kNoPicture = "Status: 404 Not Found\nContent-Type: text/plain\n\nNo such picture.\n";

// Every byte value, CR LF and zero bytes included.
std::string binary(std::size_t n, int salt) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>((i * 31 + salt + i / 256) & 0xFF);
    return s;
}

class Pictures : public ::testing::Test {
protected:
    void SetUp() override { r = make_room("Pictures", 0, 0, 0); }
    void TearDown() override { remove_site(r.site); }

    void map(const std::string& text) { write_file(r.site.data_dir + "mimemap.txt", text); }
    void cnf(const std::string& text) { write_file(r.room_dir + "dir.cnf", text); }
    void picture(const std::string& name, const std::string& bytes) { write_file(r.fcg_dir + name, bytes); }

    // Runs job and checks the run ended cleanly; returns what it printed.
    std::string fetch(const std::string& job) {
        const Result res = get(r.site, query(r, job));
        expect_clean(res);
        return res.out;
    }
    RoomSite r;
};

TEST_F(Pictures, EachJobDeliversItsOwnPictureByteForByte) {
    map("gif,image/gif\njpg,image/jpeg,\ngif,image/png,\npng,image/png,\nbmp,image/bmp,\n");
    cnf("BACKPIC1,sea.jpg,\nBACKPIC2,empty.gif,\nBACKPIC3,list.png,\nTITLEPIC,title.bmp,\n");
    const std::string sea = binary(2500, 1);  // three reads: 1000, 1000 and 500 bytes
    const std::string list = binary(1000, 2);
    const std::string title = binary(1, 3);
    picture("sea.jpg", sea);
    picture("empty.gif", "");
    picture("list.png", list);
    picture("title.bmp", title);

    EXPECT_EQ(fetch("BG1_DL"), "Content-type: image/jpeg\nX-Content-Type-Options: nosniff\n\n" + sea);
    // The first gif line has no second comma and is passed over.
    EXPECT_EQ(fetch("BG2_DL"), "Content-type: image/png\nX-Content-Type-Options: nosniff\n\n");
    EXPECT_EQ(fetch("BG3_DL"), "Content-type: image/png\nX-Content-Type-Options: nosniff\n\n" + list);
    EXPECT_EQ(fetch("BG4_DL"), "Content-type: image/bmp\nX-Content-Type-Options: nosniff\n\n" + title);
    // Delivery changes nothing on disk.
    EXPECT_EQ(read_file(r.fcg_dir + "sea.jpg"), sea);
    EXPECT_EQ(read_file(r.fcg_dir + "empty.gif"), "");
}

TEST_F(Pictures, ExtensionsAreCaseSensitive) {
    map("gif,image/gif,\n");
    cnf("TITLEPIC,LOGO.GIF,\n");
    const std::string logo("GIF89a\x01\x00", 8);
    picture("LOGO.GIF", logo);
    EXPECT_EQ(fetch("BG4_DL"), kNoPicture);
    map("gif,image/gif,\nGIF,image/gif,\n");
    EXPECT_EQ(fetch("BG4_DL"), "Content-type: image/gif\nX-Content-Type-Options: nosniff\n\n" + logo);
}

TEST_F(Pictures, AnEmptyExtensionFieldMatchesEveryPicture) {
    map(",application/octet-stream,\njpg,image/jpeg,\n");
    cnf("BACKPIC1,sea.jpg,\nBACKPIC2,noext,\n");
    picture("sea.jpg", "jpegdata");
    picture("noext", "raw");
    EXPECT_EQ(fetch("BG1_DL"), "Content-type: application/octet-stream\nX-Content-Type-Options: nosniff\n\njpegdata");
    // A name without a dot has no extension here (no dot in the directories
    // of the test site either): no type.
    ASSERT_EQ(r.site.data_dir.find('.'), std::string::npos);
    EXPECT_EQ(fetch("BG2_DL"), kNoPicture);
}

TEST_F(Pictures, DoubleByteNamesAndLongExtensions) {
    map(",image/x-any,\n");
    // A name whose double-byte character ends in 0x5C: the byte is part of the
    // character, not a directory separator.
    const std::string sjis = "\x95\x5C.gif";
    picture(sjis, "sjis");
    const std::string ext99(99, 'e');
    const std::string ext100(100, 'e');
    picture("a." + ext99, "ninety-nine");
    picture("a." + ext100, "one hundred");
    cnf("BACKPIC1," + sjis + ",\nBACKPIC2,a." + ext99 + ",\nBACKPIC3,a." + ext100 + ",\n");
    EXPECT_EQ(fetch("BG1_DL"), "Content-type: image/x-any\nX-Content-Type-Options: nosniff\n\nsjis");
    EXPECT_EQ(fetch("BG2_DL"), "Content-type: image/x-any\nX-Content-Type-Options: nosniff\n\nninety-nine");
    // An extension longer than its 99 bytes is no extension: no type at all.
    EXPECT_EQ(fetch("BG3_DL"), kNoPicture);
}

TEST_F(Pictures, EveryFailureAnswersNotFound) {
    map("gif,image/gif,\njpg,,\n");
    cnf("BACKPIC1,a.gif,\nBACKPIC2,,\nBACKPIC3,gone.gif,\nTITLEPIC,t.jpg,\n");
    picture("a.gif", "GIF");
    picture("t.jpg", "JPG");
    EXPECT_EQ(fetch("BG1_DL"), "Content-type: image/gif\nX-Content-Type-Options: nosniff\n\nGIF");
    EXPECT_EQ(fetch("BG2_DL"), kNoPicture);  // picture not set
    EXPECT_EQ(fetch("BG3_DL"), kNoPicture);  // picture file removed
    EXPECT_EQ(fetch("BG4_DL"), kNoPicture);  // the map gives an empty type
    // A directory standing where the picture should be.
    make_dir(r.fcg_dir + "d.gif");
    cnf("BACKPIC1,d.gif,\n");
    EXPECT_EQ(fetch("BG1_DL"), kNoPicture);
    // No map at all.
    cnf("BACKPIC1,a.gif,\n");
    std::remove((r.site.data_dir + "mimemap.txt").c_str());
    EXPECT_EQ(fetch("BG1_DL"), kNoPicture);
    EXPECT_FALSE(file_exists(r.site.data_dir + "mimemap.txt"));
}

TEST_F(Pictures, NamesThatLeaveThePictureDirectoryAreRefused) {
    // dir.cnf is shared with the suite; a name carrying directories must not
    // reach files outside the room's picture directory.
    map(",application/octet-stream,\n");
    write_file(r.room_dir + "secret.gif", "room file");
    const std::string key_file = "../../user/" + r.uid + "/skey.mst";
    cnf("BACKPIC1,../secret.gif,\nBACKPIC2,..\\secret.gif,\nBACKPIC3," + key_file + ",\nTITLEPIC,..,\n");
    EXPECT_EQ(fetch("BG1_DL"), kNoPicture);
    EXPECT_EQ(fetch("BG2_DL"), kNoPicture);
    EXPECT_EQ(fetch("BG3_DL"), kNoPicture);
    EXPECT_EQ(fetch("BG4_DL"), kNoPicture);
    // The same picture under a plain name is delivered.
    picture("secret.gif", "pic");
    cnf("BACKPIC1,secret.gif,\n");
    EXPECT_EQ(fetch("BG1_DL"), "Content-type: application/octet-stream\nX-Content-Type-Options: nosniff\n\npic");
}

TEST_F(Pictures, OnlyUsersWithAccessGetThePicture) {
    map("gif,image/gif,\n");
    cnf("BACKPIC1,a.gif,\n");
    picture("a.gif", "GIF");
    // A wrong session key gets the session error page, never the picture.
    const Result wrong = get(r.site, query(r, "BG1_DL", "", "", "112"));
    expect_clean(wrong);
    EXPECT_EQ(wrong.out.find("GIF"), std::string::npos);
    EXPECT_EQ(wrong.out.find("Content-type: image/gif"), std::string::npos);
    // A user without access to the folder gets no picture: access is refused.
    RoomSite closed = make_room("Closed", 0, 5, 5);
    write_file(closed.site.data_dir + "mimemap.txt", "gif,image/gif,\n");
    write_file(closed.room_dir + "dir.cnf", "BACKPIC1,a.gif,\n");
    write_file(closed.fcg_dir + "a.gif", "GIF");
    const Result res = get(closed.site, query(closed, "BG1_DL"));
    expect_clean(res);
    EXPECT_EQ(res.out, e2e::NO_ACCESS);
    remove_site(closed.site);
}

TEST_F(Pictures, ShippedMapCoversTheUsualPictureTypes) {
    map(read_file(std::string(VELT_SOURCE_DIR) + "/site/mimemap.txt"));
    struct Case {
        const char* name;
        const char* type;
    };
    const Case cases[] = {{"a.gif", "image/gif"},   {"a.jpg", "image/jpeg"}, {"a.jpeg", "image/jpeg"},
                          {"a.png", "image/png"},   {"a.bmp", "image/bmp"},  {"a.webp", "image/webp"},
                          {"LOGO.GIF", "image/gif"}, {"A.JPG", "image/jpeg"}, {"A.PNG", "image/png"}};
    for (const Case& c : cases) {
        picture(c.name, std::string("bytes of ") + c.name);
        cnf(std::string("TITLEPIC,") + c.name + ",\n");
        EXPECT_EQ(fetch("BG4_DL"), std::string("Content-type: ") + c.type + "\nX-Content-Type-Options: nosniff\n\nbytes of " + c.name) << c.name;
    }
    // Pictures that can carry scripts, and other files, get no type.
    for (const char* name : {"a.svg", "a.html", "a.txt", "ok"}) {
        picture(name, "<svg onload=alert(1)>");
        cnf(std::string("TITLEPIC,") + name + ",\n");
        EXPECT_EQ(fetch("BG4_DL"), kNoPicture) << name;
    }
}

TEST_F(Pictures, SymbolicLinksAndOtherFilesAreNoPictures) {
    map("png,image/png,\n");
    const std::string secret = "SECRET-PASSWORD-BYTES";
    write_file(r.site.data_dir + "user/" + r.uid + "/password.mst", secret);
    make_dir(r.room_dir + "elsewhere");
    write_file(r.room_dir + "elsewhere/t.png", secret);
    cnf("TITLEPIC,t.png,\n");
    const std::string fcg = r.fcg_dir.substr(0, r.fcg_dir.size() - 1);
    const std::string pic = fcg + "/t.png";
    struct Plant {
        const char* what;
        std::function<int()> make;
    };
    const Plant plants[] = {
        {"a link to another user's password file",
         [&] { make_dir(fcg); return symlink(("../../user/" + r.uid + "/password.mst").c_str(), pic.c_str()); }},
        {"a picture directory that is a link", [&] { return symlink((r.room_dir + "elsewhere").c_str(), fcg.c_str()); }},
        {"a pipe", [&] { make_dir(fcg); return mkfifo(pic.c_str(), 0600); }},
        {"a directory", [&] { make_dir(pic); return 0; }},
    };
    for (const Plant& p : plants) {
        ASSERT_EQ(std::system(("rm -rf '" + fcg + "'").c_str()), 0);
        ASSERT_EQ(p.make(), 0) << p.what;
        const std::string out = fetch("BG4_DL");
        EXPECT_EQ(out, kNoPicture) << p.what;
        EXPECT_EQ(out.find(secret), std::string::npos) << p.what;
    }
    // The same bytes as a picture of the room are delivered.
    ASSERT_EQ(std::system(("rm -rf '" + fcg + "'").c_str()), 0);
    make_dir(fcg);
    picture("t.png", secret);
    EXPECT_EQ(fetch("BG4_DL"), "Content-type: image/png\nX-Content-Type-Options: nosniff\n\n" + secret);
}

}  // namespace
