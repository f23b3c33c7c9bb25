// The suite's user list user.mst (one user id per line) and each user's
// scrambled password file password.mst, with the reversible scrambling keyed
// by the user id.
#pragma once
#include <cstdint>

#include "access/struct.h"

// One operation on user.mst; ids match regardless of the case of ASCII
// letters. 1 read: clears *rec (not when the lock is held: then the record
// stays as it was), and on the first match fills USER_ID with the stored
// spelling and the rest from personal.mst; 0 found, -1 not found (*rec all
// zero), or the personal file's -9 (locked) or -2 (cannot be opened) when the
// user is listed but his settings cannot be read (*rec then holds only
// USER_ID: the user is not known).
// 2 add the id in rec->USER_ID as the last line, then write its personal
// fields; -3 when listed already (file unchanged). 3 delete every line
// matching UserID (rec is not used and may be null); -1 when none. 4 update:
// the list keeps the matching lines, rec->USER_ID takes their spelling and
// the personal fields are written; -1 when none. Every operation refuses an
// id that cannot name a user directory (or, for add and update, holds a line
// end) with -1 and touches no file. Also -4 (FIO_BAD_ARGUMENT) for an unknown
// op or a null rec where one is used, -2 a file cannot be opened, -9 the lock
// is held.
int Fio_USER_MST(const char* UserID, int32_t op, USER_MST* rec);

// The password of user UserID (which is also the scrambling key). 1 read:
// rec->USER_PASS gets the unscrambled first line of password.mst (a missing
// file is created empty and reads as the empty password); 2 or 4 write: the
// file is replaced by rec->USER_PASS scrambled, without a line end; 3 delete:
// the file is removed (0, or -1 when the removal failed; rec is not used and
// may be null). Returns 0, -1 for an id that cannot name a user directory
// (nothing touched, USER_PASS unchanged), -4 (FIO_BAD_ARGUMENT) for an
// unknown op or a null rec where one is used, -2 a file cannot be opened (the
// user's directory must exist), -9 the lock is held.
int Fio_MST_PASSWORD(const char* UserID, int32_t op, USER_MST* rec);

// Scrambles (mode 1) or unscrambles (mode 2) in_buff in place with key_id,
// used from its last character backwards, cyclically. Scrambling turns at
// most 20 bytes into two lower-case hex digits each, so in_buff must hold 41
// bytes; unscrambling reads at most 20 digit pairs and yields at most 20
// bytes, ending early at a clear zero byte. Other modes, or an empty key,
// change nothing.
void f03_encryption(char* in_buff, int mode, const char* key_id);

// The value of the two hex digits at in_buff as one byte: "0"-"9", "a"-"f"
// and "A"-"F" count as such, any other character as 0. Reads no further than
// a terminating zero.
unsigned char f03_atocx(const char* in_buff);
