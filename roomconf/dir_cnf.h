// A room's settings file dir.cnf ("key,value," lines, shared with the suite's
// other programs), its single-key store, and the loader of a DIR_CONFIG.
#pragma once
#include <cstddef>
#include <cstdint>

#include "settings/dir_config.h"
#include "store/keyed_line.h"

// Lines are read in pieces of this size less one.
enum { DIRCNF_LINE_CAP = KEYED_LINE_CAP };

// Loads room in_folder_no's settings into *out: clears it, sets the
// frame sizes "10%", "40%", "50%", then applies every entry of the program's
// ten keys (the last of two lines wins; an empty value empties the field),
// each value cut at a character boundary to its field; INFO gets the room's
// information text. Returns 0, -9 the file is locked, -2 it cannot be opened
// (on both the defaults stay and INFO is empty). Never takes the lock.
int b_SET_DIR_CONFIG(int32_t in_folder_no, DIR_CONFIG* out);

// Takes (mode 1) or releases (mode 2) room in_folder_no's settings lock
// dir_cnf.chk, as Fio_xor_control does: mode 1 waits for a held lock and
// returns 0 taken, 1 not taken (still held after the wait, or the lock file
// cannot be made); mode 2 releases only the lock this request took and
// returns 0. While it is held, the store calls below run under it (neither
// waiting for, taking nor releasing it; a rewrite checks before its commit
// that it is still this request's), so that no other writer of the room's
// settings comes between several calls. Locks are always taken dir_cnf.chk
// first, tree_mst.chk second.
int Fio_DIR_CONFIG_lock(int32_t in_folder_no, int mode);

// One key in_buff of room in_folder_no. 1 read: out_buff (out_size bytes)
// gets the value of the first entry with that key, cut at a character
// boundary to its capacity; 0, or -1 with out_buff empty. 2 add "key,value,"
// at the end unless the key is present (-3, file unchanged). 3 delete every
// entry of the key; 4 update every entry to the value in out_buff; both -1
// when there is none (file unchanged). Keys compare byte for byte. A rewrite
// keeps every other entry byte for byte, in place, and drops lines that hold
// no entry. A comma, CR or LF in a written key or value becomes '_' (a value
// cannot hold them). Returns also -4 (FIO_BAD_ARGUMENT) for an unknown op, -1
// for a room that has no path, -2 a file cannot be opened, -9 the lock is
// held by another (or, under the caller's lock, was found lost at the commit).
int Fio_DIR_CONFIG(int32_t in_folder_no, int32_t op, const char* in_buff, char* out_buff, int out_size);
template <std::size_t N>
inline int Fio_DIR_CONFIG(int32_t in_folder_no, int32_t op, const char* in_buff, char (&out_buff)[N]) {
    return Fio_DIR_CONFIG(in_folder_no, op, in_buff, out_buff, static_cast<int>(N));
}

// Stores value (cap bytes) under key in room in_folder_no's dir.cnf: update,
// else add when the key is not there yet. Returns the last call's result (0
// stored; -9, -2 refused).
int Fio_DIR_CONFIG_put(int32_t in_folder_no, const char* key, char* value, int cap);
