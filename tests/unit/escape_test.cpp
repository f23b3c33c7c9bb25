// The HTML escaper: the five special characters, Shift_JIS passing whole, and
// which numeric character references pass as characters.
#include <gtest/gtest.h>

#include "page/escape.h"

namespace {

TEST(EscapeTest, HtmlEscapesTheFiveSpecialCharacters) {
    EXPECT_EQ(G_html("<a href=\"x\">&'</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;&lt;/a&gt;");
    // 0x95 0x5C is one Shift_JIS character; its second byte is no special.
    EXPECT_EQ(G_html("\x95\x5C&amp;"), "\x95\x5C&amp;amp;");
}

TEST(EscapeTest, UrlEncodesEveryByteButTheUnreservedOnes) {
    // Both bytes of a Shift_JIS character, its 0x5C too, become %XX.
    EXPECT_EQ(G_url("a b&\x95\x5C-._~Z9"), "a%20b%26%95%5C-._~Z9");
    EXPECT_EQ(G_url(""), "");
}

TEST(EscapeTest, NumericReferencesOfPrintableCharactersPass) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"&#128512;", "&#128512;"},            // emoji, decimal
        {"&#x1F600;", "&#x1F600;"},            // the same in hex
        {"&#X1f600;", "&#X1f600;"},            // either case of x and digits
        {"&#12316;", "&#12316;"},              // wave dash U+301C
        {"a&#12316;b&#128512;", "a&#12316;b&#128512;"},
        {"&#0012316;", "&#0012316;"},          // leading zeros
        {"&#1114111;", "&amp;#1114111;"},      // U+10FFFF is a noncharacter
        {"&#1114109;", "&#1114109;"},          // U+10FFFD, the last printable
        {"&#;", "&amp;#;"},
        {"&#x;", "&amp;#x;"},
        {"&#0;", "&amp;#0;"},
        {"&#1114112;", "&amp;#1114112;"},      // beyond Unicode
        {"&#99999999999999999999;", "&amp;#99999999999999999999;"},
        {"&#55357;", "&amp;#55357;"},          // a surrogate
        {"&#xDFFF;", "&amp;#xDFFF;"},
        {"&#10;", "&amp;#10;"},                // controls
        {"&#x85;", "&amp;#x85;"},
        {"&#60;", "&amp;#60;"},                // ASCII stays text as typed
        {"&#65279;", "&#65279;"},
        {"&#xFFFE;", "&amp;#xFFFE;"},          // noncharacters
        {"&#xFDD0;", "&amp;#xFDD0;"},
        {"&#x202E;", "&amp;#x202E;"},          // right-to-left override
        {"&#12316", "&amp;#12316"},            // no semicolon
        {"&#12316 ;", "&amp;#12316 ;"},
        {"&#x12G;", "&amp;#x12G;"},
        {"&#-5;", "&amp;#-5;"},
        {"&#", "&amp;#"},
        {"&amp;", "&amp;amp;"},
        {"&#12316;&#0;", "&#12316;&amp;#0;"},
    };
    for (const Case& c : cases) EXPECT_EQ(G_html(c.in), c.out) << c.in;
}

}  // namespace
