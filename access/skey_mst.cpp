// The session key store skey.mst: 536-byte MST_SKEY records read and
// rewritten through the common locked access of the data files.
#include "access/skey_mst.h"

#include <cstring>

#include "store/fileio.h"
#include "store/text.h"

namespace {

// Makes a record read from disk safe to handle as text (a foreign or damaged
// file may hold fields without their terminating zero) and upper-cases its
// USER_ID in place for the comparison with an upper-cased key.
void prepare_record(MST_SKEY* rec) {
    rec->USER_ID[sizeof rec->USER_ID - 1] = '\0';
    rec->REMOTE_ADDR[sizeof rec->REMOTE_ADDR - 1] = '\0';
    rec->USER_AGENT[sizeof rec->USER_AGENT - 1] = '\0';
    G_ToUppers(rec->USER_ID);
}

// The record as it goes to disk: each text zero-filled behind its end and the
// padding zero, whatever the caller left in the record's unused bytes.
MST_SKEY clean_copy(const MST_SKEY& in) {
    MST_SKEY out;
    std::memset(&out, 0, sizeof out);
    out.SKEY1 = in.SKEY1;
    out.SKEY2 = in.SKEY2;
    G_set(out.USER_ID, sizeof out.USER_ID, in.USER_ID);
    G_set(out.REMOTE_ADDR, sizeof out.REMOTE_ADDR, in.REMOTE_ADDR);
    G_set(out.USER_AGENT, sizeof out.USER_AGENT, in.USER_AGENT);
    return out;
}

}  // namespace

int Fio_MST_SKEY(const char* UserID, int op, MST_SKEY* rec) {
    if (op < STORE_READ || op > STORE_UPDATE || UserID == nullptr) return FIO_BAD_ARGUMENT;
    if (rec == nullptr && op != STORE_DELETE) return FIO_BAD_ARGUMENT;
    char dir[FIO_PATH_MAX];
    if (Fio_dir_user(dir, UserID) != 0) return FIO_NOT_FOUND;

    // Read and delete look for UserID; add and update for the record's owner.
    char key[sizeof rec->USER_ID];
    G_set(key, sizeof key, (op == STORE_ADD || op == STORE_UPDATE) ? rec->USER_ID : UserID);
    G_ToUppers(key);

    FIO_ACCESS a;
    int r = Fio_open(&a, dir, "skey.mst", "skey.chk",
                     op == STORE_READ ? FIO_READ : FIO_REWRITE, FIO_BINARY);
    if (op == STORE_READ && r != FIO_LOCKED) std::memset(rec, 0, sizeof *rec);
    if (r != 0) return r;

    MST_SKEY fresh;
    std::memset(&fresh, 0, sizeof fresh);
    if (op == STORE_ADD || op == STORE_UPDATE) fresh = clean_copy(*rec);
    int result = FIO_NOT_FOUND;
    MST_SKEY stored;
    while (Fio_read_rec(&a, &stored, sizeof stored)) {
        prepare_record(&stored);
        bool match = std::strcmp(stored.USER_ID, key) == 0;
        if (op == STORE_READ) {
            if (match) {
                *rec = stored;
                result = FIO_OK;
                break;
            }
        } else if (!match) {
            Fio_write_rec(&a, &stored, sizeof stored);
        } else if (op == STORE_ADD) {
            result = FIO_EXISTS;
            break;
        } else if (op == STORE_DELETE) {
            result = FIO_OK;  // left out
        } else {
            Fio_write_rec(&a, &fresh, sizeof fresh);
            result = FIO_OK;
        }
    }
    if (op == STORE_ADD && result == FIO_NOT_FOUND) {
        Fio_write_rec(&a, &fresh, sizeof fresh);
        result = FIO_OK;
    }
    return Fio_close(&a, result);
}
