// Filling the live view's page (see template.h).
#include "live/template.h"

#include <cstring>

const char* const LIVE_PLACEHOLDERS[] = {
    "LANG",          "TITLE",          "ROOM_NAME",    "INFO",           "TITLE_PICTURE_URL",
    "CSS_URL",       "JS_URL",         "EXE_URL",      "FOLDER_NO",      "UID",
    "SKEY1",         "SKEY2",          "HOLD",         "CHAT_NAME",      "COLOR",
    "CAN_WRITE",     "CLASSIC_URL",    "T_CHAT_NAME",  "T_COLOUR",       "T_ENTER",
    "T_MESSAGE",     "T_SEND",         "T_LEAVE",      "T_EARLIER",      "T_MEMBERS",
    "T_RECONNECTING", "T_BACK_ONLINE", "T_NO_EARLIER", "T_EARLIER_LOADED", "T_NEW_LINES",
    "T_NO_RIGHT",    "T_NOT_IN_ROOM",  "T_CHAT_NAME_MISSING", "T_LOG",   "T_SHARED",
    "T_USER",        "T_CLASSIC",
};
const int LIVE_PLACEHOLDER_COUNT = static_cast<int>(sizeof LIVE_PLACEHOLDERS / sizeof LIVE_PLACEHOLDERS[0]);

namespace {

bool name_char(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }

}  // namespace

std::string live_html(const char* text) {
    std::string out;
    if (text == nullptr) return out;
    for (const char* p = text; *p; ++p) {
        switch (*p) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += *p;
        }
    }
    return out;
}

std::string live_fill(const char* tmpl, std::size_t length, const LIVE_FIELD* fields, int count) {
    std::string out;
    if (tmpl == nullptr) return out;
    out.reserve(length + 1024);
    std::size_t at = 0;
    while (at < length) {
        std::size_t n = at + 2;
        if (tmpl[at] == '{' && at + 1 < length && tmpl[at + 1] == '{') {
            while (n < length && name_char(tmpl[n])) ++n;
        }
        const bool place = n > at + 2 && n + 1 < length && tmpl[n] == '}' && tmpl[n + 1] == '}';
        if (!place) {
            out += tmpl[at++];
            continue;
        }
        const std::string name(tmpl + at + 2, n - at - 2);
        for (int f = 0; f < count && fields != nullptr; ++f) {
            if (fields[f].name != nullptr && name == fields[f].name) {
                out += live_html(fields[f].value);
                break;
            }
        }
        at = n + 2;
    }
    return out;
}
