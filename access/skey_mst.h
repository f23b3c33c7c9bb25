// The session key store: skey.mst in each user's directory, binary 536-byte
// MST_SKEY records (normally one per file) under the lock file skey.chk.
#pragma once
#include "access/struct.h"

// One operation on the key file of user UserID (UserID names the directory).
// User ids match case-insensitively (ASCII letters only); the record's own
// USER_ID is upper-cased while it is compared, so a record read out or copied
// through a rewrite carries it upper-cased, as the suite's other programs do.
//   1 read    by UserID: clears *rec (unless the lock stays held), copies the
//             first match into it. 0 found, -1 no match.
//   2 add     by rec->USER_ID: appends *rec. 0, or -3 when a record of that
//             user exists (file unchanged).
//   3 delete  by UserID: drops every matching record (rec is not used and
//             may be null). 0, or -1 none.
//   4 update  by rec->USER_ID: replaces every matching record by *rec. 0, or
//             -1 none.
// Every operation: -4 (FIO_BAD_ARGUMENT) for another op, a null UserID or a
// null rec where one is used, -1 for a UserID that cannot name a directory
// (nothing is created then), -2 a file
// cannot be opened or created (the user's directory is missing, for one), -9
// the lock is held.
int Fio_MST_SKEY(const char* UserID, int op, MST_SKEY* rec);
