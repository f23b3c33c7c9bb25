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

int StrdefFileOpen(const char* filename, const char* language, STRDEF_REC* out) {
    // Cleared before the file is opened: every failure leaves an empty table,
    // and nothing of an earlier language survives a second load.
    std::memset(out, 0, sizeof *out);

    char header[102];  // "[language]", cut to 101 characters
    std::snprintf(header, sizeof header, "[%s]", language);
    const std::size_t header_len = std::strlen(header);

    std::string name(filename);  // the file layer rewrites the name in place
    FILE* fp = Cu_fopen(&name[0], "r");
    if (!fp) return -1;

    bool in_section = false;
    char line[1002];  // a longer line arrives in pieces, each read as a line
    while (std::fgets(line, sizeof line, fp)) {
        std::size_t len = std::strlen(line);
        if (len > 0 && line[len - 1] == '\n') line[--len] = '\0';
        if (len > 0 && line[len - 1] == '\r') line[--len] = '\0';

        if (!in_section) {
            // The header is matched as a prefix: a comment after it is allowed.
            if (std::strncmp(line, header, header_len) == 0) in_section = true;
            continue;
        }
        if (line[0] == '[') break;

        char number[4];  // the first three characters
        G_set(number, line);
        const int32_t n = G_atoi(number);
        if (n < 1 || n >= STRDEF_COUNT) continue;
        // The text starts after the three digits and the separator byte.
        G_set(out->Message[n], len > 4 ? line + 4 : "");
    }
    Cu_fclose(fp);
    return 0;
}
