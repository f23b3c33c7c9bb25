// The login gate: password login handing out a session key, the check of the
// session key that every later request carries, and the gate of the request
// entry that chooses between them and prints the refusal pages.
#pragma once

// Key check of the request: compares cgi_SKEY1/cgi_SKEY2 (read as decimal
// numbers, so leading zeros and trailing non-digits do not matter) with the
// pair stored in the key file of user uid (uid names the directory as sent).
// Fills sMST_SKEY. Returns 0 valid; -1 wrong key, no stored key or a uid that
// cannot name a directory; -2 or -9 from the key store.
int G_SkeyChk(const char* uid);

// Password login of uid with password upw. On success it leaves a session key
// in cgi_SKEY1/cgi_SKEY2 ("%d" each) and in the user's key file; the user's
// record stays in sUSER_MST, whose USER_ID is the spelling stored in user.mst.
// A shared account (MODE 2) whose key record can be read gets that stored
// pair back unchanged; every other login gets a new pair from the system's
// cryptographic random source, each number in 1..2147483647.
// Returns 0 logged in; -1 refused (unknown user, unreadable user list or
// password file, wrong password, an id that cannot name a directory, or no
// random source), with cgi_SKEY1/cgi_SKEY2 empty; -2, -3 or -9 when the new
// key could not be stored (the pair is left in cgi_SKEY1/cgi_SKEY2 all the
// same).
int G_LoginChk(const char* uid, const char* upw);

// The gate of the request entry, run on cgi_uid, cgi_upw, cgi_SKEY1 and
// cgi_SKEY2 after the folder is known. With uid and both key halves given it
// checks the key; otherwise it logs in with the password. Returns 0 passed
// (*fast_flg 0 by key, 1 by password; after a password login cgi_uid holds the
// stored spelling of the id and cgi_SKEY1/cgi_SKEY2 the session key) or -1
// refused, after printing the refusal page: the session error page for a bad
// key, messages 3 and 4 without a uid, messages 5 and 6 for a refused login
// (also when its key could not be stored, as that key would fail at once).
// A refusal leaves cgi_SKEY1/cgi_SKEY2 empty.
int G_login_gate(int* fast_flg);
