// The site configuration reader and the message table loader: defaults, line
// splitting, cuts to capacity, sections and message numbers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "settings/strdef.h"
#include "settings/sysinfo.h"

namespace {

// The records the loaders fill (the store layer reads SYSINFO's data
// directory and time correction where they stand, so they live on).
SYSINFO_REC SYSINFO;
STRDEF_REC STRDEF;

class TempFile {
public:
    explicit TempFile(const std::string& bytes) {
        char p[] = "/tmp/velt-settings-XXXXXX";
        const int fd = mkstemp(p);
        path_ = p;
        if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            ADD_FAILURE() << "cannot write " << path_;
        }
        if (fd >= 0) close(fd);
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

int load_ini(const std::string& text) {
    TempFile f(text);
    return SysFileOpen(f.path(), &SYSINFO);
}

void expect_defaults() {
    EXPECT_STREQ(SYSINFO.SITE_ID, "");
    EXPECT_STREQ(SYSINFO.LANGUAGE, "");
    EXPECT_STREQ(SYSINFO.CGI_FILE_NAME, "");
    EXPECT_STREQ(SYSINFO.CG_FILE_PATH, "");
    EXPECT_STREQ(SYSINFO.CG_FILE_WEB_PATH, "");
    EXPECT_STREQ(SYSINFO.DATA_FILE_PATH, "");
    EXPECT_STREQ(SYSINFO.BACK_GIF, "");
    EXPECT_STREQ(SYSINFO.LOG_DATE, "");
    EXPECT_EQ(SYSINFO.DATETIME, 1);
    EXPECT_EQ(SYSINFO.IECOLS, 80);
    EXPECT_EQ(SYSINFO.NSCOLS, 60);
    EXPECT_EQ(SYSINFO.ROWS, 8);
    EXPECT_EQ(SYSINFO.MAX_CONTENTS, 4000);
    EXPECT_STREQ(SYSINFO.LOGOFF_URL, "");
    EXPECT_STREQ(SYSINFO.LOGIN_ERR_URL, "");
    EXPECT_STREQ(SYSINFO.FRAME_DIVIDE, "20%");
    EXPECT_EQ(SYSINFO.INITIAL_GP, 0);
    EXPECT_EQ(SYSINFO.ATTACHED_FILE_LIMIT, 10000000);
    EXPECT_STREQ(SYSINFO.TIME_CORRECT, "");
    EXPECT_STREQ(SYSINFO.MAILER, "");
}

// Fills every byte of the record, so that a missing default shows.
void scribble_sysinfo() { std::memset(&SYSINFO, 'q', sizeof SYSINFO); }

TEST(SysFileOpen, MissingFileLeavesDefaults) {
    scribble_sysinfo();
    EXPECT_EQ(SysFileOpen("/nonexistent-velt/zepa.ini", &SYSINFO), -1);
    expect_defaults();
}

TEST(SysFileOpen, EmptyFileOrHeaderOnlyGivesDefaults) {
    scribble_sysinfo();
    EXPECT_EQ(load_ini(""), 0);
    expect_defaults();
    scribble_sysinfo();
    EXPECT_EQ(load_ini("***** ZEPA (Pure CGI System) Configuration file *****,,\n"), 0);
    expect_defaults();
}

TEST(SysFileOpen, ShippedSampleIsCanonicalAndComplete) {
    std::FILE* f = std::fopen(VELT_SOURCE_DIR "/site/zepa.ini", "r");
    ASSERT_NE(f, nullptr);
    const char* order[] = {"SITE_ID", "CGI_FILE_NAME", "LANGUAGE", "CG_FILE_PATH", "CG_FILE_WEB_PATH",
                           "DATA_FILE_PATH", "BACK_GIF", "LOG_DATE", "DATETIME", "IECOLS", "NSCOLS", "ROWS",
                           "MAX_CONTENTS", "LOGOFF_URL", "LOGIN_ERR_URL", "FRAME_DIVIDE", "INITIAL_GP",
                           "ATTACHED_FILE_LIMIT", "TIME_CORRECT", "MAILER"};
    char line[1000];
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "***** ZEPA (Pure CGI System) Configuration file *****,,\n");
    for (const char* key : order) {
        ASSERT_NE(std::fgets(line, sizeof line, f), nullptr) << key;
        const std::string s(line);
        EXPECT_EQ(s.rfind(std::string(key) + ",", 0), 0u) << s;
        EXPECT_EQ(s.substr(s.size() - 2), ",\n") << s;
    }
    EXPECT_EQ(std::fgets(line, sizeof line, f), nullptr);
    std::fclose(f);

