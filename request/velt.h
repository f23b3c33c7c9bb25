// The request state filled once per request by the entry sequence and read by
// every page handler, and the entry sequence itself.
#pragma once
#include <cstdint>
#include "access/struct.h"

extern char cgi_uid[22];
extern char cgi_upw[22];
extern char cgi_JOB[128];
extern char cgi_SUB[256];
extern char cgi_SKEY1[22];
extern char cgi_SKEY2[22];
extern char cgi_help[22];
extern int32_t cgi_FOLDER_NO;
extern char JOB_EXE[128];
extern TREE_DATA G_TREE_DATA;
extern USER_MST G_USER_MST;
extern int32_t ACL_LEVEL;

// The login gate on the request's fields; a refusal prints its page (the
// session error page for a bad key, messages 3 and 4 without a uid, messages
// 5 and 6 for a refused login). Returns 0 passed (*fast_flg as the gate sets
// it) or -1 refused.
int velt_gate(int* fast_flg);

// The current user's (G_USER_MST) access level on folder_no, reading the
// room's shared-account switch when the check needs it (see G_chk_ACL).
int32_t velt_access_level(int32_t folder_no);

// Handles the one request of this process from the environment and standard
// input; everything goes to standard output. Returns 0 always.
int velt_main();
