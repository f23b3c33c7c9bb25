// Unit tests of the suite's text master files as the chat keeps them: the
// folder tree, the user list and passwords, personal settings, the system log.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "access/personal_mst.h"
#include "access/system_log.h"
#include "access/tree_mst.h"
#include "access/user_mst.h"
#include "store/datetime.h"
#include "store/fileio.h"
#include "tests/unit/store_tmpdir.h"

using store_test::exists;
using store_test::read_all;
using store_test::write_all;

namespace {

// The records the stores read into and write from.
TREE_DATA tree_rec;
USER_MST user_rec;
SYSTEM_LOG log_rec;

class TextStores : public store_test::TmpDirTest {
protected:
    // Every path under the data directory, to show that a call made nothing.
    std::set<std::string> listing() const {
        std::set<std::string> out;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
            out.insert(e.path().string().substr(dir.size()));
        }
        return out;
    }
    std::string user_dir(const std::string& id) {
        std::filesystem::create_directories(at("user/" + id));
        return at("user/" + id) + "/";
    }
};

TREE_DATA folder(int32_t no, const char* name) {
    TREE_DATA t{};
    t.FOLDER_NO = no;
    G_set(t.NAME, name);
    t.MODE = 3;
    G_set(t.CGI_NAME, "/cgi-bin/velt.cgi?x=1");
    t.ACCESS_LEVEL = 1;
    t.WRITE_LEVEL = 2;
    G_set(t.PIC_FILENAME, "room.gif");
    t.TARGET = 4;
    t.UPW = 5;
    t.SKEY = 6;
    t.ICON_MODE = 7;
    return t;
}

// ---------------------------------------------------------------- tree.mst

TEST(TreeLine, ParsesEveryFieldAndLeadingBlanksAsClass) {
    TREE_DATA t;
    ASSERT_EQ(tree_parse_line("  12,Room \x95\x5C,3,/cgi/velt.cgi?a=b,1,2,p.gif,4,5,6,7,\n", &t), 0);
    EXPECT_EQ(t.CLASS, 2);
    EXPECT_EQ(t.FOLDER_NO, 12);
    EXPECT_STREQ(t.NAME, "Room \x95\x5C");
    EXPECT_EQ(t.MODE, 3);
    EXPECT_STREQ(t.CGI_NAME, "/cgi/velt.cgi?a=b");
    EXPECT_EQ(t.ACCESS_LEVEL, 1);
    EXPECT_EQ(t.WRITE_LEVEL, 2);
    EXPECT_STREQ(t.PIC_FILENAME, "p.gif");
    EXPECT_EQ(t.TARGET, 4);
    EXPECT_EQ(t.UPW, 5);
    EXPECT_EQ(t.SKEY, 6);
    EXPECT_EQ(t.ICON_MODE, 7);
    // Written back, the same two blanks lead the line and it is byte for byte
    // the line read.
    EXPECT_EQ(tree_format_line(t), "  12,Room \x95\x5C,3,/cgi/velt.cgi?a=b,1,2,p.gif,4,5,6,7,\n");
}

TEST(TreeLine, MissingTrailingFieldsReadAsZeroButTheFirstSevenNeedTheirCommas) {
    TREE_DATA t;
    t.TARGET = 99;
    ASSERT_EQ(tree_parse_line("7,Name,0,/c,1,2,pic,\n", &t), 0);
    EXPECT_EQ(t.FOLDER_NO, 7);
    EXPECT_STREQ(t.PIC_FILENAME, "pic");
    EXPECT_EQ(t.TARGET, 0);
    EXPECT_EQ(t.UPW, 0);
    EXPECT_EQ(t.SKEY, 0);
    EXPECT_EQ(t.ICON_MODE, 0);

    // Two of the four given, the last without its comma.
    ASSERT_EQ(tree_parse_line("7,Name,0,/c,1,2,pic,8,9\r\n", &t), 0);
    EXPECT_EQ(t.TARGET, 8);
    EXPECT_EQ(t.UPW, 9);
    EXPECT_EQ(t.SKEY, 0);

    // Empty fields stay zero or empty.
    ASSERT_EQ(tree_parse_line("7,,,,,,,,,,,\n", &t), 0);
    EXPECT_EQ(t.MODE, 0);
    EXPECT_STREQ(t.NAME, "");

    // Only six commas: no record.
    EXPECT_EQ(tree_parse_line("7,Name,0,/c,1,2,pic\n", &t), -1);
    EXPECT_EQ(tree_parse_line("", &t), -1);
}

TEST(TreeLine, CommaSecondByteIsNoSeparatorAndLongTextsAreCut) {
    TREE_DATA t;
    // 0x81 0x2C is one double-byte character: its comma byte splits nothing.
    ASSERT_EQ(tree_parse_line("1,A\x81,B,2,/c,0,0,,\n", &t), 0);
    EXPECT_STREQ(t.NAME, "A\x81,B");
    EXPECT_EQ(t.MODE, 2);
    EXPECT_EQ(tree_format_line(t), "1,A\x81,B,2,/c,0,0,,0,0,0,0,\n");

    std::string long_name(200, 'n');
    ASSERT_EQ(tree_parse_line(("1," + long_name + ",0,/c,0,0,,\n").c_str(), &t), 0);
    EXPECT_EQ(std::string(t.NAME), std::string(81, 'n'));
}

