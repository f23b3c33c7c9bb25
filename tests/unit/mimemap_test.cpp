// Content type lookup of the picture delivery: the extension of a picture path,
// the lines of mimemap.txt, and the whole delivery against files on disk.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include "roomconf/bg_dl.h"
#include "tests/unit/reply_capture.h"

namespace {

std::string ext_of(const std::string& path, int* rc = nullptr) {
    char ext[MIME_EXT_CAP];
    std::memset(ext, 'Z', sizeof ext);
    const int r = Fio_mime_ext(path.c_str(), ext, sizeof ext);
    if (rc) *rc = r;
    return ext;
}

// Result and type of one map line against ext; "-" stands for a passed line.
std::string line_of(const std::string& line, const std::string& ext) {
    char type[MIME_TYPE_CAP] = "-";
    if (Fio_mime_line(line.c_str(), ext.c_str(), type, sizeof type) == 0) return std::string("pass:") + type;
    return std::string("type:") + type;
}

std::string lookup(const std::string& map, const std::string& ext, int* rc = nullptr) {
    char type[MIME_TYPE_CAP];
    std::memset(type, 'Z', sizeof type);
    // The map comes from memory through the same stream reader the delivery uses.
    std::string bytes = map;
    FILE* in = fmemopen(bytes.data(), bytes.size(), "r");
    const int r = in ? Fio_mime_find(in, ext.c_str(), type, sizeof type) : -99;
    if (in) std::fclose(in);
    if (rc) *rc = r;
    return type;
}

TEST(MimeExt, TextAfterTheLastDotOfTheWholePath) {
    int rc = 1;
    EXPECT_EQ(ext_of("/d/12\\fcg\\sea.jpg", &rc), "jpg");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ext_of("/d/12\\fcg\\a.b.GIF"), "GIF");
    // A name without a dot takes what follows a dot in a directory above it.
    EXPECT_EQ(ext_of("/srv/site.x/12\\fcg\\noext", &rc), "x/12\\fcg\\noext");
    EXPECT_EQ(rc, 0);
    // A trailing dot gives an empty extension, which only an empty field matches.
    EXPECT_EQ(ext_of("/d/fcg/name.", &rc), "");
    EXPECT_EQ(rc, 0);
}

TEST(MimeExt, NoDotOrOnlyALeadingDotMeansNoExtension) {
    int rc = 0;
    EXPECT_EQ(ext_of("/d/fcg/noext", &rc), "");
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(ext_of(".gif", &rc), "");
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(ext_of("", &rc), "");
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(ext_of("a.gif", &rc), "gif");
    EXPECT_EQ(rc, 0);
}

TEST(MimeExt, AnExtensionLongerThanItsBufferIsNoExtension) {
    int rc = 1;
    const std::string just(MIME_EXT_CAP - 1, 'e');
    EXPECT_EQ(ext_of("/d/x." + just, &rc), just);
    EXPECT_EQ(rc, 0);
    char ext[MIME_EXT_CAP + 8];
    std::memset(ext, 'Z', sizeof ext);
    const std::string over = "/d/x." + std::string(MIME_EXT_CAP, 'e');
    EXPECT_EQ(Fio_mime_ext(over.c_str(), ext, MIME_EXT_CAP), -2);
    EXPECT_EQ(ext[0], '\0');
    // Nothing written behind the buffer's capacity.
    for (int i = 1; i < MIME_EXT_CAP + 8; ++i) EXPECT_EQ(ext[i], 'Z') << i;
}

TEST(MimeLine, ExtensionFieldComparedWholeAndCaseSensitive) {
    EXPECT_EQ(line_of("gif,image/gif,\n", "gif"), "type:image/gif");
    EXPECT_EQ(line_of("gif,image/gif,\n", "GIF"), "pass:-");
    EXPECT_EQ(line_of("gif,image/gif,\n", "gi"), "pass:-");
    EXPECT_EQ(line_of("gif,image/gif,\n", "gifs"), "pass:-");
    EXPECT_EQ(line_of("jpg,image/jpeg,anything else\r\n", "jpg"), "type:image/jpeg");
}

TEST(MimeLine, EmptyFieldMatchesAllAndLinesWithoutTwoCommasArePassed) {
    EXPECT_EQ(line_of(",application/octet-stream,\n", "png"), "type:application/octet-stream");
    EXPECT_EQ(line_of(",application/octet-stream,\n", ""), "type:application/octet-stream");
    EXPECT_EQ(line_of("gif,image/gif\n", "gif"), "pass:-");
    EXPECT_EQ(line_of("gif image/gif\n", "gif"), "pass:-");
    EXPECT_EQ(line_of("gif,", "gif"), "pass:-");
    EXPECT_EQ(line_of("", "gif"), "pass:-");
    // A matching line with an empty type decides, with the empty type.
    EXPECT_EQ(line_of("gif,,\n", "gif"), "type:");
}

TEST(MimeLine, CommasAreFoundCharacterWise) {
    // 0x81 0x2C is one double-byte character: its second byte is no comma.
    EXPECT_EQ(line_of("gif,image/\x81,x,\n", "gif"), "type:image/\x81,x");
    EXPECT_EQ(line_of("\x95\x5C,text/x,\n", "\x95\x5C"), "type:text/x");
    EXPECT_EQ(line_of("g\x81,if,t,\n", "g\x81,if"), "type:t");
}

TEST(MimeLine, TypeCutToTheCallersCapacity) {
    char type[6];
    std::memset(type, 'Z', sizeof type);
    EXPECT_EQ(Fio_mime_line("gif,image/gif,\n", "gif", type, 4), 1);
    EXPECT_STREQ(type, "ima");
    EXPECT_EQ(type[4], 'Z');
}

