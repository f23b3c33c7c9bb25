// The hold of a live poll: waiting, without a lock or an open file of the
// room, until a room's message file changes or the hold ends; and the hold's
// length, which the operator may set.
#pragma once

// What a file is at one moment, as far as a waiting poll cares: any commit of
// a store (a whole new file renamed into place, a removal) changes it. A
// missing file is an identity too (exists 0, the rest 0).
struct LIVE_FILE_ID {
    int exists;
    unsigned long long dev;
    unsigned long long ino;
    long long size;
    long long ctime;  // status-change time, seconds
};

// The identity of file_name in the room directory prefix room_dir (as
// Fio_dir_room builds it). A caller takes it BEFORE reading what it answers
// from, and waits with it after: a commit between the two then ends the wait
// at once instead of going unseen for the whole hold.
void live_file_id(const char* room_dir, const char* file_name, LIVE_FILE_ID* out);

// True when both name the same file state.
bool live_same_file(const LIVE_FILE_ID& a, const LIVE_FILE_ID& b);

enum { LIVE_WAIT_CHANGED = 1, LIVE_WAIT_TIMED_OUT = 0, LIVE_WAIT_ERROR = -1 };

// Returns LIVE_WAIT_CHANGED at once when the identity of file_name in room_dir
// differs from seen, else waits until it does or until hold_ms milliseconds
// have passed (LIVE_WAIT_TIMED_OUT). The kernel wakes the wait when a file of
// that name is renamed into the directory, created, removed, renamed away or
// closed after writing; besides, the identity is looked at at least once a
// second, for a commit the kernel does not report (one made by another web
// server on a shared network directory). Where the kernel's notices are not
// to be had, the once-a-second look alone serves. Holds nothing of the room
// but the notice descriptor while it waits. LIVE_WAIT_ERROR for a missing
// argument or a path that does not fit.
int live_wait_for_change(const char* room_dir, const char* file_name, const LIVE_FILE_ID& seen, int hold_ms);

// Set to 1, the wait does without the kernel's notices, as where they are
// not offered (tests use it to run that path). The CGI leaves it 0.
extern int live_wait_no_inotify;

enum { LIVE_HOLD_DEFAULT = 25, LIVE_HOLD_MIN = 1, LIVE_HOLD_MAX = 55 };

// The hold of a waiting poll in seconds: the environment variable
// VELT_LIVE_HOLD when it is a whole number of seconds from 1 to 55 (plain
// digits), else 25. The bound keeps a held request below the 60-second
// time-outs that web servers and gateways apply by default.
int live_hold_seconds();
