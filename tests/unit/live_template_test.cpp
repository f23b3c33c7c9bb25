// Unit tests of the live view's embedded page files and of the filling of
// its page.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "live/assets.h"
#include "live/template.h"
#include "page/digest.h"
#include "store_tmpdir.h"

namespace {

std::string hex16(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out.substr(0, 16);
}

std::string fill(const std::string& tmpl, const std::vector<LIVE_FIELD>& fields) {
    return live_fill(tmpl.data(), tmpl.size(), fields.data(), static_cast<int>(fields.size()));
}

TEST(LiveAssets, EachFileIsEmbeddedWithItsTypeAndDigest) {
    const struct {
        const char* name;
        const char* type;
    } cases[] = {
        {"live.html", "text/html; charset=utf-8"},
        {"live.js", "text/javascript; charset=utf-8"},
        {"live.css", "text/css; charset=utf-8"},
    };
    for (const auto& k : cases) {
        const LIVE_ASSET* a = live_asset(k.name);
        ASSERT_NE(a, nullptr) << k.name;
        const std::string source = store_test::read_all(std::string(VELT_SOURCE_DIR) + "/live/web/" + k.name);
        ASSERT_FALSE(source.empty());
        EXPECT_EQ(std::string(a->bytes, static_cast<std::size_t>(a->length)), source);
        EXPECT_EQ(a->bytes[a->length], '\0');
        EXPECT_STREQ(a->content_type, k.type);
        EXPECT_EQ(a->digest, hex16(G_sha256(source)));
    }
    for (const char* other : {"", "README.md", "../live.js", "live.JS", "live.js ", "web/live.css"})
        EXPECT_EQ(live_asset(other), nullptr) << other;
    EXPECT_EQ(live_asset(nullptr), nullptr);
}

TEST(LiveTemplate, ValuesAreEscapedAsText) {
    const struct {
        const char* name;
        const char* value;
        const char* out;
    } cases[] = {
        {"ROOM_NAME", "a&b<c>\"d'e", "a&amp;b&lt;c&gt;&quot;d&#39;e"},
        {"INFO", "&#128512; &amp;", "&amp;#128512; &amp;amp;"},  // a reference is text here
        {"TITLE", "\xe6\x97\xa5\xe6\x9c\xac, \xe8\xaa\x9e", "\xe6\x97\xa5\xe6\x9c\xac, \xe8\xaa\x9e"},
        {"EXE_URL", "velt.cgi?JOB=LIVE&FOLDER_NO=3&N=%22x%22", "velt.cgi?JOB=LIVE&amp;FOLDER_NO=3&amp;N=%22x%22"},
        {"CHAT_NAME", "", ""},
        {"COLOR", nullptr, ""},
    };
    for (const auto& k : cases) {
        const std::string tmpl = std::string("<p title=\"{{") + k.name + "}}\">{{" + k.name + "}}</p>";
        const std::string out = std::string("<p title=\"") + k.out + "\">" + k.out + "</p>";
        EXPECT_EQ(fill(tmpl, {{"OTHER", "x"}, {k.name, k.value}}), out) << k.name;
    }
}

TEST(LiveTemplate, UnknownPlacesAreEmptyAndOtherBracesPass) {
    const std::vector<LIVE_FIELD> fields = {{"LANG", "en"}, {"T_SEND", "Send"}};
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"<html lang=\"{{LANG}}\">{{NOPE}}|{{T_SEND}}", "<html lang=\"en\">|Send"},
        {"{{lang}} {{ LANG }} {{}} {LANG} {{LANG}", "{{lang}} {{ LANG }} {{}} {LANG} {{LANG}"},
        {"{{{LANG}}}", "{en}"},
        {"a {{LANG", "a {{LANG"},
        {"{{LANG}}{{LANG}}", "enen"},
        {"", ""},
    };
    for (const auto& k : cases) EXPECT_EQ(fill(k.in, fields), k.out) << k.in;
    EXPECT_EQ(live_fill("{{LANG}}", 8, nullptr, 0), "");
}

TEST(LiveTemplate, ThePageUsesOnlyPlacesTheLiveViewFills) {
    const LIVE_ASSET* html = live_asset("live.html");
    ASSERT_NE(html, nullptr);
    const std::string page(html->bytes, static_cast<std::size_t>(html->length));
    const std::set<std::string> filled(LIVE_PLACEHOLDERS, LIVE_PLACEHOLDERS + LIVE_PLACEHOLDER_COUNT);
    EXPECT_EQ(filled.size(), static_cast<std::size_t>(LIVE_PLACEHOLDER_COUNT));  // no name twice
    int used = 0;
    for (std::size_t at = page.find("{{"); at != std::string::npos; at = page.find("{{", at + 2)) {
        const std::size_t end = page.find("}}", at + 2);
        ASSERT_NE(end, std::string::npos) << page.substr(at, 40);
        const std::string name = page.substr(at + 2, end - at - 2);
        EXPECT_EQ(name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_"), std::string::npos) << name;
        EXPECT_EQ(filled.count(name), 1u) << name;
        ++used;
    }
    EXPECT_GT(used, 20);
    // Every name given, nothing of a place is left.
    std::vector<LIVE_FIELD> fields;
    for (int n = 0; n < LIVE_PLACEHOLDER_COUNT; ++n) fields.push_back({LIVE_PLACEHOLDERS[n], "v"});
    EXPECT_EQ(fill(page, fields).find("{{"), std::string::npos);
}

}  // namespace
