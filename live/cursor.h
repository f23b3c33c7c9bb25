// Cursors of the live view: how a page names the lines it holds in a room's
// message file, and the reads a page asks for by them (the lines newer than
// its newest, the lines older than its oldest, the newest lines afresh).
//
// The records carry no id and their stamps have minutes only; the file is
// rewritten whole with the newest record first (R[0] the newest), a post
// puts one record in front, the operator's history trim cuts the oldest ones
// and an emptied room loses its file. So a cursor names a line L = R[i] of a
// file of T records by
//   Q = T - i  how many records are at or older than L (posts leave it as it
//              is; only a trim or a clear changes it), and
//   D          a 64-bit digest of a window of records around L: for the
//              newest-line cursor (what a page holds as its newest; polls)
//              L and up to two OLDER records, which posts never change; for
//              the oldest-line cursor (history paging) L and up to two NEWER
//              records, which trims never remove.
// Text form "Q.D": Q in decimal (no leading zero, at most 10 digits), '.', D
// in 16 lower-case hex digits. "" means the page holds no line;
// "0.0000000000000000" means the room was empty (every record is newer).
#pragma once
#include <cstdint>

#include "chat/records.h"

enum {
    LIVE_CURSOR_CAP = 40,   // a cursor's text, terminator included
    LIVE_WINDOW = 3,        // records in a digest's window
    LIVE_SCAN_MAX = 2000,   // records looked at for a cursor's line after a trim
    LIVE_PIECE = 64,        // records read at a time while looking
    LIVE_LINES_MAX = 100,   // most lines one answer carries
};

// Kinds of cursor: which way its window reaches from its line.
enum { LIVE_NEWEST = 0, LIVE_OLDEST = 1 };

// Results of the cursor calls, beside FIO_OK (0) and FIO_NO_FILE (-2, the
// room's directory is missing or its file cannot be opened).
enum {
    LIVE_NONE = 1,        // parse: "", the page holds no line
    LIVE_GONE = 2,        // locate: the cursor's line is no longer in the file
    LIVE_BUSY = -9,       // the file was rewritten under every attempt to read it
    LIVE_BAD_CURSOR = -10 // not a cursor's text (the JSON job answers 400)
};

// FNV-1a, 64 bits, of n bytes at p, continued from h (live_digest_start for
// a fresh digest): cheap enough for a poll that digests a few records or a
// member list, and any change of a byte changes the digest. Nothing rests on
// its secrecy: a forged cursor or tag can only misplace its own page.
const uint64_t live_digest_start = 0xcbf29ce484222325ULL;
uint64_t live_digest(uint64_t h, const void* p, unsigned long n);

struct LIVE_CURSOR {
    int64_t q;   // records at or older than the line; 0: no line, the room was empty
    uint64_t d;  // digest of the line's window (0 with q 0)
};

// What a read of lines gives. lines is the caller's array (room for the count
// asked, at most LIVE_LINES_MAX); the lines in it are oldest first.
struct LIVE_LINES {
    CHAT_DATA_DAT* lines;
    int count;
    bool reset;                    // the cursor's line was gone (or none was held)
    bool more;                     // older lines exist than the oldest given
    char cursor[LIVE_CURSOR_CAP];  // newest-line cursor the page holds after this answer
    char oldest[LIVE_CURSOR_CAP];  // oldest-line cursor of the oldest line given
};

// Parses a cursor's text strictly. FIO_OK (out set), LIVE_NONE for "" (out
// {0, 0}), LIVE_BAD_CURSOR for anything that is not of the form above (a Q
// of 0 with a digest other than 0 included: no cursor of this program).
int live_cursor_parse(const char* text, LIVE_CURSOR* out);

// Writes the text form of c into out.
void live_cursor_format(const LIVE_CURSOR& c, char (&out)[LIVE_CURSOR_CAP]);

// The cursor of kind `kind` for line R[index] of a file of `total` records,
// from a run of records read from it: run[0] is R[first], and the run holds
// count records, among them L and those of its window's neighbours that the
// file has (up to two, older for LIVE_NEWEST, newer for LIVE_OLDEST). A
// neighbour missing from the run would make a digest no later look matches.
LIVE_CURSOR live_cursor_of(const CHAT_DATA_DAT* run, long first, int count, long total, long index, int kind);

// Looks for the line of cursor c (Q > 0) of kind `kind` among the candidate
// indices from .. to-1 of a run as above (which must hold each candidate's
// window neighbours too). A candidate is the line when D is the digest of its
// window's first one, two or three records: the window as the cursor saw it
// (an oldest-line cursor made when its line had fewer than two newer records
// sees them added later). Returns the first index found, or -1; now gets the
// line's cursor in the file as it is (Q renewed, the whole window digested).
long live_cursor_find(const CHAT_DATA_DAT* run, long first, int count, long total, long from, long to,
                      const LIVE_CURSOR& c, int kind, LIVE_CURSOR* now);

// The newest `max` lines of room folder_no (1 .. LIVE_LINES_MAX), for a fresh
// page: lines oldest first, cursor the newest line's (the empty-room cursor
// for an empty room), oldest the oldest given line's ("" for an empty room),
// more when older lines exist. reset is false. FIO_OK, FIO_NO_FILE.
int live_newest(int folder_no, int max, LIVE_LINES* out);

// The lines newer than the page's newest-line cursor `cursor`, at most max
// (1 .. LIVE_LINES_MAX), oldest first, with the newest-line cursor of the
// newest given (the page's own, renewed, when nothing is new). When more than
// max are newer, the max oldest of them come, so that a page polling again at
// once gets the rest: none is ever skipped. more is false. When the cursor's
// line is gone (a trim or a clear took it) or the cursor is "", the answer is
// that of live_newest with reset set. FIO_OK, LIVE_BAD_CURSOR, FIO_NO_FILE,
// LIVE_BUSY.
int live_newer(int folder_no, const char* cursor, int max, LIVE_LINES* out);

// The lines older than the page's oldest-line cursor `before`, at most max
// (1 .. LIVE_LINES_MAX), oldest first, with oldest the oldest given line's
// cursor and more when still older lines exist. Nothing older (or a cursor ""
// or of an empty room): no lines, more false, oldest the page's own. A line
// that is gone: no lines, more false, reset set. cursor stays "". FIO_OK,
// LIVE_BAD_CURSOR, FIO_NO_FILE, LIVE_BUSY.
int live_older(int folder_no, const char* before, int max, LIVE_LINES* out);
