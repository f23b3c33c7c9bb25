// The live view's JSON jobs (see jobs.h). JSON is built with nlohmann-json
// and written through the reply; texts go in and out through the store
// layer's one Shift_JIS codec.
#include "live/jobs.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cgi/cgilib61.h"
#include "chat/chat_page.h"
#include "chat/chatuser.h"
#include "chat/member.h"
#include "live/cursor.h"
#include "live/page.h"
#include "live/wait.h"
#include "page/context.h"
#include "page/reply.h"
#include "settings/strdef.h"
#include "store/fileio.h"
#include "store/sjis.h"
#include "store/text.h"

namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

enum {
    PAGE_LINES = 50,       // lines of an entry, a reset, a poll; the default of a history page
    LINE_MAX_BYTES = 250,  // a line's Shift_JIS bytes, as the classic form takes them
    TAG_DIGITS = 16,       // hex digits of a member list's tag
};

const char DATA_FILE[] = "chatdata.dat";

const struct {
    const char* status;
    const char* code;
    int message;
} REFUSALS[] = {
    {"400 Bad Request", "bad_request", MSG_LIVE_BAD_REQUEST},          // LIVE_R_BAD_REQUEST
    {"400 Bad Request", "too_long", MSG_LIVE_TOO_LONG},                // LIVE_R_TOO_LONG
    {"400 Bad Request", "no_chat_name", MSG_CHAT_NAME_MISSING},        // LIVE_R_NO_CHAT_NAME
    {"400 Bad Request", "bad_request", MSG_LIVE_BAD_REQUEST},          // LIVE_R_CUT
    {"401 Unauthorized", "session", MSG_SESSION_INVALID},              // LIVE_R_SESSION
    {"403 Forbidden", "no_access", MSG_LIVE_NO_ACCESS},                // LIVE_R_NO_ACCESS
    {"403 Forbidden", "no_right", MSG_NO_RIGHT_TO_WRITE},              // LIVE_R_NO_RIGHT
    {"404 Not Found", "no_room", MSG_LIVE_NO_ROOM},                    // LIVE_R_NO_ROOM
    {"405 Method Not Allowed", "bad_request", MSG_LIVE_BAD_REQUEST},   // LIVE_R_NOT_POST
    {"409 Conflict", "not_in_room", MSG_NOT_IN_ROOM},                  // LIVE_R_NOT_IN_ROOM
    {"413 Payload Too Large", "too_large", MSG_LIVE_BAD_REQUEST},      // LIVE_R_TOO_LARGE
    {"500 Internal Server Error", "storage", MSG_NO_CHAT_DATA},        // LIVE_R_STORAGE
    {"503 Service Unavailable", "busy", MSG_BUSY},                     // LIVE_R_BUSY
};
static_assert(sizeof REFUSALS / sizeof REFUSALS[0] == LIVE_R_BUSY + 1, "one row per refusal");

// Writes the reply's body as body, with the JSON header lines.
void send(const json& body) {
    reply_type("Content-Type: application/json; charset=utf-8");
    reply_header("Cache-Control: no-store");
    reply_header("X-Content-Type-Options: nosniff");
    // Every text was made valid UTF-8 by the codec; replace keeps a stray
    // byte from ever ending the answer.
    const std::string text = body.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    out_bytes(text.data(), text.size());
}

// The refusal of a store's result: a lock that stayed held is "busy", a file
// that cannot be opened (or anything else) "storage".
void refuse_store(int r) { live_refuse(r == FIO_LOCKED || r == LIVE_BUSY ? LIVE_R_BUSY : LIVE_R_STORAGE); }

// The whole first value of request parameter name (never cut, unlike
// G_param's fields): empty when the request does not carry it.
std::string param(const char* name) {
    const char* value = cgi_value(&ctx.params, name, 0);
    return value != nullptr ? value : std::string();
}

// A form value as text to store: well-formed UTF-8 with the C0 and C1
// controls (U+0000-U+001F, U+007F-U+009F) left out, as the classic form never
// sends them (U+0080 would become the byte 0x80, which the stores' walk takes
// for a lead byte). false when the value is not well-formed UTF-8.
bool clean(const std::string& value, std::string* text) {
    if (G_utf8_invalid_at(value) != std::string::npos) return false;
    text->clear();
    for (std::size_t i = 0; i < value.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (c < 0x20 || c == 0x7F) continue;
        if (c == 0xC2 && i + 1 < value.size() && static_cast<unsigned char>(value[i + 1]) <= 0x9F) {
            ++i;  // U+0080-U+009F
            continue;
        }
        *text += value[i];
    }
    return true;
}