TEST(TreeLine, WrittenTextsCanNeverSplitOrBreakTheLine) {
    TREE_DATA t = folder(5, "a,b\r\nc");
    // A name ending in a lone lead byte would swallow the comma behind it.
    G_set(t.PIC_FILENAME, "x\x95");
    std::string line = tree_format_line(t);
    EXPECT_EQ(line, "5,a_b__c,3,/cgi-bin/velt.cgi?x=1,1,2,x,4,5,6,7,\n");
    TREE_DATA back;
    ASSERT_EQ(tree_parse_line(line.c_str(), &back), 0);
    EXPECT_EQ(back.MODE, 3);
    EXPECT_EQ(back.ICON_MODE, 7);
    // Depth 0 or below writes no blank.
    t.CLASS = -3;
    EXPECT_EQ(tree_format_line(t)[0], '5');
}

TEST_F(TextStores, TreeReadByNumberAndByPositionSkipsNonRecords) {
    write_all(at("tree.mst"),
              "1,Top,0,/a,0,0,,0,0,0,0,\n"
              "2,Six commas only,0,/a,0,0\n"
              "\n"
              " 7,Room seven,1,/cgi/velt.cgi?x,1,2,,\n"
              "  9,Nine,0,/n,0,0,,\r\n");
    ASSERT_EQ(Fio_TREE_DATA(7, STORE_READ, 1, &tree_rec), 0);
    EXPECT_EQ(tree_rec.CLASS, 1);
    EXPECT_STREQ(tree_rec.NAME, "Room seven");

    // Positions count full records only: 1 Top, 2 seven, 3 nine.
    ASSERT_EQ(Fio_TREE_DATA(2, STORE_READ, 2, &tree_rec), 0);
    EXPECT_EQ(tree_rec.FOLDER_NO, 7);
    ASSERT_EQ(Fio_TREE_DATA(3, STORE_READ, 2, &tree_rec), 0);
    EXPECT_EQ(tree_rec.FOLDER_NO, 9);
    EXPECT_EQ(tree_rec.CLASS, 2);

    // Not found: tree_rec keeps what it held.
    EXPECT_EQ(Fio_TREE_DATA(4, STORE_READ, 2, &tree_rec), -1);
    EXPECT_EQ(Fio_TREE_DATA(2, STORE_READ, 1, &tree_rec), -1);
    EXPECT_EQ(tree_rec.FOLDER_NO, 9);
    EXPECT_FALSE(exists(at("tree_mst.chk")));
}

TEST_F(TextStores, TreeReadOfAMissingFileLeavesItEmptyAndTakesNoLock) {
    EXPECT_EQ(Fio_TREE_DATA(1, STORE_READ, 1, &tree_rec), -1);
    EXPECT_TRUE(exists(at("tree.mst")));
    EXPECT_EQ(read_all(at("tree.mst")), "");
    EXPECT_FALSE(exists(at("tree_mst.chk")));
}

TEST_F(TextStores, TreePiecesOfALongLineAreNeverReadAsRecords) {
    // The part of this line beyond the read buffer looks like folder 7.
    std::string line = "5,name," + std::string(TREE_LINE_CAP - 1 - 7, 'n') + "7,evil,0,/e,0,0,pic,\n";
    write_all(at("tree.mst"), line + "8,Eight,0,/8,0,0,,\n");
    EXPECT_EQ(Fio_TREE_DATA(7, STORE_READ, 1, &tree_rec), -1);
    ASSERT_EQ(Fio_TREE_DATA(1, STORE_READ, 2, &tree_rec), 0);
    EXPECT_EQ(tree_rec.FOLDER_NO, 8);
    // A rewrite keeps the long line whole.
    tree_rec = folder(8, "Eight new");
    ASSERT_EQ(Fio_TREE_DATA(8, STORE_UPDATE, 1, &tree_rec), 0);
    // Compared as a truth value: the long line would flood the report.
    EXPECT_TRUE(read_all(at("tree.mst")) == line + tree_format_line(folder(8, "Eight new")));
}

TEST_F(TextStores, TreeAddByNumberAppendsOrRefusesAPresentNumber) {
    const std::string before = "1,Top,0,/a,0,0,,0,0,0,0,\n 7,Seven,0,/s,0,0,,\r\n";
    write_all(at("tree.mst"), before);
    tree_rec = folder(7, "Dup");
    EXPECT_EQ(Fio_TREE_DATA(7, STORE_ADD, 1, &tree_rec), -3);
    EXPECT_EQ(read_all(at("tree.mst")), before);
    EXPECT_FALSE(exists(at("tree.mst.tmp")));
    EXPECT_FALSE(exists(at("tree_mst.chk")));

    tree_rec = folder(8, "Eight");
    tree_rec.CLASS = 2;
    ASSERT_EQ(Fio_TREE_DATA(8, STORE_ADD, 1, &tree_rec), 0);
    EXPECT_EQ(read_all(at("tree.mst")), before + "  8,Eight,3,/cgi-bin/velt.cgi?x=1,1,2,room.gif,4,5,6,7,\n");
    EXPECT_FALSE(exists(at("tree_mst.chk")));

    // The line written by the store reads back as the same folder.
    TREE_DATA expect = tree_rec;
    std::memset(&tree_rec, 0, sizeof tree_rec);
    ASSERT_EQ(Fio_TREE_DATA(8, STORE_READ, 1, &tree_rec), 0);
    EXPECT_EQ(std::memcmp(&expect, &tree_rec, sizeof expect), 0);
}

