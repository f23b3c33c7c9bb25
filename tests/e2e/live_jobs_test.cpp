// End-to-end tests of the live view's JSON jobs on the built program: their
// answers, the classic view and the live view seeing each other's lines,
// the waiting poll, the cursor across a forged cursor, trims and a cleared
// room, and every refusal with its status (a malformed cursor among them).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "page/escape.h"
#include "store/sjis.h"
#include "tests/e2e/live_site.h"

namespace {

using livesite::Answer;
using livesite::call;
using livesite::kFolder;
using livesite::kGuest;
using livesite::kHanako;
using livesite::kOutsider;
using livesite::kTaro;
using livesite::texts;
using json = nlohmann::json;

constexpr int kRecord = 408;
// Shift_JIS second bytes 0x5C, a comma, &, quotes.
const std::string kAwkward = "表ソ, \"&\" 'x'";

// A classic request of member m (GET, as the frames make them).
e2e::Result classic(const livesite::LiveSite& s, const livesite::Member& m, const std::string& job,
                    const std::string& extra = "") {
    e2e::Request req;
    req.query = livesite::creds(m) + "&JOB=" + job + extra;
    return e2e::run(s.site, req);
}

// Message file records newest first: their CTALK fields (Shift_JIS).
std::vector<std::string> stored_lines(const livesite::LiveSite& s) {
    const std::string bytes = e2e::read_file(s.room_dir + "chatdata.dat");
    std::vector<std::string> out;
    for (std::size_t at = 0; at + kRecord <= bytes.size(); at += kRecord) {
        const std::string talk = bytes.substr(at + 154, 252);
        out.push_back(talk.substr(0, talk.find('\0')));
    }
    return out;
}

// n records of the message file, oldest "H1" to newest "H<n>", as the
// program writes them.
std::string history_file(int n) {
    std::string bytes;
    for (int i = n; i >= 1; --i) {
        std::string r(kRecord, '\0');
        const int32_t folder = kFolder, mode = 1;
        std::memcpy(&r[0], &folder, 4);
        std::memcpy(&r[4], &mode, 4);
        std::memcpy(&r[8], "taro", 4);
        std::memcpy(&r[30], "Old", 3);
        std::memcpy(&r[112], "2024/01/02 03:04", 16);
        const std::string talk = "H" + std::to_string(i);
        std::memcpy(&r[154], talk.data(), talk.size());
        bytes += r;
    }
    return bytes;
}

void expect_json_head(const Answer& a) {
    EXPECT_NE(a.head.find("Content-Type: application/json; charset=utf-8\n"), std::string::npos) << a.raw;
    EXPECT_NE(a.head.find("Cache-Control: no-store\n"), std::string::npos) << a.raw;
    EXPECT_TRUE(a.body.is_object()) << a.raw;
}

void expect_refusal(const Answer& a, int status, const std::string& code, const std::string& what) {
    EXPECT_EQ(a.status, status) << what << "\n" << a.raw;
    expect_json_head(a);
    if (!a.body.is_object()) return;
    EXPECT_EQ(a.body.value("error", ""), code) << what;
    EXPECT_NE(a.body.value("message", ""), "") << what;
}

class LiveJobs : public ::testing::Test {
protected:
    livesite::LiveSite s = livesite::make_live_site();
    void TearDown() override { e2e::remove_site(s.site); }

