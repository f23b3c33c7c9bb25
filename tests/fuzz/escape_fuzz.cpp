// Fuzz target of the output escapers: G_html leaves no markup character and
// its five entities undo to the text; G_url leaves only unreserved bytes and
// %XX, and the parameter reader's decoder gives the text back.
#include <cstring>
#include <string>

#include "cgi/cgilib61.h"
#include "page/escape.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Undoes exactly the five entities G_html writes, left to right; any other
// "&" stays as it stands.
std::string html_unescape(const std::string& s) {
    static const struct { const char* entity; char c; } table[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        bool done = false;
        for (const auto& t : table) {
            const std::size_t n = std::strlen(t.entity);
            if (s.compare(i, n, t.entity) == 0) {
                out += t.c;
                i += n;
                done = true;
                break;
            }
        }
        if (!done) out += s[i++];
    }
    return out;
}

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

bool upper_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = fuzz::split0(data, size, 1)[0];

    const std::string html = G_html(text.c_str());
    FUZZ_CHECK(html.find_first_of("<>\"'") == std::string::npos);
    FUZZ_CHECK(html.size() >= text.size());
    FUZZ_CHECK(html_unescape(html) == text);

    const std::string url = G_url(text.c_str());
    FUZZ_CHECK(url.size() >= text.size());
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%') {
            FUZZ_CHECK(i + 2 < url.size() && upper_hex(url[i + 1]) && upper_hex(url[i + 2]));
            i += 2;
        } else {
            FUZZ_CHECK(unreserved(static_cast<unsigned char>(url[i])));
        }
    }
    std::string decoded = url;
    cgi_decode(&decoded[0]);
    FUZZ_CHECK(std::string(decoded.c_str()) == text);
    return 0;
}
