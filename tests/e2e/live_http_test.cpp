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

#include <regex>
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
    std::smatch m;
    if (std::regex_search(head, m, std::regex("(^|\r?\n)" + name + ": *([^\r\n]*)", std::regex::icase))) return m[2];
    return "";
}

TEST_P(LiveHttp, APollIsHeldAndWokenByAPostThroughTheServer) {
    // A password login to the page: its own address, with the key.
    e2e::Http r = job("uid=taro&upw=" + e2e::url_encode("pw&1") + "&FOLDER_NO=42&JOB=LIVE");
    ASSERT_EQ(r.status, 303) << r.head << r.body;
    const std::string location = header(r.head, "Location");
    std::smatch key;
    ASSERT_TRUE(std::regex_search(location, key, std::regex("uid=taro&SKEY1=([0-9]+)&SKEY2=([0-9]+)&FOLDER_NO=42&JOB=LIVE$")))
        << location;
    const std::string creds = "FOLDER_NO=42&uid=taro&SKEY1=" + key[1].str() + "&SKEY2=" + key[2].str();

    // The page, and its script by the address the page gives.
    r = e2e::http(port, "GET", "/cgi-bin/velt.cgi?uid=taro&SKEY1=" + key[1].str() + "&SKEY2=" + key[2].str() +
                                   "&FOLDER_NO=42&JOB=LIVE");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(header(r.head, "Content-Security-Policy"),
              "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
              "form-action 'self'; base-uri 'none'; frame-ancestors 'self'");
    std::smatch script;
    ASSERT_TRUE(std::regex_search(r.body, script, std::regex("<script src=\"([^\"]+)\"")));
    std::string src = script[1];
    src = std::regex_replace(src, std::regex("&amp;"), "&");
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