    Answer enter(const livesite::Member& m, const std::string& name, const std::string& color = "Navy") {
        return call(s, m, "LIVE_ENTER", {{"CHAT_NAME", name}, {"COLOR", color}});
    }
};

TEST_F(LiveJobs, EnterPostPollHistoryAndLeaveAlongsideTheClassicFrames) {
    // Entering: the presence record, the colour kept, the entry notice among
    // the lines, the member list and its tag.
    Answer a = enter(kTaro, kAwkward);
    ASSERT_EQ(a.status, 200) << a.raw;
    expect_json_head(a);
    EXPECT_EQ(a.body["name"], kAwkward);
    EXPECT_EQ(a.body["color"], "Navy");
    EXPECT_EQ(texts(a.body), std::vector<std::string>{e2e::message(312)});
    EXPECT_EQ(a.body["lines"][0]["name"], kAwkward);
    EXPECT_EQ(a.body["more"], false);
    EXPECT_EQ(a.body["oldest"], a.body["cursor"]);
    ASSERT_EQ(a.body["members"].size(), 1u);
    EXPECT_EQ(a.body["members"][0], (json{{"name", kAwkward}, {"color", "Navy"}, {"mode", "user"}}));
    std::string cursor = a.body["cursor"];
    std::string tag = a.body["members_tag"];
    EXPECT_EQ(tag.size(), 16u);

    // hanako enters through the classic frames: a poll brings her notice and
    // the changed member list.
    classic(s, kHanako, "ROOM_IN", "&CHAT_NAME=Hanako&COLOR=Red&DISP_LINE=30&RELOAD_TIME=10");
    a = call(s, kTaro, "LIVE_POLL", {{"CHAT_NAME", kAwkward}, {"CURSOR", cursor}, {"MEMBERS", tag}, {"WAIT", "0"}});
    ASSERT_EQ(a.status, 200) << a.raw;
    EXPECT_EQ(a.body["since"], cursor);
    EXPECT_EQ(texts(a.body), std::vector<std::string>{G_sjis_to_utf8(e2e::message(312, "japanese"))});
    EXPECT_EQ(a.body["lines"][0]["name"], "Hanako");
    EXPECT_EQ(a.body["lines"][0]["color"], "Red");
    ASSERT_EQ(a.body["members"].size(), 2u);
    EXPECT_NE(a.body["members_tag"], tag);
    EXPECT_FALSE(a.body.contains("reset"));
    cursor = a.body["cursor"];
    tag = a.body["members_tag"];

    // taro posts: his line comes back at once; the file holds it as the
    // classic form would have sent it (the emoji as a reference); hanako's
    // classic list shows it.
    const std::string line = "live <b>line</b> & 😀 " + kAwkward;
    a = call(s, kTaro, "LIVE_POST", {{"CHAT_NAME", kAwkward}, {"COLOR", "Navy"}, {"CTALK", line}, {"CURSOR", cursor}});
    ASSERT_EQ(a.status, 200) << a.raw;
    EXPECT_EQ(a.body["since"], cursor);
    EXPECT_EQ(texts(a.body), std::vector<std::string>{line});
    EXPECT_EQ(stored_lines(s).front(), G_utf8_to_sjis(line));
    EXPECT_NE(stored_lines(s).front().find("&#128512;"), std::string::npos);
    const std::string list = classic(s, kHanako, "FRM223", "&CHAT_NAME=Hanako").out;
    EXPECT_NE(list.find(G_html(G_utf8_to_sjis(line).c_str())), std::string::npos) << list;
    cursor = a.body["cursor"];

    // hanako posts in the classic frames; taro's poll has it, and nothing
    // else: no members (the tag is his), the cursor moves.
    classic(s, kHanako, "CWRITE", "&CHAT_NAME=Hanako&COLOR=Red&CTALK=" + e2e::url_encode("\x95\x5C classic"));
    a = call(s, kTaro, "LIVE_POLL", {{"CHAT_NAME", kAwkward}, {"CURSOR", cursor}, {"MEMBERS", tag}, {"WAIT", "0"}});
    EXPECT_EQ(texts(a.body), std::vector<std::string>{"表 classic"});
    EXPECT_FALSE(a.body.contains("members"));
    EXPECT_NE(a.body["cursor"], cursor);
    cursor = a.body["cursor"];

    // Nothing new: the same cursor and no lines.
    a = call(s, kTaro, "LIVE_POLL", {{"CHAT_NAME", kAwkward}, {"CURSOR", cursor}, {"MEMBERS", tag}, {"WAIT", "0"}});
    EXPECT_EQ(a.body, (json{{"since", cursor}, {"cursor", cursor}, {"lines", json::array()}}));

    // Leaving: the notice, and the member is out: his poll and post are
    // refused and store nothing.
    a = call(s, kTaro, "LIVE_LEAVE", {{"CHAT_NAME", kAwkward}, {"COLOR", "Navy"}});
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.body, (json{{"left", true}}));
    EXPECT_EQ(stored_lines(s).front(), e2e::message(313));
    const std::size_t count = stored_lines(s).size();
    expect_refusal(call(s, kTaro, "LIVE_POLL", {{"CHAT_NAME", kAwkward}, {"CURSOR", cursor}}), 409, "not_in_room", "poll");
    expect_refusal(call(s, kTaro, "LIVE_POST", {{"CHAT_NAME", kAwkward}, {"CTALK", "x"}, {"CURSOR", cursor}}), 409,
                   "not_in_room", "post");
    EXPECT_EQ(stored_lines(s).size(), count);
}

