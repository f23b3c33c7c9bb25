// Output escaping helpers for user and request text (see escape.h). Both walk
// the text once and copy the runs of bytes that stand as they are in one
// piece, so that a text without a byte to escape costs one copy.
#include "page/escape.h"

#include <cstring>

#include "store/sjis.h"

namespace {

// The bytes G_url passes unchanged.
struct URL_PLAIN {
    bool plain[256];
};

constexpr URL_PLAIN make_url_plain() {
    URL_PLAIN c{};
    for (int b = 0; b < 256; ++b) {
        c.plain[b] = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
                     b == '.' || b == '_' || b == '~';
    }
    return c;
}
constexpr URL_PLAIN kUrlPlain = make_url_plain();

}  // namespace

void G_html_pieces(const char* text, void (*put)(const char* bytes, std::size_t n, void* arg), void* arg) {
    for (const char* p = text;;) {
        // The run up to the next byte to escape, found in one search.
        const std::size_t run = std::strcspn(p, "&<>\"'");
        if (run > 0) put(p, run, arg);
        p += run;
        switch (*p) {
            case '\0': return;
            case '&': {
                const std::size_t n = G_char_reference_length(p);
                if (n > 0) {
                    put(p, n, arg);  // a reference passes whole
                    p += n;
                    continue;
                }
                put("&amp;", 5, arg);
                break;
            }
            case '<': put("&lt;", 4, arg); break;
            case '>': put("&gt;", 4, arg); break;
            case '"': put("&quot;", 6, arg); break;
            default: put("&#39;", 5, arg); break;
        }
        ++p;
    }
}

std::string G_html(const char* text) {
    std::string out;
    G_html_pieces(
        text, [](const char* bytes, std::size_t n, void* arg) { static_cast<std::string*>(arg)->append(bytes, n); },
        &out);
    return out;
}

std::string G_url(const char* text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    const char* run = text;
    for (const char* p = text;; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c != 0 && kUrlPlain.plain[c]) continue;
        out.append(run, static_cast<std::size_t>(p - run));
        if (c == 0) return out;
        run = p + 1;
        const char escaped[3] = {'%', hex[c >> 4], hex[c & 0x0F]};
        out.append(escaped, 3);
    }
}

