// The live view's page, its files and its texts (see page.h).
#include "live/page.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "chat/chat_page.h"
#include "chat/member.h"
#include "live/assets.h"
#include "live/template.h"
#include "live/wait.h"
#include "page/context.h"
#include "page/digest.h"
#include "page/escape.h"
#include "page/form.h"
#include "page/page.h"
#include "page/reply.h"
#include "page/script.h"
#include "settings/strdef.h"
#include "store/sjis.h"
#include "store/text.h"

namespace {

// The English texts of the messages the live view shows, for a site whose
// message file was written before the live view (or lacks a text).
const struct {
    int k;
    const char* text;
} BUILT_IN[] = {
    {MSG_SESSION_INVALID, "Your session is no longer valid. Please log in again."},
    {MSG_NO_RIGHT_TO_WRITE, "You may not write in this room."},
    {MSG_NO_CHAT_DATA, "The chat data could not be opened. Please tell the administrator."},
    {MSG_BUSY, "The room is busy just now. Please try again in a moment."},
    {MSG_COLOUR, "Colour"},
    {MSG_MEMBERS_HERE, "Members in this room"},
    {MSG_CHAT_NAME, "Chat name"},
    {MSG_ENTER, "Enter"},
    {MSG_CHAT_NAME_MISSING, "Please enter your chat name."},
    {MSG_LEAVE, "Leave"},
    {MSG_NOT_IN_ROOM, "You are not in this room. Please enter it again."},
    {MSG_MODE_USER, "user"},
    {MSG_MODE_SHARED, "shared"},
    {MSG_LIVE_MESSAGE, "Message"},
    {MSG_LIVE_SEND, "Send"},
    {MSG_LIVE_EARLIER, "Earlier lines"},
    {MSG_LIVE_RECONNECTING, "Reconnecting"},
    {MSG_LIVE_CONNECTED_AGAIN, "Connected again"},
    {MSG_LIVE_NO_EARLIER, "No earlier lines"},
    {MSG_LIVE_EARLIER_SHOWN, "earlier lines shown"},
    {MSG_LIVE_CONVERSATION, "Conversation"},
    {MSG_LIVE_TOO_LONG, "The line is too long."},
    {MSG_LIVE_CLASSIC_VIEW, "Classic view"},
    {MSG_LIVE_NO_ACCESS, "You have no access to this chat room."},
    {MSG_LIVE_NO_ROOM, "There is no such chat room."},
    {MSG_LIVE_BAD_REQUEST, "The request was not understood."},
};

const char CSP[] =
    "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; form-action 'self'; base-uri 'none'; ";

std::string hex(const std::string& bytes, std::size_t digits) {
    static const char HEX[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        if (out.size() >= digits) break;
        out += HEX[c >> 4];
        out += HEX[c & 15];
    }
    return out.substr(0, digits);
}

bool starts_nocase(const std::string& s, std::size_t at, const char* word) {
    for (std::size_t i = 0; word[i] != '\0'; ++i) {
        if (at + i >= s.size()) return false;
        char c = s[at + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

// Length of the entity or reference at s[at] ('&') that decodes, its text
// appended to out; 0 when it is none of those decoded (the '&' is text then).
std::size_t entity(const std::string& s, std::size_t at, std::string& out) {
    static const struct {
        const char* name;
        const char* text;
    } NAMED[] = {{"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""},
                 {"&#39;", "'"}, {"&apos;", "'"}, {"&nbsp;", "\xC2\xA0"}};
    for (const auto& e : NAMED) {
        if (starts_nocase(s, at, e.name)) {
            out += e.text;
            return std::strlen(e.name);
        }
    }
    // A numeric reference: printable ASCII, or what the pages show as a
    // character (G_char_reference_length's rule: no controls, no bidirectional
    // overrides).
    unsigned long cp = 0;
    std::size_t n = G_char_reference_length(s.c_str() + at, &cp);
    if (n == 0 && at + 2 < s.size() && s[at + 1] == '#') {
        std::size_t i = at + 2;
        const bool hexa = s[i] == 'x' || s[i] == 'X';
        if (hexa) ++i;
        const std::size_t first = i;
        cp = 0;
        while (i < s.size() && i - first < 7) {
            const char c = s[i];
            int v = -1;
            if (c >= '0' && c <= '9') v = c - '0';
            if (hexa && c >= 'a' && c <= 'f') v = c - 'a' + 10;
            if (hexa && c >= 'A' && c <= 'F') v = c - 'A' + 10;
            if (v < 0) break;
            cp = cp * (hexa ? 16 : 10) + static_cast<unsigned long>(v);
            ++i;
        }
        if (i > first && i < s.size() && s[i] == ';' && cp >= 0x20 && cp < 0x7F) n = i + 1 - at;
    }
    if (n == 0) return 0;
    G_put_utf8(out, cp);
    return n;
}

// Whether '<' followed by c starts a tag (or a declaration), as browsers
// read it: a letter, '/', '!' or '?'. Any other '<' is text ("a < b").
bool starts_tag(char c) {
    const char lower = static_cast<char>(c | 0x20);
    return (c != '\0' && std::strchr("/!?", c) != nullptr) || (lower >= 'a' && lower <= 'z');
}

// The offset of the '>' that ends the tag starting at s[at] ('<'), passing
// over quoted attribute values; npos when there is none.
std::size_t tag_end(const std::string& s, std::size_t at) {
    char quote = '\0';
    for (std::size_t i = at + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (quote != '\0') {
            if (c == quote) quote = '\0';
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i;
        }
    }
    return std::string::npos;
}

// The name of the tag whose text starts at s[at] (after '<' and an optional
// '/'), lower-cased.
std::string tag_name(const std::string& s, std::size_t at) {
    std::string name;
    if (at < s.size() && s[at] == '/') ++at;
    while (at < s.size()) {
        char c = s[at++];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) break;
        name += c;
    }
    return name;
}

}  // namespace

std::string live_text(const char* sjis) { return G_sjis_to_utf8_resolving_refs(sjis); }

std::string live_msg(int k) {
    if (k > 0 && k < STRDEF_COUNT && G_msg(k)[0] != '\0') return G_sjis_to_utf8(G_msg(k));
    for (const auto& b : BUILT_IN)
        if (b.k == k) return b.text;
    return std::string();
}

std::string live_plain_text(const std::string& html) {
    std::string out;
    std::size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '\r' || c == '\n') {
            out += '\n';
            i += c == '\r' && i + 1 < html.size() && html[i + 1] == '\n' ? 2 : 1;
        } else if (c == '&') {
            const std::size_t n = entity(html, i, out);
            if (n == 0) out += '&';
            i += n == 0 ? 1 : n;
        } else if (c == '<' && html.compare(i, 4, "<!--") == 0) {
            const std::size_t end = html.find("-->", i + 4);
            i = end == std::string::npos ? html.size() : end + 3;
        } else if (c == '<' && i + 1 < html.size() && starts_tag(html[i + 1])) {
            const std::size_t end = tag_end(html, i);
            if (end == std::string::npos) {  // no tag after all: the rest is text
                out += html.substr(i);
                break;
            }
            const std::string name = tag_name(html, i + 1);
            const bool closing = html[i + 1] == '/';
            i = end + 1;
            if (name == "br" || (name == "p" && !closing)) out += '\n';
            if (!closing && (name == "script" || name == "style")) {
                // Their content is no text of the page.
                std::size_t close = i;
                while ((close = html.find("</", close)) != std::string::npos && tag_name(html, close + 1) != name)
                    close += 2;
                if (close == std::string::npos) break;
                const std::size_t close_end = html.find('>', close);
                i = close_end == std::string::npos ? html.size() : close_end + 1;
            }
        } else {
            out += c;
            ++i;
        }
    }
    const std::size_t first = out.find_first_not_of(" \t\n");
    if (first == std::string::npos) return std::string();
    const std::size_t last = out.find_last_not_of(" \t\n");
    return out.substr(first, last - first + 1);
}

void live_picture_token(int32_t skey1, int32_t skey2, int32_t folder_no, char (&out)[LIVE_TOKEN_CAP]) {
    char text[64];
    std::snprintf(text, sizeof text, "%d:%d:%d:4", skey1, skey2, folder_no);
    G_set(out, hex(G_sha256(text), LIVE_TOKEN_CAP - 1).c_str());
}

void live_job_asset() {
    char name[32];
    char version[40];
    G_param("NAME", name);
    G_param("V", version);
    // The page itself goes out filled, never as its template.
    const LIVE_ASSET* a = std::strcmp(name, "live.html") == 0 ? nullptr : live_asset(name);
    if (a == nullptr) {
        G_answer_without_page("404 Not Found", "No such file of the live view.");
        return;
    }
    reply_type((std::string("Content-Type: ") + a->content_type).c_str());
    // The page links each file by the digest of the version it was built
    // with, so that address never names other bytes; any other address may.
    reply_header(std::strcmp(version, a->digest) == 0 ? "Cache-Control: public, max-age=31536000, immutable"
                                                      : "Cache-Control: no-cache");
    reply_header("X-Content-Type-Options: nosniff");
    out_bytes(a->bytes, static_cast<std::size_t>(a->length));
}

void live_job_page() {
    const std::string exe = live_text(ctx.JOB_EXE);
    const std::string folder = std::to_string(ctx.query.FOLDER_NO);
    const std::string address = exe + "?" + G_key_query(UID_FIRST) + "&FOLDER_NO=" + folder + "&JOB=";
    const char* method = std::getenv("REQUEST_METHOD");
    if (method != nullptr && std::strcmp(method, "POST") == 0) {
        // A page reached by a form (the portal's password login) would be
        // posted again by the browser's reload, logging in anew: it is
        // answered with its own address, whose reload keeps the session.
        reply_status("303 See Other");
        reply_type("Content-Type: text/plain");
        reply_header(("Location: " + address + "LIVE").c_str());
        out("See the live view's address.\n");
        return;
    }
    const LIVE_ASSET* page = live_asset("live.html");
    const LIVE_ASSET* css = live_asset("live.css");
    const LIVE_ASSET* js = live_asset("live.js");
    if (page == nullptr || css == nullptr || js == nullptr) {  // a build without its files
        G_answer_without_page("500 Internal Server Error", "The live view is missing from this build.");
        return;
    }
    const char* language = ctx.user.LANGUAGE[0] != '\0' ? ctx.user.LANGUAGE : ctx.config.LANGUAGE;
    const std::string asset = exe + "?JOB=LIVE_ASSET&NAME=";

    std::string picture;
    if (ctx.room.TITLEPIC[0] != '\0') {
        char token[LIVE_TOKEN_CAP];
        live_picture_token(G_atoi(ctx.query.SKEY1), G_atoi(ctx.query.SKEY2), ctx.query.FOLDER_NO, token);
        picture = exe + "?JOB=LIVE_PICTURE&FOLDER_NO=" + folder + "&uid=" + G_url(ctx.query.uid) + "&T=" + token;
    }
    // The entry form proposes what the classic one does.
    CHAT_USER_IDX member;
    char color[CHAT_COLOR_CAP];
    chat_entry_presets(&member, color);

    const std::string room_name = live_text(ctx.folder.NAME);
    const std::string info = live_plain_text(G_sjis_to_utf8(ctx.room.INFO));
    const std::string texts[] = {
        live_msg(MSG_CHAT_NAME),         live_msg(MSG_COLOUR),           live_msg(MSG_ENTER),
        live_msg(MSG_LIVE_MESSAGE),      live_msg(MSG_LIVE_SEND),        live_msg(MSG_LEAVE),
        live_msg(MSG_LIVE_EARLIER),      live_msg(MSG_MEMBERS_HERE),     live_msg(MSG_LIVE_RECONNECTING),
        live_msg(MSG_LIVE_CONNECTED_AGAIN), live_msg(MSG_LIVE_NO_EARLIER), live_msg(MSG_LIVE_EARLIER_SHOWN),
        live_msg(MSG_NO_RIGHT_TO_WRITE), live_msg(MSG_NOT_IN_ROOM),      live_msg(MSG_CHAT_NAME_MISSING),
        live_msg(MSG_LIVE_CONVERSATION), live_msg(MSG_MODE_SHARED),      live_msg(MSG_MODE_USER),
        live_msg(MSG_LIVE_CLASSIC_VIEW),
    };
    const std::string values[] = {
        std::strcmp(language, "japanese") == 0 ? "ja" : "en",
        asset + "live.css&V=" + css->digest,
        asset + "live.js&V=" + js->digest,
        std::to_string(live_hold_seconds()),
        live_text(ctx.user.USER_NAME),
        live_text(color),
        ctx.access_level >= LEVEL_WRITE ? "1" : "0",
        address + "ROOM",
        live_text(ctx.query.uid),
        live_text(ctx.query.SKEY1),
        live_text(ctx.query.SKEY2),
    };
    const LIVE_FIELD fields[] = {
        {"LANG", values[0].c_str()},
        {"TITLE", room_name.c_str()},
        {"ROOM_NAME", room_name.c_str()},
        {"INFO", info.c_str()},
        {"TITLE_PICTURE_URL", picture.c_str()},
        {"CSS_URL", values[1].c_str()},
        {"JS_URL", values[2].c_str()},
        {"EXE_URL", exe.c_str()},
        {"FOLDER_NO", folder.c_str()},
        {"UID", values[8].c_str()},
        {"SKEY1", values[9].c_str()},
        {"SKEY2", values[10].c_str()},
        {"HOLD", values[3].c_str()},
        {"CHAT_NAME", values[4].c_str()},
        {"COLOR", values[5].c_str()},
        {"CAN_WRITE", values[6].c_str()},
        {"CLASSIC_URL", values[7].c_str()},
        {"T_CHAT_NAME", texts[0].c_str()},
        {"T_COLOUR", texts[1].c_str()},
        {"T_ENTER", texts[2].c_str()},
        {"T_MESSAGE", texts[3].c_str()},
        {"T_SEND", texts[4].c_str()},
        {"T_LEAVE", texts[5].c_str()},
        {"T_EARLIER", texts[6].c_str()},
        {"T_MEMBERS", texts[7].c_str()},
        {"T_RECONNECTING", texts[8].c_str()},
        {"T_BACK_ONLINE", texts[9].c_str()},
        {"T_NO_EARLIER", texts[10].c_str()},
        {"T_EARLIER_LOADED", texts[11].c_str()},
        {"T_NO_RIGHT", texts[12].c_str()},
        {"T_NOT_IN_ROOM", texts[13].c_str()},
        {"T_CHAT_NAME_MISSING", texts[14].c_str()},
        {"T_LOG", texts[15].c_str()},
        {"T_SHARED", texts[16].c_str()},
        {"T_USER", texts[17].c_str()},
        {"T_CLASSIC", texts[18].c_str()},
    };
    const std::string html =
        live_fill(page->bytes, static_cast<std::size_t>(page->length), fields, static_cast<int>(std::size(fields)));

    reply_type("Content-Type: text/html; charset=utf-8");
    reply_header("Cache-Control: no-store");
    reply_header((CSP + G_csp_frame_ancestors()).c_str());
    reply_header("Referrer-Policy: no-referrer");
    reply_header("X-Content-Type-Options: nosniff");
    out_bytes(html.data(), html.size());
}
