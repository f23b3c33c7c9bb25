// Tests of the Shift_JIS codec: the browser's reading and form encoding, the
// references written for what Shift_JIS cannot hold, the cut to a field at
// character boundaries, and the reading that resolves printable references.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "store/sjis.h"

namespace {

const std::string EMOJI = "\xF0\x9F\x98\x80";  // U+1F600
const std::string HYO = "\xE8\xA1\xA8";         // U+8868, Shift_JIS 0x95 0x5C

TEST(SjisTest, ReadAsABrowserReadsIt) {
    const char* const cases[][2] = {
        {"a\\~", "a\\~"},
        {"\x83\x60\x83\x83\x83\x62\x83\x67", "\xE3\x83\x81\xE3\x83\xA3\xE3\x83\x83\xE3\x83\x88"},  // チャット
        {"\x95\x5C", "\xE8\xA1\xA8"},              // 表, second byte 0x5C
        {"\x81\x60", "\xEF\xBD\x9E"},              // the wave dash row reads as U+FF5E
        {"\x87\x40", "\xE2\x91\xA0"},              // NEC circled one
        {"\xB1", "\xEF\xBD\xB1"},                  // half-width katakana
        {"\x81\x20", "\xEF\xBF\xBD "},             // no character: U+FFFD, the blank read again
        {"\x85\x80", "\xEF\xBF\xBD"},              // unassigned pair taken whole
        {"\xA0\xFD", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"x\x83", "x\xEF\xBF\xBD"},                // a lead byte at the end
    };
    for (const auto& c : cases) EXPECT_EQ(G_sjis_to_utf8(c[0]), c[1]) << c[0];
}

TEST(SjisTest, EncodesAsABrowserFormAndReadsBack) {
    struct Case {
        std::string utf8, sjis;
        bool reads_back;  // G_sjis_to_utf8(sjis) gives utf8 again
    };
    const Case cases[] = {
        {"a,&\"' ~\\", "a,&\"' ~\\", true},
        {"\xEF\xBD\xB1\xEF\xBE\x9F", "\xB1\xDF", true},                 // half-width ｱﾟ
        {"\xE6\xBC\xA2\xE5\xAD\x97", "\x8A\xBF\x8E\x9A", true},         // 漢字
        {HYO + "\xE3\x82\xBD", "\x95\x5C\x83\x5C", true},                // 表ソ: second bytes 0x5C
        {"\xE2\x91\xA0", "\x87\x40", true},                              // ① only in NEC row 13
        // Also in NEC row 13 (and the IBM rows): the first pair is written.
        {"\xE2\x88\xB5", "\x81\xE6", true},                              // ∵, not 0x879A / 0xFA5B
        {"\xE2\x89\x92", "\x81\xE0", true},                              // ≒, not 0x8790
        {"\xE2\x85\xA0", "\x87\x54", true},                              // Ⅰ, not 0xFA4A
        {"\xE3\x88\xB1", "\x87\x8A", true},                              // ㈱, not 0xFA58
        // The IBM pairs at 0xFA-0xFC, not their NEC-selected copies at 0xED/0xEE.
        {"\xE7\xBA\x8A", "\xFA\x5C", true},                              // 纊, not 0xED40
        {"\xE2\x85\xB0", "\xFA\x40", true},                              // ⅰ, not 0xEEEF
        {"\xEF\xBF\xA2", "\x81\xCA", true},                              // ￢, not 0xEEF9 / 0xFA54
        {"\xC2\x80", "\x80", true},
        // One way only: these read back as the character the byte names.
        {"\xE2\x88\x92", "\x81\x7C", false},                             // U+2212 as U+FF0D
        {"\xC2\xA5", "\\", false},                                       // U+00A5
        {"\xE2\x80\xBE", "~", false},                                    // U+203E
    };
    for (const Case& c : cases) {
        EXPECT_EQ(G_utf8_to_sjis(c.utf8), c.sjis) << c.utf8;
        EXPECT_EQ(G_sjis_length(c.utf8), c.sjis.size()) << c.utf8;
        EXPECT_EQ(G_sjis_to_utf8(c.sjis) == c.utf8, c.reads_back) << c.utf8;
    }
    // The copies that are never written still read as their character.
    EXPECT_EQ(G_sjis_to_utf8("\xED\x40\x87\x9A\xFA\x5B"), "\xE7\xBA\x8A\xE2\x88\xB5\xE2\x88\xB5");
}

TEST(SjisTest, WhatShiftJisCannotHoldBecomesAReference) {
    const char* const cases[][2] = {
        {"\xF0\x9F\x98\x80", "&#128512;"},
        {"\xE3\x80\x9C", "&#12316;"},                      // U+301C wave dash
        {"\xEE\x80\x80", "&#57344;"},                      // private use (0xF040 only reads)
        {"\xE2\x80\x94", "&#8212;"},                       // em dash (0x815C reads as U+2015)
        {"\xC2\x85", "&#133;"},
        {"\xEF\xBF\xBD", "&#65533;"},                      // U+FFFD itself
        // Malformed UTF-8: U+FFFD for each maximal part of a sequence.
        {"a\xFF" "b", "a&#65533;b"},
        {"\xC0\xAF", "&#65533;&#65533;"},                  // overlong '/'
        {"\xED\xA0\x80", "&#65533;&#65533;&#65533;"},      // a surrogate
        {"\xF4\x90\x80\x80", "&#65533;&#65533;&#65533;&#65533;"},  // beyond U+10FFFF
        {"\xE6\xBC" "a", "&#65533;a"},                     // cut short, the next byte read again
        {"a\xF0\x9F\x98", "a&#65533;"},                    // cut at the end
    };
    for (const auto& c : cases) {
        EXPECT_EQ(G_utf8_to_sjis(c[0]), c[1]) << c[0];
        EXPECT_EQ(G_sjis_length(c[0]), std::string(c[1]).size()) << c[0];
    }
}

TEST(SjisTest, TellsWhereATextStopsBeingValid) {
    const std::size_t none = std::string::npos;
    EXPECT_EQ(G_utf8_invalid_at("ab" + HYO + EMOJI), none);
    EXPECT_EQ(G_utf8_invalid_at("ab" + HYO + "\xC0\xAF"), 5u);
    EXPECT_EQ(G_utf8_invalid_at(HYO + "\xE6\xBC"), 3u);
    // Refusing callers: the first character written as a reference, or as 0x80.
    EXPECT_EQ(G_sjis_unencodable_at("ab" + HYO + "\xC2\xA5\xE2\x88\x92"), none);
    EXPECT_EQ(G_sjis_unencodable_at("ab" + HYO + EMOJI + "x"), 5u);
    EXPECT_EQ(G_sjis_unencodable_at("a\xE3\x80\x9C"), 1u);
    EXPECT_EQ(G_sjis_unencodable_at("a\xFF"), 1u);
    EXPECT_EQ(G_sjis_unencodable_at("a\xC2\x80"), 1u);
    // Shift_JIS as CP932 holds it.
    EXPECT_EQ(G_sjis_invalid_at("a\x95\x5C\xB1\x87\x40"), none);
    EXPECT_EQ(G_sjis_invalid_at("a\x95\x5C\x80"), 3u);
    EXPECT_EQ(G_sjis_invalid_at("a\xA0"), 1u);
    EXPECT_EQ(G_sjis_invalid_at("a\x81\x20"), 1u);
    EXPECT_EQ(G_sjis_invalid_at("a\x95"), 1u);
    EXPECT_EQ(G_sjis_invalid_at("\xFD"), 0u);
}

TEST(SjisTest, CutsToAFieldBetweenCharacters) {
    struct Case {
        std::string utf8;
        std::size_t cap;
        std::string field;
        bool whole;
    };
    const Case cases[] = {
        {"ab" + HYO, 5, "ab\x95\x5C", true},
        {"ab" + HYO, 4, "ab", false},                       // never half a pair
        {"a" + EMOJI + "b", 12, "a&#128512;b", true},
        {"a" + EMOJI + "b", 11, "a&#128512;", false},
        {"a" + EMOJI + "b", 10, "a", false},                // never part of a reference
        {"ab\xFF", 10, "ab", false},                        // "&#65533;" is 8 bytes
        {"ab\xFF", 11, "ab&#65533;", true},
        {std::string("a\0b", 3), 10, "a", false},           // a zero ends the text
        {"abc", 1, "", false},
        {"", 1, "", true},
    };
    for (const Case& c : cases) {
        char field[16];
        std::fill(field, field + sizeof field, 'z');
        EXPECT_EQ(G_set_utf8(field, c.cap, c.utf8), c.whole) << c.utf8 << " " << c.cap;
        EXPECT_EQ(std::string(field), c.field) << c.utf8 << " " << c.cap;
    }
    char name[5];
    EXPECT_TRUE(G_set_utf8(name, HYO + HYO));
    EXPECT_STREQ(name, "\x95\x5C\x95\x5C");
}

TEST(SjisTest, ResolvingReadTurnsPrintableReferencesIntoCharacters) {
    const std::string cases[][2] = {
        {"&#128512;", EMOJI},
        {"&#x1F600;!", EMOJI + "!"},
        {"\x95\x5C&#12316;", HYO + "\xE3\x80\x9C"},
        {"&#160;", "\xC2\xA0"},
        {"&#65533;", "\xEF\xBF\xBD"},
        // Not printable, or no reference: left as text, as G_html leaves it.
        {"&#65;", "&#65;"},
        {"&#x202E;", "&#x202E;"},
        {"&amp;", "&amp;"},
        {"a & b", "a & b"},
        {"&#12316", "&#12316"},
        {"&#;&", "&#;&"},
    };
    for (const auto& c : cases) EXPECT_EQ(G_sjis_to_utf8_resolving_refs(c[0]), c[1]) << c[0];
    // The plain reading leaves references as they are.
    EXPECT_EQ(G_sjis_to_utf8("&#128512;"), "&#128512;");
    // What the form writes, the resolving read gives back.
    const std::string text = "x" + EMOJI + HYO + "\xE3\x80\x9C&amp;";
    EXPECT_EQ(G_sjis_to_utf8_resolving_refs(G_utf8_to_sjis(text)), text);
}

}  // namespace
