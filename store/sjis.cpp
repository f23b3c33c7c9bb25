// The Shift_JIS (CP932) <-> UTF-8 codec (see sjis.h). Both tables are
// generated at build time from iconv's CP932 (tools/gen_sjis_table.cpp): the
// double-byte table indexed by pointer, and its reverse sorted by code point.
#include "store/sjis.h"

#include <algorithm>

#include "sjis_table.inc"

namespace {

const unsigned long REPLACEMENT = 0xFFFD;
// What the UTF-8 reader returns for a malformed sequence: beyond Unicode, so
// it is never taken for a character.
const unsigned long MALFORMED = 0x110000;


// The lead bytes of CP932's double-byte pairs. (The suite's walk, G_is_lead,
// is wider on purpose; this is the reading of the encoding itself.)
bool is_lead(unsigned c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The code point of the pair lead, trail; 0 when it names no character.
unsigned long pair_code_point(unsigned lead, unsigned trail) {
    if (trail < 0x40 || trail > 0xFC || trail == 0x7F) return 0;
    const unsigned row = lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 31;
    const unsigned col = trail < 0x7F ? trail - 0x40 : trail - 0x41;
    return SJIS_DOUBLE[row * 188 + col];
}

std::string decode(const std::string& sjis, bool resolve_refs) {
    std::string out;
    const char* s = sjis.c_str();
    const std::size_t n = sjis.size();
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        // A run of ASCII (without '&' where references are resolved) is
        // copied as it stands: most stored text is.
        std::size_t run = i;
        while (run < n && static_cast<unsigned char>(s[run]) < 0x80 && !(resolve_refs && s[run] == '&')) ++run;
        if (run > i) {
            out.append(s + i, run - i);
            i = run - 1;
            continue;
        }
        const unsigned c = static_cast<unsigned char>(s[i]);
        if (c <= 0x80) {
            unsigned long cp = 0;
            const std::size_t len = resolve_refs && c == '&' ? G_char_reference_length(s + i, &cp) : 0;
            if (len > 0) {
                G_put_utf8(out, cp);
                i += len - 1;
            } else {
                G_put_utf8(out, c);
            }
        } else if (c >= 0xA1 && c <= 0xDF) {
            G_put_utf8(out, 0xFF61 + (c - 0xA1));
        } else if (!is_lead(c) || i + 1 == n) {
            G_put_utf8(out, REPLACEMENT);
        } else {
            const unsigned t = static_cast<unsigned char>(s[i + 1]);
            const unsigned long cp = pair_code_point(c, t);
            G_put_utf8(out, cp != 0 ? cp : REPLACEMENT);
            // An ASCII byte after a lead that makes no character is a character
            // of its own; any other trail goes with the lead.
            if (cp != 0 || t >= 0x80) ++i;
        }
    }
    return out;
}

// Reads the UTF-8 character at s[at] (at < s.size()) as browsers do; returns
// its length and its code point in *cp, or MALFORMED and the length of the
// longest start of a well-formed sequence (at least 1), after which reading
// goes on.
std::size_t utf8_next(const std::string& s, std::size_t at, unsigned long* cp) {
    const unsigned c = static_cast<unsigned char>(s[at]);
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    int need;
    unsigned lo = 0x80, hi = 0xBF;  // the bounds of the next byte
    unsigned long v;
    if (c >= 0xC2 && c <= 0xDF) {
        need = 1;
        v = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        if (c == 0xE0) lo = 0xA0;  // else overlong
        if (c == 0xED) hi = 0x9F;  // else a surrogate
        need = 2;
        v = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        if (c == 0xF0) lo = 0x90;  // else overlong
        if (c == 0xF4) hi = 0x8F;  // else beyond U+10FFFF
        need = 3;
        v = c & 0x07;
    } else {
        *cp = MALFORMED;
        return 1;
    }
    std::size_t len = 1;
    for (; need > 0; --need, ++len) {
        const unsigned b = at + len < s.size() ? static_cast<unsigned char>(s[at + len]) : 0;
        if (b < lo || b > hi) {
            *cp = MALFORMED;
            return len;
        }
        lo = 0x80;
        hi = 0xBF;
        v = (v << 6) | (b & 0x3F);
    }
    *cp = v;
    return len;
}

// Writes the Shift_JIS form of cp to out; returns its length, or 0 when the
// form writes cp as a reference.
int sjis_bytes(unsigned long cp, unsigned char out[2]) {
    if (cp <= 0x80) {
        out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp == 0xA5) {
        out[0] = 0x5C;
        return 1;
    }
    if (cp == 0x203E) {
        out[0] = 0x7E;
        return 1;
    }
    if (cp >= 0xFF61 && cp <= 0xFF9F) {
        out[0] = static_cast<unsigned char>(cp - 0xFF61 + 0xA1);
        return 1;
    }
    if (cp == 0x2212) cp = 0xFF0D;
    const auto* end = SJIS_FROM_UNICODE + sizeof SJIS_FROM_UNICODE / sizeof SJIS_FROM_UNICODE[0];
    const auto* it = std::lower_bound(SJIS_FROM_UNICODE, end, cp,
                                      [](const unsigned short(&e)[2], unsigned long v) { return e[0] < v; });
    if (it == end || (*it)[0] != cp) return 0;
    const unsigned pointer = (*it)[1];
    const unsigned lead = pointer / 188, trail = pointer % 188;
    out[0] = static_cast<unsigned char>(lead + (lead < 0x1F ? 0x81 : 0xC1));
    out[1] = static_cast<unsigned char>(trail + (trail < 0x3F ? 0x40 : 0x41));
    return 2;
}

// One character of a UTF-8 text in Shift_JIS: its bytes, or its reference.
struct PIECE {
    std::size_t in_len;     // UTF-8 bytes read
    unsigned long cp;       // the character (U+FFFD for a malformed sequence)
    bool held;              // Shift_JIS bytes, not a reference
    char bytes[12];         // "&#1114111;" at the longest
    std::size_t len;
};

PIECE next_piece(const std::string& utf8, std::size_t at) {
    PIECE p;
    p.in_len = utf8_next(utf8, at, &p.cp);
    if (p.cp == MALFORMED) p.cp = REPLACEMENT;
    unsigned char b[2];
    const int n = sjis_bytes(p.cp, b);
    p.held = n > 0;
    if (p.held) {
        p.len = static_cast<std::size_t>(n);
        for (int i = 0; i < n; ++i) p.bytes[i] = static_cast<char>(b[i]);
    } else {
        const std::string ref = "&#" + std::to_string(p.cp) + ";";
        p.len = ref.size();
        ref.copy(p.bytes, ref.size());
    }
    return p;
}

}  // namespace