TEST_F(TextStores, TreeAddByPositionInsertsBeforeOrAppendsPastTheEnd) {
    write_all(at("tree.mst"), "1,A,0,/a,0,0,,\n2,B,0,/b,0,0,,\n");
    tree_rec = folder(10, "First");
    ASSERT_EQ(Fio_TREE_DATA(1, STORE_ADD, 2, &tree_rec), 0);
    tree_rec = folder(11, "Last");
    ASSERT_EQ(Fio_TREE_DATA(99, STORE_ADD, 2, &tree_rec), 0);
    EXPECT_EQ(read_all(at("tree.mst")), tree_format_line(folder(10, "First")) + "1,A,0,/a,0,0,,\n2,B,0,/b,0,0,,\n" +
                                            tree_format_line(folder(11, "Last")));
}

TEST_F(TextStores, TreeUpdateReplacesOnlyTheFirstMatchAndKeepsOtherLinesByteForByte) {
    write_all(at("tree.mst"),
              "1,A,0,/a,0,0,,\r\n"
              "junk with, one comma\n"
              "no comma at all\n"
              "\n"
              "7,Old,0,/o,0,0,,\n"
              "7,Second seven,0,/o,0,0,,\n");
    tree_rec = folder(7, "New");
    ASSERT_EQ(Fio_TREE_DATA(7, STORE_UPDATE, 1, &tree_rec), 0);
    // Lines without a comma are dropped; everything else stays as it was.
    EXPECT_EQ(read_all(at("tree.mst")),
              "1,A,0,/a,0,0,,\r\n"
              "junk with, one comma\n" +
                  tree_format_line(folder(7, "New")) + "7,Second seven,0,/o,0,0,,\n");

    const std::string now = read_all(at("tree.mst"));
    EXPECT_EQ(Fio_TREE_DATA(42, STORE_UPDATE, 1, &tree_rec), -3);
    EXPECT_EQ(Fio_TREE_DATA(42, STORE_DELETE, 1, &tree_rec), -3);
    EXPECT_EQ(Fio_TREE_DATA(9, STORE_DELETE, 2, &tree_rec), -3);
    EXPECT_EQ(read_all(at("tree.mst")), now);
    EXPECT_FALSE(exists(at("tree.mst.tmp")));
}

TEST_F(TextStores, TreeDeleteByPositionCountsEveryLineWithAComma) {
    write_all(at("tree.mst"), "1,A,0,/a,0,0,,\nnot, a record\n3,C,0,/c,0,0,,\n");
    ASSERT_EQ(Fio_TREE_DATA(2, STORE_DELETE, 2, &tree_rec), 0);
    EXPECT_EQ(read_all(at("tree.mst")), "1,A,0,/a,0,0,,\n3,C,0,/c,0,0,,\n");
    tree_rec = folder(3, "C2");
    ASSERT_EQ(Fio_TREE_DATA(2, STORE_UPDATE, 2, &tree_rec), 0);
    EXPECT_EQ(read_all(at("tree.mst")), "1,A,0,/a,0,0,,\n" + tree_format_line(folder(3, "C2")));
}

TEST_F(TextStores, TreeAHeldFreshLockGivesMinus9AndAStaleOneExpires) {
    const std::string before = "7,Seven,0,/s,0,0,,\n";
    write_all(at("tree.mst"), before);
    write_all(at("tree_mst.chk"), "");
    tree_rec = folder(8, "Eight");
    EXPECT_EQ(Fio_TREE_DATA(7, STORE_READ, 1, &tree_rec), -9);
    EXPECT_EQ(Fio_TREE_DATA(8, STORE_ADD, 1, &tree_rec), -9);
    EXPECT_EQ(read_all(at("tree.mst")), before);
    EXPECT_TRUE(exists(at("tree_mst.chk")));  // never removed by the refused call

    Tm_clock_offset = 62;  // older than a minute (a second of margin: file times may run a tick ahead of the clock)
    EXPECT_EQ(Fio_TREE_DATA(7, STORE_READ, 1, &tree_rec), 0);
    EXPECT_FALSE(exists(at("tree_mst.chk")));
}

// ---------------------------------------------------------------- passwords

TEST(Scrambling, KnownValuesKeyUsedBackwardsCyclically) {
    char b[41] = "a";
    f03_encryption(b, 1, "A");  // ~0x61 ^ 0x41 = 0xDF
    EXPECT_STREQ(b, "df");
    G_set(b, "aa");
    f03_encryption(b, 1, "AB");  // 'B' first, then 'A'
    EXPECT_STREQ(b, "dcdf");
    f03_encryption(b, 2, "AB");
    EXPECT_STREQ(b, "aa");

    // A one-character key scrambles every byte with that same character.
    G_set(b, "aaaa");
    f03_encryption(b, 1, "A");
    EXPECT_STREQ(b, "dfdfdfdf");

    // Upper-case digits and stray characters (counted as 0) are read too.
    G_set(b, "DF");
    f03_encryption(b, 2, "A");
    EXPECT_STREQ(b, "a");
    EXPECT_EQ(f03_atocx("a5"), 0xA5);
    EXPECT_EQ(f03_atocx("zz"), 0);
    EXPECT_EQ(f03_atocx(""), 0);

    // An odd digit count ends with its half pair: "d" reads as 0xD0.
    G_set(b, "dfd");
    f03_encryption(b, 2, "A");
    EXPECT_STREQ(b, "an");

    // A clear zero ends the text; an empty key changes nothing.
    G_set(b, "be");  // ~0xBE ^ 0x41 = 0x00
    f03_encryption(b, 2, "A");
    EXPECT_STREQ(b, "");
    G_set(b, "xyz");
    f03_encryption(b, 1, "");
    EXPECT_STREQ(b, "xyz");
}

