// The request's credentials as the pages carry them on, so that the next
// request passes the login gate: hidden fields of the forms, and the query
// string of the addresses. The user id is always the one that passed the
// gate (ctx.query.uid): it names the directory that holds the key file, and
// after a password login it is the stored spelling.
#pragma once
#include <string>

// Writes <INPUT TYPE="hidden" name="NAME" value="VALUE">\n with the value
// HTML-escaped (plain text prints exactly as it stands).
void G_hidden(const char* name, const char* value);

// The same with a decimal value.
void G_hidden_int(const char* name, int value);

// The credentials: SKEY1, SKEY2, uid, in this order.
void G_hidden_credentials();

// The common block, in this order: the credentials, FOLDER_NO, JOB = job.
void G_hidden_fields(const char* job);

// The orders in which the addresses of the pages name the credentials.
enum KEY_ORDER {
    KEYS_FIRST,  // "SKEY1=..&SKEY2=..&uid=.."
    UID_FIRST,   // "uid=..&SKEY1=..&SKEY2=.." (the frameset)
};

// The credentials as a query string in that order, each value
// percent-encoded; no "?" or "&" before or after it.
std::string G_key_query(KEY_ORDER order = KEYS_FIRST);
