// The live view under load, through lighttpd: 50 members of a room wait in
// long polls (LIVE_POLL with WAIT=1) while 4 members post through LIVE_POST
// as fast as the program answers. Asserts counts and order (every poll
// sees every line of the message file after its start exactly once, in the
// file's order, without a reset; all 50 polls wait at once; every post
// stored), never timings; the figures it prints are for the record.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/e2e/http_site.h"

namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int kFolder = 44;
constexpr int kRecord = 408;
constexpr int kWatchers = 50;
constexpr int kPosters = 4;
constexpr int kPosts = 25;  // per poster: a sanitized build serves it too within the minute
const std::string kAdmin = std::string(VELT_BINARY_DIR) + "/velt-admin";

// A line as the file and the answers both name it.
using Line = std::pair<std::string, std::string>;  // chat name, text

std::string user_of(int n) { return "u" + std::to_string(n); }   // u0 the watchers' user, u1.. the posters
std::string watcher(int i) { return "w" + std::to_string(i); }
std::string post_text(int p, int i) { return "p" + std::to_string(p) + "-" + std::to_string(i); }

// One 536-byte key record of skey.mst: the pair, then the user id.
std::string skey_record(const std::string& uid, int32_t k1, int32_t k2) {
    std::string rec(536, '\0');
    std::memcpy(&rec[0], &k1, 4);
    std::memcpy(&rec[4], &k2, 4);
    std::memcpy(&rec[8], uid.data(), uid.size());
    return rec;
}

// Processes of the program running now in program directory dir.
int running_programs(const std::string& dir) {
    int n = 0;
    DIR* d = opendir("/proc");
    if (d == nullptr) return 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        const std::string proc = std::string("/proc/") + e->d_name;
        char cwd[4096];
        const ssize_t len = readlink((proc + "/cwd").c_str(), cwd, sizeof cwd - 1);
        if (len <= 0 || std::string(cwd, static_cast<std::size_t>(len)) != dir) continue;
        if (e2e::read_file(proc + "/comm").rfind("velt.cgi", 0) == 0) ++n;
    }
    closedir(d);
    return n;
}

class LiveStress : public ::testing::Test {
protected:
    e2e::Site site;
    int port = 0;
    pid_t server = -1;

    void SetUp() override {
        ASSERT_EQ(access(kAdmin.c_str(), X_OK), 0) << kAdmin << " is missing: build the velt_admin target";
        ASSERT_TRUE(access("/usr/sbin/lighttpd", X_OK) == 0 || e2e::shell("command -v lighttpd >/dev/null") == 0)
            << "lighttpd is not installed: run scripts/install-deps.sh";
        char tmpl[] = "/tmp/velt-site-live-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        site.root = tmpl;
        site.data_dir = site.root + "/data/";
        const std::string cgi = "'" + site.root + "/cgi-bin'";
        ASSERT_EQ(e2e::shell(kAdmin + " create-site " + cgi + " --data '" + site.data_dir +
                             "' --site-id live --language english >/dev/null"), 0);
        ASSERT_EQ(e2e::shell(kAdmin + " add-room " + cgi + " " + std::to_string(kFolder) +
                             " --name Busy --access-level 1 --write-level 1 >/dev/null"), 0);
        for (int n = 0; n <= kPosters; ++n) {
            ASSERT_EQ(e2e::shell(kAdmin + " add-user " + cgi + " " + user_of(n) + " --password pw --level 5 >/dev/null"), 0);
            e2e::write_file(site.data_dir + "user/" + user_of(n) + "/skey.mst", skey_record(user_of(n), 100 + n, 200 + n));
        }
        ASSERT_EQ(e2e::shell("cp '" + std::string(VELT_BINARY_DIR) + "/velt.cgi' " + cgi + "/velt.cgi"), 0);
        e2e::make_dir(site.root + "/www");
        e2e::write_file(site.root + "/www/portal.html", "<html><body>live</body></html>\n");
        port = e2e::free_port();
        ASSERT_GT(port, 0);
        std::string why;
        server = e2e::serve_site("lighttpd", site.root, port, &why);
        ASSERT_GT(server, 0) << why;
    }

    void TearDown() override {
        e2e::stop_site(&server);
        if (site.root.rfind("/tmp/velt-site-live-", 0) == 0) e2e::shell("rm -rf '" + site.root + "'");
    }

    // A JSON job of user n through lighttpd: the status and the body (null
    // when it is not JSON).
    std::pair<int, json> call(int n, const std::string& job, const std::string& fields) {
        const e2e::Http r = e2e::http(port, "POST", "/cgi-bin/velt.cgi", "application/x-www-form-urlencoded",
                                      "JOB=" + job + "&FOLDER_NO=" + std::to_string(kFolder) + "&uid=" + user_of(n) +
                                          "&SKEY1=" + std::to_string(100 + n) + "&SKEY2=" + std::to_string(200 + n) +
                                          "&" + fields);
        json body = json::parse(r.body, nullptr, false);
        return {r.status, body.is_discarded() ? json() : body};
    }

    // The message file's lines, oldest first.
    std::vector<Line> file_lines() {
        const std::string bytes = e2e::read_file(site.data_dir + std::to_string(kFolder) + "/chatdata.dat");
        std::vector<Line> out;
        for (std::size_t at = bytes.size() / kRecord * kRecord; at >= kRecord; at -= kRecord) {
            const std::string r = bytes.substr(at - kRecord, kRecord);
            out.emplace_back(r.substr(30, r.find('\0', 30) - 30), r.substr(154, r.find('\0', 154) - 154));
        }
        return out;
    }
};

// What one waiting member saw.
struct Watch {
    std::vector<Line> lines;   // every line of every answer, in order
    std::size_t start = 0;     // records in the file when he entered
    int polls = 0;
    std::vector<std::string> faults;
};

