// Fuzz target of the Shift_JIS string helpers (store/text.h) and the codec
// (store/sjis.h): each helper's result is checked against a plain model built
// on the one lead-byte rule, so a search, cut or copy that splits a
// double-byte character or leaves its field shows; the codec's encoding is
// checked to read back and to be cut only between characters.
#include <cctype>
#include <climits>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "store/text.h"
#include "store/sjis.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The character starts of s, and its length as the last entry.
std::vector<std::size_t> starts(const std::string& s) {
    std::vector<std::size_t> b;
    std::size_t i = 0;
    while (i < s.size()) {
        b.push_back(i);
        i += (G_is_lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
    }
    b.push_back(s.size());
    return b;
}

bool is_start(const std::vector<std::size_t>& b, std::size_t pos) {
    for (std::size_t x : b) if (x == pos) return true;
    return false;
}

int model_find(const std::string& h, const std::string& k) {
    if (h.empty() || k.empty()) return -1;
    const std::vector<std::size_t> b = starts(h);
    for (std::size_t i = 0; i + 1 < b.size(); ++i) {
        const std::size_t s = b[i];
        if (s + k.size() <= h.size() && h.compare(s, k.size(), k) == 0 && is_start(b, s + k.size()))
            return static_cast<int>(s);
    }
    return -1;
}

// strtol base 10, clamped to long, then wrapped to 32 bits.
int32_t model_atoi(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    __int128 v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > static_cast<__int128>(LONG_MAX) + 1) v = static_cast<__int128>(LONG_MAX) + 1;
    }
    long r;
    if (neg) {
        r = v > static_cast<__int128>(LONG_MAX) ? LONG_MIN : -static_cast<long>(v);
    } else {
        r = v > LONG_MAX ? LONG_MAX : static_cast<long>(v);
    }
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(r)));
}

std::string model_br(const std::string& s) {
    std::string out;
    const std::vector<std::size_t> b = starts(s);
    for (std::size_t i = 0; i + 1 < b.size(); ++i) {
        const std::size_t n = b[i + 1] - b[i];
        if (n == 2) out += s.substr(b[i], 2);
        else if (s[b[i]] == '\r') out += "<BR>\n";
        else if (s[b[i]] != '\n') out += s[b[i]];
        if (out.size() > 99999) break;
    }
    return out;
}

void check_cut_filename(const std::string& in) {
    char out[252];
    std::vector<char> temp(4002);
    G_cut_filename(in.c_str(), out, temp.data());
    const std::vector<std::size_t> b = starts(in);
    // The temporary path follows the last comma byte, whatever stands before
    // it; directories end at the last single-byte separator before that.
    const std::size_t last = in.rfind(',');
    const std::size_t name_end = last == std::string::npos ? in.size() : last;
    std::size_t name_start = 0;
    for (std::size_t i = 0; i + 1 < b.size() && b[i] < name_end; ++i)
        if ((in[b[i]] == '/' || in[b[i]] == '\\') && b[i + 1] - b[i] == 1) name_start = b[i] + 1;
    std::string want;
    for (std::size_t i = 0; i + 1 < b.size(); ++i) {
        if (b[i] < name_start || b[i] >= name_end) continue;
        std::string c = in.substr(b[i], std::min(b[i + 1], name_end) - b[i]);
        if (want.size() + c.size() > 251) break;
        for (char& x : c) if (x == ',') x = '_';
        want += c;
    }
    FUZZ_CHECK(std::string(out) == want);
    const std::string temp_want = name_end < in.size() ? in.substr(name_end + 1) : in;
    FUZZ_CHECK(std::string(temp.data()) == temp_want.substr(0, 4001));
    // The bare name is a fixed point: no comma, no directory left in it.
    char again[252];
    std::vector<char> temp2(4002);
    G_cut_filename(out, again, temp2.data());
    FUZZ_CHECK(std::strcmp(again, out) == 0 && std::strcmp(temp2.data(), out) == 0);
}

