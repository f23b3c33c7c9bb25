// The login gate: password login with a fresh session key, the session key
// check, and the gate that picks one of them and names its refusal.
#include "access/login.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "access/skey_mst.h"
#include "access/user_mst.h"
#include "store/cust.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

// One key number, uniform in 1..2147483647: 31 random bits, drawn again in
// the rare case of 0. Keys must not be guessable, so no clock-seeded
// generator.
bool new_key_number(int32_t* out) {
    for (;;) {
        unsigned char b[4];
        if (!Cu_random(b, sizeof b)) return false;
        uint32_t v = (static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
                      static_cast<uint32_t>(b[2]) << 8 | b[3]) & 0x7FFFFFFFu;
        if (v != 0) {
            *out = static_cast<int32_t>(v);
            return true;
        }
    }
}

void put_pair(char (&skey1)[LOGIN_FIELD], char (&skey2)[LOGIN_FIELD], int32_t k1, int32_t k2) {
    std::snprintf(skey1, sizeof skey1, "%d", static_cast<int>(k1));
    std::snprintf(skey2, sizeof skey2, "%d", static_cast<int>(k2));
}

void clear_pair(char (&skey1)[LOGIN_FIELD], char (&skey2)[LOGIN_FIELD]) {
    std::memset(skey1, 0, sizeof skey1);
    std::memset(skey2, 0, sizeof skey2);
}

const char* env_text(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// True when user uid has no directory (no such user), as opposed to one that
// cannot be looked at.
bool user_dir_missing(const char* uid) {
    char dir[FIO_PATH_MAX];
    if (Fio_dir_user(dir, uid) != 0) return true;
    CU_FILE_ID id;
    return Cu_id(dir, &id) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

}  // namespace

int G_SkeyChk(const char* uid, const char* skey1, const char* skey2, MST_SKEY* key) {
    std::memset(key, 0, sizeof *key);
    const int32_t k1 = G_atoi(skey1);
    const int32_t k2 = G_atoi(skey2);
    int r = Fio_MST_SKEY(uid, STORE_READ, key);
    // A key file that cannot be opened because the user has no directory at
    // all: there is no such user, so no key.
    if (r == FIO_NO_FILE && user_dir_missing(uid)) return FIO_NOT_FOUND;
    if (r != FIO_OK) return r;
    if (k1 != key->SKEY1 || k2 != key->SKEY2) return FIO_NOT_FOUND;
    return FIO_OK;
}

int G_LoginChk(const char* uid, const char* upw, char (&skey1)[LOGIN_FIELD], char (&skey2)[LOGIN_FIELD],
               USER_MST* user) {
    std::memset(user, 0, sizeof *user);
    clear_pair(skey1, skey2);
    if (!Fio_safe_name(uid)) return FIO_NOT_FOUND;
    int r = Fio_USER_MST(uid, STORE_READ, user);
    // A listed user without a directory has no settings, password or key to
    // read: no such user, rather than one that cannot be read just now.
    if (r == FIO_NO_FILE && user->USER_ID[0] != '\0' && user_dir_missing(user->USER_ID)) return FIO_NOT_FOUND;
    if (r != FIO_OK) return Fio_refused(r) ? r : FIO_NOT_FOUND;

    // From here on the id is the spelling of user.mst, which names the
    // user's directory.
    char id[sizeof user->USER_ID];
    G_set(id, sizeof id, user->USER_ID);
    if (!Fio_safe_name(id)) return FIO_NOT_FOUND;
    // A password that cannot be read (file locked, unreadable) neither
    // passes for the empty password nor makes the given one wrong.
    r = Fio_MST_PASSWORD(id, STORE_READ, user);
    if (r != FIO_OK) return Fio_refused(r) ? r : FIO_NOT_FOUND;
    if (std::strcmp(user->USER_PASS, upw) != 0) return FIO_NOT_FOUND;

    // A shared account keeps one pair for everyone who uses it; only when it
    // has none stored does it get a new one.
    MST_SKEY key;
    if (user->MODE == 2) {
        r = Fio_MST_SKEY(id, STORE_READ, &key);
        if (r == FIO_OK) {
            put_pair(skey1, skey2, key.SKEY1, key.SKEY2);
            return FIO_OK;
        }
        if (Fio_refused(r)) return r;
    }

    int32_t k1 = 0, k2 = 0;
    if (!new_key_number(&k1) || !new_key_number(&k2)) return FIO_NO_FILE;
    put_pair(skey1, skey2, k1, k2);

    std::memset(&key, 0, sizeof key);
    key.SKEY1 = k1;
    key.SKEY2 = k2;
    G_set(key.USER_ID, id);
    G_set(key.REMOTE_ADDR, env_text("REMOTE_ADDR"));
    G_set(key.USER_AGENT, env_text("HTTP_USER_AGENT"));
    // Added only when there was no record to update: a refused update is not
    // tried again as an add, which would only wait for the same lock.
    r = Fio_MST_SKEY(id, STORE_UPDATE, &key);
    if (r == FIO_NOT_FOUND) return Fio_MST_SKEY(id, STORE_ADD, &key);
    return r;
}

int G_login_gate(char (&uid)[LOGIN_FIELD], const char* upw, char (&skey1)[LOGIN_FIELD],
                 char (&skey2)[LOGIN_FIELD], int* password_login, USER_MST* user) {
    *password_login = 0;
    std::memset(user, 0, sizeof *user);
    if (skey1[0] != '\0' && skey2[0] != '\0' && uid[0] != '\0') {
        MST_SKEY key;
        const int r = G_SkeyChk(uid, skey1, skey2, &key);
        if (r == FIO_OK) return LOGIN_PASSED;
        clear_pair(skey1, skey2);
        return Fio_refused(r) ? LOGIN_BUSY : LOGIN_BAD_KEY;
    }

    if (uid[0] == '\0') return LOGIN_NO_UID;
    // A key that could not be stored would fail the very next request, so
    // such a login is not passed: it is busy, as the key file is.
    const int r = G_LoginChk(uid, upw, skey1, skey2, user);
    if (r != FIO_OK) {
        clear_pair(skey1, skey2);
        std::memset(user, 0, sizeof *user);
        return r == FIO_NOT_FOUND ? LOGIN_REFUSED : LOGIN_BUSY;
    }
    // The following requests carry the id as user.mst spells it, the name of
    // the directory that holds the key file.
    G_set(uid, user->USER_ID);
    *password_login = 1;
    return LOGIN_PASSED;
}
