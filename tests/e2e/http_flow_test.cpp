// The whole flow of a chat through each real web server whose configuration
// the tree keeps (lighttpd, Apache, nginx with fcgiwrap; scripts/serve.sh uses
// site/*.conf as they stand): a site made with velt-admin, served on
// 127.0.0.1, driven over HTTP as a browser would: log in on the portal's form,
// enter the room, post, read the list, see the other member, leave; and the
// server's access log keeps no session key. The test starts and stops the
// server itself; a server that cannot be started fails the test.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/e2e/http_site.h"

namespace {

using e2e::Fields;
using e2e::hidden_fields;
using e2e::frame_src;
using e2e::free_port;
using e2e::Http;
using e2e::http;
using e2e::url_encode;
using e2e::shell;

const std::string kAdmin = std::string(VELT_BINARY_DIR) + "/velt-admin";

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }

class HttpFlowTest : public ::testing::TestWithParam<const char*> {
protected:
    std::string root;
    int port = 0;
    pid_t server_pid = -1;

    void SetUp() override {
        ASSERT_EQ(access(kAdmin.c_str(), X_OK), 0) << kAdmin << " is missing: build the velt_admin target";
        const std::string server = GetParam();
        const std::string bin = server == "apache" ? "apache2" : server;
        ASSERT_TRUE(access(("/usr/sbin/" + bin).c_str(), X_OK) == 0 || shell("command -v " + bin + " >/dev/null") == 0)
            << bin << " is not installed: run scripts/install-deps.sh";
        char tmpl[] = "/tmp/velt-http-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        const std::string cgi = root + "/cgi-bin";
        const std::string q = "'" + cgi + "'";
        ASSERT_EQ(shell(kAdmin + " create-site " + q + " --data '" + root + "/data' --site-id web --language english >/dev/null"), 0);
        ASSERT_EQ(shell(kAdmin + " add-room " + q + " 42 --name Lobby --cgi /cgi-bin/velt.cgi --access-level 1 --write-level 1 >/dev/null"), 0);
        ASSERT_EQ(shell(kAdmin + " add-user " + q + " taro --password 'pw&1' --name 'Taro Yamada' --level 5 >/dev/null"), 0);
        ASSERT_EQ(shell(kAdmin + " add-user " + q + " hanako --password pw2 --name 'Hanako Sato' --level 5 >/dev/null"), 0);
        ASSERT_EQ(shell("cp '" + std::string(VELT_BINARY_DIR) + "/velt.cgi' " + q + "/velt.cgi"), 0);
        e2e::make_dir(root + "/www");
        // The demo's portal page, filled in as scripts/demo.sh fills it.
        std::string portal = e2e::read_file(std::string(VELT_SOURCE_DIR) + "/site/portal.html");
        const std::pair<std::string, std::string> fill[] = {
            {"@CGI@", "/cgi-bin/velt.cgi"}, {"@SITE_ID@", "web"}, {"@FOLDER_NO@", "42"}, {"@LOGINS@", "taro"}};
        for (const auto& f : fill) {
            for (std::size_t p = portal.find(f.first); p != std::string::npos; p = portal.find(f.first)) {
                portal.replace(p, f.first.size(), f.second);
            }
        }
        e2e::write_file(root + "/www/portal.html", portal);
        e2e::write_file(root + "/www/welcome.html", e2e::read_file(std::string(VELT_SOURCE_DIR) + "/site/welcome.html"));

        port = free_port();
        ASSERT_GT(port, 0);
        std::string why;
        server_pid = e2e::serve_site(server, root, port, &why);
        ASSERT_GT(server_pid, 0) << why;
    }

    // Stops the server, which writes out its logs.
    void stop_server() { e2e::stop_site(&server_pid); }

    void TearDown() override {
        stop_server();
        if (root.rfind("/tmp/velt-http-", 0) == 0) nftw(root.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    }

    std::string room_file(const std::string& name) const { return root + "/data/42/" + name; }

    // A form posted as the browser posts the room's forms.
    Http post_form(const Fields& fields) {
        e2e::Multipart mp;
        for (const auto& f : fields) e2e::mp_field(mp, f.first, f.second);
        const e2e::Request req = e2e::mp_request(mp);
        return http(port, "POST", "/cgi-bin/velt.cgi", req.content_type, req.body);
    }

    // Logs in through the portal's form; the room's frameset.
    Http login(const std::string& uid, const std::string& pw) {
        return http(port, "POST", "/cgi-bin/velt.cgi", "application/x-www-form-urlencoded",
                    "uid=" + url_encode(uid) + "&upw=" + url_encode(pw) + "&FOLDER_NO=42&JOB=ROOM");
    }
};

TEST_P(HttpFlowTest, LoginEnterPostListLeave) {
    // The portal page that stands in for the suite.
    Http r = http(port, "GET", "/");
    EXPECT_EQ(r.status, 200);
    // Its login form posts to the program, into the frame the room pages target.
    for (const char* part : {"<form method=\"POST\" action=\"/cgi-bin/velt.cgi\" target=\"FRM22web\">",
                             "name=\"uid\"", "name=\"upw\"", "name=\"FOLDER_NO\" value=\"42\"",
                             "name=\"JOB\" value=\"ROOM\"", "<iframe id=\"room\" name=\"FRM22web\" src=\"welcome.html\""}) {
        EXPECT_NE(r.body.find(part), std::string::npos) << part;
    }
    // The chat frame's first page, which an error page's OK goes back to.
    EXPECT_EQ(http(port, "GET", "/welcome.html").status, 200);
    // A bare request of the program is answered, not failed.
    r = http(port, "GET", "/cgi-bin/velt.cgi");
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.body, "No such chat room.\n");
    // The site's configuration is not served.
    EXPECT_EQ(http(port, "GET", "/cgi-bin/zepa.ini").status, 403);

