// The room settings store: dir.cnf entries read, added, deleted and replaced
// one key at a time, and the per-request loader of the room's settings.
#include "roomconf/dir_cnf.h"

#include <cstring>

#include "roomconf/info_txt.h"
#include "store/fileio.h"
#include "store/text.h"
#include "store/keyed_line.h"

namespace {

// The lock file of a room's dir.cnf, in the room's directory.
const char LOCK_FILE[] = "dir_cnf.chk";

}  // namespace

int b_SET_DIR_CONFIG(int32_t in_folder_no, DIR_CONFIG* out) {
    std::memset(out, 0, sizeof *out);
    G_set(out->FRAMESET1, "10%");
    G_set(out->FRAMESET2, "40%");
    G_set(out->FRAMESET3, "50%");

    // The keys of this program and the fields they fill.
    const KEYED_FIELD keys[] = {
        KEYED_TEXT(out, TITLEPIC),   KEYED_TEXT(out, BACKPIC1),   KEYED_TEXT(out, BACKPIC2),
        KEYED_TEXT(out, BACKPIC3),   KEYED_TEXT(out, FONTCOLOR1), KEYED_TEXT(out, FONTCOLOR2),
        KEYED_TEXT(out, FONTCOLOR3), KEYED_TEXT(out, FRAMESET1),  KEYED_TEXT(out, FRAMESET2),
        KEYED_TEXT(out, FRAMESET3),
    };

    char dir[FIO_PATH_MAX];
    if (Fio_dir_room(dir, in_folder_no) != 0) return FIO_NO_FILE;
    int rc = Fio_keyed_line_load(KEYED_KEY_VALUE_COMMA, dir, "dir.cnf", LOCK_FILE, keys,
                                 static_cast<int>(sizeof keys / sizeof keys[0]));
    if (rc != FIO_OK) return rc;

    // The room's own text, never another room's: the folder asked for here.
    if (Fio_INFO_TXT(in_folder_no, STORE_READ, out->INFO) != FIO_OK) out->INFO[0] = '\0';
    return FIO_OK;
}

int Fio_DIR_CONFIG_lock(int32_t in_folder_no, int mode) {
    char path[FIO_PATH_MAX + sizeof LOCK_FILE];
    if (Fio_dir_room(path, in_folder_no) != 0) return mode == 1 ? 1 : 0;
    std::strcat(path, LOCK_FILE);
    return Fio_xor_control(path, mode);
}

int Fio_DIR_CONFIG(int32_t in_folder_no, int32_t op, const char* in_buff, char* out_buff, int out_size) {
    char dir[FIO_PATH_MAX];
    if (Fio_dir_room(dir, in_folder_no) != 0) return FIO_NOT_FOUND;
    // A lock this request holds (Fio_DIR_CONFIG_lock) is recognised by the
    // store by its name.
    return Fio_keyed_line(KEYED_KEY_VALUE_COMMA, dir, "dir.cnf", LOCK_FILE, op, in_buff, out_buff, out_size);
}

int Fio_DIR_CONFIG_put(int32_t in_folder_no, const char* key, char* value, int cap) {
    const int r = Fio_DIR_CONFIG(in_folder_no, STORE_UPDATE, key, value, cap);
    if (r != FIO_NOT_FOUND) return r;
    return Fio_DIR_CONFIG(in_folder_no, STORE_ADD, key, value, cap);
}
