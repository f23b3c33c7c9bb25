// The access list store acl.mst: parsing and writing of its entry lines,
// through the common locked access of the data files.
#include "access/acl_mst.h"

#include <cstring>

#include "store/fileio.h"
#include "store/text.h"

namespace {

// Lines are read with a buffer of this size; a longer line is judged by its
// first 999 bytes and kept or dropped whole.
enum { LINE_CAP = 1000 };

// What one line of acl.mst holds. `commas` counts the separators found (up to
// three): three make an entry, two are enough for a rewrite to match the line
// by its first two fields.
struct AclLine {
    int commas;
    ACL_MST e;  // type, user id or group id, permit; FOLDER_NO unused
};

// Parses one line (a piece of at most LINE_CAP-1 bytes). Commas are found at
// character boundaries only.
AclLine parse_line(const char* line) {
    AclLine out;
    std::memset(&out, 0, sizeof out);
    char work[LINE_CAP];
    G_set(work, sizeof work, line);
    char* field[3] = {nullptr, nullptr, nullptr};
    char* p = work;
    for (int i = 0; i < 3; ++i) {
        int at = G_StrFind(p, ",");
        if (at < 0) break;
        p[at] = '\0';
        field[i] = p;
        p += at + 1;
        out.commas = i + 1;
    }
    if (out.commas == 0) return out;
    out.e.U_OR_G[0] = field[0][0];  // the type is the first byte of the field
    if (out.commas >= 2) {
        if (out.e.U_OR_G[0] == 'U') G_set(out.e.USER_ID, sizeof out.e.USER_ID, field[1]);
        if (out.e.U_OR_G[0] == 'G') out.e.GROUP_ID = G_atoi(field[1]);
    }
    if (out.commas >= 3) out.e.PERMIT = G_atoi(field[2]);
    return out;
}

bool is_user_type(const ACL_MST& e) { return std::strcmp(e.U_OR_G, "U") == 0; }
bool is_group_type(const ACL_MST& e) { return std::strcmp(e.U_OR_G, "G") == 0; }

// True when entry e (of a line with its first two fields) carries the key of
// `key`: type plus user id or group id.
bool same_key(const ACL_MST& e, const ACL_MST& key) {
    if (e.U_OR_G[0] != key.U_OR_G[0]) return false;
    if (is_user_type(key)) return std::strcmp(e.USER_ID, key.USER_ID) == 0;
    return e.GROUP_ID == key.GROUP_ID;
}

// Writes the entry line of e into the temporary file.
void put_entry(FIO_ACCESS* a, const ACL_MST& e) {
    if (is_user_type(e))
        Fio_printf(a, "%s,%s,%d,\n", "U", e.USER_ID, static_cast<int>(e.PERMIT));
    else
        Fio_printf(a, "%s,%d,%d,\n", "G", static_cast<int>(e.GROUP_ID), static_cast<int>(e.PERMIT));
}

// Hands every entry of the list to each (see Fio_ACL_MST_each).
int each_entry(const char* dir, int32_t folder_no, bool (*each)(const ACL_MST&, void*), void* arg) {
    FIO_ACCESS a;
    int r = Fio_open(&a, dir, "acl.mst", "acl.chk", FIO_READ, FIO_TEXT);
    if (r != 0) return r;
    char buf[LINE_CAP];
    while (Fio_gets(&a, buf, sizeof buf)) {
        AclLine line = parse_line(buf);
        Fio_skip_line(&a, buf, sizeof buf);
        if (line.commas < 3) continue;  // not an entry
        line.e.FOLDER_NO = folder_no;
        if (!each(line.e, arg)) break;
    }
    return Fio_close(&a, FIO_OK);
}

// What read_list looks for, and what it found.
struct LIST_READ {
    ACL_MST key;
    ACL_MST* rec;
    int search_mode;  // 1: the entry of key's type and id; 2: the in_disp_no-th entry
    int in_disp_no;
    int position;
    bool found;
};

// One entry for read_list: false (the walk stops) once it is the one sought.
bool read_one(const ACL_MST& e, void* arg) {
    LIST_READ& s = *static_cast<LIST_READ*>(arg);
    if (s.search_mode == 1) {
        if (!same_key(e, s.key)) return true;
        s.rec->PERMIT = e.PERMIT;
    } else {
        if (s.in_disp_no > s.position++) return true;
        std::memset(s.rec->U_OR_G, 0, sizeof s.rec->U_OR_G);
        s.rec->U_OR_G[0] = e.U_OR_G[0];
        std::memcpy(s.rec->USER_ID, e.USER_ID, sizeof s.rec->USER_ID);
        s.rec->GROUP_ID = e.GROUP_ID;
        s.rec->PERMIT = e.PERMIT;
    }
    s.found = true;
    return false;
}

// A read of the list by key (search_mode 1: the PERMIT of the entry of rec's
// type and id) or by position (2: the in_disp_no-th entry, from 1).
int read_list(const char* dir, int in_disp_no, int search_mode, ACL_MST* rec) {
    LIST_READ s{*rec, rec, search_mode, in_disp_no, 1, false};
    const int r = each_entry(dir, rec->FOLDER_NO, read_one, &s);
    if (r != FIO_OK) return r;
    return s.found ? FIO_OK : FIO_NOT_FOUND;
}

int rewrite_list(const char* dir, int op, const ACL_MST& entry) {
    FIO_ACCESS a;
    int r = Fio_open(&a, dir, "acl.mst", "acl.chk", FIO_REWRITE, FIO_TEXT);
    if (r != 0) return r;
    int result = (op == STORE_ADD) ? FIO_OK : FIO_EXISTS;  // -3: no such entry
    bool handled = false;
    char buf[LINE_CAP];
    while (Fio_gets(&a, buf, sizeof buf)) {
        AclLine line = parse_line(buf);
        if (line.commas < 2) {  // dropped by every rewrite
            Fio_skip_line(&a, buf, sizeof buf);
            continue;
        }
        if (handled || !same_key(line.e, entry)) {
            Fio_copy_line(&a, buf, sizeof buf);
            continue;
        }
        handled = true;
        Fio_skip_line(&a, buf, sizeof buf);
        if (op == STORE_ADD) {
            result = FIO_EXISTS;
            break;
        }
        if (op == STORE_UPDATE) put_entry(&a, entry);
        result = FIO_OK;  // deleted or replaced
    }
    if (op == STORE_ADD && !handled) put_entry(&a, entry);
    return Fio_close(&a, result);
}

// A user id that the line format can carry: a comma would split the entry,
// a line end would break the line.
bool writable_user_id(const char* id) { return std::strpbrk(id, ",\r\n") == nullptr; }

}  // namespace

