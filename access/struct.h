// Records of the suite's master files, shared with the suite's other
// programs: folders, users, session keys, access lists, group memberships and
// the system log.
#pragma once
#include <cstddef>
#include <cstdint>

// One folder of tree.mst.
struct TREE_DATA {
    int32_t CLASS;          // nesting depth, written as leading blanks
    int32_t FOLDER_NO;
    char NAME[82];
    int32_t MODE;
    char CGI_NAME[252];
    int32_t ACCESS_LEVEL;
    int32_t WRITE_LEVEL;
    char PIC_FILENAME[252];
    int32_t TARGET;
    int32_t UPW;
    int32_t SKEY;
    int32_t ICON_MODE;
};

// One user: the id from user.mst, the rest from personal.mst and password.mst.
struct USER_MST {
    char USER_ID[22];
    char USER_NAME[82];
    int32_t USER_LEVEL;     // 100 and above: system administrator
    char E_MAIL_ADDR[252];
    char USER_PASS[22];
    int32_t P_GROUP;
    int32_t USER_DISP_DEF;
    int32_t MODE;           // 1 ordinary account, 2 shared account
    int32_t WRITE_MODE;
    int32_t BBS_FRAME_MODE;
    int32_t TREE_MODE;
    char LANGUAGE[256];
    char PICFILE[256];
};

// One session key; skey.mst holds these 536-byte records back to back in the
// host's byte order, so the layout is pinned below.
struct MST_SKEY {
    int32_t SKEY1;
    int32_t SKEY2;
    char USER_ID[22];
    char REMOTE_ADDR[252];
    char USER_AGENT[252];
    char pad_[2];
};
static_assert(sizeof(MST_SKEY) == 536, "skey.mst record is 536 bytes");
static_assert(offsetof(MST_SKEY, SKEY1) == 0, "skey.mst layout");
static_assert(offsetof(MST_SKEY, SKEY2) == 4, "skey.mst layout");
static_assert(offsetof(MST_SKEY, USER_ID) == 8, "skey.mst layout");
static_assert(offsetof(MST_SKEY, REMOTE_ADDR) == 30, "skey.mst layout");
static_assert(offsetof(MST_SKEY, USER_AGENT) == 282, "skey.mst layout");

// One entry of a folder's access list acl.mst.
struct ACL_MST {
    int32_t FOLDER_NO;      // selects the file; not stored in the line
    char U_OR_G[2];         // "U" user entry, "G" group entry
    char USER_ID[22];
    int32_t GROUP_ID;
    int32_t PERMIT;
};

// One group membership of user_g.mst.
struct USER_GROUP_MST {
    char USER_ID[22];       // selects the file
    int32_t GROUP_ID;
};

// One line of system.log.
struct SYSTEM_LOG {
    char LOG_DATE[20];
    char USER_ID[22];
    char USER_NAME[82];
    char ACTION[252];
    char REMOTE_ADDR[252];
    char USER_AGENT[252];
};
