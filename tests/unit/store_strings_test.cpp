// Tests of the Shift_JIS-aware string helpers: searches and cuts that respect
// double-byte characters, line-break conversion, and the upload name split.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "store/text.h"

namespace {

// 0x95 0x5C is a double-byte character whose second byte is a backslash.
const char HYO[] = "\x95\x5C";

TEST(GroSet, CutsByteWiseToCapacityMinusOne) {
    char f[4];
    G_set(f, "abcdef");
    EXPECT_STREQ(f, "abc");
    G_set(f, "ab");
    EXPECT_STREQ(f, "ab");
    G_set(f, nullptr);
    EXPECT_STREQ(f, "");
    // Byte-wise on purpose: the suite cuts its fields this way.
    G_set(f, "ab\x95\x5C");
    EXPECT_STREQ(f, "ab\x95");
    char big[22];
    std::memset(big, 'x', sizeof big);
    G_set(big, sizeof big, std::string(40, 'u').c_str());
    EXPECT_EQ(std::strlen(big), 21u);
}

TEST(GroAtoi, ReadsLikeStrtolAndWrapsTo32Bits) {
    EXPECT_EQ(G_atoi("  -12abc"), -12);
    EXPECT_EQ(G_atoi("+7"), 7);
    EXPECT_EQ(G_atoi(""), 0);
    EXPECT_EQ(G_atoi("abc"), 0);
    EXPECT_EQ(G_atoi("09"), 9);
    EXPECT_EQ(G_atoi("4294967297"), 1);
    EXPECT_EQ(G_atoi("2147483648"), INT32_MIN);
}

TEST(GroStrFind, FindsOnlyAtCharacterBoundaries) {
    EXPECT_EQ(G_StrFind(HYO, "\\"), -1);
    EXPECT_EQ(G_StrFind("ab\\c", "\\"), 2);
    EXPECT_EQ(G_StrFind(",abc", ","), 0);
    EXPECT_EQ(G_StrFind("abc", ""), -1);
    EXPECT_EQ(G_StrFind("", ","), -1);
    EXPECT_EQ(G_StrFind("abc", "d"), -1);
    // A free-standing backslash behind the double-byte one is found.
    EXPECT_EQ(G_StrFind("\x95\x5C\\x", "\\"), 2);
    EXPECT_EQ(G_StrFind("\x95\x5C\\x", "\\x"), 2);
    // A comma that is the second byte of a (wide-rule) double-byte character.
    EXPECT_EQ(G_StrFind("\xE0,a,b", ","), 3);
    // Longer keywords and restarts after a partial match.
    EXPECT_EQ(G_StrFind("aab", "ab"), 1);
    EXPECT_EQ(G_StrFind("x\x95\x5Cy", "\x95\x5Cy"), 1);
    EXPECT_EQ(G_StrFind("x\x95\x5Cy", "\x5Cy"), -1);
    // A lead byte just before the end is a character of its own.
    EXPECT_EQ(G_StrFind("ab\x95", "\x95"), 2);
}

// The pieces fgets gives of the same bytes through a buffer of cap bytes.
std::vector<std::string> fgets_pieces(const std::string& bytes, int cap) {
    std::vector<std::string> out;
    FILE* f = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
    if (f == nullptr) return out;
    std::vector<char> line(static_cast<std::size_t>(cap));
    long at = 0;
    while (std::fgets(line.data(), cap, f) != nullptr) {
        const long now = std::ftell(f);
        out.emplace_back(line.data(), static_cast<std::size_t>(now - at));  // zero bytes inside included
        at = now;
    }
    std::fclose(f);
    return out;
}

TEST(GroNextLine, GivesThePiecesFgetsGives) {
    const std::string texts[] = {
        "",
        "one\ntwo\n",
        "no end",
        "cr\r\nlf\n\n\nlast",
        std::string("zero\0inside\nnext\n", 18),
        "\x95\x5C\x95\x5C,\x95\x5C\n" + std::string(25, 'a') + "\n" + std::string(9, 'b'),
        std::string(8, 'c') + "\n" + std::string(7, 'd') + "\n" + std::string(9, 'e') + "\n",
    };
    for (const std::string& text : texts) {
        for (int cap : {2, 3, 9, 10, 1000}) {
            std::vector<std::string> got;
            std::size_t pos = 0;
            std::vector<char> line(static_cast<std::size_t>(cap));
            std::size_t before = 0;
            while (G_next_line(text.data(), text.size(), &pos, line.data(), cap)) {
                const std::string piece(line.data(), pos - before);
                EXPECT_EQ(line[pos - before], '\0');
                got.push_back(piece);
                before = pos;
            }
            EXPECT_EQ(got, fgets_pieces(text, cap)) << "cap " << cap << ": " << text;
        }
    }
    std::size_t pos = 0;
    char one[1];
    EXPECT_FALSE(G_next_line("abc", 3, &pos, one, 1));  // no room for a byte
}

TEST(GroSetStrlength, CutsAtWholeCharacters) {
    char t[32];
    std::strcpy(t, "abc");
    G_setStrlength(t, 4);
    EXPECT_STREQ(t, "abc");
    std::strcpy(t, "abcd");
    G_setStrlength(t, 4);
    EXPECT_STREQ(t, "abc");
    std::strcpy(t, "ab\x95\x5C");
    G_setStrlength(t, 4);
    EXPECT_STREQ(t, "ab");
    std::strcpy(t, "a\x95\x5C" "b");
    G_setStrlength(t, 4);
    EXPECT_STREQ(t, "a\x95\x5C");
    std::strcpy(t, "abc");
    G_setStrlength(t, 1);
    EXPECT_STREQ(t, "");
}

TEST(GroSetStrlength, InformationTextKeepsAtMost3999Bytes) {
    std::string text(5000, 'i');
    std::vector<char> b(text.begin(), text.end());
    b.push_back('\0');
    G_setStrlength(b.data(), 4000);
    EXPECT_EQ(std::strlen(b.data()), 3999u);

    // A double-byte character across bytes 3998-3999 is dropped whole.
    std::string t2 = std::string(3998, 'i') + HYO + "tail";
    std::vector<char> c(t2.begin(), t2.end());
    c.push_back('\0');
    G_setStrlength(c.data(), 4000);
    EXPECT_EQ(std::strlen(c.data()), 3998u);
}

TEST(GroCrLfToBr, ConvertsLineEnds) {
    char t[64];
    std::strcpy(t, "a\r\nb");
    G_CrLf_to_BR(t);
    EXPECT_STREQ(t, "a<BR>\nb");
    std::strcpy(t, "a\nb");
    G_CrLf_to_BR(t);
    EXPECT_STREQ(t, "ab");
    std::strcpy(t, "a\rb\r");
    G_CrLf_to_BR(t);
    EXPECT_STREQ(t, "a<BR>\nb<BR>\n");
    // A double-byte character whose second byte is a line feed stays whole.
    std::strcpy(t, "\x95\n" "x\r\n");
    G_CrLf_to_BR(t);
    EXPECT_STREQ(t, "\x95\nx<BR>\n");
}

TEST(GroCrLfToBr, StopsPastItsWorkLimit) {
    // 25,000 CRs would give 125,000 bytes; the conversion stops once the
    // output passed 99,999 bytes (after the 20,000th line break).
    std::vector<char> b(130000, '\0');
    std::memset(b.data(), '\r', 25000);
    G_CrLf_to_BR(b.data());
    EXPECT_EQ(std::strlen(b.data()), 100000u);
    EXPECT_EQ(std::string(b.data(), 10), "<BR>\n<BR>\n");
}

TEST(GroToUppers, FoldsOnlySingleByteLetters) {
    char t[32];
    std::strcpy(t, "user01");
    G_ToUppers(t);
    EXPECT_STREQ(t, "USER01");
    std::strcpy(t, "a\x82\x61z");  // second byte 0x61 of a double-byte character
    G_ToUppers(t);
    EXPECT_STREQ(t, "A\x82\x61Z");
}

TEST(GroCutCrLf, RemovesOnlyTrailingLineEnds) {
    char t[32];
    std::strcpy(t, "abc\r\n\r\n");
    G_CutCrLf(t);
    EXPECT_STREQ(t, "abc");
    std::strcpy(t, "\r\n");
    G_CutCrLf(t);
    EXPECT_STREQ(t, "");
    std::strcpy(t, "a\r\nb");
    G_CutCrLf(t);
    EXPECT_STREQ(t, "a\r\nb");
    std::strcpy(t, "");
    G_CutCrLf(t);
    EXPECT_STREQ(t, "");
}

struct Cut {
    char name[252];
    char temp[4002];
};

Cut cut(const std::string& value) {
    Cut c;
    std::memset(&c, 'Z', sizeof c);
    G_cut_filename(value.c_str(), c.name, c.temp);
    return c;
}

TEST(GroCutFilename, SplitsBrowserNameAndTemporaryPath) {
    Cut c = cut("sea.jpg,/var/data/CGI0");
    EXPECT_STREQ(c.name, "sea.jpg");
    EXPECT_STREQ(c.temp, "/var/data/CGI0");

    c = cut("C:\\My Pictures\\sea.jpg,/var/data/CGI3");
    EXPECT_STREQ(c.name, "sea.jpg");
    EXPECT_STREQ(c.temp, "/var/data/CGI3");

    c = cut("x//y.gif,/d/CGI1");
    EXPECT_STREQ(c.name, "y.gif");

    // The 0x5C of the double-byte character is no separator.
    c = cut(std::string("C:\\") + HYO + ".gif,/d/CGI2");
    EXPECT_STREQ(c.name, (std::string(HYO) + ".gif").c_str());
    EXPECT_STREQ(c.temp, "/d/CGI2");

    c = cut("pics/dir\\pic.gif");
    EXPECT_STREQ(c.name, "pic.gif");
    EXPECT_STREQ(c.temp, "pics/dir\\pic.gif");

    c = cut("C:\\pics\\,/d/CGI6");
    EXPECT_STREQ(c.name, "");
    EXPECT_STREQ(c.temp, "/d/CGI6");

    c = cut("");
    EXPECT_STREQ(c.name, "");
    EXPECT_STREQ(c.temp, "");
}

TEST(GroCutFilename, TemporaryPathFollowsTheLastCommaAndNameCommasBecomeUnderscores) {
    Cut c = cut("a,b.gif,/d/CGI4");
    EXPECT_STREQ(c.name, "a_b.gif");
    EXPECT_STREQ(c.temp, "/d/CGI4");

    c = cut("C:\\x,y\\p,q,r.gif,/d/CGI5");
    EXPECT_STREQ(c.name, "p_q_r.gif");
    EXPECT_STREQ(c.temp, "/d/CGI5");

    // A comma byte behind a stray lead byte must not reach a comma-separated
    // file either.
    c = cut("\xE0,");
    EXPECT_EQ(std::strchr(c.name, ','), nullptr);
}

TEST(GroCutFilename, ABrowserNameEndingInALoneLeadByteKeepsItsTemporaryPath) {
    // UTF-8 "画像" ends in 0x8F, a lead byte by the walk's rule: the reader's
    // comma behind it still separates the temporary path, and the bare name
    // keeps the byte (the picture store drops it when it writes the name).
    Cut c = cut("C:\\\xE7\x94\xBB\xE5\x83\x8F,/d/CGI9");
    EXPECT_STREQ(c.temp, "/d/CGI9");
    EXPECT_STREQ(c.name, "\xE7\x94\xBB\xE5\x83\x8F");
    c = cut("a,b\x81,/d/CGI10");
    EXPECT_STREQ(c.temp, "/d/CGI10");
    EXPECT_STREQ(c.name, "a_b\x81");
}

TEST(GroCutFilename, LongNamesAreCutAtACharacterBoundary) {
    Cut c = cut(std::string(300, 'a') + ".gif,/d/CGI7");
    EXPECT_EQ(std::strlen(c.name), 251u);
    EXPECT_STREQ(c.temp, "/d/CGI7");

    // A double-byte character across bytes 250-251 is dropped whole.
    c = cut(std::string(250, 'a') + HYO + "b.gif,/d/CGI8");
    EXPECT_EQ(std::string(c.name), std::string(250, 'a'));

    c = cut("n.gif," + std::string(5000, 't'));
    EXPECT_EQ(std::strlen(c.temp), 4001u);
}

}  // namespace