int Fio_ACL_MST_each(int32_t folder_no, bool (*each)(const ACL_MST& entry, void* arg), void* arg) {
    char dir[FIO_PATH_MAX];
    if (each == nullptr) return FIO_BAD_ARGUMENT;
    if (Fio_dir_room(dir, folder_no) != 0) return FIO_NOT_FOUND;
    return each_entry(dir, folder_no, each, arg);
}

int Fio_ACL_MST(int in_disp_no, int op, int search_mode, ACL_MST* rec) {
    char dir[FIO_PATH_MAX];
    if (op < STORE_READ || op > STORE_UPDATE || rec == nullptr) return FIO_BAD_ARGUMENT;
    bool by_position = (op == STORE_READ && search_mode == 2);
    if (op == STORE_READ && search_mode != 1 && search_mode != 2) return FIO_BAD_ARGUMENT;
    if (!by_position && !is_user_type(*rec) && !is_group_type(*rec)) return FIO_BAD_ARGUMENT;
    rec->USER_ID[sizeof rec->USER_ID - 1] = '\0';
    if (op != STORE_READ && is_user_type(*rec) && !writable_user_id(rec->USER_ID)) return FIO_BAD_ARGUMENT;
    if (Fio_dir_room(dir, rec->FOLDER_NO) != 0) return FIO_NOT_FOUND;
    if (op == STORE_READ) return read_list(dir, in_disp_no, search_mode, rec);
    return rewrite_list(dir, op, *rec);
}
