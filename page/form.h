// Hidden fields of the program's forms: every form carries the request's
// credentials and folder so that the next request passes the login gate.
#pragma once

// Writes <INPUT TYPE="hidden" name="NAME" value="VALUE">\n with the value
// HTML-escaped (plain text prints exactly as it stands).
void G_hidden(const char* name, const char* value);

// The same with a decimal value.
void G_hidden_int(const char* name, int value);

// The common block, in this order: SKEY1, SKEY2, uid, FOLDER_NO, JOB = job.
void G_hidden_fields(const char* job);
