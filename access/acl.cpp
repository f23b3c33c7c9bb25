// The folder access check G_chk_ACL: rank, shared-account switch, access list
// and group memberships, folder defaults, in that order.
#include "access/acl.h"

#include <cstring>
#include <vector>

#include "access/acl_mst.h"
#include "access/tree_mst.h"
#include "access/user_g_mst.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

// Level from which the search stops: nothing found later could matter to a
// page, as 8 already opens the room's settings.
constexpr int32_t ENOUGH = 8;

// Ends the check on a read that failed with r.
int32_t stop(int* failed, int r) {
    *failed = r;
    return 0;
}

// Whether user is in group group_id: the membership read's result (0 member).
int is_member(const USER_MST& user, int32_t group_id) {
    USER_GROUP_MST m;
    std::memset(&m, 0, sizeof m);
    G_set(m.USER_ID, user.USER_ID);
    m.GROUP_ID = group_id;
    return Fio_USER_GROUP_MST(group_id, STORE_READ, 1, &m);
}

// The entries of the access list, in the order of the file.
bool keep_entry(const ACL_MST& entry, void* list) {
    static_cast<std::vector<ACL_MST>*>(list)->push_back(entry);
    return true;
}

// The check itself; a list, membership file or folder record that stayed
// locked or could not be read stops it with that read's result in *failed.
int32_t access_level(const USER_MST& user, int32_t in_folder_no, const TREE_DATA* known_folder,
                     int32_t share_switch, int* failed) {
    if (user.USER_LEVEL > 99) return 9;
    if (user.MODE == 2 && share_switch == 1) return 0;

    std::vector<ACL_MST> list;
    int r = Fio_ACL_MST_each(in_folder_no, keep_entry, &list);
    if (Fio_refused(r)) return stop(failed, r);

    // The user's own entry (the first with his id), whatever its value.
    int32_t level = 0;
    char id[sizeof list[0].USER_ID];
    G_set(id, user.USER_ID);
    for (const ACL_MST& e : list) {
        if (e.U_OR_G[0] == 'U' && std::strcmp(e.USER_ID, id) == 0) {
            level = e.PERMIT;
            break;
        }
    }
    if (level >= ENOUGH) return level;

    // Group entries, in the order of the list; each can only raise the level.
    for (const ACL_MST& e : list) {
        if (e.U_OR_G[0] != 'G') continue;
        const int32_t group = e.GROUP_ID;
        const int32_t permit = e.PERMIT;
        if (group == user.P_GROUP) {
            if (permit > level) level = permit;
            if (level >= ENOUGH) return level;
        }
        r = is_member(user, group);
        if (Fio_refused(r)) return stop(failed, r);
        if (r == FIO_OK) {
            if (permit > level) level = permit;
            if (level >= ENOUGH) return level;
        }
    }

    // The folder's defaults for readers and writers, from the record the
    // caller read when it has one.
    TREE_DATA folder;
    if (known_folder != nullptr) {
        folder = *known_folder;
    } else {
        std::memset(&folder, 0, sizeof folder);
        folder.FOLDER_NO = in_folder_no;
        r = Fio_TREE_DATA(in_folder_no, STORE_READ, 1, &folder);
        if (Fio_refused(r)) return stop(failed, r);
        if (r != FIO_OK) return level;
    }
    if (user.USER_LEVEL >= folder.ACCESS_LEVEL && level <= 0) level = 1;
    if (user.USER_LEVEL >= folder.WRITE_LEVEL && level <= 1) level = 2;
    return level;
}

}  // namespace

bool G_acl_needs_share_switch(const USER_MST& user) { return user.USER_LEVEL <= 99 && user.MODE == 2; }

int32_t G_chk_ACL(const USER_MST& user, int32_t in_folder_no, const TREE_DATA* folder, int32_t share_switch,
                  int* read_result) {
    int failed = FIO_OK;
    const int32_t level = access_level(user, in_folder_no, folder, share_switch, &failed);
    if (read_result != nullptr) *read_result = failed;
    return failed == FIO_OK ? level : 0;
}
