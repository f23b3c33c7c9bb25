// The table of the pages' own scripts and handlers and the policy built from
// it (see script.h).
#include "page/script.h"

#include <cstdlib>
#include <cstring>

#include "page/context.h"
#include "page/digest.h"
#include "page/escape.h"
#include "page/reply.h"
#include "store/sjis.h"
#include "settings/strdef.h"

namespace {

// One entry: its text, in which each "%s" in turn takes the message of
// `message` (up to two; 0 ends the list), and whether it is a handler.
struct PAGE_SCRIPT {
    const char* text;
    int message[2];
    bool handler;
};

const PAGE_SCRIPT SCRIPTS[PAGE_SCRIPT_COUNT] = {
    // SCRIPT_TITLE_GUARD: the first click on a guarded button is let through,
    // every later one refused, so a slow answer does not send a form twice.
    {"\n<!--\nvar count=0;\nfunction postcheck(){\ncount++;\n"
     "if ( count < 2 ){ return true; }\nelse { return false; }\n}\n// -->\n",
     {0, 0}, false},
    // SCRIPT_ENTRY_CHECK: an empty chat name is refused with an alert; the
    // button's label changes while the entry is sent.
    {"\n<!--\nvar count=0;\nfunction postcheck(){\nif ( document.INPUT.CHAT_NAME.value==\"\" ) {\n"
     "window.alert( \"%s\" );\nreturn false; }\ncount++;\ndocument.INPUT.SUB.value=\"%s\";\n"
     "if ( count < 2 ){ return true; }\nelse { return false; }\n}\n// -->\n",
     {MSG_CHAT_NAME_MISSING, MSG_ENTERING}, false},
    // SCRIPT_TALK
    {"\n<!--\nfunction onLoad(){\ndocument.INPUT.CTALK.focus();\n}\nvar count=0;\nfunction autoclear(){\n"
     "document.INPUT.CTALK.value=\"\";\ndocument.INPUT.CTALK.focus();\n}\n// -->\n",
     {0, 0}, false},
    // SCRIPT_SETTINGS_CHECK
    {"\n<!--\nfunction title_chk(){\nif ( document.INPUT.NAME.value==\"\" ) {\n"
     "window.alert( \"%s\" );\nreturn false }\n}\n// -->\n",
     {MSG_ROOM_NAME_MISSING, 0}, false},
    {"history.back()", {0, 0}, true},                 // HANDLER_BACK
    {"return postcheck()", {0, 0}, true},             // HANDLER_POSTCHECK
    {"return title_chk()", {0, 0}, true},             // HANDLER_TITLE_CHK
    {"setTimeout(\"autoclear()\",10)", {0, 0}, true},  // HANDLER_AUTOCLEAR
};

// A word of VELT_FRAME_ANCESTORS that may stand in the header: a scheme or
// origin made of letters, digits and . : / * _ + -, so that no word can end the
// directive, quote a keyword or break the header line.
bool plain_source(const std::string& word) {
    if (word.empty() || word.size() > 200) return false;
    for (char c : word) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        std::strchr(".:/*_+-", c) != nullptr;
        if (!ok) return false;
    }
    return true;
}

std::string frame_ancestors() {
    std::string out = "frame-ancestors 'self'";
    const char* env = std::getenv("VELT_FRAME_ANCESTORS");
    if (env == nullptr) return out;
    std::string word;
    for (const char* p = env;; ++p) {
        if (*p == ' ' || *p == '\t' || *p == '\0') {
            if (plain_source(word)) out += " " + word;
            word.clear();
            if (*p == '\0') break;
        } else {
            word += *p;
        }
    }
    return out;
}

}  // namespace

std::string G_script_text(int id) {
    if (id < 0 || id >= PAGE_SCRIPT_COUNT) return std::string();
    const PAGE_SCRIPT& s = SCRIPTS[id];
    std::string out;
    int used = 0;
    for (const char* p = s.text; *p; ++p) {
        if (p[0] == '%' && p[1] == 's' && used < 2 && s.message[used] != 0) {
            out += G_msg(s.message[used++]);
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

void G_script_print(int id) {
    out("<SCRIPT Language=\"JavaScript\">");
    out(G_script_text(id).c_str());
    out("</SCRIPT>\n");
}

std::string G_handler(int id) { return G_html(G_script_text(id).c_str()); }

std::string G_csp_frame_ancestors() { return frame_ancestors(); }

std::string G_csp_policy(bool string_timer) {
    std::string policy = "script-src 'unsafe-hashes'";
    for (int id = 0; id < PAGE_SCRIPT_COUNT; ++id) {
        const std::string source = " 'sha256-" + G_base64(G_sha256(G_sjis_to_utf8(G_script_text(id)))) + "'";
        if (policy.find(source) == std::string::npos) policy += source;
    }
    if (string_timer) policy += " 'unsafe-eval'";
    policy += "; object-src 'none'; base-uri 'none'; form-action 'self'; ";
    return policy + frame_ancestors();
}
