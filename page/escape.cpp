// Output escaping helpers for user and request text (see escape.h).
#include "page/escape.h"

#include "store/sjis.h"

std::string G_html(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        switch (*p) {
            case '&': {
                const std::size_t n = G_char_reference_length(p);
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
