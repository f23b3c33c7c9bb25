// The message table: every text a page shows, loaded from one language
// section of the message file "velt.lng".
#pragma once

enum { STRDEF_COUNT = 1000, STRDEF_WIDTH = 202 };

struct STRDEF_REC {
    char Message[STRDEF_COUNT][STRDEF_WIDTH];
};

extern STRDEF_REC STRDEF;

// Message k of the loaded table (empty text when unset), as pages print it.
inline const char* G_msg(int k) { return STRDEF.Message[k]; }

// Replaces the whole table by section `language` of `filename`. -1 when the
// file cannot be opened (the table is left empty), 0 otherwise (also when the
// section is missing: the table is then empty).
int StrdefFileOpen(const char* filename, const char* language);
