// The personal settings store: one "name,value" line per setting in the
// user's directory, read and rewritten under the user's personal.chk lock.
#include "access/personal_mst.h"

#include <string>

#include "store/fileio.h"
#include "store/keyed_line.h"
#include "store/text.h"

int Fio_PERSONAL_MST(const char* in_user_id, int32_t op, const char* in_buff, char* out_buff,
                     int out_size) {
    char dir[FIO_PATH_MAX];
    if (Fio_dir_user(dir, in_user_id) != 0) return FIO_NOT_FOUND;
    return Fio_keyed_line(KEYED_NAME_VALUE, dir, "personal.mst", "personal.chk", op, in_buff, out_buff,
                          out_size);
}

int Fio_PERSONAL_MST_put(const char* in_user_id, const char* key, char* value, int cap) {
    const int r = Fio_PERSONAL_MST(in_user_id, STORE_UPDATE, key, value, cap);
    if (r != FIO_NOT_FOUND) return r;
    return Fio_PERSONAL_MST(in_user_id, STORE_ADD, key, value, cap);
}

int Fio_PERSONAL_MST_ALL(const char* in_user_id, int32_t op, USER_MST* rec) {
    if (rec == nullptr) return FIO_BAD_ARGUMENT;
    if (op == STORE_READ) {
        // Set before anything can fail: a user whose file cannot be read is
        // still loaded with these.
        rec->USER_DISP_DEF = 5;
        rec->MODE = 1;
        rec->WRITE_MODE = 1;
    }
    char dir[FIO_PATH_MAX];
    if (Fio_dir_user(dir, in_user_id) != 0) return FIO_NOT_FOUND;

    // The user-record fields kept in personal.mst, in the order a
    // whole-record write stores them.
    const KEYED_FIELD fields[] = {
        KEYED_TEXT(rec, USER_NAME),    KEYED_NUMBER(rec, USER_LEVEL),     KEYED_TEXT(rec, E_MAIL_ADDR),
        KEYED_NUMBER(rec, P_GROUP),    KEYED_NUMBER(rec, USER_DISP_DEF),  KEYED_NUMBER(rec, MODE),
        KEYED_NUMBER(rec, WRITE_MODE), KEYED_NUMBER(rec, BBS_FRAME_MODE), KEYED_NUMBER(rec, TREE_MODE),
        KEYED_TEXT(rec, LANGUAGE),     KEYED_TEXT(rec, PICFILE),
    };

    if (op == STORE_READ) {
        return Fio_keyed_line_load(KEYED_NAME_VALUE, dir, "personal.mst", "personal.chk", fields,
                                   static_cast<int>(sizeof fields / sizeof fields[0]));
    }
    if (op == STORE_ADD || op == STORE_UPDATE) {
        for (const KEYED_FIELD& f : fields) {
            char value[260];
            if (f.text != nullptr) {
                G_set(value, f.text);
            } else {
                std::string n = std::to_string(*f.number);
                G_set(value, n.c_str());
            }
            Fio_PERSONAL_MST_put(rec->USER_ID, f.key, value);
        }
    }
    return FIO_OK;
}
