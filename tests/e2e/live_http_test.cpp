// The live view through each web server whose configuration the tree keeps
// (lighttpd, Apache, nginx with fcgiwrap; site/*.conf as scripts/serve.sh
// uses them): a password login to the page answered with its own address, the
// page and its script, and a poll held by the program while the same member
// posts through another connection, which wakes it: a server that gave the
// held poll its only worker, or gave up on it, fails. Statuses and headers of
// the JSON answers come through unchanged.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cctype>
#include <string>
#include <thread>

#include "tests/e2e/harness.h"
#include "tests/e2e/http_site.h"

namespace {

using json = nlohmann::json;

const std::string kAdmin = std::string(VELT_BINARY_DIR) + "/velt-admin";

class LiveHttp : public ::testing::TestWithParam<const char*> {
protected:
    e2e::Site site;
    int port = 0;
    pid_t server = -1;

    void SetUp() override {
        const std::string name = GetParam();
        const std::string bin = name == "apache" ? "apache2" : name;
        ASSERT_TRUE(access(("/usr/sbin/" + bin).c_str(), X_OK) == 0 || e2e::shell("command -v " + bin + " >/dev/null") == 0)
            << bin << " is not installed: run scripts/install-deps.sh";
        char tmpl[] = "/tmp/velt-site-livehttp-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        site.root = tmpl;
        const std::string cgi = "'" + site.root + "/cgi-bin'";
        ASSERT_EQ(e2e::shell(kAdmin + " create-site " + cgi + " --data '" + site.root +
                             "/data' --site-id web --language english >/dev/null"), 0);
        ASSERT_EQ(e2e::shell(kAdmin + " add-room " + cgi +
                             " 42 --name Lobby --cgi /cgi-bin/velt.cgi --access-level 1 --write-level 1 >/dev/null"), 0);
        ASSERT_EQ(e2e::shell(kAdmin + " add-user " + cgi + " taro --password 'pw&1' --level 5 >/dev/null"), 0);
        ASSERT_EQ(e2e::shell("cp '" + std::string(VELT_BINARY_DIR) + "/velt.cgi' " + cgi + "/velt.cgi"), 0);
        e2e::make_dir(site.root + "/www");
        e2e::write_file(site.root + "/www/portal.html", "<html><body>portal</body></html>\n");
        port = e2e::free_port();
        ASSERT_GT(port, 0);
        std::string why;
        server = e2e::serve_site(name, site.root, port, &why);
        ASSERT_GT(server, 0) << why;
    }

    void TearDown() override {
        e2e::stop_site(&server);
        if (site.root.rfind("/tmp/velt-site-livehttp-", 0) == 0) e2e::shell("rm -rf '" + site.root + "'");
    }

    e2e::Http job(const std::string& body) {
        return e2e::http(port, "POST", "/cgi-bin/velt.cgi", "application/x-www-form-urlencoded", body);
    }
};

// The value of header `name` (any case) in an HTTP head, or "".
std::string header(const std::string& head, const std::string& name) {
    std::string lower;
    for (char c : head) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string want = "\n";
    for (char c : name) want += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    want += ":";
    const std::size_t at = lower.find(want);
    if (at == std::string::npos) return "";
    std::size_t from = at + want.size();
    while (from < head.size() && head[from] == ' ') ++from;
    const std::size_t end = head.find_first_of("\r\n", from);
    return head.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// The text of s between the first `before` and the next `after`, or "".
std::string between(const std::string& s, const std::string& before, const std::string& after) {
    const std::size_t at = s.find(before);
    if (at == std::string::npos) return "";
    const std::size_t from = at + before.size();
    const std::size_t end = s.find(after, from);
    return end == std::string::npos ? "" : s.substr(from, end - from);
}

TEST_P(LiveHttp, APollIsHeldAndWokenByAPostThroughTheServer) {
    // A password login to the page: its own address, with the key.
    e2e::Http r = job("uid=taro&upw=" + e2e::url_encode("pw&1") + "&FOLDER_NO=42&JOB=LIVE");
    ASSERT_EQ(r.status, 303) << r.head << r.body;
    const std::string location = header(r.head, "Location") + "\n";
    const std::string k1 = between(location, "?uid=taro&SKEY1=", "&SKEY2=");
    const std::string k2 = between(location, "&SKEY2=", "&FOLDER_NO=42&JOB=LIVE\n");
    ASSERT_FALSE(k1.empty() || k2.empty()) << location;
    ASSERT_EQ((k1 + k2).find_first_not_of("0123456789"), std::string::npos) << location;
    const std::string creds = "FOLDER_NO=42&uid=taro&SKEY1=" + k1 + "&SKEY2=" + k2;

    // The page, and its script by the address the page gives.
    r = e2e::http(port, "GET", "/cgi-bin/velt.cgi?uid=taro&SKEY1=" + k1 + "&SKEY2=" + k2 + "&FOLDER_NO=42&JOB=LIVE");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(header(r.head, "Content-Security-Policy"),
              "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
              "form-action 'self'; base-uri 'none'; frame-ancestors 'self'");
    std::string src = between(r.body, "<script src=\"", "\"");
    ASSERT_NE(src, "");
    for (std::size_t at = src.find("&amp;"); at != std::string::npos; at = src.find("&amp;", at + 1)) src.erase(at + 1, 4);
    r = e2e::http(port, "GET", src);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(header(r.head, "Cache-Control"), "public, max-age=31536000, immutable");
    EXPECT_EQ(r.body, e2e::read_file(std::string(VELT_SOURCE_DIR) + "/live/web/live.js"));

    r = job("JOB=LIVE_ENTER&" + creds + "&CHAT_NAME=Taro&COLOR=Navy");
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(header(r.head, "Content-Type"), "application/json; charset=utf-8");
    EXPECT_EQ(header(r.head, "Cache-Control"), "no-store");
    const json entered = json::parse(r.body);
    const std::string cursor = entered["cursor"];

    // A waiting poll, and a post through another connection while it waits.
    e2e::Http waited;
    std::thread poll([&] {
        waited = job("JOB=LIVE_POLL&" + creds + "&CHAT_NAME=Taro&WAIT=1&CURSOR=" + cursor + "&MEMBERS=" +
                     entered["members_tag"].get<std::string>());
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    r = job("JOB=LIVE_POST&" + creds + "&CHAT_NAME=Taro&CTALK=through+" + std::string(GetParam()) + "&CURSOR=" + cursor);
    EXPECT_EQ(r.status, 200) << r.body;
    poll.join();
    ASSERT_EQ(waited.status, 200) << waited.head << waited.body;
    const json answer = json::parse(waited.body, nullptr, false);
    ASSERT_TRUE(answer.is_object()) << waited.body;
    ASSERT_EQ(answer["lines"].size(), 1u) << waited.body;
    EXPECT_EQ(answer["lines"][0]["text"], "through " + std::string(GetParam()));

    // A refusal keeps its status and JSON body through the server.
    r = job("JOB=LIVE_POLL&FOLDER_NO=42&uid=taro&SKEY1=1&SKEY2=2");
    EXPECT_EQ(r.status, 401);
    EXPECT_EQ(json::parse(r.body, nullptr, false).value("error", ""), "session") << r.body;
}

INSTANTIATE_TEST_SUITE_P(Servers, LiveHttp, ::testing::Values("lighttpd", "apache", "nginx"),
                         [](const ::testing::TestParamInfo<const char*>& p) { return std::string(p.param); });

}  // namespace