    // A wrong password is refused with the login error page.
    r = login("taro", "wrong");
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find(e2e::message(6)), std::string::npos);
    EXPECT_EQ(r.body.find("<FRAMESET"), std::string::npos);

    // Login: the room's three frames, carrying a fresh session key.
    r = login("taro", "pw&1");
    ASSERT_EQ(r.status, 200);
    std::string head = r.head;  // servers differ in the case of header names
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(head.find("content-type: text/html"), std::string::npos) << r.head;
    const std::string input_src = frame_src(r.body, "FRM222SEL42");
    ASSERT_EQ(input_src.rfind("/cgi-bin/velt.cgi?uid=taro&SKEY1=", 0), 0u) << r.body;
    EXPECT_NE(frame_src(r.body, "FRM221SEL42"), "");

    // The input frame's entry form, posted with a chat name.
    r = http(port, "GET", input_src);
    ASSERT_EQ(r.status, 200);
    Fields enter = hidden_fields(r.body, 0);
    ASSERT_EQ(enter.size(), 5u) << r.body;
    EXPECT_EQ(enter[4], (std::pair<std::string, std::string>("JOB", "ROOM_IN")));
    enter.insert(enter.end(), {{"CHAT_NAME", "Taro & co"}, {"COLOR", "Navy"}, {"DISP_LINE", "30"},
                               {"RELOAD_TIME", "60"}, {"SUB", "Enter"}});
    r = post_form(enter);
    ASSERT_EQ(r.status, 200);
    const std::string talk_src = frame_src(r.body, "FRM222SEL42");
    EXPECT_NE(talk_src.find("&CHAT_NAME=Taro%20%26%20co&COLOR=Navy"), std::string::npos) << r.body;
    const std::string list_src = frame_src(r.body, "FRM223SEL42");

    // The talk form, and a post through it: the list answers, newest first.
    r = http(port, "GET", talk_src);
    ASSERT_EQ(r.status, 200);
    const std::string talk_form = r.body;
    Fields say = hidden_fields(talk_form, 0);
    say.emplace_back("CTALK", "Hello <over> HTTP");
    say.emplace_back("SUB", "Post");
    r = post_form(say);
    ASSERT_EQ(r.status, 200);
    const std::string first = "<B><FONT COLOR=\"Navy\">Taro &amp; co</FONT></B>&nbsp;>&nbsp;Hello &lt;over&gt; HTTP<BR>\n";
    const std::string entered = "<B><FONT COLOR=\"Navy\">Taro &amp; co</FONT></B>&nbsp;>&nbsp;" + e2e::message(312) + "<BR>\n";
    EXPECT_NE(r.body.find(first + entered), std::string::npos) << r.body;
    EXPECT_NE(r.body.find("CONTENT=\"60;URL="), std::string::npos);

    // The list frame of the frameset shows the same.
    r = http(port, "GET", list_src);
    EXPECT_NE(r.body.find(first + entered), std::string::npos);

    // A second user logs in and, outside the room, sees the member.
    r = login("hanako", "pw2");
    const std::string members_src = frame_src(r.body, "FRM223SEL42");
    r = http(port, "GET", members_src);
    EXPECT_NE(r.body.find("1:<B><FONT COLOR=\"Navy\">Taro &amp; co</FONT></B>[" + e2e::message(317) + "]<BR>total:[1]<P>"),
              std::string::npos)
        << r.body;

    // Leaving through the talk form's leave button.
    r = post_form(hidden_fields(talk_form, 1));
    ASSERT_EQ(r.status, 200);
    EXPECT_NE(frame_src(r.body, "FRM222SEL42").find("&CHAT_NAME=&COLOR=Navy"), std::string::npos);
    EXPECT_EQ(e2e::read_file(room_file("chatuser.idx")), "");
    const std::string data = e2e::read_file(room_file("chatdata.dat"));
    ASSERT_EQ(data.size(), 3u * 408u);
    EXPECT_EQ(std::string(data.c_str() + 154), e2e::message(313));

    // The room is empty now: the member list says so and clears the history.
    r = http(port, "GET", members_src);
    EXPECT_NE(r.body.find("total:[0]<P>"), std::string::npos);
    EXPECT_FALSE(e2e::file_exists(room_file("chatdata.dat")));

    // The access log names the program's requests without their query strings.
    stop_server();
    const std::string log = e2e::read_file(root + "/" + GetParam() + "/velt-access.log");
    EXPECT_NE(log.find("/cgi-bin/velt.cgi "), std::string::npos) << log;
    EXPECT_EQ(log.find("SKEY"), std::string::npos) << log;
    EXPECT_EQ(log.find("upw"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Servers, HttpFlowTest, ::testing::Values("lighttpd", "apache", "nginx"),
                         [](const ::testing::TestParamInfo<const char*>& param_info) { return std::string(param_info.param); });

}  // namespace
