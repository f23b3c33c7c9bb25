// The login gate: password login handing out a session key, the check of the
// session key that every later request carries, and the gate of the request
// entry that chooses between them. They write nothing: the gate says which
// refusal it made and the request writes its page.
#pragma once

#include "access/struct.h"

// The request's user id and key halves are fields of this size.
constexpr int LOGIN_FIELD = 22;

// What the gate decided.
enum {
    LOGIN_PASSED = 0,
    LOGIN_BAD_KEY = 1,   // key halves given, but not the stored ones
    LOGIN_NO_UID = 2,    // no key and no user id
    LOGIN_REFUSED = 3,   // password login refused: unknown user or wrong password
    LOGIN_BUSY = 4,      // a file the check needed stayed locked or could not be
                         // read, or the new key could not be stored: nothing
                         // is known about the user, nothing was decided
};

// Key check of the request: compares skey1/skey2 (read as decimal
// numbers, so leading zeros and trailing non-digits do not matter) with the
// pair stored in the key file of user uid (uid names the directory as sent).
// *key gets the stored record (cleared when there is none). Returns 0 valid;
// -1 wrong key, no stored key, a uid that cannot name a directory or one
// whose directory does not exist (no such user); -2 or -9 from the key store
// (the key file could not be read: the key is neither right nor wrong).
int G_SkeyChk(const char* uid, const char* skey1, const char* skey2, MST_SKEY* key);

// Password login of uid with password upw. On success it leaves a session key
// in skey1/skey2 ("%d" each) and in the user's key file; *user gets the
// user's record as read (its USER_ID the spelling stored in user.mst, its
// USER_PASS the stored password), so far as the login got.
// A shared account (MODE 2) whose key record can be read gets that stored
// pair back unchanged; every other login gets a new pair from the system's
// cryptographic random source, each number in 1..2147483647.
// Returns 0 logged in; -1 refused (unknown user, a listed one without a
// directory included, wrong password, or an id that cannot name a
// directory), with skey1/skey2 empty; -9 or -2 when the
// user list, the user's personal settings, password or (shared account) key
// file stayed locked or could not be read, or when no random key could be
// had, with skey1/skey2 empty; -2, -3 or -9 when the new key could not be
// stored (the pair is left in skey1/skey2 all the same).
int G_LoginChk(const char* uid, const char* upw, char (&skey1)[LOGIN_FIELD], char (&skey2)[LOGIN_FIELD],
               USER_MST* user);

// The gate of the request entry, run on the request's uid, upw and key halves
// after the folder is known. With uid and both key halves given it checks the
// key; otherwise it logs in with the password. Returns LOGIN_PASSED
// (*password_login 0 by key, 1 by password; after a password login uid holds
// the stored spelling of the id and skey1/skey2 the session key) or the
// refusal: LOGIN_BAD_KEY for a bad key, LOGIN_NO_UID without a uid,
// LOGIN_REFUSED for an unknown user or a wrong password, LOGIN_BUSY when a file
// it needed stayed locked or could not be read, or a login's new key could not
// be stored (that key would fail at once). A refusal leaves skey1/skey2 empty,
// except LOGIN_NO_UID, which touches nothing. *user gets the user record a
// password login read; it is cleared after a key check and a refusal.
int G_login_gate(char (&uid)[LOGIN_FIELD], const char* upw, char (&skey1)[LOGIN_FIELD],
                 char (&skey2)[LOGIN_FIELD], int* password_login, USER_MST* user);
