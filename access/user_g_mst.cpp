// The group membership store user_g.mst: its "%d," lines read and rewritten
// through the common locked access of the data files.
#include "access/user_g_mst.h"

#include "store/fileio.h"
#include "store/text.h"

namespace {

enum { LINE_CAP = 1000 };

// A membership line holds a comma; its group id is the decimal number before it.
bool parse_line(const char* line, int32_t* group_id) {
    if (G_StrFind(line, ",") < 0) return false;
    *group_id = G_atoi(line);
    return true;
}

int read_list(const char* dir, int in_disp_no, int search_mode, USER_GROUP_MST* rec) {
    FIO_ACCESS a;
    int r = Fio_open(&a, dir, "user_g.mst", "user_g.chk", FIO_READ, FIO_TEXT);
    if (r != 0) return r;
    int result = FIO_NOT_FOUND;
    int position = 0;
    char buf[LINE_CAP];
    while (Fio_gets(&a, buf, sizeof buf)) {
        int32_t id = 0;
        bool counts = parse_line(buf, &id);
        Fio_skip_line(&a, buf, sizeof buf);
        if (!counts) continue;
        ++position;
        if (search_mode == 1 && id > in_disp_no) break;  // ascending: no later match
        if ((search_mode == 1 && id == in_disp_no) || (search_mode == 2 && position == in_disp_no)) {
            rec->GROUP_ID = id;
            result = FIO_OK;
            break;
        }
    }
    return Fio_close(&a, result);
}

int rewrite_list(const char* dir, int in_disp_no, int op, int search_mode, int new_id) {
    FIO_ACCESS a;
    int r = Fio_open(&a, dir, "user_g.mst", "user_g.chk", FIO_REWRITE, FIO_TEXT);
    if (r != 0) return r;
    int result = (op == STORE_ADD) ? FIO_OK : FIO_EXISTS;  // -3: nothing found
    bool handled = false;
    int position = 0;
    char buf[LINE_CAP];
    while (Fio_gets(&a, buf, sizeof buf)) {
        int32_t id = 0;
        if (!parse_line(buf, &id)) {  // no membership: dropped
            Fio_skip_line(&a, buf, sizeof buf);
            continue;
        }
        ++position;
        bool here = false;
        if (!handled) {
            if (op == STORE_ADD && search_mode == 1) {
                if (id == new_id) {
                    result = FIO_EXISTS;
                    break;
                }
                here = id > new_id;
            } else if (search_mode == 1) {
                here = id == in_disp_no;
            } else {
                here = position == in_disp_no;
            }
        }
        if (!here) {
            Fio_copy_line(&a, buf, sizeof buf);
            continue;
        }
        handled = true;
        if (op == STORE_ADD) {  // the new line goes before this one
            Fio_printf(&a, "%d,\n", new_id);
            Fio_copy_line(&a, buf, sizeof buf);
            continue;
        }
        Fio_skip_line(&a, buf, sizeof buf);
        if (op == STORE_UPDATE) Fio_printf(&a, "%d,\n", new_id);
        result = FIO_OK;
    }
    if (op == STORE_ADD && result == FIO_OK && !handled) Fio_printf(&a, "%d,\n", new_id);
    return Fio_close(&a, result);
}

}  // namespace

int Fio_USER_GROUP_MST(int in_disp_no, int op, int search_mode, USER_GROUP_MST* rec) {
    if (op < STORE_READ || op > STORE_UPDATE || rec == nullptr) return FIO_BAD_ARGUMENT;
    if (search_mode != 1 && search_mode != 2) return FIO_BAD_ARGUMENT;
    if (op == STORE_ADD && search_mode == 2 && in_disp_no <= 0) return FIO_BAD_ARGUMENT;
    rec->USER_ID[sizeof rec->USER_ID - 1] = '\0';
    char dir[FIO_PATH_MAX];
    if (Fio_dir_user(dir, rec->USER_ID) != 0) return FIO_NOT_FOUND;
    if (op == STORE_READ) return read_list(dir, in_disp_no, search_mode, rec);
    return rewrite_list(dir, in_disp_no, op, search_mode, rec->GROUP_ID);
}
