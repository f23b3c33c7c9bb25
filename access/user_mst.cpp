// The user list and password stores, and the password scrambling they share
// with the suite's other programs.
#include "access/user_mst.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "access/personal_mst.h"
#include "store/cust.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

// user.mst lines are read in pieces of this size less one (in the access's
// line buffer).
enum { USER_LINE_CAP = 10000 };
static_assert(static_cast<int>(USER_LINE_CAP) <= static_cast<int>(FIO_LINE_SIZE), "the access's line buffer holds a piece");

// The key of the case-insensitive match: the text without its trailing line
// end, with ASCII letters upper-cased.
std::string match_key(const char* text) {
    std::string k(text);
    G_CutCrLf(&k[0]);
    k.resize(std::strlen(k.c_str()));
    G_ToUppers(&k[0]);
    return k;
}

// True when the line (a piece read, its line end included) is the id whose
// key is key: the line without its trailing line end, upper-cased as
// match_key does, equals key. Only a line of the key's length is upper-cased.
bool line_matches(const char* line, const std::string& key) {
    std::size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\r' || line[n - 1] == '\n')) --n;
    if (n != key.size()) return false;
    return match_key(line) == key;
}

// The read of user.mst: clears *rec once the lock is found free (a held lock
// leaves it as the caller had it) and puts the stored spelling of the line of
// key into rec->USER_ID. FIO_OK, FIO_NOT_FOUND, or the access's -9 or -2. A
// function of its own, so that its access is off the stack by the time the
// personal settings are loaded.
__attribute__((noinline)) int find_listed(const char* dir, const std::string& key, USER_MST* rec) {
    FIO_ACCESS a;
    const int rc = Fio_open(&a, dir, "user.mst", "user.chk", FIO_READ, FIO_TEXT);
    if (rc != FIO_LOCKED) std::memset(rec, 0, sizeof *rec);
    if (rc != 0) return rc;
    int result = FIO_NOT_FOUND;
    char* line = a.line;  // USER_LINE_CAP bytes
    while (Fio_gets(&a, line, USER_LINE_CAP)) {
        // The pieces of a line longer than the buffer are never taken for
        // ids of their own.
        Fio_skip_line(&a, line, USER_LINE_CAP);
        if (!line_matches(line, key)) continue;
        G_CutCrLf(line);
        G_set(rec->USER_ID, line);
        result = FIO_OK;
        break;
    }
    return Fio_close(&a, result);
}

// The rewrite of user.mst for op 2 to 4 (see Fio_USER_MST). A function of its
// own for the same reason as find_listed.
__attribute__((noinline)) int rewrite_list(const char* dir, const std::string& key, int32_t op, USER_MST* rec) {
    FIO_ACCESS a;
    const int rc = Fio_open(&a, dir, "user.mst", "user.chk", FIO_REWRITE, FIO_TEXT);
    if (rc != 0) return rc;
    char* line = a.line;  // USER_LINE_CAP bytes
    int result = op == STORE_ADD ? FIO_OK : FIO_NOT_FOUND;
    while (Fio_gets(&a, line, USER_LINE_CAP)) {
        if (std::strlen(line) + 1 == USER_LINE_CAP && line[USER_LINE_CAP - 2] != '\n') {
            // A line longer than the buffer holds no id (ids are at most 21
            // characters): it is carried over whole, never split into lines.
            Fio_copy_line(&a, line, USER_LINE_CAP);
            continue;
        }
        G_CutCrLf(line);
        if (line_matches(line, key)) {
            if (op == STORE_ADD) {
                result = FIO_EXISTS;
                break;
            }
            result = FIO_OK;
            if (op == STORE_DELETE) continue;
            G_set(rec->USER_ID, line);  // the stored spelling
        }
        Fio_printf(&a, "%s\n", line);
    }
    if (op == STORE_ADD && result == FIO_OK) Fio_printf(&a, "%s\n", rec->USER_ID);
    return Fio_close(&a, result);
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

}  // namespace

unsigned char f03_atocx(const char* in_buff) {
    if (in_buff[0] == '\0') return 0;
    return static_cast<unsigned char>(hex_value(in_buff[0]) * 16 + hex_value(in_buff[1]));
}

