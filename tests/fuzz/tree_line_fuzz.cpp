// Fuzz target of the folder-tree line: any line parses without overrun, and
// whatever record is formatted (parsed from the input, or raw bytes taken as a
// record) reads back as the same folder, on one line, with the same numbers.
#include <cstring>
#include <string>

#include "access/tree_mst.h"
#include "store/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Text fields without a byte the line format must replace (CR, LF, comma) and
// without double-byte lead bytes come back byte for byte.
bool plain(const char* field, std::size_t cap) {
    for (std::size_t i = 0; i < cap && field[i]; ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        if (c == '\r' || c == '\n' || c == ',' || G_is_lead(c)) return false;
    }
    return true;
}

bool same_text(const char* a, const char* b, std::size_t cap) { return strnlen(a, cap) == strnlen(b, cap) && std::strncmp(a, b, cap) == 0; }

// Formats rec and checks that the line reads back as rec.
void check_round_trip(const TREE_DATA& rec) {
    const std::string line = tree_format_line(rec);
    FUZZ_CHECK(!line.empty() && line.back() == '\n');
    FUZZ_CHECK(line.find('\n') == line.size() - 1 && line.find('\r') == std::string::npos);
    TREE_DATA back;
    FUZZ_CHECK(tree_parse_line(line.c_str(), &back) == 0);
    FUZZ_CHECK(tree_format_line(back) == line);
    const int32_t depth = rec.CLASS < 0 ? 0 : (rec.CLASS > TREE_LINE_CAP - 1 ? TREE_LINE_CAP - 1 : rec.CLASS);
    FUZZ_CHECK(back.CLASS == depth);
    FUZZ_CHECK(back.FOLDER_NO == rec.FOLDER_NO && back.MODE == rec.MODE);
    FUZZ_CHECK(back.ACCESS_LEVEL == rec.ACCESS_LEVEL && back.WRITE_LEVEL == rec.WRITE_LEVEL);
    FUZZ_CHECK(back.TARGET == rec.TARGET && back.UPW == rec.UPW && back.SKEY == rec.SKEY &&
               back.ICON_MODE == rec.ICON_MODE);
    if (plain(rec.NAME, sizeof rec.NAME)) FUZZ_CHECK(same_text(back.NAME, rec.NAME, sizeof rec.NAME));
    if (plain(rec.CGI_NAME, sizeof rec.CGI_NAME)) FUZZ_CHECK(same_text(back.CGI_NAME, rec.CGI_NAME, sizeof rec.CGI_NAME));
    if (plain(rec.PIC_FILENAME, sizeof rec.PIC_FILENAME))
        FUZZ_CHECK(same_text(back.PIC_FILENAME, rec.PIC_FILENAME, sizeof rec.PIC_FILENAME));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line = fuzz::split0(data, size, 1)[0];
    TREE_DATA rec;
    if (tree_parse_line(line.c_str(), &rec) == 0) {
        FUZZ_CHECK(strnlen(rec.NAME, sizeof rec.NAME) < sizeof rec.NAME);
        FUZZ_CHECK(strnlen(rec.CGI_NAME, sizeof rec.CGI_NAME) < sizeof rec.CGI_NAME);
        FUZZ_CHECK(strnlen(rec.PIC_FILENAME, sizeof rec.PIC_FILENAME) < sizeof rec.PIC_FILENAME);
        check_round_trip(rec);
    } else {
        // A refused line leaves the record cleared.
        static const TREE_DATA zero{};
        FUZZ_CHECK(std::memcmp(&rec, &zero, sizeof rec) == 0);
    }

    // The raw bytes as a record: numbers are anything, texts any bytes; like
    // every record of the program, a text holds at most its capacity - 1.
    TREE_DATA raw;
    std::memset(&raw, 0, sizeof raw);
    std::memcpy(&raw, data, size < sizeof raw ? size : sizeof raw);
    raw.NAME[sizeof raw.NAME - 1] = '\0';
    raw.CGI_NAME[sizeof raw.CGI_NAME - 1] = '\0';
    raw.PIC_FILENAME[sizeof raw.PIC_FILENAME - 1] = '\0';
    check_round_trip(raw);
    return 0;
}
