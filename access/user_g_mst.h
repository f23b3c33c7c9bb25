// The group membership store: user_g.mst in each user's directory, one group
// id per line ("%d,") in ascending order, under the lock file user_g.chk.
#pragma once
#include "access/struct.h"

// One operation on the memberships of user rec->USER_ID: a read fills
// rec->GROUP_ID, an add or update writes the line of rec->GROUP_ID. Lines
// without a comma are no memberships: reads pass over them and do not count
// them, rewrites drop them.
//   1 read, search_mode 1: is the user in group in_disp_no? The scan relies on
//       the ascending order and stops at the first greater id. 0 member (its
//       id in GROUP_ID), -1 not a member.
//   1 read, search_mode 2: the membership at position in_disp_no (from 1; 0 or
//       less finds nothing) into GROUP_ID. 0, or -1.
//   2 add, search_mode 1: inserts GROUP_ID before the first greater id (or at
//       the end). 0, or -3 the id is present.
//   2 add, search_mode 2: inserts GROUP_ID before the membership at position
//       in_disp_no, or at the end past the last one; -4 for a position of 0
//       or less.
//   3 delete: removes the membership with id in_disp_no (search_mode 1) or at
//       position in_disp_no (2). 0, or -3 none.
//   4 update: replaces that membership by GROUP_ID. 0, or -3 none.
// A delete or update that finds nothing, and an add that finds its id, leave
// the file byte for byte as it was. Every operation: -4 (FIO_BAD_ARGUMENT)
// for bad arguments (op, modes, an add by a position of 0 or less, a null
// rec), -1 for a user id that cannot name a directory (nothing is created
// then), -2 a file cannot be opened or created, -9 the lock is held.
int Fio_USER_GROUP_MST(int in_disp_no, int op, int search_mode, USER_GROUP_MST* rec);
