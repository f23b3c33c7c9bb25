// The room settings store: dir.cnf entries read, added, deleted and replaced
// one key at a time, and the per-request loader of the room's settings.
#include "roomconf/dir_cnf.h"

#include <cstring>

#include "access/keyed_line.h"
#include "access/text_line.h"
#include "request/velt.h"
#include "roomconf/info_txt.h"
#include "store/fileio.h"
#include "store/groval.h"

namespace {

// The keys of this program and the fields of DIR_CONFIG they fill.
struct DirKey {
    const char* key;
    std::size_t offset;
    std::size_t cap;
};

#define DIR_KEY(f) {#f, offsetof(DIR_CONFIG, f), sizeof(DIR_CONFIG::f)}
const DirKey kKeys[] = {
    DIR_KEY(TITLEPIC),   DIR_KEY(BACKPIC1),   DIR_KEY(BACKPIC2),  DIR_KEY(BACKPIC3),  DIR_KEY(FONTCOLOR1),
    DIR_KEY(FONTCOLOR2), DIR_KEY(FONTCOLOR3), DIR_KEY(FRAMESET1), DIR_KEY(FRAMESET2), DIR_KEY(FRAMESET3),
};
#undef DIR_KEY

}  // namespace

int dircnf_split(const char* line, int* key_len, int* value_pos, int* value_len) {
    return keyed_line_split(KEYED_KEY_VALUE_COMMA, line, key_len, value_pos, value_len);
}

int b_SET_DIR_CONFIG(int32_t in_folder_no) {
    std::memset(&G_DIR_CONFIG, 0, sizeof G_DIR_CONFIG);
    G_set(G_DIR_CONFIG.FRAMESET1, "10%");
    G_set(G_DIR_CONFIG.FRAMESET2, "40%");
    G_set(G_DIR_CONFIG.FRAMESET3, "50%");

    char dir[FIO_PATH_MAX];
    if (Fio_dir_room(dir, in_folder_no) != 0) return FIO_NO_FILE;
    FIO_ACCESS a;
    int rc = Fio_open(&a, dir, "dir.cnf", "dir_cnf.chk", FIO_READ, FIO_TEXT);
    if (rc != 0) return rc;

    char line[DIRCNF_LINE_CAP];
    while (Fio_gets(&a, line, sizeof line)) {
        Fio_skip_line(&a, line, sizeof line);
        int key_len, value_pos, value_len;
        if (dircnf_split(line, &key_len, &value_pos, &value_len) != 0) continue;
        for (const DirKey& k : kKeys) {
            if (std::strlen(k.key) != static_cast<std::size_t>(key_len) ||
                std::memcmp(line, k.key, static_cast<std::size_t>(key_len)) != 0) {
                continue;
            }
            char* field = reinterpret_cast<char*>(&G_DIR_CONFIG) + k.offset;
            line_field_copy_chars(field, k.cap, line + value_pos, static_cast<std::size_t>(value_len));
        }
    }
    Fio_close(&a, FIO_OK);

    // The room's own text, never another room's: the folder asked for here.
    if (Fio_INFO_TXT(in_folder_no, SQL_READ, G_DIR_CONFIG.INFO) != 0) G_DIR_CONFIG.INFO[0] = '\0';
    return FIO_OK;
}

int Fio_DIR_CONFIG(int32_t in_folder_no, int32_t sql_mode, const char* in_buff, char* out_buff, int out_size) {
    char dir[FIO_PATH_MAX];
    if (Fio_dir_room(dir, in_folder_no) != 0) return FIO_NOT_FOUND;
    return Fio_keyed_line(KEYED_KEY_VALUE_COMMA, dir, "dir.cnf", "dir_cnf.chk", sql_mode, in_buff, out_buff,
                          out_size);
}
