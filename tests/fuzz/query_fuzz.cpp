// Fuzz target of the parameter reader on a query string (the URL-encoded
// reader behind GET and form POSTs): the input, up to its first zero byte, is
// QUERY_STRING. The pairs must be the "&"-separated pieces in order, split at
// their first "=", with "+" as blank and well-formed %XX escapes decoded; a
// lookup finds each by name and occurrence, cut to the caller's buffer.
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cgi/cgilib61.h"
#include "settings/sysinfo.h"
#include "store/fileio.h"
#include "store/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The parameters of the query under test, and the data directory its end
// step sweeps.
CGI_PARAMS params;
char data_dir[sizeof(SYSINFO_REC::DATA_FILE_PATH)];

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The decoded text when every "%" starts a well-formed, non-zero escape;
// false otherwise (the reader's treatment of other escapes is its own).
bool decode_plain(const std::string& in, std::string* out) {
    out->clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            *out += in[i];
            continue;
        }
        if (i + 2 >= in.size() || hex_digit(in[i + 1]) < 0 || hex_digit(in[i + 2]) < 0) return false;
        const int byte = hex_digit(in[i + 1]) * 16 + hex_digit(in[i + 2]);
        if (byte == 0) return false;
        *out += static_cast<char>(byte);
        i += 2;
    }
    return true;
}

// Offset of the first "=" of piece that is a character of its own, or npos.
std::size_t first_equals(const std::string& piece) {
    for (std::size_t i = 0; i < piece.size();) {
        const bool two = G_is_lead(static_cast<unsigned char>(piece[i])) && i + 1 < piece.size();
        if (!two && piece[i] == '=') return i;
        i += two ? 2 : 1;
    }
    return std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = [] {
        // cgi_free sweeps upload leftovers of the data directory: let it
        // sweep the scratch directory, never the working directory.
        G_set(data_dir, (fuzz::scratch_dir() + "/").c_str());
        Fio_set_data_dir(data_dir);
        return true;
    }();
    (void)once;

    const std::string query = fuzz::split0(data, size, 1)[0];
    setenv("REQUEST_METHOD", "GET", 1);
    setenv("QUERY_STRING", query.c_str(), 1);
    FUZZ_CHECK(cgi_get(&params, 1000000, data_dir) == 0);

    // The model's pieces: "+" is a blank before any decoding; a trailing "&"
    // adds nothing, every other "&" ends a piece (an empty one too).
    std::vector<std::pair<std::string, std::string>> want;
    if (!query.empty()) {
        std::string text = query;
        for (char& c : text) if (c == '+') c = ' ';
        std::size_t from = 0;
        for (;;) {
            const std::size_t amp = text.find('&', from);
            const std::string piece = text.substr(from, amp == std::string::npos ? std::string::npos : amp - from);
            const std::size_t eq = first_equals(piece);
            want.emplace_back(piece.substr(0, eq), eq == std::string::npos ? "" : piece.substr(eq + 1));
            if (amp == std::string::npos || amp + 1 == text.size()) break;
            from = amp + 1;
        }
    }

    std::size_t n = 0;
    for (const CGI_PAIR* node = &params.list; node && node->name; node = node->next, ++n) {
        FUZZ_CHECK(n < want.size());
        const std::string name = node->name, value = node->value;
        FUZZ_CHECK(name.size() <= want[n].first.size() && value.size() <= want[n].second.size());
        std::string plain;
        if (decode_plain(want[n].first, &plain)) FUZZ_CHECK(name == plain);
        if (decode_plain(want[n].second, &plain)) FUZZ_CHECK(value == plain);

        // The lookup by name and occurrence finds this very pair.
        int occurrence = 0;
        for (const CGI_PAIR* m = &params.list; m != node; m = m->next)
            if (name == m->name) ++occurrence;
        char got[64];
        const int cap = 1 + static_cast<int>(size % sizeof got);
        cgi_getvalue(&params, name.c_str(), occurrence, got, cap);
        FUZZ_CHECK(std::string(got) == value.substr(0, static_cast<std::size_t>(cap - 1)));
    }
    FUZZ_CHECK(n == want.size());
    cgi_free(&params);
    FUZZ_CHECK(params.list.name == nullptr && params.list.next == nullptr && params.cur == nullptr);
    return 0;
}
