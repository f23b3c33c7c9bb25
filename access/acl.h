// The folder access check: the current user's access level on a folder, from
// the user's rank, the room's shared-account switch, the folder's access list
// with the user's group memberships, and the folder's default levels.
#pragma once
#include <cstdint>

#include "access/struct.h"

// Whether the access check of user needs the room's shared-account switch:
// true for a shared account (MODE 2) that is no system administrator. The
// switch lives in the room's settings, above this layer: the caller reads it
// only then.
bool G_acl_needs_share_switch(const USER_MST& user);

// Access level of user on folder in_folder_no (folder: its record as the
// caller read it from the folder tree, else null: the check reads it):
// 9 for a system administrator (USER_LEVEL 100 or more); 0 for a shared
// account (MODE 2) when share_switch (the room's SHARE_USER_PERMIT) is 1;
// otherwise the largest of the user's own entry in acl.mst, the entries of the
// groups the user is in (primary group P_GROUP or user_g.mst), and the
// folder's defaults (1 when USER_LEVEL reaches ACCESS_LEVEL, 2 when it reaches
// WRITE_LEVEL). An entry of 8 or more ends the search at once. Below 1 means
// no access. *read_result (when given) gets 0, or the -9 (still locked after
// the wait) or -2 (cannot be opened) of the access list, a membership list or
// the folder tree that the check could not read: the level is then unknown
// and 0 is returned (a folder not in the tree only skips its defaults).
// The access list is read once, whatever entries it holds.
int32_t G_chk_ACL(const USER_MST& user, int32_t in_folder_no, const TREE_DATA* folder, int32_t share_switch,
                  int* read_result);
