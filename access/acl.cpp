// The folder access check G_chk_ACL: rank, shared-account switch, access list
// and group memberships, folder defaults, in that order.
#include "access/acl.h"

#include <cstring>

#include "access/acl_mst.h"
#include "access/tree_mst.h"
#include "access/user_g_mst.h"
#include "store/fileio.h"
#include "store/groval.h"

namespace {

// Level from which the search stops: nothing found later could matter to a
// page, as 8 already opens the room's settings.
constexpr int32_t ENOUGH = 8;

bool is_member(const USER_MST& user, int32_t group_id) {
    std::memset(&sUSER_GROUP_MST, 0, sizeof sUSER_GROUP_MST);
    G_set(sUSER_GROUP_MST.USER_ID, user.USER_ID);
    sUSER_GROUP_MST.GROUP_ID = group_id;
    return Fio_USER_GROUP_MST(group_id, SQL_READ, 1) == FIO_OK;
}

}  // namespace

bool G_acl_needs_share_switch(const USER_MST& user) { return user.USER_LEVEL <= 99 && user.MODE == 2; }

int32_t G_chk_ACL(const USER_MST& user, int32_t in_folder_no, int32_t share_switch) {
    if (user.USER_LEVEL > 99) return 9;
    if (user.MODE == 2 && share_switch == 1) return 0;

    // The user's own entry, whatever its value.
    int32_t level = 0;
    std::memset(&sACL_MST, 0, sizeof sACL_MST);
    sACL_MST.FOLDER_NO = in_folder_no;
    G_set(sACL_MST.U_OR_G, "U");
    G_set(sACL_MST.USER_ID, user.USER_ID);
    if (Fio_ACL_MST(0, SQL_READ, 1) == FIO_OK) level = sACL_MST.PERMIT;
    if (level >= ENOUGH) return level;

    // Group entries, in the order of the list; each can only raise the level.
    for (int n = 1;; ++n) {
        std::memset(&sACL_MST, 0, sizeof sACL_MST);
        sACL_MST.FOLDER_NO = in_folder_no;
        if (Fio_ACL_MST(n, SQL_READ, 2) != FIO_OK) break;
        if (sACL_MST.U_OR_G[0] != 'G') continue;
        const int32_t group = sACL_MST.GROUP_ID;
        const int32_t permit = sACL_MST.PERMIT;
        if (group == user.P_GROUP) {
            if (permit > level) level = permit;
            if (level >= ENOUGH) return level;
        }
        if (is_member(user, group)) {
            if (permit > level) level = permit;
            if (level >= ENOUGH) return level;
        }
    }

    // The folder's defaults for readers and writers.
    std::memset(&sTREE_DATA, 0, sizeof sTREE_DATA);
    sTREE_DATA.FOLDER_NO = in_folder_no;
    if (Fio_TREE_DATA(in_folder_no, SQL_READ, 1) != FIO_OK) return level;
    if (user.USER_LEVEL >= sTREE_DATA.ACCESS_LEVEL && level <= 0) level = 1;
    if (user.USER_LEVEL >= sTREE_DATA.WRITE_LEVEL && level <= 1) level = 2;
    return level;
}