TEST_F(TextStores, PasswordOf21CharactersIsStoredAs40DigitsAndReadBackAs20) {
    user_dir("Taro");
    std::memset(&user_rec, 0, sizeof user_rec);
    G_set(user_rec.USER_PASS, "abcdefghijklmnopqrstu");
    ASSERT_EQ(std::strlen(user_rec.USER_PASS), 21u);
    ASSERT_EQ(Fio_MST_PASSWORD("Taro", STORE_UPDATE, &user_rec), 0);
    const std::string stored = read_all(at("user/Taro/password.mst"));
    EXPECT_EQ(stored.size(), 40u);
    EXPECT_EQ(stored.find_first_not_of("0123456789abcdef"), std::string::npos);
    char expect[41];
    G_set(expect, "abcdefghijklmnopqrst");
    f03_encryption(expect, 1, "Taro");
    EXPECT_EQ(stored, expect);
    EXPECT_FALSE(exists(at("user/Taro/password.chk")));
    EXPECT_FALSE(exists(at("user/Taro/password.mst.tmp")));

    G_set(user_rec.USER_PASS, "junk");
    ASSERT_EQ(Fio_MST_PASSWORD("Taro", STORE_READ, &user_rec), 0);
    EXPECT_STREQ(user_rec.USER_PASS, "abcdefghijklmnopqrst");

    // The digits depend on the id: another last character, other digits.
    user_dir("Tarp");
    G_set(user_rec.USER_PASS, "secret");
    ASSERT_EQ(Fio_MST_PASSWORD("Taro", STORE_ADD, &user_rec), 0);
    ASSERT_EQ(Fio_MST_PASSWORD("Tarp", STORE_ADD, &user_rec), 0);
    EXPECT_NE(read_all(at("user/Taro/password.mst")), read_all(at("user/Tarp/password.mst")));

    ASSERT_EQ(Fio_MST_PASSWORD("Tarp", STORE_DELETE, &user_rec), 0);
    EXPECT_FALSE(exists(at("user/Tarp/password.mst")));
    EXPECT_FALSE(exists(at("user/Tarp/password.chk")));
    EXPECT_EQ(Fio_MST_PASSWORD("Taro", 9, &user_rec), FIO_BAD_ARGUMENT);
}

TEST_F(TextStores, MissingPasswordFileReadsEmptyAndIsLeftEmpty) {
    user_dir("hanako");
    G_set(user_rec.USER_PASS, "old");
    ASSERT_EQ(Fio_MST_PASSWORD("hanako", STORE_READ, &user_rec), 0);
    EXPECT_STREQ(user_rec.USER_PASS, "");
    EXPECT_TRUE(exists(at("user/hanako/password.mst")));
    EXPECT_EQ(read_all(at("user/hanako/password.mst")), "");
    // No user directory: nothing can be created.
    EXPECT_EQ(Fio_MST_PASSWORD("nobody", STORE_READ, &user_rec), -2);
    EXPECT_FALSE(exists(at("user/nobody")));
}

TEST_F(TextStores, PasswordStoreHonoursItsLock) {
    user_dir("Taro");
    write_all(at("user/Taro/password.mst"), "df");
    write_all(at("user/Taro/password.chk"), "");
    G_set(user_rec.USER_PASS, "keep");
    EXPECT_EQ(Fio_MST_PASSWORD("Taro", STORE_READ, &user_rec), -9);
    EXPECT_EQ(Fio_MST_PASSWORD("Taro", STORE_UPDATE, &user_rec), -9);
    EXPECT_EQ(Fio_MST_PASSWORD("Taro", STORE_DELETE, &user_rec), -9);
    EXPECT_STREQ(user_rec.USER_PASS, "keep");
    EXPECT_EQ(read_all(at("user/Taro/password.mst")), "df");
}

// ---------------------------------------------------------------- user.mst

TEST_F(TextStores, UserLookupIgnoresAsciiCaseAndReturnsTheStoredSpelling) {
    user_dir("Taro");
    write_all(at("user.mst"), "admin\nTaro\r\nHanako\n");
    write_all(at("user/Taro/personal.mst"), "USER_NAME,Taro Yamada\nUSER_LEVEL,20\n");
    for (const char* key : {"TARO", "taro", "Taro", "tArO"}) {
        SCOPED_TRACE(key);
        ASSERT_EQ(Fio_USER_MST(key, STORE_READ, &user_rec), 0);
        EXPECT_STREQ(user_rec.USER_ID, "Taro");
        EXPECT_STREQ(user_rec.USER_NAME, "Taro Yamada");
        EXPECT_EQ(user_rec.USER_LEVEL, 20);
        EXPECT_EQ(user_rec.USER_DISP_DEF, 5);
    }
    EXPECT_FALSE(exists(at("user.chk")));

    // A user without a personal file is found with the loader's defaults.
    user_dir("Hanako");
    ASSERT_EQ(Fio_USER_MST("HANAKO", STORE_READ, &user_rec), 0);
    EXPECT_STREQ(user_rec.USER_ID, "Hanako");
    EXPECT_EQ(user_rec.MODE, 1);
    EXPECT_EQ(user_rec.WRITE_MODE, 1);
    EXPECT_EQ(user_rec.USER_LEVEL, 0);
}

TEST_F(TextStores, UserLookupFoldsOnlyAsciiLetters) {
    // 0x82 0x61 and 0x82 0x41 are two different double-byte characters.
    write_all(at("user.mst"), "\x82\x61user\n");
    user_dir("\x82\x61user");
    EXPECT_EQ(Fio_USER_MST("\x82\x41USER", STORE_READ, &user_rec), -1);
    ASSERT_EQ(Fio_USER_MST("\x82\x61USER", STORE_READ, &user_rec), 0);
    EXPECT_STREQ(user_rec.USER_ID, "\x82\x61user");
}

