// The request state's storage; see state.h.
#include "page/state.h"

char cgi_uid[22];
char cgi_upw[22];
char cgi_JOB[128];
char cgi_SUB[256];
char cgi_SKEY1[22];
char cgi_SKEY2[22];
char cgi_help[22];
int32_t cgi_FOLDER_NO;
char JOB_EXE[128];
TREE_DATA G_TREE_DATA;
USER_MST G_USER_MST;
int32_t ACL_LEVEL;
