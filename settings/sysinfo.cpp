// Loading of the site configuration "zepa.ini" into a SYSINFO_REC. Lines are
// "KEY,value," in any order; the last line of a key wins, unknown keys and
// lines without a value are passed over.
#include "settings/sysinfo.h"

#include <cstring>
#include <string>

#include "store/cust.h"
#include "store/datetime.h"
#include "store/fileio.h"
#include "store/keyed_line.h"
#include "store/text.h"

namespace {

void set_defaults(SYSINFO_REC* c) {
    std::memset(c, 0, sizeof *c);
    G_set(c->FRAME_DIVIDE, "20%");
    c->DATETIME = 1;
    c->IECOLS = 80;
    c->NSCOLS = 60;
    c->ROWS = 8;
    c->MAX_CONTENTS = 4000;
    c->INITIAL_GP = 0;
    c->ATTACHED_FILE_LIMIT = 10000000;
    // The file layer and the clock read these two settings where they stand.
    Fio_set_data_dir(c->DATA_FILE_PATH);
    Tm_set_correction(c->TIME_CORRECT);
}

}  // namespace

int SysFileOpen(const char* in_filename, SYSINFO_REC* out) {
    const KEYED_FIELD keys[] = {
        KEYED_TEXT(out, SITE_ID),        KEYED_TEXT(out, LANGUAGE),          KEYED_TEXT(out, CGI_FILE_NAME),
        KEYED_TEXT(out, CG_FILE_PATH),   KEYED_TEXT(out, CG_FILE_WEB_PATH),  KEYED_TEXT(out, DATA_FILE_PATH),
        KEYED_TEXT(out, BACK_GIF),       KEYED_TEXT(out, LOG_DATE),          KEYED_NUMBER(out, DATETIME),
        KEYED_NUMBER(out, IECOLS),       KEYED_NUMBER(out, NSCOLS),          KEYED_NUMBER(out, ROWS),
        KEYED_NUMBER(out, MAX_CONTENTS), KEYED_TEXT(out, LOGOFF_URL),        KEYED_TEXT(out, LOGIN_ERR_URL),
        KEYED_TEXT(out, FRAME_DIVIDE),   KEYED_NUMBER(out, INITIAL_GP),      KEYED_NUMBER(out, ATTACHED_FILE_LIMIT),
        KEYED_TEXT(out, TIME_CORRECT),   KEYED_TEXT(out, MAILER),
    };

    set_defaults(out);

    // The file layer rewrites the name in place, so it gets a copy. The file
    // is read whole, in one read, and parsed in memory.
    std::string name(in_filename);
    std::string file;
    if (!Cu_read_all(&name[0], &file)) return -1;

    // A line longer than the buffer arrives in pieces; each piece is read as a
    // line of its own, as the suite's other programs do.
    char line[1000];
    std::size_t pos = 0;
    while (G_next_line(file.data(), file.size(), &pos, line, sizeof line)) {
        // zepa.ini is split as the suite's other programs split it (runs of
        // commas and line feeds are one separator, so an empty field is
        // skipped), not by the keyed stores' line format: every program of
        // the suite must read the same settings from it.
        char* save = nullptr;
        const char* key = strtok_r(line, ",\n", &save);
        if (!key) continue;
        const char* value = strtok_r(nullptr, ",\n", &save);
        if (!value) continue;
        keyed_field_set(KEYED_NAME_VALUE, keys, static_cast<int>(sizeof keys / sizeof keys[0]), key, std::strlen(key),
                        value, std::strlen(value));
    }
    return 0;
}