TEST_F(LiveJobs, EarlierLinesPageBackThroughTheWholeHistoryEachLineOnce) {
    e2e::write_file(s.room_dir + "chatdata.dat", history_file(120));
    Answer a = enter(kTaro, "Taro");
    ASSERT_EQ(a.status, 200) << a.raw;
    std::vector<std::string> seen = texts(a.body);
    ASSERT_EQ(seen.size(), 50u);
    EXPECT_EQ(seen.back(), e2e::message(312));
    EXPECT_EQ(a.body["more"], true);
    std::string before = a.body["oldest"];
    for (int page = 0; page < 4; ++page) {
        a = call(s, kTaro, "LIVE_HISTORY", {{"CHAT_NAME", "Taro"}, {"BEFORE", before}, {"COUNT", "50"}});
        ASSERT_EQ(a.status, 200) << a.raw;
        expect_json_head(a);
        std::vector<std::string> older = texts(a.body);
        seen.insert(seen.begin(), older.begin(), older.end());
        before = a.body["oldest"];
        if (!a.body["more"].get<bool>()) break;
    }
    // All 121 lines, oldest first, each once; then nothing earlier.
    ASSERT_EQ(seen.size(), 121u);
    for (int i = 0; i < 120; ++i) EXPECT_EQ(seen[i], "H" + std::to_string(i + 1));
    a = call(s, kTaro, "LIVE_HISTORY", {{"CHAT_NAME", "Taro"}, {"BEFORE", before}});
    EXPECT_EQ(a.body["lines"], json::array());
    EXPECT_EQ(a.body["more"], false);
}

