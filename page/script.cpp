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

// The policy source of a script or handler made at build time, for each
// text the shipped message file gives it (csp_known.inc, written by
// tools/gen_csp_table.cpp), by the messages the text takes (empty where it
// takes none): a script's text is its template of PAGE_SCRIPTS with those
// messages, so the same messages make the same text and the same source. The
// policy takes it when the loaded table holds those messages byte for byte,
// and computes the source afresh otherwise (a site's own messages). Hashing
// the texts is most of a page's work else.
struct KNOWN_SOURCE {
    int id;
    const char* message[2];
    const char* source;
};
#include "csp_known.inc"

// The source made at build time for script or handler id with the loaded
// messages, or null.
const char* known_source(int id) {
    const char* m0 = "";
    const char* m1 = "";
    G_script_messages(id, ctx.messages, &m0, &m1);
    for (const KNOWN_SOURCE& k : csp_known) {
        if (k.id == id && std::strcmp(k.message[0], m0) == 0 && std::strcmp(k.message[1], m1) == 0) return k.source;
    }
    return nullptr;
}

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

std::string G_script_text(int id) { return G_script_text_in(id, ctx.messages); }

void G_script_print(int id) {
    out("<SCRIPT Language=\"JavaScript\">");
    out(G_script_text(id).c_str());
    out("</SCRIPT>\n");
}

std::string G_handler(int id) { return G_html(G_script_text(id).c_str()); }

std::string G_csp_frame_ancestors() { return frame_ancestors(); }

std::string G_csp_policy(bool string_timer) {
    std::string policy;
    policy.reserve(1024);
    policy = "script-src 'unsafe-hashes'";
    for (int id = 0; id < PAGE_SCRIPT_COUNT; ++id) {
        const char* known = known_source(id);
        const std::string computed = known != nullptr ? std::string() : G_csp_source(G_script_text(id));
        const char* source = known != nullptr ? known : computed.c_str();
        // Each source once; a source stands in the policy after a blank.
        if (policy.find(source) != std::string::npos) continue;
        policy += ' ';
        policy += source;
    }
    if (string_timer) policy += " 'unsafe-eval'";
    policy += "; object-src 'none'; base-uri 'none'; form-action 'self'; ";
    return policy + frame_ancestors();
}