TEST(MimeLookup, FirstDecidingLineWins) {
    int rc = 1;
    EXPECT_EQ(lookup("gif,image/gif\ngif,image/png,\n", "gif", &rc), "image/png");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(lookup(",application/octet-stream,\ngif,image/gif,\n", "gif", &rc), "application/octet-stream");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(lookup("jpg,image/jpeg,\npng,image/png,\ngif,image/gif,", "png", &rc), "image/png");
    EXPECT_EQ(lookup("gif,image/gif,\n", "GIF", &rc), "");
    EXPECT_EQ(rc, -2);
    // An empty type stops the search: a later line does not rescue it.
    EXPECT_EQ(lookup("gif,,\ngif,image/gif,\n", "gif", &rc), "");
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(lookup("", "gif", &rc), "");
    EXPECT_EQ(rc, -2);
}

TEST(MimeLookup, LongLinesComeInPiecesOf999Bytes) {
    int rc = 1;
    // The first 999 bytes are one piece; the rest of the line is read as a
    // line of its own, as the line reader returns it.
    const std::string map = std::string(999, 'a') + "gif,image/tail,\n";
    EXPECT_EQ(lookup(map, "gif", &rc), "image/tail");
    EXPECT_EQ(rc, 0);
    const std::string map2 = std::string(998, 'a') + "gif,image/tail,\n";
    EXPECT_EQ(lookup(map2, "gif", &rc), "");
    EXPECT_EQ(rc, -2);
}

// A scratch directory with a picture and a map, and a capture of what the
// delivery writes to standard output.
class MimeDownload : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        char tmpl[] = "/tmp/mimemap_testXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    void write(const std::string& name, const std::string& bytes) {
        std::ofstream f(dir + "/" + name, std::ios::binary);
        f << bytes;
    }

    // Runs the delivery with the two paths and returns what it answered.
    std::string deliver(const std::string& picture, const std::string& map, int* rc) {
        char in[1200], mime[1200];
        std::snprintf(in, sizeof in, "%s", picture.c_str());
        std::snprintf(mime, sizeof mime, "%s", map.c_str());
        return reply_test::capture([&] { *rc = Fio_MimeDownload(in, mime); });
    }
};

std::string all_bytes(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>((i * 7 + i / 256) & 0xFF);
    return s;
}

TEST_F(MimeDownload, PicturesGoOutByteForByteUnderTheMappedType) {
    write("mimemap.txt", "gif,image/gif\njpg,image/jpeg,\ngif,image/png,\n");
    const std::string big = all_bytes(2500);
    write("sea.jpg", big);
    write("empty.gif", "");
    int rc = 1;
    EXPECT_EQ(deliver(dir + "\\sea.jpg", dir + "\\mimemap.txt", &rc), "Content-type: image/jpeg\nX-Content-Type-Options: nosniff\n\n" + big);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(deliver(dir + "/empty.gif", dir + "/mimemap.txt", &rc), "Content-type: image/png\nX-Content-Type-Options: nosniff\n\n");
    EXPECT_EQ(rc, 0);
}

TEST_F(MimeDownload, EveryFailurePrintsNothing) {
    write("mimemap.txt", "gif,image/gif,\njpg,,\n");
    write("LOGO.GIF", "GIF89a");
    write("x.jpg", "jpeg");
    write("x.png", "png");
    write("noext", "data");
    int rc = 0;
    EXPECT_EQ(deliver("", dir + "/mimemap.txt", &rc), "");
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(deliver(dir + "/LOGO.GIF", dir + "/mimemap.txt", &rc), "");
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(deliver(dir + "/x.jpg", dir + "/mimemap.txt", &rc), "");
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(deliver(dir + "/x.png", dir + "/mimemap.txt", &rc), "");
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(deliver(dir + "/x.jpg", dir + "/missing.txt", &rc), "");
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(deliver(dir + "/gone.gif", dir + "/mimemap.txt", &rc), "");
    EXPECT_EQ(rc, -1);
    write("mimemap.txt", "GIF,image/gif,\n");
    EXPECT_EQ(deliver(dir + "/LOGO.GIF", dir + "/mimemap.txt", &rc), "Content-type: image/gif\nX-Content-Type-Options: nosniff\n\nGIF89a");
    EXPECT_EQ(rc, 0);
}

TEST_F(MimeDownload, DeliveryPrintsWhatTheLookupFindsOnArbitraryMaps) {
    // Maps built from the bytes that matter to the parser: the delivery must
    // answer with the type the lookup finds (or nothing) for every one of them.
    write("p.gif", "x");
    std::mt19937 rng(20240607);
    const char alphabet[] = {',', ',', '\n', '\r', 'g', 'i', 'f', '/', '\x81', '\xE0', '\0', 'a'};
    int delivered = 0;
    for (int round = 0; round < 300; ++round) {
        std::string map;
        const int len = static_cast<int>(rng() % (round < 280 ? 60 : 2200));
        for (int i = 0; i < len; ++i) map += alphabet[rng() % sizeof alphabet];
        write("map.txt", map);
        int rc_mem = 0, rc_file = 0;
        const std::string type = lookup(map, "gif", &rc_mem);
        const std::string out = deliver(dir + "/p.gif", dir + "/map.txt", &rc_file);
        ASSERT_EQ(rc_file, rc_mem) << "round " << round;
        ASSERT_EQ(out, rc_mem == 0 ? "Content-type: " + type + "\nX-Content-Type-Options: nosniff\n\nx" : "") << "round " << round;
        if (rc_mem == 0) ++delivered;
    }
    // The maps exercise both outcomes, not just one of them.
    EXPECT_GT(delivered, 30);
    EXPECT_LT(delivered, 270);
}

}  // namespace
