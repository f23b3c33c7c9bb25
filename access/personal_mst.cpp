// The personal settings store: one "name,value" line per setting in the
// user's directory, read and rewritten under the user's personal.chk lock.
#include "access/personal_mst.h"

#include <string>

#include "store/keyed_line.h"
#include "access/user_mst.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

// The user-record fields kept in personal.mst, in the order a whole-record
// write stores them: a text field of cap bytes, or a number.
#define PERSONAL_TEXT(f) {#f, sUSER_MST.f, sizeof sUSER_MST.f, nullptr}
#define PERSONAL_NUMBER(f) {#f, nullptr, 0, &sUSER_MST.f}
const KEYED_FIELD kFields[] = {
    PERSONAL_TEXT(USER_NAME),     PERSONAL_NUMBER(USER_LEVEL),     PERSONAL_TEXT(E_MAIL_ADDR),
    PERSONAL_NUMBER(P_GROUP),     PERSONAL_NUMBER(USER_DISP_DEF),  PERSONAL_NUMBER(MODE),
    PERSONAL_NUMBER(WRITE_MODE),  PERSONAL_NUMBER(BBS_FRAME_MODE), PERSONAL_NUMBER(TREE_MODE),
    PERSONAL_TEXT(LANGUAGE),      PERSONAL_TEXT(PICFILE),
};
#undef PERSONAL_TEXT
#undef PERSONAL_NUMBER

}  // namespace

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

int Fio_PERSONAL_MST_ALL(const char* in_user_id, int32_t op) {
    if (op == STORE_READ) {
        // Set before anything can fail: a user whose file cannot be read is
        // still loaded with these.
        sUSER_MST.USER_DISP_DEF = 5;
        sUSER_MST.MODE = 1;
        sUSER_MST.WRITE_MODE = 1;
    }
    char dir[FIO_PATH_MAX];
    if (Fio_dir_user(dir, in_user_id) != 0) return FIO_NOT_FOUND;

    if (op == STORE_READ) {
        return Fio_keyed_line_load(KEYED_NAME_VALUE, dir, "personal.mst", "personal.chk", kFields,
                                   static_cast<int>(sizeof kFields / sizeof kFields[0]));
    }
    if (op == STORE_ADD || op == STORE_UPDATE) {
        for (const KEYED_FIELD& f : kFields) {
            char value[260];
            if (f.text != nullptr) {
                G_set(value, f.text);
            } else {
                std::string n = std::to_string(*f.number);
                G_set(value, n.c_str());
            }
            Fio_PERSONAL_MST_put(sUSER_MST.USER_ID, f.key, value);
        }
    }
    return FIO_OK;
}
