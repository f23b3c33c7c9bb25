// Fuzz target of the keyed-line splitter of personal.mst and dir.cnf: the key
// ends at the first comma that is a character of its own, the value lies
// inside the line and ends where its format says.
#include <cstring>
#include <string>
#include <vector>

#include "store/keyed_line.h"
#include "store/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Offset of the first single-byte comma of s at or after from, or -1.
int first_comma(const std::string& s, std::size_t from) {
    for (std::size_t i = from; i < s.size();) {
        const bool two = G_is_lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size();
        if (!two && s[i] == ',') return static_cast<int>(i);
        i += two ? 2 : 1;
    }
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line = fuzz::split0(data, size, 1)[0];
    for (KEYED_FORMAT f : {KEYED_NAME_VALUE, KEYED_KEY_VALUE_COMMA}) {
        int key_len = -7, value_pos = -7, value_len = -7;
        const int rc = keyed_line_split(f, line.c_str(), &key_len, &value_pos, &value_len);
        const int c1 = first_comma(line, 0);
        // The value is walked as a text of its own, from just behind the key.
        const int c2 = c1 < 0 ? -1 : first_comma(line.substr(c1 + 1), 0);
        if (c1 < 0 || (f == KEYED_KEY_VALUE_COMMA && c2 < 0)) {
            FUZZ_CHECK(rc == -1);
            continue;
        }
        FUZZ_CHECK(rc == 0);
        FUZZ_CHECK(key_len == c1 && value_pos == c1 + 1);
        FUZZ_CHECK(value_len >= 0 && static_cast<std::size_t>(value_pos + value_len) <= line.size());
        if (f == KEYED_KEY_VALUE_COMMA) {
            FUZZ_CHECK(value_len == c2);
        } else {
            std::size_t end = line.size();
            while (end > static_cast<std::size_t>(value_pos) && (line[end - 1] == '\r' || line[end - 1] == '\n')) --end;
            FUZZ_CHECK(static_cast<std::size_t>(value_pos + value_len) == end);
        }
    }
    return 0;
}