TEST_F(TextStores, UnknownUserClearsTheRecord) {
    write_all(at("user.mst"), "Taro\n");
    std::memset(&user_rec, 0x55, sizeof user_rec);
    EXPECT_EQ(Fio_USER_MST("Jiro", STORE_READ, &user_rec), -1);
    USER_MST zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(&user_rec, &zero, sizeof zero), 0);
}

TEST_F(TextStores, UserAddDeleteUpdate) {
    user_dir("Jiro");
    user_dir("Taro");
    const std::string before = "Taro\r\nHanako\n";
    write_all(at("user.mst"), before);

    std::memset(&user_rec, 0, sizeof user_rec);
    G_set(user_rec.USER_ID, "TARO");
    EXPECT_EQ(Fio_USER_MST("", STORE_ADD, &user_rec), -3);
    EXPECT_EQ(read_all(at("user.mst")), before);
    EXPECT_EQ(Fio_USER_MST("Saburo", STORE_DELETE, &user_rec), -1);
    EXPECT_EQ(read_all(at("user.mst")), before);
    EXPECT_FALSE(exists(at("user.mst.tmp")));

    // Add: the id is the last line, and the personal fields are written.
    G_set(user_rec.USER_ID, "Jiro");
    G_set(user_rec.USER_NAME, "Jiro, the second");
    user_rec.USER_LEVEL = 30;
    user_rec.MODE = 2;
    ASSERT_EQ(Fio_USER_MST("", STORE_ADD, &user_rec), 0);
    // Kept lines are written back as their text and "\n".
    EXPECT_EQ(read_all(at("user.mst")), "Taro\nHanako\nJiro\n");
    EXPECT_EQ(read_all(at("user/Jiro/personal.mst")),
              "USER_NAME,Jiro, the second\nUSER_LEVEL,30\nE_MAIL_ADDR,\nP_GROUP,0\nUSER_DISP_DEF,0\n"
              "MODE,2\nWRITE_MODE,0\nBBS_FRAME_MODE,0\nTREE_MODE,0\nLANGUAGE,\nPICFILE,\n");
    ASSERT_EQ(Fio_USER_MST("jiro", STORE_READ, &user_rec), 0);
    EXPECT_STREQ(user_rec.USER_NAME, "Jiro, the second");
    EXPECT_EQ(user_rec.MODE, 2);

    // Update by another spelling: the list keeps its line, the record takes
    // its spelling, the personal fields follow.
    G_set(user_rec.USER_ID, "taro");
    user_rec.USER_LEVEL = 100;
    ASSERT_EQ(Fio_USER_MST("", STORE_UPDATE, &user_rec), 0);
    EXPECT_STREQ(user_rec.USER_ID, "Taro");
    EXPECT_EQ(read_all(at("user.mst")), "Taro\nHanako\nJiro\n");
    ASSERT_EQ(Fio_USER_MST("TARO", STORE_READ, &user_rec), 0);
    EXPECT_EQ(user_rec.USER_LEVEL, 100);

    ASSERT_EQ(Fio_USER_MST("HANAKO", STORE_DELETE, &user_rec), 0);
    EXPECT_EQ(read_all(at("user.mst")), "Taro\nJiro\n");
    EXPECT_EQ(Fio_USER_MST("Taro", 0, &user_rec), FIO_BAD_ARGUMENT);
    EXPECT_FALSE(exists(at("user.chk")));
}

TEST_F(TextStores, UserListLineLongerThanTheBufferIsOneLine) {
    // 9999 bytes fill the read buffer; the line's tail "Jiro" must not be
    // taken for a user, and a rewrite carries the line over whole.
    const std::string long_line = std::string(9999, 'x') + "Jiro";
    const std::string before = "Taro\n" + long_line + "\nHanako\n";
    write_all(at("user.mst"), before);
    user_dir("Hanako");
    EXPECT_EQ(Fio_USER_MST("Jiro", STORE_READ, &user_rec), -1);
    ASSERT_EQ(Fio_USER_MST("hanako", STORE_READ, &user_rec), 0);
    EXPECT_STREQ(user_rec.USER_ID, "Hanako");

    EXPECT_EQ(Fio_USER_MST("Jiro", STORE_DELETE, &user_rec), -1);
    EXPECT_EQ(read_all(at("user.mst")), before);
    ASSERT_EQ(Fio_USER_MST("TARO", STORE_DELETE, &user_rec), 0);
    EXPECT_EQ(read_all(at("user.mst")), long_line + "\nHanako\n");
}

TEST_F(TextStores, UserListLockedGivesMinus9) {
    write_all(at("user.mst"), "Taro\n");
    write_all(at("user.chk"), "");
    // A held lock leaves the record as the caller had it (the request entry
    // goes on with the user its login read); it is not emptied.
    std::memset(&user_rec, 0, sizeof user_rec);
    G_set(user_rec.USER_ID, "Taro");
    user_rec.USER_LEVEL = 7;
    EXPECT_EQ(Fio_USER_MST("Taro", STORE_READ, &user_rec), -9);
    EXPECT_STREQ(user_rec.USER_ID, "Taro");
    EXPECT_EQ(user_rec.USER_LEVEL, 7);
    G_set(user_rec.USER_ID, "Jiro");
    EXPECT_EQ(Fio_USER_MST("", STORE_ADD, &user_rec), -9);
    EXPECT_EQ(read_all(at("user.mst")), "Taro\n");
}

