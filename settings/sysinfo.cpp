// Loading of the site configuration "zepa.ini" into a SYSINFO_REC. Lines are
// "KEY,value," in any order; the last line of a key wins, unknown keys and
// lines without a value are passed over.
#include "settings/sysinfo.h"

#include <cstring>
#include <string>

#include "store/cust.h"
#include "store/datetime.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

// One setting of the file: a text field of cap bytes, or an integer.
struct SysKey {
    const char* name;
    char* text;
    std::size_t cap;
    int32_t* number;
};

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
#define SYS_TEXT(f) {#f, out->f, sizeof out->f, nullptr}
#define SYS_NUMBER(f) {#f, nullptr, 0, &out->f}
    const SysKey keys[] = {
        SYS_TEXT(SITE_ID),         SYS_TEXT(LANGUAGE),       SYS_TEXT(CGI_FILE_NAME),
        SYS_TEXT(CG_FILE_PATH),    SYS_TEXT(CG_FILE_WEB_PATH), SYS_TEXT(DATA_FILE_PATH),
        SYS_TEXT(BACK_GIF),        SYS_TEXT(LOG_DATE),       SYS_NUMBER(DATETIME),
        SYS_NUMBER(IECOLS),        SYS_NUMBER(NSCOLS),       SYS_NUMBER(ROWS),
        SYS_NUMBER(MAX_CONTENTS),  SYS_TEXT(LOGOFF_URL),     SYS_TEXT(LOGIN_ERR_URL),
        SYS_TEXT(FRAME_DIVIDE),    SYS_NUMBER(INITIAL_GP),   SYS_NUMBER(ATTACHED_FILE_LIMIT),
        SYS_TEXT(TIME_CORRECT),    SYS_TEXT(MAILER),
    };
#undef SYS_TEXT
#undef SYS_NUMBER

    set_defaults(out);

    // The file layer rewrites the name in place, so it gets a copy.
    std::string name(in_filename);
    FILE* fp = Cu_fopen(&name[0], "r");
    if (!fp) return -1;

    // A line longer than the buffer arrives in pieces; each piece is read as a
    // line of its own, as the suite's other programs do.
    char line[1000];
    while (std::fgets(line, sizeof line, fp)) {
        char* save = nullptr;
        const char* key = strtok_r(line, ",\n", &save);
        if (!key) continue;
        const char* value = strtok_r(nullptr, ",\n", &save);
        if (!value) continue;
        for (const SysKey& k : keys) {
            if (std::strcmp(k.name, key) != 0) continue;
            if (k.text) {
                G_set(k.text, k.cap, value);
            } else {
                *k.number = G_atoi(value);
            }
            break;
        }
    }
    Cu_fclose(fp);
    return 0;
}
