// End-to-end tests of the live view's page (job LIVE), its script and
// stylesheet (LIVE_ASSET) and its title picture (LIVE_PICTURE) on the built
// program: the headers and policy, the places filled in the user's language,
// what a visitor without the right to write gets, and the picture's token.
#include <gtest/gtest.h>

#include <string>

#include "live/assets.h"
#include "tests/e2e/live_site.h"

namespace {

using livesite::kFolder;
using livesite::kGuest;
using livesite::kHanako;
using livesite::kOutsider;
using livesite::kTaro;

const std::string kPolicy =
    "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'self'";

class LivePage : public ::testing::Test {
protected:
    livesite::LiveSite s = livesite::make_live_site();
    void TearDown() override { e2e::remove_site(s.site); }

    e2e::Result get(const std::string& query, std::map<std::string, std::string> env = {}) {
        e2e::Request req;
        req.query = query;
        req.env = std::move(env);
        const e2e::Result r = e2e::run(s.site, req);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        return r;
    }
    e2e::Result page(const livesite::Member& m, std::map<std::string, std::string> env = {}) {
        return get(livesite::creds(m) + "&JOB=LIVE", std::move(env));
    }
};

// The digits at s[at] (none: "").
std::string digits_at(const std::string& s, std::size_t at) {
    std::size_t end = at;
    while (end < s.size() && s[end] >= '0' && s[end] <= '9') ++end;
    return s.substr(at, end - at);
}

// The value of attribute `name` of the element with id `id` (escaped as the
// page has it).
std::string attr(const std::string& html, const std::string& id, const std::string& name) {
    const std::size_t at = html.find("id=\"" + id + "\"");
    if (at == std::string::npos) return "<no element " + id + ">";
    const std::size_t end = html.find('>', at);
    const std::size_t v = html.find(name + "=\"", html.rfind('<', at));
    if (v == std::string::npos || v > end) return "<no attribute " + name + ">";
    const std::size_t from = v + name.size() + 2;
    return html.substr(from, html.find('"', from) - from);
}

TEST_F(LivePage, ThePageComesWithItsPolicyAndItsPlacesFilledInTheUsersLanguage) {
    e2e::write_file(s.room_dir + "info.txt",
                    "<b>Welcome</b> &amp; hello<BR>line 2\r\n<script>alert(1)</script>&#128512;&#65;&#x202E;");
    const e2e::Result r = page(kTaro);
    const std::string head = r.out.substr(0, r.out.find("\n\n") + 1);
    EXPECT_EQ(head, "Content-Type: text/html; charset=utf-8\nCache-Control: no-store\n" + kPolicy +
                        "\nReferrer-Policy: no-referrer\nX-Content-Type-Options: nosniff\n");
    const std::string html = r.out.substr(head.size() + 1);
    EXPECT_EQ(html.find("{{"), std::string::npos);
    EXPECT_NE(html.find("<html lang=\"en\">"), std::string::npos);
    EXPECT_NE(html.find("<title>Lounge &lt;&amp;&gt;</title>"), std::string::npos);
    EXPECT_NE(html.find("<h1>Lounge &lt;&amp;&gt;</h1>"), std::string::npos);
    // The information text as plain text: tags gone, breaks kept, script
    // content dropped, references of printable characters decoded.
    EXPECT_NE(html.find("<p class=\"info\">Welcome &amp; hello\nline 2\n😀A&amp;#x202E;</p>"), std::string::npos)
        << html;
    // One script and one stylesheet, the program's own, by their digests.
    const LIVE_ASSET* js = live_asset("live.js");
    const LIVE_ASSET* css = live_asset("live.css");
    ASSERT_TRUE(js != nullptr && css != nullptr);
    int scripts = 0;
    for (std::size_t at = html.find("<script"); at != std::string::npos; at = html.find("<script", at + 1)) ++scripts;
    EXPECT_EQ(scripts, 1);
    EXPECT_NE(html.find("<script src=\"/cgi-bin/velt.cgi?JOB=LIVE_ASSET&amp;NAME=live.js&amp;V=" +
                        std::string(js->digest) + "\" defer></script>"),
              std::string::npos);
    EXPECT_NE(html.find("href=\"/cgi-bin/velt.cgi?JOB=LIVE_ASSET&amp;NAME=live.css&amp;V=" + std::string(css->digest)),
              std::string::npos);
    EXPECT_EQ(html.find("style="), std::string::npos);
    // What the script needs, the presets of the entry form, the classic view.
    EXPECT_EQ(attr(html, "config", "data-exe"), "/cgi-bin/velt.cgi");
    EXPECT_EQ(attr(html, "config", "data-folder"), std::to_string(kFolder));
    EXPECT_EQ(attr(html, "config", "data-uid"), "taro");
    EXPECT_EQ(attr(html, "config", "data-skey1"), "1011");
    EXPECT_EQ(attr(html, "config", "data-skey2"), "2022");
    EXPECT_EQ(attr(html, "config", "data-hold"), "25");
    EXPECT_EQ(attr(html, "config", "data-can-write"), "1");
    EXPECT_EQ(attr(html, "chat-name", "value"), "Taro Yamada");
    EXPECT_EQ(attr(html, "colour", "value"), "Navy");
    EXPECT_NE(html.find("<a href=\"/cgi-bin/velt.cgi?uid=taro&amp;SKEY1=1011&amp;SKEY2=2022&amp;FOLDER_NO=30&amp;"
                        "JOB=ROOM\">Classic view</a>"),
              std::string::npos);
    // The accessible names of an English site.
    for (const char* label : {">Chat name</label>", ">Enter</button>", ">Message</label>", ">Send</button>",
                              ">Leave</button>", ">Earlier lines</button>", "aria-label=\"Conversation\""}) {
        EXPECT_NE(html.find(label), std::string::npos) << label;
    }
    EXPECT_NE(html.find("role=\"log\""), std::string::npos);
    // No title picture set: none asked for.
    EXPECT_EQ(attr(html, "picture", "src"), "");

    // hanako reads Japanese; the operator's frame ancestors widen the policy.
    const e2e::Result ja = page(kHanako, {{"VELT_FRAME_ANCESTORS", "https://portal.example.com bad;word"}});
    EXPECT_NE(ja.out.find("<html lang=\"ja\">"), std::string::npos);
    EXPECT_NE(ja.out.find(">メッセージ</label>"), std::string::npos);
    EXPECT_NE(ja.out.find(">入室</button>"), std::string::npos);
    EXPECT_NE(ja.out.find(kPolicy + " https://portal.example.com\n"), std::string::npos);
    // The room's hold as the operator set it.
    EXPECT_EQ(attr(page(kTaro, {{"VELT_LIVE_HOLD", "40"}}).out, "config", "data-hold"), "40");
}

TEST_F(LivePage, WithoutTheRightToWriteThePageOffersNoEntryAndOutsidersGetNoPage) {
    EXPECT_EQ(attr(page(kGuest).out, "config", "data-can-write"), "0");
    EXPECT_EQ(page(kOutsider).out, e2e::NO_ACCESS);
    // A refused key gets the classic session page, not the live one.
    const e2e::Result bad = get("FOLDER_NO=30&uid=taro&SKEY1=1&SKEY2=2&JOB=LIVE");
    EXPECT_EQ(bad.out.find("<!DOCTYPE html>"), std::string::npos);
    EXPECT_NE(bad.out.find(e2e::message(7)), std::string::npos);
}

TEST_F(LivePage, APasswordLoginIsSentOnToThePagesOwnAddress) {
    e2e::Request req;
    req.method = "POST";
    req.content_type = "application/x-www-form-urlencoded";
    req.body = "uid=taro&upw=pw1&FOLDER_NO=30&JOB=LIVE";
    const e2e::Result r = e2e::run(s.site, req);
    const std::string head =
        "Status: 303 See Other\nContent-Type: text/plain\nLocation: /cgi-bin/velt.cgi?uid=taro&SKEY1=";
    ASSERT_EQ(r.out.compare(0, head.size(), head), 0) << r.out;
    const std::string k1 = digits_at(r.out, head.size());
    const std::string rest = "&SKEY2=";
    ASSERT_EQ(r.out.compare(head.size() + k1.size(), rest.size(), rest), 0) << r.out;
    const std::string k2 = digits_at(r.out, head.size() + k1.size() + rest.size());
    ASSERT_FALSE(k1.empty() || k2.empty()) << r.out;
    EXPECT_EQ(r.out.substr(head.size() + k1.size() + rest.size() + k2.size()),
              "&FOLDER_NO=30&JOB=LIVE\n\nSee the live view's address.\n");
    // The address carries the new key: it opens the page.
    const std::string again = get("uid=taro&SKEY1=" + k1 + "&SKEY2=" + k2 + "&FOLDER_NO=30&JOB=LIVE").out;
    EXPECT_NE(again.find("data-skey1=\"" + k1 + "\""), std::string::npos);
}

TEST_F(LivePage, TheScriptAndStylesheetAreServedToAnybodyAndCachedByTheirDigest) {
    for (const char* name : {"live.js", "live.css"}) {
        const LIVE_ASSET* a = live_asset(name);
        ASSERT_NE(a, nullptr);
        const std::string file = e2e::read_file(std::string(VELT_SOURCE_DIR) + "/live/web/" + name);
        const std::string fresh = get(std::string("JOB=LIVE_ASSET&NAME=") + name + "&V=" + a->digest).out;
        EXPECT_EQ(fresh, "Content-Type: " + std::string(a->content_type) +
                             "\nCache-Control: public, max-age=31536000, immutable\nX-Content-Type-Options: nosniff\n\n" +
                             file);
        const std::string stale = get(std::string("JOB=LIVE_ASSET&NAME=") + name + "&V=0123456789abcdef").out;
        EXPECT_NE(stale.find("\nCache-Control: no-cache\n"), std::string::npos);
        EXPECT_EQ(stale.substr(stale.find("\n\n") + 2), file);
    }
    for (const char* name : {"live.html", "../zepa.ini", "", "LIVE.JS"}) {
        EXPECT_EQ(get(std::string("JOB=LIVE_ASSET&NAME=") + name).out,
                  "Status: 404 Not Found\nContent-Type: text/plain\n\nNo such file of the live view.\n")
            << name;
    }
}

TEST_F(LivePage, TheTitlePictureIsAskedForByATokenNotByTheKey) {
    e2e::write_file(s.site.data_dir + "mimemap.txt", "png,image/png,\n");
    e2e::make_dir(s.room_dir + "fcg");
    e2e::write_file(s.room_dir + "fcg/title.png", "\x89PNG picture bytes");
    e2e::write_file(s.room_dir + "dir.cnf", "TITLEPIC,title.png,\n");
    const std::string src = e2e::html_unescape(attr(page(kTaro).out, "picture", "src"));
    const std::string prefix = "/cgi-bin/velt.cgi?JOB=LIVE_PICTURE&FOLDER_NO=30&uid=taro&T=";
    ASSERT_EQ(src.compare(0, prefix.size(), prefix), 0) << src;
    const std::string token = src.substr(prefix.size());
    ASSERT_EQ(token.size(), 32u) << src;
    ASSERT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << src;
    const std::string query = src.substr(src.find('?') + 1);
    EXPECT_EQ(get(query).out, "Content-type: image/png\nX-Content-Type-Options: nosniff\n\n\x89PNG picture bytes");

    const std::string refused = "Status: 401 Unauthorized\nContent-Type: text/plain\n\nThis picture address is no longer valid.\n";
    EXPECT_EQ(get("JOB=LIVE_PICTURE&FOLDER_NO=30&uid=taro&T=0123456789abcdef0123456789abcdef").out, refused);
    EXPECT_EQ(get("JOB=LIVE_PICTURE&FOLDER_NO=30&uid=taro").out, refused);
    EXPECT_EQ(get("JOB=LIVE_PICTURE&FOLDER_NO=30&uid=hanako&T=" + token).out, refused);
    EXPECT_EQ(get("JOB=LIVE_PICTURE&FOLDER_NO=30&uid=nobody&T=" + token).out, refused);
    // The key itself opens nothing here.
    EXPECT_EQ(get("JOB=LIVE_PICTURE&" + livesite::creds(kTaro)).out, refused);
    // Another room's token is not this room's.
    EXPECT_EQ(get("JOB=LIVE_PICTURE&FOLDER_NO=31&uid=taro&T=" + token).out, e2e::NO_ROOM);
    // A new login makes the old address useless.
    e2e::write_file(s.site.data_dir + "user/taro/skey.mst", roomsite::skey_record("taro", 9, 9));
    EXPECT_EQ(get(query).out, refused);
}

TEST_F(LivePage, ASiteWhoseMessageFileKnowsNoLiveTextsGetsTheEnglishOnes) {
    // velt.lng as it was before the live view: no messages from 400 on.
    std::string lng = e2e::read_file(s.site.cgi_dir + "/velt.lng");
    for (std::size_t at = lng.find("\n4"); at != std::string::npos; at = lng.find("\n4", at)) {
        if (lng.size() > at + 4 && lng[at + 4] == ',') {
            lng.erase(at + 1, lng.find('\n', at + 1) - at);
        } else {
            ++at;
        }
    }
    ASSERT_EQ(lng.find("\n401,"), std::string::npos);
    e2e::write_file(s.site.cgi_dir + "/velt.lng", lng);
    const std::string html = page(kHanako).out;
    EXPECT_NE(html.find(">Message</label>"), std::string::npos);
    EXPECT_NE(html.find(">Send</button>"), std::string::npos);
    EXPECT_NE(html.find(">Earlier lines</button>"), std::string::npos);
    EXPECT_NE(html.find(">入室</button>"), std::string::npos);  // the classic texts stay the site's
}

}  // namespace
