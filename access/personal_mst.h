// Each user's named settings personal.mst ("name,value" lines in the user's
// directory): single settings by name, and the whole user record at once.
#pragma once
#include <cstddef>
#include <cstdint>

#include "access/struct.h"

// One setting named in_buff of user in_user_id. 1 read: out_buff (out_size
// bytes) gets the value of the first line of that name, cut to its capacity;
// 0, or -1 with out_buff empty. 2 add "name,value" at the end unless the name
// is present (-3, file unchanged). 3 delete every line of that name; 4 update
// every line of that name to the value in out_buff; both -1 when there is
// none (file unchanged). Names compare byte for byte with the whole text
// before a line's first comma; lines without a comma are no settings and are
// dropped by every rewrite, other lines keep their bytes and line ends.
// Returns also -1 for a user id that cannot name a user directory (nothing is
// touched), -4 (FIO_BAD_ARGUMENT) for an unknown op, -2 a file cannot be
// opened (the user's directory must exist), -9 the lock is held; on these
// out_buff is as it was.
// A value is written on one line: a CR or LF in it becomes '_'.
int Fio_PERSONAL_MST(const char* in_user_id, int32_t op, const char* in_buff, char* out_buff,
                     int out_size);
template <std::size_t N>
inline int Fio_PERSONAL_MST(const char* in_user_id, int32_t op, const char* in_buff, char (&out_buff)[N]) {
    return Fio_PERSONAL_MST(in_user_id, op, in_buff, out_buff, static_cast<int>(N));
}

// Stores value (cap bytes) under key in user's personal.mst: update, else
// add when the key is not there yet (a refused update is not tried again as
// an add, which would only wait for the same lock). Returns the last call's
// result.
int Fio_PERSONAL_MST_put(const char* in_user_id, const char* key, char* value, int cap);
template <std::size_t N>
inline int Fio_PERSONAL_MST_put(const char* in_user_id, const char* key, char (&value)[N]) {
    return Fio_PERSONAL_MST_put(in_user_id, key, value, static_cast<int>(N));
}

// The user-record fields of *rec. 1 read: sets USER_DISP_DEF 5, MODE 1,
// WRITE_MODE 1, then stores every line named after one of the eleven fields
// into it (the later of two lines wins; other fields of *rec stay as they
// are); 0, -9 lock held, -2 file cannot be opened (the defaults stay).
// 2 or 4 write: each field, USER_NAME first and PICFILE last, is stored under
// rec->USER_ID by update, else add; single failures are not reported, 0.
// Every mode returns -1 for an in_user_id that cannot name a user directory
// (a read still sets its defaults first), -4 (FIO_BAD_ARGUMENT) for a null
// rec; other modes do nothing.
int Fio_PERSONAL_MST_ALL(const char* in_user_id, int32_t op, USER_MST* rec);
