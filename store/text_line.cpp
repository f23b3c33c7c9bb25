// Field helpers shared by the comma-separated text stores: cutting fields out
// of lines and writing texts that keep a line whole.
#include "store/text_line.h"

#include <cstring>

#include "store/text.h"

void line_field_copy(char* field, std::size_t cap, const char* src, std::size_t len) {
    if (cap == 0) return;
    std::size_t n = len < cap - 1 ? len : cap - 1;
    std::memcpy(field, src, n);
    field[n] = '\0';
}

void line_field_copy_chars(char* field, std::size_t cap, const char* src, std::size_t len) {
    if (cap == 0) return;
    // Only the bytes up to the capacity (plus the one that may complete a
    // double-byte character) decide where the cut falls.
    std::size_t keep = len < cap ? len : cap;
    std::string text(src, keep);
    text.resize(std::strlen(text.c_str()));  // an embedded zero ends the text
    G_setStrlength(&text[0], static_cast<int>(cap));
    G_set(field, cap, text.c_str());
}

void line_field_append(std::string& line, const char* text, std::size_t cap, bool comma_splits) {
    std::size_t len = strnlen(text, cap);
    std::string field(text, len);
    const char* p = field.c_str();
    std::size_t i = 0;
    while (i < len) {
        int n = G_char_len(p + i);
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (n == 1 && G_is_lead(c)) {
            // Only a lead byte directly before the end walks as one byte.
            break;
        }
        if (n == 2) {
            // A line end cannot live even as a second byte: the line reader
            // would split there.
            line += p[i];
            char second = p[i + 1];
            line += (second == '\n' || second == '\r') ? '_' : second;
        } else if (c == '\n' || c == '\r' || (comma_splits && c == ',')) {
            line += '_';
        } else {
            line += p[i];
        }
        i += n;
    }
}
