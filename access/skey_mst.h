// The session key store: skey.mst in each user's directory, binary 536-byte
// MST_SKEY records (normally one per file) under the lock file skey.chk.
#pragma once
#include "access/struct.h"

// Exchange record of the store: a read fills it, add and update write it.
extern MST_SKEY sMST_SKEY;

// One operation on the key file of user UserID (UserID names the directory).
// User ids match case-insensitively (ASCII letters only); the record's own
// USER_ID is upper-cased while it is compared, so a record read out or copied
// through a rewrite carries it upper-cased, as the suite's other programs do.
//   1 read    by UserID: clears sMST_SKEY, copies the first match into it.
//             0 found, -1 no match.
//   2 add     by sMST_SKEY.USER_ID: appends sMST_SKEY. 0, or -3 when a record
//             of that user exists (file unchanged).
//   3 delete  by UserID: drops every matching record. 0, or -1 none.
//   4 update  by sMST_SKEY.USER_ID: replaces every matching record by
//             sMST_SKEY. 0, or -1 none.
// Every operation: -1 for another op or for a UserID that cannot name a
// directory (nothing is created then), -2 a file cannot be opened or created
// (the user's directory is missing, for one), -9 the lock is held.
int Fio_MST_SKEY(const char* UserID, int op);
