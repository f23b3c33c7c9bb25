// The request state: filled once per request by the entry sequence (request/)
// and read by every page handler.
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