// Parameter name as Shift_JIS text in a record's field; false (the request
// refused) when it is malformed or longer than the field holds: a name is
// never cut silently.
template <std::size_t N>
bool field(const char* name, char (&out)[N]) {
    std::string text;
    return clean(param(name), &text) && G_set_utf8(out, text);
}

// CHAT_NAME and COLOR of a request that names a member; false with the
// refusal answered (an empty name is refused only when must_name).
bool member_fields(char (&chat_name)[CHAT_NAME_CAP], char (&color)[CHAT_COLOR_CAP], bool must_name) {
    if (!field("CHAT_NAME", chat_name) || !field("COLOR", color)) {
        live_refuse(LIVE_R_BAD_REQUEST);
        return false;
    }
    if (must_name && chat_name[0] == '\0') {
        live_refuse(LIVE_R_NO_CHAT_NAME);
        return false;
    }
    return true;
}


// A line as the answers carry it. Built member by member, the texts moved
// in: a braced initializer copies every value once more and costs a poll
// several thousand instructions a line.
json line_json(const CHAT_DATA_DAT& line) {
    json j(json::value_t::object);
    json::object_t& o = *j.get_ptr<json::object_t*>();
    o.emplace("name", live_text(line.USER_NAME));
    o.emplace("color", live_text(line.COLOR));
    o.emplace("text", live_text(line.CTALK));
    o.emplace("time", live_text(line.WRITE_DATE));
    return j;
}

json lines_json(const LIVE_LINES& got) {
    json lines = json::array();
    lines.get_ptr<json::array_t*>()->reserve(static_cast<std::size_t>(got.count));
    for (int n = 0; n < got.count; ++n) lines.push_back(line_json(got.lines[n]));
    return lines;
}

// The members present, in order of entry. false when the index could not be
// read to its end: the list is then unknown, not empty.
bool read_members(std::vector<CHAT_USER_IDX>* members) {
    members->clear();
    const int r = Fio_CHAT_USER_IDX_each(
        ctx.query.FOLDER_NO,
        [](const CHAT_USER_IDX& m, void* list) {
            if (m.FOLDER_NO == 0) return false;
            static_cast<std::vector<CHAT_USER_IDX>*>(list)->push_back(m);
            return true;
        },
        members);
    return r == FIO_OK;
}

const char* mode_of(const CHAT_USER_IDX& m) { return m.MODE == 1 ? "user" : m.MODE == 2 ? "shared" : ""; }

// The tag of a member list: a digest of the names, colours and modes (the
// stamps, renewed every minute, are not in it), so that a poll sends the
// list only when the page's differs.
std::string members_tag(const std::vector<CHAT_USER_IDX>& members) {
    uint64_t h = live_digest_start;
    for (const CHAT_USER_IDX& m : members) {
        h = live_digest(h, m.USER_NAME, std::strlen(m.USER_NAME) + 1);
        h = live_digest(h, m.COLOR, std::strlen(m.COLOR) + 1);
        const char* mode = mode_of(m);
        h = live_digest(h, mode, std::strlen(mode) + 1);
    }
    char tag[TAG_DIGITS + 1];
    std::snprintf(tag, sizeof tag, "%016" PRIx64, h);
    return tag;
}

// Puts the member list and its tag into answer, unless the tag is
// unchanged_tag (or the list cannot be read). True when it did.
bool add_members(json& answer, const std::string& unchanged_tag) {
    std::vector<CHAT_USER_IDX> members;
    if (!read_members(&members)) return false;
    const std::string tag = members_tag(members);
    if (tag == unchanged_tag) return false;
    json list = json::array();
    for (const CHAT_USER_IDX& m : members)
        list.push_back(
            json{{"name", live_text(m.USER_NAME)}, {"color", live_text(m.COLOR)}, {"mode", mode_of(m)}});
    answer["members"] = std::move(list);
    answer["members_tag"] = tag;
    return true;
}

