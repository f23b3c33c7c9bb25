// The request context: everything one request knows, in one record filled
// once by the entry sequence (request/velt.cpp) and read by every handler.
// The layers below page/ never read it: they are given what they need.
#pragma once
#include <cstddef>
#include <cstdint>

#include "access/struct.h"
#include "cgi/cgilib61.h"
#include "settings/dir_config.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"

// The fixed parameters every request reads, each its first value cut to its
// field; the key halves and uid as the login gate leaves them.
struct REQUEST_FIELDS {
    char uid[22];        // the user id; after a password login as user.mst spells it
    char upw[22];        // the password of a fresh login
    char JOB[128];       // the job (page) asked for
    char SUB[256];       // read and kept; no job consults it
    char SKEY1[22];      // the session key's halves (decimal text)
    char SKEY2[22];
    char help[22];       // "ver" asks for the version page
    int32_t FOLDER_NO;   // the folder (room), read as decimal text
};

// The message table comes last: its room for every text is large and mostly
// never touched, and the fields every request fills lie together before it.
struct REQUEST_CONTEXT {
    SYSINFO_REC config;      // zepa.ini
    CGI_PARAMS params;       // the parameter list and the uploads
    REQUEST_FIELDS query;    // the fixed parameters
    char JOB_EXE[128];       // the script address every link, frame and form points to
    TREE_DATA folder;        // the folder asked for, as tree.mst holds it
    USER_MST user;           // the user who passed the gate
    int32_t access_level;    // the user's level on the folder (see LEVEL_*)
    DIR_CONFIG room;         // the room's settings
    STRDEF_REC messages;     // the message table of the user's language
};

// The one request of this process.
extern REQUEST_CONTEXT ctx;

// Access levels the jobs ask for: below LEVEL_OPEN no access at all.
enum { LEVEL_OPEN = 1, LEVEL_WRITE = 2, LEVEL_SETTINGS = 8 };

// Puts the context (and the reply) back to the state of a fresh process:
// every field empty, the parameter list and this request's uploads freed
// (see cgi_free), every message text empty. A second request in the same
// process sees nothing of the first.
void context_clear();

// Message k of the loaded table (empty text when unset), as pages print it.
inline const char* G_msg(int k) { return strdef_text(ctx.messages, k); }

// The first value of request parameter name, cut to cap-1 bytes; empty text
// when the request does not carry it.
void G_param(const char* name, char* out, int cap);
template <std::size_t N>
inline void G_param(const char* name, char (&out)[N]) {
    G_param(name, out, static_cast<int>(N));
}