TEST_F(TextStores, AUserWhoseSettingsCannotBeReadIsNotFoundWithDefaults) {
    // His level and mode would be the loader's defaults: the read says why
    // it has no user, and keeps only the stored spelling of the id.
    write_all(at("user.mst"), "Taro\nHanako\n");
    write_all(user_dir("Taro") + "personal.mst", "USER_LEVEL,20\nMODE,2\n");
    write_all(at("user/Taro/personal.chk"), "");
    EXPECT_EQ(Fio_USER_MST("taro", STORE_READ, &user_rec), -9);
    USER_MST only_id{};
    G_set(only_id.USER_ID, "Taro");
    EXPECT_EQ(std::memcmp(&user_rec, &only_id, sizeof only_id), 0);
    EXPECT_EQ(Fio_USER_MST("hanako", STORE_READ, &user_rec), -2);  // no directory to hold the file
    EXPECT_STREQ(user_rec.USER_ID, "Hanako");
    EXPECT_EQ(user_rec.MODE, 0);
    EXPECT_FALSE(exists(at("user/Hanako")));
}

TEST_F(TextStores, UnsafeUserIdsAreRefusedAndCreateNothing) {
    std::filesystem::create_directories(at("user"));
    write_all(at("user.mst"), "..\nTaro\n");
    write_all(at("personal.mst"), "USER_LEVEL,100\n");  // what "../" would reach
    const auto before = listing();
    const char* bad[] = {"", ".", "..", "../x", "a/b", "a\\b", "..\\..", "x\x95"};
    for (const char* id : bad) {
        SCOPED_TRACE(id);
        EXPECT_EQ(Fio_USER_MST(id, STORE_READ, &user_rec), -1);
        EXPECT_EQ(Fio_USER_MST(id, STORE_DELETE, &user_rec), -1);
        G_set(user_rec.USER_ID, id);
        EXPECT_EQ(Fio_USER_MST("", STORE_ADD, &user_rec), -1);
        EXPECT_EQ(Fio_USER_MST("", STORE_UPDATE, &user_rec), -1);
        G_set(user_rec.USER_PASS, "pw");
        EXPECT_EQ(Fio_MST_PASSWORD(id, STORE_READ, &user_rec), -1);
        EXPECT_EQ(Fio_MST_PASSWORD(id, STORE_UPDATE, &user_rec), -1);
        EXPECT_EQ(Fio_MST_PASSWORD(id, STORE_DELETE, &user_rec), -1);
        EXPECT_STREQ(user_rec.USER_PASS, "pw");
        char out[32] = "kept";
        EXPECT_EQ(Fio_PERSONAL_MST(id, STORE_READ, "USER_LEVEL", out), -1);
        EXPECT_STREQ(out, "kept");
        EXPECT_EQ(Fio_PERSONAL_MST(id, STORE_ADD, "COLOR", out), -1);
        EXPECT_EQ(Fio_PERSONAL_MST(id, STORE_UPDATE, "COLOR", out), -1);
        EXPECT_EQ(Fio_PERSONAL_MST(id, STORE_DELETE, "COLOR", out), -1);
        std::memset(&user_rec, 0, sizeof user_rec);
        EXPECT_EQ(Fio_PERSONAL_MST_ALL(id, STORE_READ, &user_rec), -1);
        EXPECT_EQ(user_rec.USER_LEVEL, 0);
        EXPECT_EQ(user_rec.USER_DISP_DEF, 5);  // the defaults come first
        EXPECT_EQ(Fio_PERSONAL_MST_ALL(id, STORE_UPDATE, &user_rec), -1);
    }
    // A line end in an id would break the list.
    G_set(user_rec.USER_ID, "Ji\nro");
    EXPECT_EQ(Fio_USER_MST("", STORE_ADD, &user_rec), -1);
    EXPECT_EQ(listing(), before);
    EXPECT_EQ(read_all(at("user.mst")), "..\nTaro\n");
}

// ---------------------------------------------------------------- personal.mst

TEST_F(TextStores, PersonalPutUpdatesAPresentKeyAndAddsAMissingOne) {
    user_dir("Taro");
    write_all(at("user/Taro/personal.mst"), "COLOR,red\r\nLANGUAGE,ja\n");
    char green[] = "green";
    char count[40] = "7";
    EXPECT_EQ(Fio_PERSONAL_MST_put("Taro", "COLOR", green), 0);
    EXPECT_EQ(Fio_PERSONAL_MST_put("Taro", "TOTAL_LOGIN_COUNT", count), 0);
    EXPECT_EQ(read_all(at("user/Taro/personal.mst")), "COLOR,green\nLANGUAGE,ja\nTOTAL_LOGIN_COUNT,7\n");
}