bool is_tag(const std::string& tag) {
    if (tag.empty()) return true;
    if (tag.size() != TAG_DIGITS) return false;
    for (char c : tag)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

bool is_cursor(const std::string& text) {
    LIVE_CURSOR c;
    return live_cursor_parse(text.c_str(), &c) != LIVE_BAD_CURSOR;
}

// The answer of a poll (and of a post): the lines past cursor for a member
// (with_lines), the members when their tag is not page_tag. With hold and
// nothing of that, it waits for the room's message file to change (every
// commit does: a post, an entry or leave notice, a time-out notice, a trim,
// the clearing of an empty room) and looks again, until the hold ends.
// Nothing of the room is held open or locked while it waits.
void answer_poll(bool with_lines, const std::string& cursor, const std::string& page_tag, bool hold) {
    char dir[FIO_PATH_MAX];
    if (Fio_dir_room(dir, ctx.query.FOLDER_NO) != 0) {
        live_refuse(LIVE_R_STORAGE);
        return;
    }
    const Clock::time_point end = Clock::now() + std::chrono::seconds(hold ? live_hold_seconds() : 0);
    for (;;) {
        // Taken before the reads: a commit between them ends the wait at once.
        LIVE_FILE_ID seen;
        live_file_id(dir, DATA_FILE, &seen);

        json answer(json::value_t::object);
        answer["since"] = cursor;
        bool news = false;
        if (with_lines) {
            CHAT_DATA_DAT buf[PAGE_LINES];
            LIVE_LINES got;
            got.lines = buf;
            const int r = live_newer(ctx.query.FOLDER_NO, cursor.c_str(), PAGE_LINES, &got);
            if (r == LIVE_BAD_CURSOR) {
                live_refuse(LIVE_R_BAD_REQUEST);
                return;
            }
            if (r != FIO_OK) {
                refuse_store(r);
                return;
            }
            answer["cursor"] = got.cursor;
            answer["lines"] = lines_json(got);
            if (got.reset) {
                answer["reset"] = true;
                answer["oldest"] = got.oldest;
                answer["more"] = got.more;
            }
            news = got.count > 0 || got.reset;
        } else {
            answer["cursor"] = cursor;
            answer["lines"] = json::array();
        }
        if (add_members(answer, page_tag)) news = true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (news || left <= 0 ||
            live_wait_for_change(dir, DATA_FILE, seen, static_cast<int>(left)) != LIVE_WAIT_CHANGED) {
            send(answer);
            return;
        }
    }
}

}  // namespace

void live_refuse(int r) {
    if (r < 0 || r > LIVE_R_BUSY) r = LIVE_R_BAD_REQUEST;
    reply_discard_body();
    reply_status(REFUSALS[r].status);
    if (r == LIVE_R_NOT_POST) reply_header("Allow: POST");
    send(json{{"error", REFUSALS[r].code}, {"message", live_msg(REFUSALS[r].message)}});
}

void live_job_no_right() { live_refuse(LIVE_R_NO_RIGHT); }

void live_job_enter() {
    char chat_name[CHAT_NAME_CAP];
    char color[CHAT_COLOR_CAP];
    if (!member_fields(chat_name, color, true)) return;
    // A member present under the name already keeps the lines and reload
    // that he chose in the classic frames; a new one gets the read's
    // defaults.
    CHAT_USER_IDX member;
    chat_presence(STORE_READ, chat_name, &member);
    const int r = chat_enter(chat_name, color, member.DISP_LINE > 0 ? member.DISP_LINE : 30,
                             member.RELOAD_TIME > 0 ? member.RELOAD_TIME : 30);
    if (r != FIO_OK) {
        refuse_store(r);
        return;
    }
    CHAT_DATA_DAT buf[PAGE_LINES];
    LIVE_LINES got;
    got.lines = buf;
    const int n = live_newest(ctx.query.FOLDER_NO, PAGE_LINES, &got);
    if (n != FIO_OK) {
        refuse_store(n);
        return;
    }
    json answer = {{"name", live_text(chat_name)}, {"color", live_text(color)}, {"cursor", got.cursor},
                   {"oldest", got.oldest},    {"lines", lines_json(got)}, {"more", got.more}};
    add_members(answer, "");
    send(answer);
}