std::string G_sjis_to_utf8(const std::string& sjis) { return decode(sjis, false); }

std::string G_sjis_to_utf8_resolving_refs(const std::string& sjis) { return decode(sjis, true); }

std::size_t G_sjis_invalid_at(const std::string& sjis) {
    const std::size_t n = sjis.size();
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned c = static_cast<unsigned char>(sjis[i]);
        if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) continue;
        if (!is_lead(c) || i + 1 == n || pair_code_point(c, static_cast<unsigned char>(sjis[i + 1])) == 0) return i;
        ++i;
    }
    return std::string::npos;
}

std::size_t G_char_reference_length(const char* p, unsigned long* cp) {
    if (p[0] != '&' || p[1] != '#') return 0;
    const bool hex = p[2] == 'x' || p[2] == 'X';
    const char* d = p + (hex ? 3 : 2);
    unsigned long v = 0;
    const char* q = d;
    for (;; ++q) {
        int digit;
        if (*q >= '0' && *q <= '9') {
            digit = *q - '0';
        } else if (hex && *q >= 'a' && *q <= 'f') {
            digit = *q - 'a' + 10;
        } else if (hex && *q >= 'A' && *q <= 'F') {
            digit = *q - 'A' + 10;
        } else {
            break;
        }
        v = v * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
        if (v > 0x10FFFF) return 0;  // stops before the value can overflow
    }
    if (q == d || *q != ';') return 0;
    if (v < 0xA0) return 0;
    if (v >= 0xD800 && v <= 0xDFFF) return 0;                           // surrogates
    if ((v >= 0xFDD0 && v <= 0xFDEF) || (v & 0xFFFE) == 0xFFFE) return 0;  // noncharacters
    if ((v >= 0x202A && v <= 0x202E) || (v >= 0x2066 && v <= 0x2069)) return 0;
    if (cp != nullptr) *cp = v;
    return static_cast<std::size_t>(q + 1 - p);
}

std::string G_utf8_to_sjis(const std::string& utf8) {
    std::string out;
    for (std::size_t at = 0; at < utf8.size();) {
        const PIECE p = next_piece(utf8, at);
        out.append(p.bytes, p.len);
        at += p.in_len;
    }
    return out;
}

bool G_set_utf8(char* field, std::size_t cap, const std::string& utf8) {
    if (cap == 0) return utf8.empty();
    std::size_t used = 0, at = 0;
    while (at < utf8.size()) {
        const PIECE p = next_piece(utf8, at);
        // U+0000 would end the field early: it is cut with what follows.
        if (p.cp == 0 || used + p.len > cap - 1) break;
        std::copy(p.bytes, p.bytes + p.len, field + used);
        used += p.len;
        at += p.in_len;
    }
    field[used] = '\0';
    return at == utf8.size();
}

std::size_t G_sjis_length(const std::string& utf8) {
    std::size_t n = 0;
    for (std::size_t at = 0; at < utf8.size();) {
        const PIECE p = next_piece(utf8, at);
        n += p.len;
        at += p.in_len;
    }
    return n;
}

std::size_t G_utf8_invalid_at(const std::string& utf8) {
    for (std::size_t at = 0; at < utf8.size();) {
        unsigned long cp;
        const std::size_t n = utf8_next(utf8, at, &cp);
        if (cp == MALFORMED) return at;
        at += n;
    }
    return std::string::npos;
}

std::size_t G_sjis_unencodable_at(const std::string& utf8) {
    for (std::size_t at = 0; at < utf8.size();) {
        const PIECE p = next_piece(utf8, at);
        if (!p.held || p.cp == 0x80) return at;
        at += p.in_len;
    }
    return std::string::npos;
}

void G_put_utf8(std::string& out, unsigned long cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}
