// Output escaping helpers for user and request text (see escape.h). Both walk
// the text once and copy the runs of bytes that stand as they are in one
// piece, so that a text without a byte to escape costs one copy.
#include "page/escape.h"

#include "store/sjis.h"

namespace {

// The bytes G_html replaces (a '&' only when it starts no character
// reference), and the bytes G_url passes unchanged.
struct ESCAPE_CLASSES {
    bool html[256];
    bool url_plain[256];
};

constexpr ESCAPE_CLASSES make_classes() {
    ESCAPE_CLASSES c{};
    for (unsigned char b : {'&', '<', '>', '"', '\''}) c.html[b] = true;
    for (int b = 0; b < 256; ++b) {
        c.url_plain[b] = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
                         b == '.' || b == '_' || b == '~';
    }
    return c;
}
constexpr ESCAPE_CLASSES kClasses = make_classes();

}  // namespace

void G_html_append(std::string& out, const char* text) {
    const char* run = text;  // the bytes not yet copied
    for (const char* p = text;; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c != 0 && !kClasses.html[c]) continue;
        out.append(run, static_cast<std::size_t>(p - run));
        if (c == 0) return;
        run = p + 1;
        switch (c) {
            case '&': {
                const std::size_t n = G_char_reference_length(p);
                if (n > 0) {
                    // A reference passes whole: it is copied with the next run.
                    run = p;
                    p += n - 1;
                } else {
                    out += "&amp;";
                }
                break;
            }
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += "&#39;"; break;
        }
    }
}

std::string G_html(const char* text) {
    std::string out;
    G_html_append(out, text);
    return out;
}

void G_url_append(std::string& out, const char* text) {
    static const char hex[] = "0123456789ABCDEF";
    const char* run = text;
    for (const char* p = text;; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c != 0 && kClasses.url_plain[c]) continue;
        out.append(run, static_cast<std::size_t>(p - run));
        if (c == 0) return;
        run = p + 1;
        const char escaped[3] = {'%', hex[c >> 4], hex[c & 0x0F]};
        out.append(escaped, 3);
    }
}

std::string G_url(const char* text) {
    std::string out;
    G_url_append(out, text);
    return out;
}
