// Two web servers, one data directory: two lighttpd instances on loopback
// ports, each with its own program directory and configuration but the same
// DATA_FILE_PATH, and members posting into one room through both at once
// (each logged in and entered through the other server).
// Asserts counts and bytes (nothing refused, every post answered as stored is
// in the message file exactly once and in its poster's order, whole records,
// no lock or temporary file left); the latencies it prints are figures.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/e2e/http_site.h"

namespace {

constexpr int kFolder = 42;
constexpr int kRecord = 408;
constexpr int kServers = 2;
constexpr int kPostersPerServer = 4;
constexpr int kPosts = 50;
const std::string kAdmin = std::string(VELT_BINARY_DIR) + "/velt-admin";

std::string poster_id(int n) { return "p" + std::to_string(n); }
std::string talk_of(int n, int i) { return poster_id(n) + "-" + std::to_string(i); }
bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// What the posters saw, request by request.
struct Outcome {
    std::mutex m;
    std::vector<double> ms[kServers];
    int refused = 0;
    std::vector<std::string> faults;     // answers that are neither stored nor busy
    std::set<std::string> stored;        // the posts answered as stored
};

class TwoServers : public ::testing::Test {
protected:
    e2e::Site site;  // root: server A's site; the data directory and server B's site lie inside it
    std::string roots[kServers];
    int ports[kServers] = {};
    pid_t pids[kServers] = {-1, -1};

    void SetUp() override {
        ASSERT_EQ(access(kAdmin.c_str(), X_OK), 0) << kAdmin << " is missing: build the velt_admin target";
        ASSERT_TRUE(access("/usr/sbin/lighttpd", X_OK) == 0 || e2e::shell("command -v lighttpd >/dev/null") == 0)
            << "lighttpd is not installed: run scripts/install-deps.sh";
        char tmpl[] = "/tmp/velt-site-scale-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        site.root = tmpl;
        roots[0] = site.root;
        roots[1] = site.root + "/second";
        const std::string cgi = "'" + roots[0] + "/cgi-bin'";
        ASSERT_EQ(e2e::shell(kAdmin + " create-site " + cgi + " --data '" + roots[0] + "/data' --site-id web >/dev/null"), 0);
        ASSERT_EQ(e2e::shell(kAdmin + " add-room " + cgi + " " + std::to_string(kFolder) +
                             " --name Busy --access-level 1 --write-level 1 >/dev/null"), 0);
        for (int n = 0; n < kServers * kPostersPerServer; ++n) {
            ASSERT_EQ(e2e::shell(kAdmin + " add-user " + cgi + " " + poster_id(n) + " --password pw" + std::to_string(n) +
                                 " --level 5 >/dev/null"), 0);
        }
        ASSERT_EQ(e2e::shell("cp '" + std::string(VELT_BINARY_DIR) + "/velt.cgi' " + cgi + "/velt.cgi"), 0);
        // The second server: a copy of the program directory, whose zepa.ini
        // names the same data directory.
        e2e::make_dir(roots[1]);
        ASSERT_EQ(e2e::shell("cp -R " + cgi + " '" + roots[1] + "/cgi-bin'"), 0);
        ASSERT_TRUE(contains(e2e::read_file(roots[1] + "/cgi-bin/zepa.ini"), "DATA_FILE_PATH," + roots[0] + "/data/"));
        for (int s = 0; s < kServers; ++s) {
            e2e::make_dir(roots[s] + "/www");
            e2e::write_file(roots[s] + "/www/portal.html", "<html><body>server " + std::to_string(s) + "</body></html>\n");
        }
        // One after the other: serve.sh hands its whole site (the second
        // one's inside the first) to the server's user when run as root.
        for (int s = 0; s < kServers; ++s) {
            ports[s] = e2e::free_port();
            ASSERT_GT(ports[s], 0);
            std::string why;
            pids[s] = e2e::serve_site("lighttpd", roots[s], ports[s], &why);
            ASSERT_GT(pids[s], 0) << why;
        }
        ASSERT_NE(ports[0], ports[1]);
    }

    void TearDown() override {
        for (pid_t& pid : pids) e2e::stop_site(&pid);
        e2e::remove_site(site);
    }

    // A form posted as the browser posts the room's forms.
    e2e::Http post_form(int server, const e2e::Fields& fields) {
        e2e::Multipart mp;
        for (const auto& f : fields) e2e::mp_field(mp, f.first, f.second);
        const e2e::Request req = e2e::mp_request(mp);
        return e2e::http(ports[server], "POST", "/cgi-bin/velt.cgi", req.content_type, req.body);
    }

    // Logs poster n in through server `server` and enters the room; the talk
    // form's hidden fields, or an empty list when any step failed.
    e2e::Fields enter(int server, int n) {
        const int port = ports[server];
        e2e::Http r = e2e::http(port, "POST", "/cgi-bin/velt.cgi", "application/x-www-form-urlencoded",
                                "uid=" + poster_id(n) + "&upw=pw" + std::to_string(n) + "&FOLDER_NO=" +
                                    std::to_string(kFolder) + "&JOB=ROOM");
        const std::string frame = "FRM222SEL" + std::to_string(kFolder);
        r = e2e::http(port, "GET", e2e::frame_src(r.body, frame));
        e2e::Fields form = e2e::hidden_fields(r.body, 0);
        if (form.size() != 5) return {};
        form.insert(form.end(), {{"CHAT_NAME", poster_id(n)}, {"COLOR", "Navy"}, {"DISP_LINE", "50"},
                                 {"RELOAD_TIME", "60"}, {"SUB", "Enter"}});
        r = e2e::http(port, "GET", e2e::frame_src(post_form(server, form).body, frame));
        return e2e::hidden_fields(r.body, 0);
    }

