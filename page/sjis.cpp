// Shift_JIS to UTF-8 (see sjis.h). The double-byte table is generated at build
// time from iconv's CP932 (tools/gen_sjis_table.cpp).
#include "page/sjis.h"

#include "sjis_table.inc"

namespace {

void put_utf8(std::string& out, unsigned long cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool is_lead(unsigned c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

}  // namespace

std::string G_sjis_to_utf8(const std::string& sjis) {
    const unsigned long REPLACEMENT = 0xFFFD;
    std::string out;
    const std::size_t n = sjis.size();
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned c = static_cast<unsigned char>(sjis[i]);
        if (c <= 0x80) {
            put_utf8(out, c);
        } else if (c >= 0xA1 && c <= 0xDF) {
            put_utf8(out, 0xFF61 + (c - 0xA1));
        } else if (!is_lead(c) || i + 1 == n) {
            put_utf8(out, REPLACEMENT);
        } else {
            const unsigned t = static_cast<unsigned char>(sjis[i + 1]);
            unsigned long cp = 0;
            if (t >= 0x40 && t <= 0xFC && t != 0x7F) {
                const unsigned row = c <= 0x9F ? c - 0x81 : c - 0xE0 + 31;
                const unsigned col = t < 0x7F ? t - 0x40 : t - 0x41;
                cp = SJIS_DOUBLE[row * 188 + col];
            }
            put_utf8(out, cp != 0 ? cp : REPLACEMENT);
            // An ASCII byte after a lead that makes no character is a character
            // of its own; any other trail goes with the lead.
            if (cp != 0 || t >= 0x80) ++i;
        }
    }
    return out;
}
