// The access list store: acl.mst in each folder's directory, one entry per
// line ("U,<user id>,<permit>," or "G,<group id>,<permit>,"), under the lock
// file acl.chk.
#pragma once
#include "access/struct.h"

// One operation on the access list of folder rec->FOLDER_NO. The key of an
// entry is its type with its user id ("U", compared byte for byte) or its
// group id ("G"); rec->U_OR_G must be "U" or "G" for every operation but the
// read by position.
//   1 read, search_mode 1: the first entry with the key of *rec; only its
//       PERMIT is copied into *rec. 0 found, -1 none.
//   1 read, search_mode 2: the entry at position in_disp_no (from 1; 0 or less
//       is the first); its type, USER_ID, GROUP_ID and PERMIT are copied into
//       *rec. 0 found, -1 past the end.
//   2 add:    appends the entry of *rec. 0, or -3 the key is present.
//   3 delete: removes the first entry with the key. 0, or -3 none.
//   4 update: replaces the first entry with the key by that of *rec. 0, or
//             -3 none.
// A failed write leaves the file byte for byte as it was. Every operation: -4
// (FIO_BAD_ARGUMENT) for a bad argument (op, modes, type, a null rec, or a
// user id holding a comma or a line end, which the line format cannot
// carry), -1 for a folder that has no path, -2 a file cannot be opened or
// created (the folder's directory is missing, for one), -9 the lock is held.
int Fio_ACL_MST(int in_disp_no, int op, int search_mode, ACL_MST* rec);

// Every entry of folder folder_no's access list in the order of the file, as
// the reads above give them (type, USER_ID of a user entry, GROUP_ID of a
// group entry, PERMIT; FOLDER_NO folder_no), handed to each(entry, arg) until
// it returns false, all from one read of the file. Lines that hold no entry
// are passed over. 0, -1 a folder that has no path, -2, -9 as above.
int Fio_ACL_MST_each(int32_t folder_no, bool (*each)(const ACL_MST& entry, void* arg), void* arg);
