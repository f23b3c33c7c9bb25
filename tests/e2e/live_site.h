// A site for the live view's end-to-end tests: one room made by velt-admin,
// members with stored session keys, and the JSON jobs called as the page
// calls them (URL-encoded POST bodies with UTF-8 values), their answers parsed.
#pragma once
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/harness.h"
#include "tests/e2e/http_site.h"
#include "tests/e2e/room_site.h"

namespace livesite {

constexpr int kFolder = 30;
const std::string kAdmin = std::string(VELT_BINARY_DIR) + "/velt-admin";

// A user of the site: his id, his stored key pair.
struct Member {
    std::string uid;
    int32_t k1, k2;
};
// taro and hanako (Japanese pages) may write; guest may only open the room;
// outsider may not open it.
const Member kTaro{"taro", 1011, 2022};
const Member kHanako{"hanako", 3033, 4044};
const Member kGuest{"guest", 5055, 6066};
const Member kOutsider{"outsider", 7077, 8088};

struct LiveSite {
    e2e::Site site;
    std::string room_dir;  // ends in '/'
};

// The site: room kFolder "Lounge <&>" (opened from level 3, written from
// level 5) and the four users with their keys.
inline LiveSite make_live_site() {
    LiveSite s;
    s.site = e2e::make_site();
    const std::string cgi = "'" + s.site.cgi_dir + "'";
    auto admin = [&](const std::string& args) {
        EXPECT_EQ(std::system((kAdmin + " " + args + " >/dev/null").c_str()), 0) << args;
    };
    admin("add-room " + cgi + " " + std::to_string(kFolder) +
          " --name 'Lounge <&>' --cgi /cgi-bin/velt.cgi --access-level 3 --write-level 5");
    admin("add-user " + cgi + " taro --password pw1 --name 'Taro Yamada' --level 5 --color Navy");
    admin("add-user " + cgi + " hanako --password pw2 --name '佐藤花子' --level 5 --language japanese");
    admin("add-user " + cgi + " guest --password pw3 --name Guest --level 3");
    admin("add-user " + cgi + " outsider --password pw4 --name Outsider --level 1");
    for (const Member& m : {kTaro, kHanako, kGuest, kOutsider}) {
        e2e::write_file(s.site.data_dir + "user/" + m.uid + "/skey.mst", roomsite::skey_record(m.uid, m.k1, m.k2));
    }
    s.room_dir = s.site.data_dir + std::to_string(kFolder) + "/";
    return s;
}

// The credentials and room of member m, as the page posts them.
inline std::string creds(const Member& m, int folder = kFolder) {
    return "FOLDER_NO=" + std::to_string(folder) + "&uid=" + m.uid + "&SKEY1=" + std::to_string(m.k1) +
           "&SKEY2=" + std::to_string(m.k2);
}

// An answer of a JSON job.
struct Answer {
    int status = 0;        // from the Status line; 200 without one
    std::string head;      // the header lines
    nlohmann::json body;   // null when the body is not JSON
    std::string raw;       // the whole output
};

inline Answer parse(const e2e::Result& res) {
    Answer a;
    a.raw = res.out;
    const std::size_t end = res.out.find("\n\n");
    a.head = res.out.substr(0, end == std::string::npos ? res.out.size() : end + 1);
    a.status = a.head.rfind("Status: ", 0) == 0 ? std::atoi(a.head.c_str() + 8) : 200;
    const std::string body = end == std::string::npos ? "" : res.out.substr(end + 2);
    a.body = nlohmann::json::parse(body, nullptr, false);
    if (a.body.is_discarded()) a.body = nullptr;
    return a;
}

// Fields as a URL-encoded body, each value percent-encoded.
inline std::string encode(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string body;
    for (const auto& f : fields) body += (body.empty() ? "" : "&") + f.first + "=" + e2e::url_encode(f.second);
    return body;
}

// Job `job` posted by member m with the given fields (UTF-8 values).
inline Answer call(const LiveSite& s, const Member& m, const std::string& job,
                   const std::vector<std::pair<std::string, std::string>>& fields = {},
                   std::map<std::string, std::string> env = {}) {
    e2e::Request req;
    req.method = "POST";
    req.content_type = "application/x-www-form-urlencoded";
    req.body = "JOB=" + job + "&" + creds(m) + (fields.empty() ? "" : "&" + encode(fields));
    req.env = std::move(env);
    req.lock_wait_ms = e2e::SHORT_LOCK_WAIT_MS;
    const e2e::Result res = e2e::run(s.site, req);
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.err, "");
    return parse(res);
}

// The lines' texts of an answer, in order.
inline std::vector<std::string> texts(const nlohmann::json& body) {
    std::vector<std::string> out;
    if (body.is_object() && body.contains("lines"))
        for (const auto& l : body["lines"]) out.push_back(l.value("text", ""));
    return out;
}

}  // namespace livesite