void live_job_leave() {
    char chat_name[CHAT_NAME_CAP];
    char color[CHAT_COLOR_CAP];
    if (!member_fields(chat_name, color, true)) return;
    const int r = chat_leave(chat_name, color);
    if (r != FIO_OK) {
        refuse_store(r);
        return;
    }
    send(json{{"left", true}});
}

void live_job_poll() {
    const std::string cursor = param("CURSOR");
    const std::string tag = param("MEMBERS");
    const std::string wait = param("WAIT");
    char chat_name[CHAT_NAME_CAP];
    char color[CHAT_COLOR_CAP];
    if (!is_cursor(cursor) || !is_tag(tag) || !(wait.empty() || wait == "0" || wait == "1")) {
        live_refuse(LIVE_R_BAD_REQUEST);
        return;
    }
    if (!member_fields(chat_name, color, false)) return;
    if (chat_name[0] != '\0') {
        // The member's sign of life, as a reload of the classic list frame.
        CHAT_USER_IDX member;
        const int r = chat_sign_of_life(chat_name, &member);
        if (r == FIO_NOT_FOUND) {
            live_refuse(LIVE_R_NOT_IN_ROOM);
            return;
        }
        if (r != FIO_OK) {
            refuse_store(r);
            return;
        }
    }
    answer_poll(chat_name[0] != '\0', cursor, tag, wait == "1");
}

void live_job_post() {
    const std::string cursor = param("CURSOR");
    const std::string tag = param("MEMBERS");
    char chat_name[CHAT_NAME_CAP];
    char color[CHAT_COLOR_CAP];
    if (!is_cursor(cursor) || !is_tag(tag)) {
        live_refuse(LIVE_R_BAD_REQUEST);
        return;
    }
    if (!member_fields(chat_name, color, true)) return;
    std::string text;
    if (!clean(param("CTALK"), &text)) {
        live_refuse(LIVE_R_BAD_REQUEST);
        return;
    }
    char ctalk[CHAT_CTALK_CAP];
    if (G_sjis_length(text) > LINE_MAX_BYTES || !G_set_utf8(ctalk, text)) {
        live_refuse(LIVE_R_TOO_LONG);
        return;
    }
    // Only a member in the room posts; the post is his sign of life too, as
    // the classic post's answer (the list frame) is.
    CHAT_USER_IDX member;
    int r = chat_sign_of_life(chat_name, &member);
    if (r == FIO_NOT_FOUND) {
        live_refuse(LIVE_R_NOT_IN_ROOM);
        return;
    }
    if (r == FIO_OK && ctalk[0] != '\0') r = chat_post(chat_name, color, ctalk);  // an empty line stores nothing
    if (r != FIO_OK) {
        refuse_store(r);
        return;
    }
    answer_poll(true, cursor, tag, false);
}

void live_job_history() {
    const std::string before = param("BEFORE");
    const std::string count_text = param("COUNT");
    int count = PAGE_LINES;
    if (!count_text.empty()) {
        count = count_text.size() <= 3 && count_text.find_first_not_of("0123456789") == std::string::npos
                    ? G_atoi(count_text.c_str())
                    : 0;
    }
    char chat_name[CHAT_NAME_CAP];
    char color[CHAT_COLOR_CAP];
    if (!is_cursor(before) || count < 1 || count > LIVE_LINES_MAX) {
        live_refuse(LIVE_R_BAD_REQUEST);
        return;
    }
    if (!member_fields(chat_name, color, true)) return;
    // The lines are for members in the room, as the classic list frame's.
    CHAT_USER_IDX member;
    int r = chat_presence(STORE_READ, chat_name, &member);
    if (r == FIO_NOT_FOUND) {
        live_refuse(LIVE_R_NOT_IN_ROOM);
        return;
    }
    CHAT_DATA_DAT buf[LIVE_LINES_MAX];
    LIVE_LINES got;
    got.lines = buf;
    if (r == FIO_OK) r = live_older(ctx.query.FOLDER_NO, before.c_str(), count, &got);
    if (r != FIO_OK) {
        refuse_store(r);
        return;
    }
    json answer = {{"lines", lines_json(got)}, {"oldest", got.oldest}, {"more", got.more}};
    if (got.reset) answer["reset"] = true;
    send(answer);
}
