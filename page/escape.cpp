// Output escaping helpers for user and request text (see escape.h).
#include "page/escape.h"

namespace {

// Whether code point cp may stand in a page as a numeric character reference
// of its own. Browsers send a reference only for a character the page's
// Shift_JIS cannot hold, which is never ASCII; keeping ASCII references escaped
// also keeps text like "javascript&#58;" from turning into syntax in an
// address. Controls, surrogates, noncharacters and the bidirectional
// embeddings and overrides (which would turn the rest of a line around) are
// no printable characters either.
bool printable_reference(unsigned long cp) {
    if (cp < 0xA0 || cp > 0x10FFFF) return false;
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    if (cp >= 0xFDD0 && cp <= 0xFDEF) return false;
    if ((cp & 0xFFFE) == 0xFFFE) return false;
    if ((cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069)) return false;
    return true;
}

// Length of the numeric character reference at p ("&#" decimal digits ";" or
// "&#x" hex digits ";", x in either case) when it names a printable character;
// 0 otherwise. All its bytes are single-byte characters, so it never takes a
// Shift_JIS second byte for a digit.
std::size_t reference_length(const char* p) {
    if (p[0] != '&' || p[1] != '#') return 0;
    const bool hex = p[2] == 'x' || p[2] == 'X';
    const char* d = p + (hex ? 3 : 2);
    unsigned long cp = 0;
    const char* q = d;
    for (;; ++q) {
        int v;
        if (*q >= '0' && *q <= '9') {
            v = *q - '0';
        } else if (hex && *q >= 'a' && *q <= 'f') {
            v = *q - 'a' + 10;
        } else if (hex && *q >= 'A' && *q <= 'F') {
            v = *q - 'A' + 10;
        } else {
            break;
        }
        cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(v);
        if (cp > 0x10FFFF) return 0;  // stops before the value can overflow
    }
    if (q == d || *q != ';' || !printable_reference(cp)) return 0;
    return static_cast<std::size_t>(q + 1 - p);
}

}  // namespace

std::string G_html(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        switch (*p) {
            case '&': {
                const std::size_t n = reference_length(p);
                if (n > 0) {
                    out.append(p, n);
                    p += n - 1;
                } else {
                    out += "&amp;";
                }
                break;
            }
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += *p;
        }
    }
    return out;
}

std::string G_url(const char* text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        const unsigned char c = *p;
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}
