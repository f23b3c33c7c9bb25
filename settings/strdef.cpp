// Loading of one language section of the message file "velt.lng" into a
// STRDEF_REC.
// A section starts at a line "[language]" and runs to the next line starting
// with "["; each message line is "NNN" (the number), one separator byte and
// the text up to the line end.
#include "settings/strdef.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "store/cust.h"
#include "store/text.h"

void strdef_clear(STRDEF_REC* t) {
    std::memset(t->at, 0, sizeof t->at);
    t->used = 0;
    t->text[0] = '\0';
}

void strdef_set(STRDEF_REC* t, int k, const char* text, std::size_t len) {
    if (k < 1 || k >= STRDEF_COUNT) return;
    if (t->used == 0) t->used = 1;  // text[0] stays the empty text
    std::size_t n = len < STRDEF_WIDTH - 1 ? len : STRDEF_WIDTH - 1;
    const void* zero = std::memchr(text, '\0', n);
    if (zero != nullptr) n = static_cast<std::size_t>(static_cast<const char*>(zero) - text);
    // Every message fits at its full width once; a text set again is put
    // behind the others, so the room can only run out after many such.
    if (t->used + n + 1 > sizeof t->text) return;
    std::memcpy(t->text + t->used, text, n);
    t->text[t->used + n] = '\0';
    t->at[k] = t->used;
    t->used += static_cast<uint32_t>(n + 1);
}

int StrdefFileOpen(const char* filename, const char* language, STRDEF_REC* out) {
    // Cleared before the file is opened: every failure leaves an empty table,
    // and nothing of an earlier language survives a second load.
    strdef_clear(out);

    char header[102];  // "[language]", cut to 101 characters
    std::snprintf(header, sizeof header, "[%s]", language);
    const std::size_t header_len = std::strlen(header);

    std::string name(filename);  // the file layer rewrites the name in place
    std::string file;
    if (!Cu_read_all(&name[0], &file)) return -1;

    // Where the text of each message's last line starts in the file, and
    // how long it is: of two lines of a number the later wins, and only the
    // winners are copied into the table.
    uint32_t from[STRDEF_COUNT];
    uint8_t length[STRDEF_COUNT];
    bool any[STRDEF_COUNT] = {};

    // The lines are taken in the pieces a reading by lines of 1001 bytes
    // gives (a longer line arrives in pieces, each read as a line), each read
    // as text up to its first zero byte, where it stands in the file.
    const char* bytes = file.data();
    const std::size_t size = file.size();
    bool in_section = false;
    for (std::size_t start = 0; start < size;) {
        const std::size_t piece = G_line_piece(bytes, size, start, 1001);
        const char* line = bytes + start;
        std::size_t len = strnlen(line, piece);
        start += piece;
        if (len > 0 && line[len - 1] == '\n') --len;
        if (len > 0 && line[len - 1] == '\r') --len;

        if (!in_section) {
            // The header is matched as a prefix: a comment after it is allowed.
            if (len >= header_len && std::memcmp(line, header, header_len) == 0) in_section = true;
            continue;
        }
        if (len > 0 && line[0] == '[') break;

        char number[4];  // the first three characters
        G_set(number, len < 3 ? len + 1 : sizeof number, line);
        const int32_t n = G_atoi(number);
        if (n < 1 || n >= STRDEF_COUNT) continue;
        // The text starts after the three digits and the separator byte; it
        // holds no zero byte (len stops at the first) and is cut to its width.
        const std::size_t text_len = len > 4 ? len - 4 : 0;
        any[n] = true;
        from[n] = static_cast<uint32_t>((line - bytes) + (text_len > 0 ? 4 : 0));
        length[n] = static_cast<uint8_t>(text_len < STRDEF_WIDTH - 1 ? text_len : STRDEF_WIDTH - 1);
    }
    for (int n = 1; n < STRDEF_COUNT; ++n) {
        if (any[n]) strdef_set(out, n, file.data() + from[n], length[n]);
    }
    return 0;
}
