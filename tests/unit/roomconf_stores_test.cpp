// Unit tests of a room's settings file dir.cnf, its loader into a DIR_CONFIG,
// and the room information text info.txt.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "store/keyed_line.h"
#include "roomconf/dir_cnf.h"
#include "roomconf/info_txt.h"
#include "store/datetime.h"
#include "store/fileio.h"
#include "tests/unit/store_tmpdir.h"

using store_test::exists;
using store_test::mode_of;
using store_test::read_all;
using store_test::write_all;

namespace {

// The settings the loader fills.
DIR_CONFIG G_DIR_CONFIG;

class RoomStores : public store_test::TmpDirTest {
protected:
    void SetUp() override {
        store_test::TmpDirTest::SetUp();
        std::filesystem::create_directories(at("12"));
        std::filesystem::create_directories(at("13"));
    }
    std::string cnf() const { return at("12/dir.cnf"); }
    std::string info() const { return at("12/info.txt"); }
};

// ---------------------------------------------------------------- dir.cnf

TEST(DirCnfLine, SplitsKeyAndValueAtCharacterBoundaries) {
    int k, vp, vl;
    ASSERT_EQ(keyed_line_split(KEYED_KEY_VALUE_COMMA, "FRAMESET2,30%,\n", &k, &vp, &vl), 0);
    EXPECT_EQ(k, 9);
    EXPECT_EQ(vp, 10);
    EXPECT_EQ(vl, 3);
    ASSERT_EQ(keyed_line_split(KEYED_KEY_VALUE_COMMA, ",x,", &k, &vp, &vl), 0);
    EXPECT_EQ(k, 0);
    EXPECT_EQ(vl, 1);
    ASSERT_EQ(keyed_line_split(KEYED_KEY_VALUE_COMMA, "BACKPIC1,,", &k, &vp, &vl), 0);
    EXPECT_EQ(vl, 0);
    // 0x81 0x2C is one character: its comma byte splits nothing.
    ASSERT_EQ(keyed_line_split(KEYED_KEY_VALUE_COMMA, "TITLEPIC,a\x81,b,rest", &k, &vp, &vl), 0);
    EXPECT_EQ(vl, 4);
    EXPECT_EQ(keyed_line_split(KEYED_KEY_VALUE_COMMA, "FRAMESET2,30%\n", &k, &vp, &vl), -1);
    EXPECT_EQ(keyed_line_split(KEYED_KEY_VALUE_COMMA, "no comma\n", &k, &vp, &vl), -1);
    EXPECT_EQ(keyed_line_split(KEYED_KEY_VALUE_COMMA, "TITLEPIC,a\x81,\n", &k, &vp, &vl), -1);
}

TEST_F(RoomStores, LoaderOfARoomWithoutFilesGivesTheDefaultsAndLeavesEmptyFiles) {
    std::memset(&G_DIR_CONFIG, 0x41, sizeof G_DIR_CONFIG);
    ASSERT_EQ(b_SET_DIR_CONFIG(12, &G_DIR_CONFIG), 0);
    EXPECT_EQ(G_DIR_CONFIG.ATTACH_MAX, 0);
    EXPECT_STREQ(G_DIR_CONFIG.INFO, "");
    EXPECT_STREQ(G_DIR_CONFIG.TITLEPIC, "");
    EXPECT_STREQ(G_DIR_CONFIG.BACKPIC1, "");
    EXPECT_STREQ(G_DIR_CONFIG.FONTCOLOR3, "");
    EXPECT_STREQ(G_DIR_CONFIG.FRAMESET1, "10%");
    EXPECT_STREQ(G_DIR_CONFIG.FRAMESET2, "40%");
    EXPECT_STREQ(G_DIR_CONFIG.FRAMESET3, "50%");
    EXPECT_TRUE(exists(cnf()));
    EXPECT_EQ(read_all(cnf()), "");
    EXPECT_TRUE(exists(info()));
    EXPECT_EQ(read_all(info()), "");
    EXPECT_FALSE(exists(at("12/dir_cnf.chk")));
    EXPECT_FALSE(exists(at("12/info.chk")));
}

TEST_F(RoomStores, LoaderAppliesEveryEntryOfItsKeysTheLastWinning) {
    write_all(cnf(),
              "TITLEPIC,title.gif,\n"
              "FONTCOLOR1,FF0000,\n"
              "FRAMESET1,,\n"
              "FRAMESET2,30%,\n"
              "FRAMESET3,25%\n"  // no second comma: no entry
              "titlepic,lower.gif,\n"
              "SHARE_USER_PERMIT,1,\n"
              "BACKPIC3,b3.jpg,trailing text\r\n"
              "FONTCOLOR1,0000FF,\n");
    write_all(info(), "Welcome\r\nto room 12");
    write_all(at("13/info.txt"), "Room 13");
    ASSERT_EQ(b_SET_DIR_CONFIG(12, &G_DIR_CONFIG), 0);
    EXPECT_STREQ(G_DIR_CONFIG.TITLEPIC, "title.gif");
    EXPECT_STREQ(G_DIR_CONFIG.FONTCOLOR1, "0000FF");
    EXPECT_STREQ(G_DIR_CONFIG.FRAMESET1, "");
    EXPECT_STREQ(G_DIR_CONFIG.FRAMESET2, "30%");
    EXPECT_STREQ(G_DIR_CONFIG.FRAMESET3, "50%");
    EXPECT_STREQ(G_DIR_CONFIG.BACKPIC3, "b3.jpg");
    EXPECT_STREQ(G_DIR_CONFIG.INFO, "Welcome\r\nto room 12");  // this room's text

    // The single read takes the first of two lines.
    char out[252];
    ASSERT_EQ(Fio_DIR_CONFIG(12, STORE_READ, "FONTCOLOR1", out), 0);
    EXPECT_STREQ(out, "FF0000");
    char permit[100];
    ASSERT_EQ(Fio_DIR_CONFIG(12, STORE_READ, "SHARE_USER_PERMIT", permit), 0);
    EXPECT_STREQ(permit, "1");
    EXPECT_EQ(Fio_DIR_CONFIG(12, STORE_READ, "FRAMESET3", out), -1);
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(exists(at("12/dir_cnf.chk")));
}

TEST_F(RoomStores, RewritesKeepOtherEntriesInPlaceAndDropLinesWithoutAnEntry) {
    const std::string before =
        "SHARE_USER_PERMIT,1,\r\n"
        "FONTCOLOR1,FF0000,\n"
        "FRAMESET2,30%\n"
        "titlepic,lower.gif,\n"
        "TITLEPIC,t.gif,x\n"
        "FONTCOLOR1,00FF00,\n";
    write_all(cnf(), before);

    // Refused operations leave the file byte for byte.
    char v[252] = "0000FF";
    EXPECT_EQ(Fio_DIR_CONFIG(12, STORE_ADD, "FONTCOLOR1", v), -3);
    EXPECT_EQ(Fio_DIR_CONFIG(12, STORE_UPDATE, "BACKPIC1", v), -1);
    EXPECT_EQ(Fio_DIR_CONFIG(12, STORE_DELETE, "BACKPIC1", v), -1);
    EXPECT_EQ(read_all(cnf()), before);
    EXPECT_FALSE(exists(at("12/dir.cnf.tmp")));
    EXPECT_FALSE(exists(at("12/dir_cnf.chk")));

    // The update replaces both lines of the key; the line without its second
    // comma is gone; other keys (the lower-case one too) keep their bytes.
    ASSERT_EQ(Fio_DIR_CONFIG(12, STORE_UPDATE, "FONTCOLOR1", v), 0);
    EXPECT_EQ(read_all(cnf()),
              "SHARE_USER_PERMIT,1,\r\n"
              "FONTCOLOR1,0000FF,\n"
              "titlepic,lower.gif,\n"
              "TITLEPIC,t.gif,x\n"
              "FONTCOLOR1,0000FF,\n");
    char pic[252] = "new.gif";
    ASSERT_EQ(Fio_DIR_CONFIG(12, STORE_UPDATE, "TITLEPIC", pic), 0);
    char bg[252] = "";
    ASSERT_EQ(Fio_DIR_CONFIG(12, STORE_ADD, "BACKPIC1", bg), 0);
    ASSERT_EQ(Fio_DIR_CONFIG(12, STORE_DELETE, "FONTCOLOR1", bg), 0);
    EXPECT_EQ(read_all(cnf()),
              "SHARE_USER_PERMIT,1,\r\n"
              "titlepic,lower.gif,\n"
              "TITLEPIC,new.gif,\n"
              "BACKPIC1,,\n");
    EXPECT_FALSE(exists(at("12/dir_cnf.chk")));

    // Each line written by the store loads back.
    ASSERT_EQ(b_SET_DIR_CONFIG(12, &G_DIR_CONFIG), 0);
    EXPECT_STREQ(G_DIR_CONFIG.TITLEPIC, "new.gif");
    EXPECT_STREQ(G_DIR_CONFIG.BACKPIC1, "");
    EXPECT_EQ(Fio_DIR_CONFIG(12, 7, "TITLEPIC", bg), FIO_BAD_ARGUMENT);
}

TEST_F(RoomStores, UpdateOrAddStoresASettingInAnEmptyRoom) {
    char c[252] = "336699";
    if (Fio_DIR_CONFIG(12, STORE_UPDATE, "FONTCOLOR3", c) != 0) {
        ASSERT_EQ(Fio_DIR_CONFIG(12, STORE_ADD, "FONTCOLOR3", c), 0);
    }
    EXPECT_EQ(read_all(cnf()), "FONTCOLOR3,336699,\n");
    // A value cannot hold a comma or a line end: they become '_' instead of
    // cutting the value or forging another key.
    char bad[252] = "a,b\nSHARE_USER_PERMIT,9";
    ASSERT_EQ(Fio_DIR_CONFIG(12, STORE_UPDATE, "FONTCOLOR3", bad), 0);
    EXPECT_EQ(read_all(cnf()), "FONTCOLOR3,a_b_SHARE_USER_PERMIT_9,\n");
    char permit[100];
    EXPECT_EQ(Fio_DIR_CONFIG(12, STORE_READ, "SHARE_USER_PERMIT", permit), -1);
    // A missing room directory: nothing can be made.
    EXPECT_EQ(Fio_DIR_CONFIG(99, STORE_ADD, "FONTCOLOR3", c), -2);
    EXPECT_EQ(Fio_DIR_CONFIG(99, STORE_READ, "FONTCOLOR3", c), -2);
    EXPECT_EQ(b_SET_DIR_CONFIG(99, &G_DIR_CONFIG), -2);
    EXPECT_FALSE(exists(at("99")));
}

TEST_F(RoomStores, LongValuesAreCutAtACharacterBoundaryToTheirField) {
    // Double-byte characters from the first byte: a cut at 7 or 251 bytes
    // would split one, so one byte less is kept.
    std::string sjis;
    for (int i = 0; i < 200; ++i) sjis += "\x95\x5C";
    write_all(cnf(), "FONTCOLOR1,\x95\x5C\x95\x5C\x95\x5C\x95\x5C,\nTITLEPIC," + sjis + ",\nFRAMESET2,1234567890,\n");
    ASSERT_EQ(b_SET_DIR_CONFIG(12, &G_DIR_CONFIG), 0);
    EXPECT_STREQ(G_DIR_CONFIG.FONTCOLOR1, "\x95\x5C\x95\x5C\x95\x5C");
    EXPECT_EQ(std::string(G_DIR_CONFIG.TITLEPIC), sjis.substr(0, 250));
    EXPECT_STREQ(G_DIR_CONFIG.FRAMESET2, "1234567");
    // The fields after each cut one are intact.
    EXPECT_STREQ(G_DIR_CONFIG.FRAMESET1, "10%");

    char out[100];
    ASSERT_EQ(Fio_DIR_CONFIG(12, STORE_READ, "TITLEPIC", out), 0);
    EXPECT_EQ(std::string(out), sjis.substr(0, 98));
    char one[1];
    ASSERT_EQ(Fio_DIR_CONFIG(12, STORE_READ, "TITLEPIC", one, 1), 0);
    EXPECT_EQ(one[0], '\0');
}

TEST_F(RoomStores, ALineLongerThanTheReadBufferIsOneLine) {
    // Another program's entry whose trailing text goes on beyond 9999 bytes,
    // where it looks like an entry of the loader's keys.
    std::string other = "OTHER,v," + std::string(DIRCNF_LINE_CAP - 1 - 8, 'x') + "TITLEPIC,evil.gif,\n";
    write_all(cnf(), other + "FRAMESET1,20%,\n");
    ASSERT_EQ(b_SET_DIR_CONFIG(12, &G_DIR_CONFIG), 0);
    EXPECT_STREQ(G_DIR_CONFIG.TITLEPIC, "");
    EXPECT_STREQ(G_DIR_CONFIG.FRAMESET1, "20%");
    char v[252] = "30%";
    ASSERT_EQ(Fio_DIR_CONFIG(12, STORE_UPDATE, "FRAMESET1", v), 0);
    // Compared as a truth value: the long line would flood the report.
    EXPECT_TRUE(read_all(cnf()) == other + "FRAMESET1,30%,\n");
    char v2[8];
    ASSERT_EQ(Fio_DIR_CONFIG(12, STORE_READ, "OTHER", v2), 0);
    EXPECT_STREQ(v2, "v");
}

TEST_F(RoomStores, AHeldLockRefusesWritesButTheSettingsReadAsStored) {
    const std::string before = "TITLEPIC,t.gif,\n";
    write_all(cnf(), before);
    write_all(info(), "text");
    write_all(at("12/dir_cnf.chk"), "");
    write_all(at("12/info.chk"), "");
    // A settings update at work never hides the stored settings.
    ASSERT_EQ(b_SET_DIR_CONFIG(12, &G_DIR_CONFIG), 0);
    EXPECT_STREQ(G_DIR_CONFIG.TITLEPIC, "t.gif");
    EXPECT_STREQ(G_DIR_CONFIG.FRAMESET2, "40%");
    EXPECT_STREQ(G_DIR_CONFIG.INFO, "text");
    char v[252] = "x.gif";
    EXPECT_EQ(Fio_DIR_CONFIG(12, STORE_UPDATE, "TITLEPIC", v), -9);
    EXPECT_EQ(Fio_DIR_CONFIG(12, STORE_ADD, "TITLEPIC", v), -9);
    EXPECT_EQ(read_all(cnf()), before);
    EXPECT_TRUE(exists(at("12/dir_cnf.chk")));

    // A lock older than a minute has expired.
    Tm_clock_offset = 62;  // older than a minute (a second of margin: file times may run a tick ahead of the clock)
    EXPECT_EQ(Fio_DIR_CONFIG(12, STORE_UPDATE, "TITLEPIC", v), 0);
    EXPECT_EQ(read_all(cnf()), "TITLEPIC,x.gif,\n");
}

TEST_F(RoomStores, StoresUnderTheLockTheirCallerHoldsLeaveItHeld) {
    ASSERT_EQ(Fio_DIR_CONFIG_lock(12, 1), 0);
    ASSERT_TRUE(exists(at("12/dir_cnf.chk")));
    char v[252] = "sea, \x95\x5C.jpg";
    EXPECT_EQ(Fio_DIR_CONFIG_put(12, "TITLEPIC", v, static_cast<int>(sizeof v)), 0);
    char got[252];
    EXPECT_EQ(Fio_DIR_CONFIG(12, STORE_READ, "TITLEPIC", got), 0);
    EXPECT_STREQ(got, "sea_ \x95\x5C.jpg");
    // Neither call took or released the lock: it is still the caller's.
    EXPECT_TRUE(exists(at("12/dir_cnf.chk")));
    EXPECT_EQ(Fio_DIR_CONFIG_lock(12, 2), 0);
    EXPECT_FALSE(exists(at("12/dir_cnf.chk")));
    EXPECT_EQ(read_all(cnf()), "TITLEPIC,sea_ \x95\x5C.jpg,\n");
}

// ---------------------------------------------------------------- info.txt

TEST_F(RoomStores, InfoReadOfAMissingFileIsEmptyAndLeavesTheFile) {
    char buf[252] = "old";
    ASSERT_EQ(Fio_INFO_TXT(12, STORE_READ, buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_TRUE(exists(info()));
    EXPECT_EQ(read_all(info()), "");
    EXPECT_EQ(mode_of(info()) & 0077, 0u);
    EXPECT_FALSE(exists(at("12/info.chk")));
}

TEST_F(RoomStores, InfoLongTextRoundTripsWithItsLineEnds) {
    std::string text;
    while (text.size() < 2500) text += "line \x95\x5C, & \"q\"\r\n";
    text.resize(2500);
    static char in[4002];
    G_set(in, text.c_str());
    ASSERT_EQ(Fio_INFO_TXT(12, STORE_UPDATE, in), 0);
    EXPECT_EQ(read_all(info()), text);
    EXPECT_EQ(mode_of(info()) & 0077, 0u);
    EXPECT_FALSE(exists(at("12/info.txt.tmp")));
    EXPECT_FALSE(exists(at("12/info.chk")));
    static char out[4002];
    ASSERT_EQ(Fio_INFO_TXT(12, STORE_READ, out), 0);
    EXPECT_EQ(std::string(out), text);
}

TEST_F(RoomStores, InfoWriteLeavesExactlyTheNewText) {
    write_all(info(), std::string(40, 'x'));
    char ten[] = "0123456789";
    ASSERT_EQ(Fio_INFO_TXT(12, STORE_ADD, ten), 0);
    EXPECT_EQ(read_all(info()), "0123456789");
    char empty[4] = "";
    ASSERT_EQ(Fio_INFO_TXT(12, STORE_UPDATE, empty), 0);
    EXPECT_TRUE(exists(info()));
    EXPECT_EQ(read_all(info()), "");
    EXPECT_EQ(Fio_INFO_TXT(12, 0, empty), FIO_BAD_ARGUMENT);
    EXPECT_EQ(Fio_INFO_TXT(12, 5, empty), FIO_BAD_ARGUMENT);
}

TEST_F(RoomStores, InfoDeleteRemovesTheFileOrFindsNone) {
    write_all(info(), "bye");
    char none[4] = "";
    ASSERT_EQ(Fio_INFO_TXT(12, STORE_DELETE, none), 0);
    EXPECT_FALSE(exists(info()));
    EXPECT_FALSE(exists(at("12/info.chk")));
    EXPECT_FALSE(exists(at("12/info.txt.tmp")));
    ASSERT_EQ(Fio_INFO_TXT(12, STORE_DELETE, none), 0);
    EXPECT_FALSE(exists(info()));
}

TEST_F(RoomStores, InfoReadIsCutAtACharacterBoundaryToTheBuffer) {
    std::string text = "ab";
    for (int i = 0; i < 300; ++i) text += "\x95\x5C";
    write_all(info(), text);
    char buf[252];
    ASSERT_EQ(Fio_INFO_TXT(12, STORE_READ, buf), 0);
    // 251 bytes would end inside a character: 250 are kept.
    EXPECT_EQ(std::string(buf), text.substr(0, 250));
    char small[5];
    ASSERT_EQ(Fio_INFO_TXT(12, STORE_READ, small), 0);
    EXPECT_EQ(std::string(small), "ab\x95\x5C");
    // The loader puts the cut text into INFO.
    ASSERT_EQ(b_SET_DIR_CONFIG(12, &G_DIR_CONFIG), 0);
    EXPECT_EQ(std::string(G_DIR_CONFIG.INFO), text.substr(0, 250));
}

TEST_F(RoomStores, InfoHonoursItsLock) {
    write_all(info(), "kept");
    write_all(at("12/info.chk"), "");
    char buf[252] = "mine";
    EXPECT_EQ(Fio_INFO_TXT(12, STORE_UPDATE, buf), -9);
    EXPECT_EQ(Fio_INFO_TXT(12, STORE_DELETE, buf), -9);
    EXPECT_EQ(read_all(info()), "kept");
    EXPECT_TRUE(exists(at("12/info.chk")));
}

}  // namespace