    EXPECT_EQ(SysFileOpen(VELT_SOURCE_DIR "/site/zepa.ini", &SYSINFO), 0);
    EXPECT_STREQ(SYSINFO.SITE_ID, "zepa1");
    EXPECT_STREQ(SYSINFO.LANGUAGE, "japanese");
    EXPECT_STREQ(SYSINFO.DATA_FILE_PATH, "/var/lib/zepa/data/");
    EXPECT_STREQ(SYSINFO.FRAME_DIVIDE, "20%");
    EXPECT_EQ(SYSINFO.ATTACHED_FILE_LIMIT, 10000000);
    EXPECT_STREQ(SYSINFO.MAILER, "");
}

TEST(SysFileOpen, EveryKeyIsRead) {
    EXPECT_EQ(load_ini("MAILER,m,\nTIME_CORRECT,+09:00,\nATTACHED_FILE_LIMIT,500,\nINITIAL_GP,3,\n"
                       "FRAME_DIVIDE,30%,\nLOGIN_ERR_URL,le,\nLOGOFF_URL,lo,\nMAX_CONTENTS,10,\nROWS,4,\n"
                       "NSCOLS,5,\nIECOLS,6,\nDATETIME,0,\nLOG_DATE,1,\nBACK_GIF,b.gif,\n"
                       "DATA_FILE_PATH,/d/,\nCG_FILE_WEB_PATH,/w/,\nCG_FILE_PATH,/c/,\nLANGUAGE,english,\n"
                       "CGI_FILE_NAME,z.cgi,\nSITE_ID,s1,\n"),
              0);
    EXPECT_STREQ(SYSINFO.SITE_ID, "s1");
    EXPECT_STREQ(SYSINFO.LANGUAGE, "english");
    EXPECT_STREQ(SYSINFO.CGI_FILE_NAME, "z.cgi");
    EXPECT_STREQ(SYSINFO.CG_FILE_PATH, "/c/");
    EXPECT_STREQ(SYSINFO.CG_FILE_WEB_PATH, "/w/");
    EXPECT_STREQ(SYSINFO.DATA_FILE_PATH, "/d/");
    EXPECT_STREQ(SYSINFO.BACK_GIF, "b.gif");
    EXPECT_STREQ(SYSINFO.LOG_DATE, "1");
    EXPECT_EQ(SYSINFO.DATETIME, 0);
    EXPECT_EQ(SYSINFO.IECOLS, 6);
    EXPECT_EQ(SYSINFO.NSCOLS, 5);
    EXPECT_EQ(SYSINFO.ROWS, 4);
    EXPECT_EQ(SYSINFO.MAX_CONTENTS, 10);
    EXPECT_STREQ(SYSINFO.LOGOFF_URL, "lo");
    EXPECT_STREQ(SYSINFO.LOGIN_ERR_URL, "le");
    EXPECT_STREQ(SYSINFO.FRAME_DIVIDE, "30%");
    EXPECT_EQ(SYSINFO.INITIAL_GP, 3);
    EXPECT_EQ(SYSINFO.ATTACHED_FILE_LIMIT, 500);
    EXPECT_STREQ(SYSINFO.TIME_CORRECT, "+09:00");
    EXPECT_STREQ(SYSINFO.MAILER, "m");
}

TEST(SysFileOpen, EmptyFieldsVanish) {
    // key,, keeps the default; key,,value, sets the value; ,,SITE_ID,x, has
    // SITE_ID as its key.
    EXPECT_EQ(load_ini("FRAME_DIVIDE,,\nBACK_GIF,,b.gif,\n,,SITE_ID,x,\n,,,\n\nROWS\n"), 0);
    EXPECT_STREQ(SYSINFO.FRAME_DIVIDE, "20%");
    EXPECT_STREQ(SYSINFO.BACK_GIF, "b.gif");
    EXPECT_STREQ(SYSINFO.SITE_ID, "x");
    EXPECT_EQ(SYSINFO.ROWS, 8);
}

TEST(SysFileOpen, CarriageReturnBelongsToAValueWithoutTrailingComma) {
    EXPECT_EQ(load_ini("SITE_ID,abc\r\nBACK_GIF,g.gif,\r\n"), 0);
    EXPECT_STREQ(SYSINFO.SITE_ID, "abc\r");
    EXPECT_STREQ(SYSINFO.BACK_GIF, "g.gif");
}

TEST(SysFileOpen, LastLineWinsAndKeysAreExact) {
    EXPECT_EQ(load_ini("SITE_ID,one,\nsite_id,low,\n SITE_ID,blank,\nSITE_ID, two ,extra,\nNOSUCH,1,\n"), 0);
    EXPECT_STREQ(SYSINFO.SITE_ID, " two ");  // nothing is trimmed
}

TEST(SysFileOpen, IntegersAreReadLikeDecimalText) {
    EXPECT_EQ(load_ini("ATTACHED_FILE_LIMIT,500k,\nROWS, -7,\nIECOLS,abc,\nNSCOLS,+12x,\n"), 0);
    EXPECT_EQ(SYSINFO.ATTACHED_FILE_LIMIT, 500);
    EXPECT_EQ(SYSINFO.ROWS, -7);
    EXPECT_EQ(SYSINFO.IECOLS, 0);
    EXPECT_EQ(SYSINFO.NSCOLS, 12);
}

TEST(SysFileOpen, TextsAreCutToTheirFields) {
    EXPECT_EQ(load_ini("LOG_DATE,12345678901234,\nSITE_ID," + std::string(100, 's') +
                       ",\nFRAME_DIVIDE,123456789012,\nDATA_FILE_PATH,/no/separator,\n"),
              0);
    EXPECT_STREQ(SYSINFO.LOG_DATE, "123456789");
    EXPECT_EQ(std::string(SYSINFO.SITE_ID), std::string(81, 's'));
    EXPECT_STREQ(SYSINFO.FRAME_DIVIDE, "123456789");
    EXPECT_STREQ(SYSINFO.DATA_FILE_PATH, "/no/separator");  // used exactly as given
}

TEST(SysFileOpen, LongLineArrivesInPieces) {
    // The first 999 bytes are one line; the rest is read as a line of its own.
    const std::string first = "MAILER," + std::string(992, 'x');
    ASSERT_EQ(first.size(), 999u);
    EXPECT_EQ(load_ini(first + "SITE_ID,tail,\n"), 0);
    EXPECT_EQ(std::string(SYSINFO.MAILER), std::string(992, 'x'));
    EXPECT_STREQ(SYSINFO.SITE_ID, "tail");
}

TEST(SysFileOpen, ShiftJisValueKeepsItsBytes) {
    EXPECT_EQ(load_ini("SITE_ID,\x95\x5C\x8E\xA6,\n"), 0);
    EXPECT_STREQ(SYSINFO.SITE_ID, "\x95\x5C\x8E\xA6");
}

// --- message table ---

void scribble_strdef() { std::memset(&STRDEF, 'q', sizeof STRDEF); }

int load_lng(const std::string& text, const char* language) {
    TempFile f(text);
    return StrdefFileOpen(f.path(), language, &STRDEF);
}

bool table_is_empty() {
    for (int i = 0; i < STRDEF_COUNT; ++i) {
        if (strdef_text(STRDEF, i)[0] != '\0') return false;
    }
    return true;
}

TEST(StrdefFileOpen, MissingFileLeavesAnEmptyTable) {
    scribble_strdef();
    EXPECT_EQ(StrdefFileOpen("/nonexistent-velt/velt.lng", "english", &STRDEF), -1);
    EXPECT_TRUE(table_is_empty());
}

TEST(StrdefFileOpen, ReadsTheWantedSectionOnly) {
    scribble_strdef();
    EXPECT_EQ(load_lng("001,before any section\n[japanese]\n001,jp\n[english] the default language\n"
                       "001,<TITLE>t</TITLE>\n002,two\n999,last\n[german]\n003,de\n",
                       "english"),
              0);
    EXPECT_STREQ(strdef_text(STRDEF, 1), "<TITLE>t</TITLE>");
    EXPECT_STREQ(strdef_text(STRDEF, 2), "two");
    EXPECT_STREQ(strdef_text(STRDEF, 999), "last");
    EXPECT_STREQ(strdef_text(STRDEF, 3), "");
    EXPECT_STREQ(strdef_text(STRDEF, 0), "");
    for (int i = 4; i < 999; ++i) EXPECT_STREQ(strdef_text(STRDEF, i), "") << i;
}

TEST(StrdefFileOpen, HeaderMustMatchWholeName) {
    EXPECT_EQ(load_lng("[englis]\n001,a\n[englishman]\n002,b\n[English]\n003,c\n", "english"), 0);
    EXPECT_TRUE(table_is_empty());
}

TEST(StrdefFileOpen, OtherLanguagesOnlyGiveAnEmptyTable) {
    scribble_strdef();
    EXPECT_EQ(load_lng("[japanese]\n001,jp\n", "english"), 0);
    EXPECT_TRUE(table_is_empty());
    EXPECT_EQ(load_lng("", "english"), 0);
    EXPECT_TRUE(table_is_empty());
}

TEST(StrdefFileOpen, NumbersAndSeparators) {
    EXPECT_EQ(load_lng("[en]\n5,text\n000 zero\nabc letters\n 12 blank\n+13 plus\n-01 minus\n"
                       "014\n015,\n016,x\n# comment 017\n\n020\tTab\n",
                       "en"),
              0);
    EXPECT_STREQ(strdef_text(STRDEF, 5), "xt");  // "5,t" are the number's characters
    EXPECT_STREQ(strdef_text(STRDEF, 0), "");
    EXPECT_STREQ(strdef_text(STRDEF, 12), "blank");
    EXPECT_STREQ(strdef_text(STRDEF, 13), "plus");
    EXPECT_STREQ(strdef_text(STRDEF, 1), "");
    EXPECT_STREQ(strdef_text(STRDEF, 14), "");
    EXPECT_STREQ(strdef_text(STRDEF, 15), "");
    EXPECT_STREQ(strdef_text(STRDEF, 16), "x");
    EXPECT_STREQ(strdef_text(STRDEF, 17), "");
    EXPECT_STREQ(strdef_text(STRDEF, 20), "Tab");
}

TEST(StrdefFileOpen, LineEndsAndDuplicates) {
    EXPECT_EQ(load_lng("[en]\r\n001,first\r\n001,second\r\n002,cr\r\r\n003,no end", "en"), 0);
    EXPECT_STREQ(strdef_text(STRDEF, 1), "second");  // the later line wins
    EXPECT_STREQ(strdef_text(STRDEF, 2), "cr\r");    // one CR is removed, not more
    EXPECT_STREQ(strdef_text(STRDEF, 3), "no end");
}

TEST(StrdefFileOpen, TextIsCutTo201Bytes) {
    const std::string text(300, 'm');
    EXPECT_EQ(load_lng("[en]\n007," + text + "\n008,\x95\x5C\x94\x5C\n", "en"), 0);
    EXPECT_EQ(std::string(strdef_text(STRDEF, 7)), text.substr(0, 201));
    EXPECT_STREQ(strdef_text(STRDEF, 8), "\x95\x5C\x94\x5C");
}

TEST(StrdefFileOpen, LongLineArrivesInPieces) {
    // 1001 bytes are one piece; the rest is read as a line of its own.
    const std::string first = "001," + std::string(997, 'a');
    EXPECT_EQ(load_lng("[en]\n" + first + "002,tail\n", "en"), 0);
    EXPECT_EQ(std::string(strdef_text(STRDEF, 1)), std::string(201, 'a'));
    EXPECT_STREQ(strdef_text(STRDEF, 2), "tail");
}

TEST(StrdefFileOpen, AZeroByteEndsTheTextOfItsLine) {
    // As a reading by lines takes it: the line goes on to its line feed, its
    // text (and the line end looked for) stops at the zero byte.
    const std::string file = std::string("[en]\n001,ab\0cd\r\n002,\r\0\n00", 25) + std::string("3\0,x\n004,y", 10);
    EXPECT_EQ(load_lng(file, "en"), 0);
    EXPECT_STREQ(strdef_text(STRDEF, 1), "ab");
    EXPECT_STREQ(strdef_text(STRDEF, 2), "");
    EXPECT_STREQ(strdef_text(STRDEF, 3), "");
    EXPECT_STREQ(strdef_text(STRDEF, 4), "y");
    // A piece of exactly 1001 bytes that ends in its line feed is one line.
    const std::string full = "005," + std::string(996, 'b') + "\n";
    EXPECT_EQ(load_lng("[en]\n" + full + "006,z\n", "en"), 0);
    EXPECT_EQ(std::string(strdef_text(STRDEF, 5)), std::string(201, 'b'));
    EXPECT_STREQ(strdef_text(STRDEF, 6), "z");
}

TEST(StrdefFileOpen, SecondLoadReplacesTheFirst) {
    const std::string file = "[en]\n001,one\n002,two\n[jp]\n002,\x93\xF1\n";
    EXPECT_EQ(load_lng(file, "en"), 0);
    EXPECT_STREQ(strdef_text(STRDEF, 1), "one");
    EXPECT_EQ(load_lng(file, "jp"), 0);
    EXPECT_STREQ(strdef_text(STRDEF, 1), "");
    EXPECT_STREQ(strdef_text(STRDEF, 2), "\x93\xF1");
    EXPECT_EQ(load_lng(file, "fr"), 0);
    EXPECT_TRUE(table_is_empty());
}

TEST(StrdefFileOpen, VeryLongLanguageNameIsCut) {
    // The header holds at most 101 characters: "[" and the first 100 of the
    // name, so the closing bracket is no longer part of it.
    const std::string name(300, 'L');
    EXPECT_EQ(load_lng("[" + std::string(100, 'L') + "-other]\n001,cut\n", name.c_str()), 0);
    EXPECT_STREQ(strdef_text(STRDEF, 1), "cut");
}

}  // namespace
