// Loading of the site configuration "zepa.ini" into SYSINFO. Lines are
// "KEY,value," in any order; the last line of a key wins, unknown keys and
// lines without a value are passed over.
#include "settings/sysinfo.h"

#include <cstring>
#include <string>

#include "store/cust.h"
#include "store/datetime.h"
#include "store/fileio.h"
#include "store/text.h"

SYSINFO_REC SYSINFO;

namespace {

// One setting of the file: a text field of cap bytes, or an integer.
struct SysKey {
    const char* name;
    char* text;
    std::size_t cap;
    int32_t* number;
};

void set_defaults() {
    std::memset(&SYSINFO, 0, sizeof SYSINFO);
    G_set(SYSINFO.FRAME_DIVIDE, "20%");
    SYSINFO.DATETIME = 1;
    SYSINFO.IECOLS = 80;
    SYSINFO.NSCOLS = 60;
    SYSINFO.ROWS = 8;
    SYSINFO.MAX_CONTENTS = 4000;
    SYSINFO.INITIAL_GP = 0;
    SYSINFO.ATTACHED_FILE_LIMIT = 10000000;
    // The file layer and the clock read these two settings where they stand.
    Fio_set_data_dir(SYSINFO.DATA_FILE_PATH);
    Tm_set_correction(SYSINFO.TIME_CORRECT);
}

}  // namespace

int SysFileOpen(const char* in_filename) {
#define SYS_TEXT(f) {#f, SYSINFO.f, sizeof SYSINFO.f, nullptr}
#define SYS_NUMBER(f) {#f, nullptr, 0, &SYSINFO.f}
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

    set_defaults();

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