TEST_F(TextStores, PersonalValueHoldsCommasAndLinesWithoutCommaAreDropped) {
    user_dir("Taro");
    write_all(at("user/Taro/personal.mst"), "USER_NAME,Yamada, Taro\r\nstray line\nCOLOR,red\n");
    char out[82];
    ASSERT_EQ(Fio_PERSONAL_MST("Taro", STORE_READ, "USER_NAME", out), 0);
    EXPECT_STREQ(out, "Yamada, Taro");  // without the "\r"
    EXPECT_EQ(Fio_PERSONAL_MST("Taro", STORE_READ, "stray line", out), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(Fio_PERSONAL_MST("Taro", STORE_READ, "COLOR ", out), -1);  // a trailing blank is another name

    char blue[] = "blue";
    ASSERT_EQ(Fio_PERSONAL_MST("Taro", STORE_UPDATE, "COLOR", blue), 0);
    // The untouched line keeps its "\r\n"; the stray line is gone; the new
    // line ends in "\n".
    EXPECT_EQ(read_all(at("user/Taro/personal.mst")), "USER_NAME,Yamada, Taro\r\nCOLOR,blue\n");
    EXPECT_FALSE(exists(at("user/Taro/personal.chk")));
    EXPECT_FALSE(exists(at("user/Taro/personal.mst.tmp")));

    // A read is cut to the caller's field.
    char small[5];
    ASSERT_EQ(Fio_PERSONAL_MST("Taro", STORE_READ, "USER_NAME", small), 0);
    EXPECT_STREQ(small, "Yama");
}

TEST_F(TextStores, TwoModeLinesReadDifferentlyBySingleAndFullRead) {
    user_dir("Taro");
    write_all(at("user/Taro/personal.mst"), "MODE,1\nUSER_NAME,T\nMODE,2\n");
    char out[16];
    ASSERT_EQ(Fio_PERSONAL_MST("Taro", STORE_READ, "MODE", out), 0);
    EXPECT_STREQ(out, "1");
    std::memset(&user_rec, 0, sizeof user_rec);
    ASSERT_EQ(Fio_PERSONAL_MST_ALL("Taro", STORE_READ, &user_rec), 0);
    EXPECT_EQ(user_rec.MODE, 2);
    EXPECT_STREQ(user_rec.USER_NAME, "T");

    char three[] = "3";
    ASSERT_EQ(Fio_PERSONAL_MST("Taro", STORE_UPDATE, "MODE", three), 0);
    EXPECT_EQ(read_all(at("user/Taro/personal.mst")), "MODE,3\nUSER_NAME,T\nMODE,3\n");
    ASSERT_EQ(Fio_PERSONAL_MST("Taro", STORE_DELETE, "MODE", three), 0);
    EXPECT_EQ(read_all(at("user/Taro/personal.mst")), "USER_NAME,T\n");
    EXPECT_EQ(Fio_PERSONAL_MST("Taro", STORE_DELETE, "MODE", three), -1);
}

TEST_F(TextStores, PersonalDefaultsForAMissingFileWhichIsLeftEmpty) {
    user_dir("Taro");
    std::memset(&user_rec, 0, sizeof user_rec);
    ASSERT_EQ(Fio_PERSONAL_MST_ALL("Taro", STORE_READ, &user_rec), 0);
    EXPECT_EQ(user_rec.USER_DISP_DEF, 5);
    EXPECT_EQ(user_rec.MODE, 1);
    EXPECT_EQ(user_rec.WRITE_MODE, 1);
    EXPECT_EQ(user_rec.USER_LEVEL, 0);
    EXPECT_STREQ(user_rec.LANGUAGE, "");
    EXPECT_EQ(read_all(at("user/Taro/personal.mst")), "");
    // Without the user's directory nothing can be opened or made.
    EXPECT_EQ(Fio_PERSONAL_MST_ALL("Ghost", STORE_READ, &user_rec), -2);
    char v[] = "1";
    EXPECT_EQ(Fio_PERSONAL_MST("Ghost", STORE_ADD, "COLOR", v), -2);
    EXPECT_FALSE(exists(at("user/Ghost")));
}

TEST_F(TextStores, LoginCountUpdateOrAdd) {
    user_dir("Taro");
    write_all(at("user/Taro/personal.mst"), "USER_NAME,T\n");
    char buff[40] = "1";
    EXPECT_EQ(Fio_PERSONAL_MST("Taro", STORE_UPDATE, "TOTAL_LOGIN_COUNT", buff), -1);
    EXPECT_EQ(read_all(at("user/Taro/personal.mst")), "USER_NAME,T\n");
    ASSERT_EQ(Fio_PERSONAL_MST("Taro", STORE_ADD, "TOTAL_LOGIN_COUNT", buff), 0);
    EXPECT_EQ(Fio_PERSONAL_MST("Taro", STORE_ADD, "TOTAL_LOGIN_COUNT", buff), -3);
    EXPECT_EQ(read_all(at("user/Taro/personal.mst")), "USER_NAME,T\nTOTAL_LOGIN_COUNT,1\n");
}

TEST_F(TextStores, PersonalValueWithALineEndCannotForgeASetting) {
    user_dir("Taro");
    // A last line written without its line end does not swallow the next.
    write_all(at("user/Taro/personal.mst"), "USER_LEVEL,10");
    char colour[] = "red\nUSER_LEVEL,100";
    ASSERT_EQ(Fio_PERSONAL_MST("Taro", STORE_ADD, "COLOR", colour), 0);
    EXPECT_EQ(read_all(at("user/Taro/personal.mst")), "USER_LEVEL,10\nCOLOR,red_USER_LEVEL,100\n");
    std::memset(&user_rec, 0, sizeof user_rec);
    ASSERT_EQ(Fio_PERSONAL_MST_ALL("Taro", STORE_READ, &user_rec), 0);
    EXPECT_EQ(user_rec.USER_LEVEL, 10);

    // Nor does the part of an overlong value beyond the read buffer.
    std::string longer = std::string(9999 - 6, 'x') + "USER_LEVEL,100";
    write_all(at("user/Taro/personal.mst"), "COLOR," + longer + "\nUSER_LEVEL,10\n");
    ASSERT_EQ(Fio_PERSONAL_MST_ALL("Taro", STORE_READ, &user_rec), 0);
    EXPECT_EQ(user_rec.USER_LEVEL, 10);
    char out[40];
    EXPECT_EQ(Fio_PERSONAL_MST("Taro", STORE_READ, "USER_LEVEL", out), 0);
    EXPECT_STREQ(out, "10");
}

TEST_F(TextStores, PersonalStoreHonoursItsLock) {
    user_dir("Taro");
    write_all(at("user/Taro/personal.mst"), "COLOR,red\n");
    write_all(at("user/Taro/personal.chk"), "");
    char out[16] = "kept";
    EXPECT_EQ(Fio_PERSONAL_MST("Taro", STORE_READ, "COLOR", out), -9);
    EXPECT_STREQ(out, "kept");
    EXPECT_EQ(Fio_PERSONAL_MST("Taro", STORE_UPDATE, "COLOR", out), -9);
    std::memset(&user_rec, 0, sizeof user_rec);
    EXPECT_EQ(Fio_PERSONAL_MST_ALL("Taro", STORE_READ, &user_rec), -9);
    EXPECT_EQ(user_rec.MODE, 1);
    EXPECT_EQ(read_all(at("user/Taro/personal.mst")), "COLOR,red\n");
}

// ---------------------------------------------------------------- system.log

SYSTEM_LOG login_record(const char* agent) {
    SYSTEM_LOG r;
    std::memset(&r, 0, sizeof r);
    G_set(r.LOG_DATE, "2024/05/06 07:08");
    G_set(r.USER_ID, "Taro");
    G_set(r.USER_NAME, "\x95\x5C Taro");
    G_set(r.ACTION, "login");
    G_set(r.REMOTE_ADDR, "10.0.0.1");
    G_set(r.USER_AGENT, agent);
    return r;
}

TEST_F(TextStores, LogAppendCreatesTheFileAndTheLineReadsBack) {
    log_rec = login_record("Mozilla/5.0");
    ASSERT_EQ(Fio_SYSTEM_LOG(0, STORE_ADD, &log_rec), 0);
    EXPECT_EQ(read_all(at("system.log")), "2024/05/06 07:08,Taro,\x95\x5C Taro,login,10.0.0.1,Mozilla/5.0,\n");
    EXPECT_FALSE(exists(at("system.chk")));
    EXPECT_FALSE(exists(at("system.log.tmp")));

    // A comma in a browser identification no longer shifts the fields.
    log_rec = login_record("Mozilla/5.0 (X11, Linux)\r\nX: y");
    ASSERT_EQ(Fio_SYSTEM_LOG(0, STORE_ADD, &log_rec), 0);
    std::memset(&log_rec, 0, sizeof log_rec);
    ASSERT_EQ(Fio_SYSTEM_LOG(2, STORE_READ, &log_rec), 0);
    EXPECT_STREQ(log_rec.ACTION, "login");
    EXPECT_STREQ(log_rec.USER_NAME, "\x95\x5C Taro");
    EXPECT_STREQ(log_rec.USER_AGENT, "Mozilla/5.0 (X11_ Linux)__X: y");
    EXPECT_EQ(Fio_SYSTEM_LOG(3, STORE_READ, &log_rec), -1);
}

TEST_F(TextStores, LogReadCountsFullRecordsOnly) {
    write_all(at("system.log"),
              "d1,u1,n1,a1,r1,g1,\n"
              "d2,u2,n2,a2,r2,\n"  // five commas: no record
              "d3,u3,n3,a3,r3,g3,\n"
              "d4,u4,n4,a4,r4,g4,\n");
    ASSERT_EQ(Fio_SYSTEM_LOG(3, STORE_READ, &log_rec), 0);
    EXPECT_STREQ(log_rec.USER_ID, "u4");
    ASSERT_EQ(Fio_SYSTEM_LOG(-5, STORE_READ, &log_rec), 0);
    EXPECT_STREQ(log_rec.USER_ID, "u1");
    EXPECT_EQ(Fio_SYSTEM_LOG(4, STORE_READ, &log_rec), -1);
}

TEST_F(TextStores, LogDeleteAndUpdateCountEveryLine) {
    const std::string log = "d1,u1,n1,a1,r1,g1,\r\nshort line\nd3,u3,n3,a3,r3,g3,\n";
    write_all(at("system.log"), log);
    EXPECT_EQ(Fio_SYSTEM_LOG(4, STORE_DELETE, &log_rec), -3);
    EXPECT_EQ(Fio_SYSTEM_LOG(4, STORE_UPDATE, &log_rec), -3);
    EXPECT_EQ(read_all(at("system.log")), log);
    EXPECT_FALSE(exists(at("system.log.tmp")));

    ASSERT_EQ(Fio_SYSTEM_LOG(2, STORE_DELETE, &log_rec), 0);
    EXPECT_EQ(read_all(at("system.log")), "d1,u1,n1,a1,r1,g1,\r\nd3,u3,n3,a3,r3,g3,\n");
    log_rec = login_record("UA");
    ASSERT_EQ(Fio_SYSTEM_LOG(0, STORE_UPDATE, &log_rec), 0);  // 1 or less: the first line
    EXPECT_EQ(read_all(at("system.log")),
              syslog_format_line(login_record("UA")) + "d3,u3,n3,a3,r3,g3,\n");
}

TEST_F(TextStores, LogAppendAfterALastLineWithoutLineEndKeepsBothLines) {
    write_all(at("system.log"), "d1,u1,n1,a1,r1,g1,");
    write_all(at("system.chk"), "");
    log_rec = login_record("UA");
    EXPECT_EQ(Fio_SYSTEM_LOG(0, STORE_ADD, &log_rec), -9);
    EXPECT_EQ(read_all(at("system.log")), "d1,u1,n1,a1,r1,g1,");
    std::remove(at("system.chk").c_str());
    ASSERT_EQ(Fio_SYSTEM_LOG(0, STORE_ADD, &log_rec), 0);
    EXPECT_EQ(read_all(at("system.log")), "d1,u1,n1,a1,r1,g1,\n" + syslog_format_line(login_record("UA")));
}

}  // namespace
