// Unit tests of the live page's texts: the room's information text as plain
// text, and the title picture's token.
#include <gtest/gtest.h>

#include <string>

#include "live/page.h"

namespace {

TEST(LivePlainText, MarkupBecomesTheTextABrowserWouldShow) {
    const struct {
        const char* html;
        const char* text;
    } cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"<B>bold</B> <a href=\"x>y\" title='1>0'>link</a>", "bold link"},
        {"one<BR>two<br/>three<Br >four", "one\ntwo\nthree\nfour"},
        {"<P>para</P><p class=x>next", "para\nnext"},
        {"a\r\nb\rc\nd", "a\nb\nc\nd"},
        {"a < b > c", "a < b > c"},
        {"x<!-- <b>hidden</b> -->y", "xy"},
        {"x<script>alert('<b>')</script>y<STYLE>p{}</STYLE>z", "xyz"},
        {"x<script>never closed", "x"},
        {"unclosed <b", "unclosed <b"},
        {"&amp;&lt;&gt;&quot;&#39;&apos;&AMP;", "&<>\"''&"},
        {"&#65;&#x42;&#12354;&#x1F600;", "AB\xE3\x81\x82\xF0\x9F\x98\x80"},
        {"&#1;&#x202E;&#xD800;&#99999999;&bogus; & x", "&#1;&#x202E;&#xD800;&#99999999;&bogus; & x"},
        {"&nbsp;x", "\xC2\xA0x"},
        {"\n\n  <BR> text \n<P>", "text"},
    };
    for (const auto& c : cases) EXPECT_EQ(live_plain_text(c.html), c.text) << c.html;
}

TEST(LivePictureToken, NamesTheKeyAndTheRoomWithoutGivingThemAway) {
    char a[LIVE_TOKEN_CAP], b[LIVE_TOKEN_CAP], c[LIVE_TOKEN_CAP], d[LIVE_TOKEN_CAP];
    live_picture_token(1011, 2022, 30, a);
    live_picture_token(1011, 2022, 31, b);
    live_picture_token(1011, 2023, 30, c);
    live_picture_token(1011, 2022, 30, d);
    EXPECT_STREQ(a, d);
    EXPECT_STRNE(a, b);
    EXPECT_STRNE(a, c);
    // The first 32 hex digits of SHA-256("1011:2022:30:4").
    EXPECT_STREQ(a, "5e53235c316fc2f64b650ffb687dcd53");
}

}  // namespace