TEST_F(LiveJobs, AForgedCursorATrimAndAClearedRoomStartAfreshWithoutLosingALine) {
    ASSERT_EQ(enter(kTaro, "Taro").status, 200);
    std::string cursor;
    for (int i = 1; i <= 5; ++i) {
        const Answer a = call(s, kTaro, "LIVE_POST", {{"CHAT_NAME", "Taro"}, {"CTALK", "P" + std::to_string(i)},
                                                      {"CURSOR", cursor}});
        ASSERT_EQ(a.status, 200) << a.raw;
        cursor = a.body["cursor"];
    }
    // A forged cursor of the right form names no line: the newest afresh.
    Answer a = call(s, kTaro, "LIVE_POLL", {{"CHAT_NAME", "Taro"}, {"CURSOR", "3.0123456789abcdef"}});
    ASSERT_EQ(a.status, 200) << a.raw;
    EXPECT_EQ(a.body["reset"], true);
    EXPECT_EQ(texts(a.body), (std::vector<std::string>{e2e::message(312), "P1", "P2", "P3", "P4", "P5"}));
    EXPECT_EQ(a.body["cursor"], cursor);
    EXPECT_EQ(a.body["more"], false);

    // The history trimmed to the newest three, then two posts: a page that
    // holds P5 gets exactly the two, without a reset.
    const std::string file = s.room_dir + "chatdata.dat";
    e2e::write_file(file, e2e::read_file(file).substr(0, 3 * kRecord));
    for (const char* t : {"P6", "P7"}) classic(s, kHanako, "CWRITE", std::string("&CHAT_NAME=Hanako&CTALK=") + t);
    a = call(s, kTaro, "LIVE_POLL", {{"CHAT_NAME", "Taro"}, {"CURSOR", cursor}});
    EXPECT_EQ(texts(a.body), (std::vector<std::string>{"P6", "P7"}));
    EXPECT_FALSE(a.body.contains("reset"));
    const std::string at_p7 = a.body["cursor"];

    // A trim that takes the page's line: the newest afresh, said so.
    e2e::write_file(file, e2e::read_file(file).substr(0, 1 * kRecord));
    a = call(s, kTaro, "LIVE_POLL", {{"CHAT_NAME", "Taro"}, {"CURSOR", cursor}});
    EXPECT_EQ(a.body["reset"], true);
    EXPECT_EQ(texts(a.body), std::vector<std::string>{"P7"});
    EXPECT_NE(a.body["cursor"], at_p7);  // a cursor counts the older records too
    a = call(s, kTaro, "LIVE_POLL", {{"CHAT_NAME", "Taro"}, {"CURSOR", a.body["cursor"]}});
    EXPECT_EQ(a.body["lines"], json::array());
    EXPECT_FALSE(a.body.contains("reset"));

    // The room cleared (its file removed): an empty reset, then every new
    // line from there.
    std::remove(file.c_str());
    a = call(s, kTaro, "LIVE_POLL", {{"CHAT_NAME", "Taro"}, {"CURSOR", at_p7}});
    EXPECT_EQ(a.body["reset"], true);
    EXPECT_EQ(a.body["lines"], json::array());
    EXPECT_EQ(a.body["cursor"], "0.0000000000000000");
    const std::string empty = a.body["cursor"];
    a = call(s, kTaro, "LIVE_POST", {{"CHAT_NAME", "Taro"}, {"CTALK", "after"}, {"CURSOR", empty}});
    EXPECT_EQ(texts(a.body), std::vector<std::string>{"after"});
    EXPECT_FALSE(a.body.contains("reset"));
}