    // Poster n's kPosts posts through its server, each timed and judged.
    void post_all(int server, int n, Outcome& out) {
        // The session is made on the other server: any server serves any member.
    const e2e::Fields talk_form = enter((server + 1) % kServers, n);
        if (talk_form.empty()) {
            std::lock_guard<std::mutex> g(out.m);
            out.faults.push_back(poster_id(n) + " could not enter");
            return;
        }
        for (int i = 0; i < kPosts; ++i) {
            const std::string talk = talk_of(n, i);
            e2e::Fields say = talk_form;
            say.insert(say.end(), {{"CTALK", talk}, {"SUB", "Post"}});
            const auto t0 = std::chrono::steady_clock::now();
            const e2e::Http r = post_form(server, say);
            const double took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            std::lock_guard<std::mutex> g(out.m);
            out.ms[server].push_back(took);
            if (r.status == 503 && contains(r.body, e2e::message(19))) {
                ++out.refused;
            } else if (r.status == 200 && contains(r.body, "&nbsp;>&nbsp;" + talk + "<BR>")) {
                out.stored.insert(talk);
            } else {
                out.faults.push_back(talk + ": HTTP " + std::to_string(r.status) +
                                     (contains(r.body, e2e::message(314)) ? ", not in this room" : ", without its line"));
            }
        }
    }
};

double percentile(std::vector<double> ms, int pct) {
    if (ms.empty()) return 0;
    std::sort(ms.begin(), ms.end());
    return ms[std::min(ms.size() - 1, ms.size() * static_cast<std::size_t>(pct) / 100)];
}

TEST_F(TwoServers, PostersOnBothServersLoseAndRefuseNothing) {
    const int posters = kServers * kPostersPerServer;
    Outcome out;
    std::vector<std::thread> pool;
    for (int n = 0; n < posters; ++n) pool.emplace_back([&, n] { post_all(n % kServers, n, out); });
    for (auto& t : pool) t.join();

    // The message file: whole records of this room, newest first.
    const std::string room = roots[0] + "/data/" + std::to_string(kFolder) + "/";
    const std::string bytes = e2e::read_file(room + "chatdata.dat");
    ASSERT_EQ(bytes.size() % kRecord, 0u);
    std::vector<std::string> talks;
    for (std::size_t off = 0; off < bytes.size(); off += kRecord) {
        int32_t folder = 0;
        std::memcpy(&folder, &bytes[off], 4);
        EXPECT_EQ(folder, kFolder) << "record at " << off;
        talks.emplace_back(bytes.c_str() + off + 154, strnlen(bytes.c_str() + off + 154, 252));
    }
    std::map<std::string, int> in_file;
    for (const auto& t : talks) ++in_file[t];
    int lost = 0;
    for (const auto& t : out.stored) lost += in_file.count(t) == 0 ? 1 : 0;

    std::vector<double> all(out.ms[0]);
    all.insert(all.end(), out.ms[1].begin(), out.ms[1].end());
    std::printf("[figures] 2 lighttpd servers, one data directory, %d posters x %d posts: %zu requests, %d refused, "
                "%zu other faults, %d lost; p50 %.1f ms, p99 %.1f ms, worst %.1f ms (server A p50 %.1f / p99 %.1f, "
                "server B p50 %.1f / p99 %.1f)\n",
                posters, kPosts, all.size(), out.refused, out.faults.size(), lost, percentile(all, 50),
                percentile(all, 99), percentile(all, 100), percentile(out.ms[0], 50), percentile(out.ms[0], 99),
                percentile(out.ms[1], 50), percentile(out.ms[1], 99));

    EXPECT_EQ(out.refused, 0);
    EXPECT_EQ(out.faults, std::vector<std::string>{});
    EXPECT_EQ(out.stored.size(), static_cast<std::size_t>(posters * kPosts));
    EXPECT_EQ(lost, 0);
    // Each poster's entry notice and posts, nothing else, each once, in the
    // poster's order.
    EXPECT_EQ(talks.size(), static_cast<std::size_t>(posters + posters * kPosts));
    EXPECT_EQ(in_file[e2e::message(312)], posters);
    for (int n = 0; n < posters; ++n) {
        int last = kPosts;
        for (const auto& t : talks) {
            if (t.rfind(poster_id(n) + "-", 0) != 0) continue;
            const int i = std::stoi(t.substr(poster_id(n).size() + 1));
            EXPECT_LT(i, last) << t;
            last = i;
        }
        for (int i = 0; i < kPosts; ++i) EXPECT_EQ(in_file[talk_of(n, i)], 1) << talk_of(n, i);
    }
    // No lock or temporary file is left in the room or the data directory.
    for (const std::string& dir : {room, roots[0] + "/data/"}) {
        DIR* d = opendir(dir.c_str());
        ASSERT_NE(d, nullptr) << dir;
        for (struct dirent* e = readdir(d); e != nullptr; e = readdir(d)) {
            const std::string name = e->d_name;
            const bool left = name.size() > 4 && (name.compare(name.size() - 4, 4, ".chk") == 0 ||
                                                  name.compare(name.size() - 4, 4, ".tmp") == 0);
            EXPECT_FALSE(left) << dir << name;
        }
        closedir(d);
    }
}

}  // namespace