// The codec on any bytes: no crash, and for well-formed UTF-8 the encoding is
// that of its characters one by one, reads back where every character has a
// Shift_JIS form of its own, and is cut to a field after whole characters.
void check_codec(const std::string& a, std::size_t cap) {
    const std::string enc = G_utf8_to_sjis(a);
    FUZZ_CHECK(G_sjis_length(a) == enc.size());
    (void)G_sjis_invalid_at(a);
    (void)G_sjis_to_utf8_resolving_refs(a);
    (void)G_sjis_to_utf8(enc);

    char field[48];
    const bool whole = G_set_utf8(field, cap, a);
    const std::size_t len = std::strlen(field);
    FUZZ_CHECK(len < cap && enc.compare(0, len, field) == 0 && whole == (len == enc.size()));

    if (G_utf8_invalid_at(a) != std::string::npos) return;
    std::vector<std::string> pieces;
    std::string joined;
    for (std::size_t i = 0, j; i < a.size(); i = j) {
        for (j = i + 1; j < a.size() && (static_cast<unsigned char>(a[j]) & 0xC0) == 0x80; ++j) {}
        pieces.push_back(G_utf8_to_sjis(a.substr(i, j - i)));
        joined += pieces.back();
    }
    FUZZ_CHECK(joined == enc);
    std::size_t want = 0;
    for (const std::string& p : pieces) {
        if (want + p.size() > cap - 1) break;
        want += p.size();
    }
    FUZZ_CHECK(len == want);
    // U+00A5, U+203E and U+2212 are written as characters that read otherwise.
    const bool one_way = a.find("\xC2\xA5") != std::string::npos || a.find("\xE2\x80\xBE") != std::string::npos ||
                         a.find("\xE2\x88\x92") != std::string::npos;
    if (G_sjis_unencodable_at(a) == std::string::npos && !one_way) FUZZ_CHECK(G_sjis_to_utf8(enc) == a);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> p = fuzz::split0(data, size, 2);
    const std::string& a = p[0];
    const std::string& k = p[1];

    FUZZ_CHECK(G_StrFind(a.c_str(), k.c_str()) == model_find(a, k));
    FUZZ_CHECK(G_atoi(a.c_str()) == model_atoi(a));

    // A cut to a capacity taken from the input: the longest whole-character
    // prefix that fits.
    const int cap = static_cast<int>(size % 300) - 1;
    std::string cut = a;
    G_setStrlength(&cut[0], cap);
    const std::size_t len = std::strlen(cut.c_str());
    const std::vector<std::size_t> b = starts(a);
    std::size_t want = 0;
    for (std::size_t i = 1; i < b.size() && b[i] + 1 <= static_cast<std::size_t>(cap < 1 ? 1 : cap); ++i) want = b[i];
    FUZZ_CHECK(len == want && a.compare(0, len, cut.c_str()) == 0);

    char field[40];
    const std::size_t fcap = 1 + size % sizeof field;
    G_set(field, fcap, a.c_str());
    FUZZ_CHECK(std::string(field) == a.substr(0, fcap - 1));

    std::vector<char> br(std::max<std::size_t>(104005, a.size() + 1));
    std::memcpy(br.data(), a.c_str(), a.size() + 1);
    G_CrLf_to_BR(br.data());
    FUZZ_CHECK(std::string(br.data()) == model_br(a));

    std::string up = a;
    G_ToUppers(&up[0]);
    for (std::size_t i = 0; i + 1 < b.size(); ++i) {
        const char c = a[b[i]];
        const bool single_lower = b[i + 1] - b[i] == 1 && c >= 'a' && c <= 'z';
        FUZZ_CHECK(up[b[i]] == (single_lower ? c - 0x20 : c));
        if (b[i + 1] - b[i] == 2) FUZZ_CHECK(up[b[i] + 1] == a[b[i] + 1]);
    }

    std::string trimmed = a;
    G_CutCrLf(&trimmed[0]);
    std::size_t keep = a.size();
    while (keep > 0 && (a[keep - 1] == '\r' || a[keep - 1] == '\n')) --keep;
    FUZZ_CHECK(std::string(trimmed.c_str()) == a.substr(0, keep));

    check_cut_filename(a);
    check_codec(a, 1 + size % 48);
    return 0;
}
