// Shift_JIS-aware string helpers shared by every subsystem: the one character
// walk, the one field copy, the one decimal reader, and the text functions
// the stores and pages build on.
#pragma once
#include <cstddef>
#include <cstdint>

// A byte from 0x7F to 0xA0 or from 0xE0 to 0xFF starts a two-byte character.
// (Wider than the assigned Shift_JIS lead bytes on purpose: the suite's other
// programs walk texts with exactly this rule, and we must cut where they do.)
inline bool G_is_lead(unsigned char c) { return (c >= 0x7F && c <= 0xA0) || c >= 0xE0; }

// Length in bytes of the character that starts at p (1 or 2). A lead byte
// directly before the terminating zero is a character of its own, so the walk
// never steps past the end of a text.
inline int G_char_len(const char* p) {
    return (G_is_lead(static_cast<unsigned char>(p[0])) && p[1] != '\0') ? 2 : 1;
}

// Copies src into a field of cap bytes, cut to cap-1 bytes, zero-terminated.
// The cut is byte-wise (the suite's formats cut fields that way); use
// G_setStrlength afterwards where a character boundary matters.
void G_set(char* field, std::size_t cap, const char* src);
template <std::size_t N> inline void G_set(char (&field)[N], const char* src) { G_set(field, N, src); }

// Decimal text read in the manner of strtol with base 10: leading white space
// and a sign accepted, stops at the first non-digit, no digits gives 0.
// Values beyond 32 bits wrap as the suite's 32-bit fields would.
int32_t G_atoi(const char* text);

// An operator's number (an environment setting): text of 1 to max_digits
// decimal digits and nothing else whose value lies in [low, high]; fallback
// for anything else (unset, empty, signs, spaces, units, too long).
int G_setting_number(const char* text, int max_digits, int low, int high, int fallback);

// Byte position of the first occurrence of keyword in in_buff, found only at a
// character boundary; -1 when absent or when either text is empty.
int G_StrFind(const char* in_buff, const char* keyword);

// The length of the piece of an in-memory text of size bytes that starts at
// pos, as a reading by lines of at most max bytes takes it: up to and with a
// line feed, at most max bytes, 0 at the end. G_next_line's split, for a
// parser that reads the piece where it stands.
std::size_t G_line_piece(const char* text, std::size_t size, std::size_t pos, std::size_t max);

// The next line of an in-memory text as fgets would read it from a stream
// of those bytes into a buffer of cap bytes: at most cap-1 bytes, up to and
// with a line feed, then a zero byte (a zero byte inside the line is copied
// like any other); a longer line comes in pieces. *pos is where the next
// piece starts and moves past the one taken. false at the end of the text
// (nothing taken). For files that are read whole and parsed in memory with
// the same pieces a line-by-line reading gives.
bool G_next_line(const char* text, std::size_t size, std::size_t* pos, char* line, int cap);

// Cuts in_buff in place to the longest prefix of whole characters that holds
// at most in_size-1 bytes.
void G_setStrlength(char* in_buff, int in_size);

// Replaces each CR by "<BR>\n" and drops each LF, in place; the caller's buffer
// must hold the longer result (at most 99,999 bytes plus one character).
void G_CrLf_to_BR(char* in_data);

// Upper-cases single-byte a-z in place; double-byte characters stay as they are.
void G_ToUppers(char* data);

// Removes every trailing CR and LF byte in place.
void G_CutCrLf(char* in_buff);

// Splits an upload field's value "browser name,temporary path": out_filename
// gets the bare name (directories dropped, commas made '_', capacity 252),
// TEMP_filename the text after the LAST comma (capacity 4002; the whole value
// when there is no comma).
void G_cut_filename(const char* in_filename, char* out_filename, char* TEMP_filename);
