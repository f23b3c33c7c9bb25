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

// The policy source of a script or handler text made at build time, for
// each text the shipped message file gives (csp_known.inc, written by
// tools/gen_csp_table.cpp): the policy takes it when the text a page prints
// is that one byte for byte, and computes the source afresh otherwise (a
// site's own messages). Hashing the texts is most of a page's work else.
struct KNOWN_SOURCE {
    int id;
    const char* text;
    std::size_t length;
    const char* source;
};
#include "csp_known.inc"

// The source of script or handler id, whose text is `text`.
std::string source_of(int id, const std::string& text) {
    for (const KNOWN_SOURCE& k : csp_known) {
        if (k.id == id && k.length == text.size() && std::memcmp(k.text, text.data(), k.length) == 0) return k.source;
    }
    return G_csp_source(text);
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

std::string G_csp_policy(bool string_timer) {
    std::string policy = "script-src 'unsafe-hashes'";
    for (int id = 0; id < PAGE_SCRIPT_COUNT; ++id) {
        const std::string source = " " + source_of(id, G_script_text(id));
        if (policy.find(source) == std::string::npos) policy += source;
    }
    if (string_timer) policy += " 'unsafe-eval'";
    policy += "; object-src 'none'; base-uri 'none'; form-action 'self'; ";
    return policy + frame_ancestors();
}