TEST_F(LiveStress, FiftyWaitingPollsSeeEveryLineOfFourPostersOnceAndInOrder) {
    // The posters enter, then the watchers, one after the other: each
    // watcher's view starts at a known record of the file.
    std::vector<std::string> poster_cursor(kPosters);
    for (int p = 0; p < kPosters; ++p) {
        const auto r = call(1 + p, "LIVE_ENTER", "CHAT_NAME=P" + std::to_string(p));
        ASSERT_EQ(r.first, 200) << r.second.dump();
        poster_cursor[p] = r.second["cursor"];
    }
    std::vector<Watch> watches(kWatchers);
    std::vector<std::string> cursors(kWatchers), tags(kWatchers);
    for (int i = 0; i < kWatchers; ++i) {
        const auto r = call(0, "LIVE_ENTER", "CHAT_NAME=" + watcher(i));
        ASSERT_EQ(r.first, 200) << r.second.dump();
        cursors[i] = r.second["cursor"];
        tags[i] = r.second.value("members_tag", "");
        watches[i].start = file_lines().size();
    }

    // The watchers poll as the page does, each until he has seen every post.
    const Clock::time_point give_up = Clock::now() + std::chrono::seconds(150);
    std::vector<std::thread> pollers;
    for (int i = 0; i < kWatchers; ++i) {
        pollers.emplace_back([&, i] {
            Watch& w = watches[i];
            int posts = 0;
            while (posts < kPosters * kPosts && Clock::now() < give_up) {
                const auto r = call(0, "LIVE_POLL", "CHAT_NAME=" + watcher(i) + "&CURSOR=" + cursors[i] +
                                                        "&MEMBERS=" + tags[i] + "&WAIT=1");
                ++w.polls;
                if (r.first != 200 || !r.second.is_object()) {
                    w.faults.push_back("status " + std::to_string(r.first) + " " + r.second.dump());
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    continue;
                }
                if (r.second.value("reset", false)) w.faults.push_back("reset at poll " + std::to_string(w.polls));
                if (r.second["since"] != cursors[i]) w.faults.push_back("since " + r.second["since"].dump());
                for (const auto& l : r.second["lines"]) {
                    w.lines.emplace_back(l["name"], l["text"]);
                    if (l["name"].get<std::string>()[0] == 'P' && l["text"].get<std::string>()[0] == 'p') ++posts;
                }
                cursors[i] = r.second["cursor"];
                if (r.second.contains("members_tag")) tags[i] = r.second["members_tag"];
            }
        });
    }
    // All fifty wait at once before the first post.
    int waiting = 0;
    for (const Clock::time_point until = Clock::now() + std::chrono::seconds(30); Clock::now() < until;) {
        waiting = running_programs(site.root + "/cgi-bin");
        if (waiting >= kWatchers) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_GE(waiting, kWatchers) << "programs waiting before the first post";

    // The posters, as fast as their answers come; a busy answer is asked again.
    const Clock::time_point t0 = Clock::now();
    std::vector<std::thread> posters;
    std::vector<int> busy(kPosters, 0), other(kPosters, 0);
    for (int p = 0; p < kPosters; ++p) {
        posters.emplace_back([&, p] {
            for (int i = 0; i < kPosts; ++i) {
                for (;;) {
                    const auto r = call(1 + p, "LIVE_POST", "CHAT_NAME=P" + std::to_string(p) + "&CTALK=" + post_text(p, i) +
                                                                "&CURSOR=" + poster_cursor[p]);
                    if (r.first == 200) {
                        poster_cursor[p] = r.second["cursor"];
                        break;
                    }
                    (r.first == 503 ? busy[p] : other[p])++;
                    if (other[p] > 3) return;
                }
            }
        });
    }
    for (std::thread& t : posters) t.join();
    const double posting_s = std::chrono::duration<double>(Clock::now() - t0).count();
    for (std::thread& t : pollers) t.join();
    const double all_seen_s = std::chrono::duration<double>(Clock::now() - t0).count();

    // Every post stored once, each poster's in his order.
    const std::vector<Line> file = file_lines();
    for (int p = 0; p < kPosters; ++p) {
        EXPECT_EQ(other[p], 0) << "poster " << p << ": answers that are neither stored nor busy";
        std::vector<std::string> mine;
        for (const Line& l : file)
            if (l.first == "P" + std::to_string(p) && l.second[0] == 'p') mine.push_back(l.second);
        std::vector<std::string> want;
        for (int i = 0; i < kPosts; ++i) want.push_back(post_text(p, i));
        EXPECT_EQ(mine, want) << "poster " << p;
    }
    // Every watcher saw exactly the file after his start: each line once, in order.
    int polls = 0;
    for (int i = 0; i < kWatchers; ++i) {
        const Watch& w = watches[i];
        polls += w.polls;
        EXPECT_EQ(w.faults, std::vector<std::string>{}) << watcher(i);
        ASSERT_LE(w.start, file.size());
        const std::vector<Line> want(file.begin() + static_cast<long>(w.start), file.end());
        EXPECT_EQ(w.lines.size(), want.size()) << watcher(i);
        EXPECT_TRUE(w.lines == want) << watcher(i) << ": the lines seen are not the file's";
    }
    int busy_total = 0;
    for (int b : busy) busy_total += b;
    std::printf("[ figures  ] %d waiting at once; %d posts in %.1f s (%d busy answers asked again); all %d watchers "
                "had every line after %.1f s with %d polls (%.1f each)\n",
                waiting, kPosters * kPosts, posting_s, busy_total, kWatchers, all_seen_s, polls,
                static_cast<double>(polls) / kWatchers);
}

}  // namespace