TEST_F(LiveJobs, AWaitingPollAnswersWhenTheRoomChangesAndNothingNewWhenTheHoldEnds) {
    Answer a = enter(kTaro, "Taro");
    const std::string cursor = a.body["cursor"];
    const std::string tag = a.body["members_tag"];
    const std::map<std::string, std::string> hold = {{"VELT_LIVE_HOLD", "20"}};

    // A member's poll: a line posted in the classic frames wakes it.
    Answer waited;
    std::thread poll([&] {
        waited = call(s, kTaro, "LIVE_POLL",
                      {{"CHAT_NAME", "Taro"}, {"CURSOR", cursor}, {"MEMBERS", tag}, {"WAIT", "1"}}, hold);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    classic(s, kHanako, "CWRITE", "&CHAT_NAME=Hanako&CTALK=wake");
    poll.join();
    EXPECT_EQ(waited.status, 200) << waited.raw;
    EXPECT_EQ(texts(waited.body), std::vector<std::string>{"wake"});
    EXPECT_EQ(waited.body["since"], cursor);

    // A visitor's poll (no chat name): members only, no lines; an entry
    // wakes it with the new list.
    std::thread visit([&] {
        waited = call(s, kHanako, "LIVE_POLL", {{"CURSOR", ""}, {"MEMBERS", tag}, {"WAIT", "1"}}, hold);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(enter(kHanako, "Hanako").status, 200);
    visit.join();
    EXPECT_EQ(waited.status, 200) << waited.raw;
    EXPECT_EQ(waited.body["lines"], json::array());
    EXPECT_EQ(waited.body["members"].size(), 2u);

    // Nothing happens: "nothing new" when the hold ends.
    a = call(s, kTaro, "LIVE_POLL", {{"CHAT_NAME", "Taro"}, {"CURSOR", cursor}, {"MEMBERS", ""}, {"WAIT", "0"}});
    const std::string now = a.body["cursor"];
    const std::string tag2 = a.body["members_tag"];
    a = call(s, kTaro, "LIVE_POLL", {{"CHAT_NAME", "Taro"}, {"CURSOR", now}, {"MEMBERS", tag2}, {"WAIT", "1"}},
             {{"VELT_LIVE_HOLD", "1"}});
    EXPECT_EQ(a.body, (json{{"since", now}, {"cursor", now}, {"lines", json::array()}}));
}

TEST_F(LiveJobs, APollIsTheMembersSignOfLifeAndAVisitorsIsNot) {
    ASSERT_EQ(enter(kTaro, "Taro").status, 200);
    // His stamp two minutes old (the sweep drops nobody for that).
    const std::string index = s.room_dir + "chatuser.idx";
    std::string idx = e2e::read_file(index);
    ASSERT_EQ(idx.size(), 164u);
    const std::time_t then = std::time(nullptr) - 120;
    char stamp[20] = {};
    std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M", std::localtime(&then));
    idx.replace(112, 20, std::string(stamp) + std::string(20 - std::strlen(stamp), '\0'));
    e2e::write_file(index, idx);

    call(s, kHanako, "LIVE_POLL", {{"CURSOR", ""}});
    EXPECT_EQ(e2e::read_file(index), idx);  // a visitor is nobody's sign of life
    call(s, kTaro, "LIVE_POLL", {{"CHAT_NAME", "Taro"}, {"CURSOR", ""}});
    const std::string renewed = e2e::read_file(index).substr(112, 16);
    EXPECT_NE(renewed, std::string(stamp));
    EXPECT_EQ(renewed.size(), 16u);
}

TEST_F(LiveJobs, TextsGoInAsTheClassicFormSendsThemAndComeOutAsCharacters) {
    ASSERT_EQ(enter(kTaro, "Taro").status, 200);
    // Controls are left out; characters beyond Shift_JIS become references.
    Answer a = call(s, kTaro, "LIVE_POST",
                    {{"CHAT_NAME", "Taro"}, {"CTALK", "a\x01" "b\x7f" "\xc2\x85" "c 😀〜表"}, {"CURSOR", ""}});
    ASSERT_EQ(a.status, 200) << a.raw;
    EXPECT_EQ(stored_lines(s).front(), "abc &#128512;&#12316;\x95\x5C");
    EXPECT_EQ(texts(a.body).back(), "abc 😀〜表");

    // 250 bytes of Shift_JIS go in whole; one more byte is refused, and the
    // line is not cut.
    std::string full;
    for (int i = 0; i < 125; ++i) full += "表";
    a = call(s, kTaro, "LIVE_POST", {{"CHAT_NAME", "Taro"}, {"CTALK", full}, {"CURSOR", ""}});
    EXPECT_EQ(a.status, 200) << a.raw;
    EXPECT_EQ(stored_lines(s).front().size(), 250u);
    const std::size_t count = stored_lines(s).size();
    expect_refusal(call(s, kTaro, "LIVE_POST", {{"CHAT_NAME", "Taro"}, {"CTALK", full + "x"}, {"CURSOR", ""}}), 400,
                   "too_long", "251 bytes");
    a = call(s, kTaro, "LIVE_POST", {{"CHAT_NAME", "Taro"}, {"CTALK", std::string(240, 'x') + "😀😀"}, {"CURSOR", ""}});
    EXPECT_EQ(a.status, 400) << "240 bytes and two 9-byte references";
    EXPECT_EQ(stored_lines(s).size(), count);

    // A refusal speaks the member's language.
    ASSERT_EQ(enter(kHanako, "Hanako").status, 200);
    a = call(s, kHanako, "LIVE_POST", {{"CHAT_NAME", "Hanako"}, {"CTALK", full + full}, {"CURSOR", ""}});
    EXPECT_EQ(a.body["message"], "発言が長すぎます。");

    // Stored references of ASCII and "&amp;" stay text, as the classic list
    // shows them; an empty line stores nothing.
    classic(s, kHanako, "CWRITE", "&CHAT_NAME=Hanako&CTALK=" + e2e::url_encode("&amp; &#65; &#x1F600;"));
    a = call(s, kTaro, "LIVE_POST", {{"CHAT_NAME", "Taro"}, {"CTALK", ""}, {"CURSOR", ""}});
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(texts(a.body).back(), "&amp; &#65; 😀");
}

// A request of the live view as a bot might send it: body, method, headers.
Answer raw(const livesite::LiveSite& s, const std::string& body, const std::string& method = "POST",
           std::map<std::string, std::string> env = {}) {
    e2e::Request req;
    req.method = method;
    if (method == "POST") {
        req.content_type = "application/x-www-form-urlencoded";
        req.body = body;
    } else {
        req.query = body;
    }
    req.env = std::move(env);
    req.lock_wait_ms = e2e::SHORT_LOCK_WAIT_MS;
    const e2e::Result res = e2e::run(s.site, req);
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.err, "");
    return livesite::parse(res);
}

TEST_F(LiveJobs, EveryRefusalIsJsonWithAStatusThatMeansWhatItSays) {
    ASSERT_EQ(enter(kTaro, "Taro").status, 200);
    const std::string taro = livesite::creds(kTaro);
    const std::string skey = e2e::read_file(s.site.data_dir + "user/taro/skey.mst");
    const std::string bytes = e2e::read_file(s.room_dir + "chatdata.dat");
    const std::string poll = "JOB=LIVE_POLL&CHAT_NAME=Taro&";
    struct Case {
        std::string body;
        int status;
        const char* code;
    };
    const std::vector<Case> cases = {
        // the gate: no user id, a wrong key, no key (a password is not taken:
        // it would make a new key), a user that does not exist
        {poll + "FOLDER_NO=30&SKEY1=1011&SKEY2=2022&CURSOR=", 401, "session"},
        {poll + "FOLDER_NO=30&uid=taro&SKEY1=1012&SKEY2=2022&CURSOR=", 401, "session"},
        {poll + "FOLDER_NO=30&uid=taro&upw=pw1&CURSOR=", 401, "session"},
        {poll + "FOLDER_NO=30&uid=nobody&SKEY1=1011&SKEY2=2022&CURSOR=", 401, "session"},
        // the room and the rights
        {"JOB=LIVE_POLL&" + livesite::creds(kTaro, 31), 404, "no_room"},
        {"JOB=LIVE_POLL&" + livesite::creds(kOutsider), 403, "no_access"},
        {"JOB=LIVE_POLL&" + livesite::creds(kGuest), 403, "no_right"},
        {"JOB=LIVE_ENTER&CHAT_NAME=Guest&" + livesite::creds(kGuest), 403, "no_right"},
        // malformed cursors and parameters
        {poll + taro + "&CURSOR=x", 400, "bad_request"},
        {poll + taro + "&CURSOR=1", 400, "bad_request"},
        {poll + taro + "&CURSOR=1.", 400, "bad_request"},
        {poll + taro + "&CURSOR=01.0123456789abcdef", 400, "bad_request"},
        {poll + taro + "&CURSOR=1.0123456789abcde", 400, "bad_request"},
        {poll + taro + "&CURSOR=1.0123456789abcdef0", 400, "bad_request"},
        {poll + taro + "&CURSOR=1.0123456789ABCDEF", 400, "bad_request"},
        {poll + taro + "&CURSOR=1.0123456789abcdeg", 400, "bad_request"},
        {poll + taro + "&CURSOR=-1.0123456789abcdef", 400, "bad_request"},
        {poll + taro + "&CURSOR=0.0000000000000001", 400, "bad_request"},
        {poll + taro + "&CURSOR=12345678901.0123456789abcdef", 400, "bad_request"},
        {poll + taro + "&CURSOR=%201.0123456789abcdef", 400, "bad_request"},
        {poll + taro + "&CURSOR=&WAIT=2", 400, "bad_request"},
        {poll + taro + "&CURSOR=&MEMBERS=0123456789ABCDEF", 400, "bad_request"},
        {poll + taro + "&CURSOR=&MEMBERS=12", 400, "bad_request"},
        {"JOB=LIVE_HISTORY&CHAT_NAME=Taro&BEFORE=1.x&" + taro, 400, "bad_request"},
        {"JOB=LIVE_HISTORY&CHAT_NAME=Taro&BEFORE=&COUNT=0&" + taro, 400, "bad_request"},
        {"JOB=LIVE_HISTORY&CHAT_NAME=Taro&BEFORE=&COUNT=101&" + taro, 400, "bad_request"},
        {"JOB=LIVE_HISTORY&CHAT_NAME=Taro&BEFORE=&COUNT=1e2&" + taro, 400, "bad_request"},
        {"JOB=LIVE_POST&CHAT_NAME=Taro&CTALK=x&CURSOR=1.0&" + taro, 400, "bad_request"},
        {"JOB=LIVE_POST&CHAT_NAME=Taro&CTALK=%FF&" + taro, 400, "bad_request"},
        {"JOB=LIVE_ENTER&CHAT_NAME=&" + taro, 400, "no_chat_name"},
        {"JOB=LIVE_ENTER&CHAT_NAME=%01&" + taro, 400, "no_chat_name"},
        {"JOB=LIVE_ENTER&CHAT_NAME=" + std::string(82, 'n') + "&" + taro, 400, "bad_request"},
        {"JOB=LIVE_ENTER&CHAT_NAME=n&COLOR=" + std::string(22, 'c') + "&" + taro, 400, "bad_request"},
        {"JOB=LIVE_LEAVE&CHAT_NAME=&" + taro, 400, "no_chat_name"},
        // a name that is not in the room
        {"JOB=LIVE_POST&CHAT_NAME=Nobody&CTALK=x&" + taro, 409, "not_in_room"},
        {"JOB=LIVE_HISTORY&CHAT_NAME=Nobody&BEFORE=&" + taro, 409, "not_in_room"},
    };
    for (const Case& c : cases) expect_refusal(raw(s, c.body), c.status, c.code, c.body);
    EXPECT_EQ(e2e::read_file(s.site.data_dir + "user/taro/skey.mst"), skey);
    EXPECT_EQ(e2e::read_file(s.room_dir + "chatdata.dat"), bytes);

    // Messages in the site's language, English.
    EXPECT_EQ(raw(s, "JOB=LIVE_POLL&" + livesite::creds(kTaro, 31)).body["message"], "There is no such chat room.");

    // Not a POST: 405, Allow: POST, and the key in an address is not looked at.
    Answer a = raw(s, "JOB=LIVE_POLL&CHAT_NAME=Taro&" + taro, "GET");
    expect_refusal(a, 405, "bad_request", "GET");
    EXPECT_NE(a.head.find("Allow: POST\n"), std::string::npos);

    // A body larger than the chat accepts: JSON to a client that accepts it.
    const std::string big = "JOB=LIVE_POST&" + taro + "&CTALK=" + std::string(70000, 'x');
    expect_refusal(raw(s, big, "POST", {{"HTTP_ACCEPT", "application/json"}}), 413, "too_large", "large body");
    EXPECT_EQ(raw(s, big).raw, e2e::TOO_LARGE);

    // Files that stay locked: busy, and nothing stored.
    const pid_t holder = e2e::hold_lock(s.room_dir + "chatdata.chk");
    expect_refusal(raw(s, "JOB=LIVE_POST&CHAT_NAME=Taro&CTALK=locked&" + taro), 503, "busy", "message lock");
    e2e::release_lock(holder, s.room_dir + "chatdata.chk");
    const pid_t users = e2e::hold_lock(s.site.data_dir + "user.chk");
    expect_refusal(raw(s, poll + taro), 503, "busy", "user list lock");
    e2e::release_lock(users, s.site.data_dir + "user.chk");
    EXPECT_EQ(e2e::read_file(s.room_dir + "chatdata.dat"), bytes);
}

}  // namespace