void f03_encryption(char* in_buff, int mode, const char* key_id) {
    const int key_len = static_cast<int>(std::strlen(key_id));
    if (key_len == 0) return;
    int k = key_len - 1;
    auto step = [&k, key_len]() {
        if (--k < 0) k = key_len - 1;
    };
    if (mode == 1) {
        char out[41] = {0};
        for (int i = 0; i < 20 && in_buff[i] != '\0'; ++i) {
            unsigned v = (~static_cast<unsigned char>(in_buff[i]) ^ static_cast<unsigned char>(key_id[k])) & 0xFFu;
            std::snprintf(out + 2 * i, 3, "%02x", v);
            step();
        }
        std::memcpy(in_buff, out, std::strlen(out) + 1);
    } else if (mode == 2) {
        char out[21] = {0};
        int n = 0;
        for (int i = 0; i < 20 && in_buff[2 * i] != '\0'; ++i) {
            unsigned v = f03_atocx(in_buff + 2 * i);
            out[n++] = static_cast<char>((~v ^ static_cast<unsigned char>(key_id[k])) & 0xFFu);
            step();
            // An odd digit count ends with a half pair: nothing follows it.
            if (in_buff[2 * i + 1] == '\0') break;
        }
        out[n] = '\0';
        // A clear byte of zero ends the text there.
        std::memcpy(in_buff, out, std::strlen(out) + 1);
    }
}

int Fio_USER_MST(const char* UserID, int32_t op, USER_MST* rec) {
    if (op < STORE_READ || op > STORE_UPDATE) return FIO_BAD_ARGUMENT;
    if (rec == nullptr && op != STORE_DELETE) return FIO_BAD_ARGUMENT;

    const bool by_record = op == STORE_ADD || op == STORE_UPDATE;
    const char* id = by_record ? rec->USER_ID : UserID;
    // An id that cannot name a user directory is no user (a read answers as
    // for an unknown user); one holding a line end would break the list.
    if (!Fio_safe_name(id)) {
        if (op == STORE_READ) std::memset(rec, 0, sizeof *rec);
        return FIO_NOT_FOUND;
    }
    if (by_record && std::strpbrk(id, "\r\n") != nullptr) return FIO_NOT_FOUND;
    const std::string key = match_key(id);

    char dir[FIO_PATH_MAX];
    if (Fio_dir_data(dir) != 0) {
        if (op == STORE_READ) std::memset(rec, 0, sizeof *rec);
        return FIO_NO_FILE;
    }
    if (op == STORE_READ) {
        const int result = find_listed(dir, key, rec);
        if (result != FIO_OK) {
            if (result != FIO_LOCKED) std::memset(rec, 0, sizeof *rec);
            return result;
        }
        // A user whose settings cannot be read is not known: his level,
        // group and mode would be the loader's defaults, and nobody may
        // act on those. Only the stored spelling of the id stays.
        char stored[sizeof rec->USER_ID];
        G_set(stored, rec->USER_ID);
        const int loaded = Fio_PERSONAL_MST_ALL(stored, STORE_READ, rec);
        if (Fio_refused(loaded)) {
            std::memset(rec, 0, sizeof *rec);
            G_set(rec->USER_ID, stored);
            return loaded;
        }
        return FIO_OK;
    }

    const int result = rewrite_list(dir, key, op, rec);
    if (result == FIO_OK && by_record) Fio_PERSONAL_MST_ALL(rec->USER_ID, STORE_UPDATE, rec);
    return result;
}

int Fio_MST_PASSWORD(const char* UserID, int32_t op, USER_MST* rec) {
    char dir[FIO_PATH_MAX];
    if (Fio_dir_user(dir, UserID) != 0) return FIO_NOT_FOUND;
    if (op < STORE_READ || op > STORE_UPDATE) return FIO_BAD_ARGUMENT;
    if (rec == nullptr && op != STORE_DELETE) return FIO_BAD_ARGUMENT;

    FIO_ACCESS a;
    int rc = Fio_open(&a, dir, "password.mst", "password.chk",
                      op == STORE_READ ? FIO_READ : FIO_REWRITE, FIO_TEXT);
    if (rc != 0) return rc;

    if (op == STORE_READ) {
        char digits[1000] = {0};
        if (!Fio_gets(&a, digits, sizeof digits)) digits[0] = '\0';
        f03_encryption(digits, 2, UserID);
        G_set(rec->USER_PASS, digits);
        return Fio_close(&a, FIO_OK);
    }
    if (op == STORE_DELETE) {
        // Removed while this request holds the lock; the discarded rewrite
        // leaves the data path alone.
        int removed = Cu_remove(a.data_path);
        Fio_close(&a, FIO_NOT_FOUND);
        return removed;
    }
    // The old content plays no part: the new file holds the scrambled
    // password alone, without a line end, and replaces the old one whole.
    char digits[41] = {0};
    G_set(digits, rec->USER_PASS);
    f03_encryption(digits, 1, UserID);
    Fio_puts(&a, digits);
    return Fio_close(&a, FIO_OK);
}
