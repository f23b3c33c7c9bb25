// Lock files, the one locked read-or-rewrite of a data file that every record
// store uses (with whole-line reading and copying for the text stores), the
// file move of uploaded pictures, and the data path builders.
#pragma once
#include <cstdio>

// Store results shared by every record store.
enum {
    FIO_OK = 0,
    FIO_NOT_FOUND = -1,     // not found, or nothing done
    FIO_NO_FILE = -2,       // a data or temporary file cannot be opened or created
    FIO_EXISTS = -3,        // an add found the key present
    FIO_BAD_ARGUMENT = -4,  // an unknown op or search mode, or no record to work on:
                            // a fault of the caller, never to be taken for "not found"
    FIO_LOCKED = -9,        // the lock file is held by another request
};

// True for a result that says the store could not be read or written (its
// lock stayed held, or its file cannot be opened): nothing is known of its
// content, as against FIO_NOT_FOUND, which is an answer.
inline bool Fio_refused(int r) { return r == FIO_LOCKED || r == FIO_NO_FILE; }

// Store operations (op).
enum { STORE_READ = 1, STORE_ADD = 2, STORE_DELETE = 3, STORE_UPDATE = 4 };

// Capacity of a built data path: the data directory (1001 characters at most)
// plus "user\", a user id, "\", a file name and ".tmp".
enum { FIO_PATH_MAX = 1200 };

// Lock files. A lock file's existence is the lock, as for every program of
// the suite, which only tests that it exists. This program also writes into
// each lock file it makes a mark of its own (FIO_MARK_PREFIX, the host name,
// the process id and 16 random hex digits) and holds the kernel's advisory
// lock (flock) on it while it holds the lock, so that:
//  - a lock is broken only when no live process holds its kernel lock, and
//    then when it is older than 60 seconds (a crashed request, or another
//    program of the suite that never released it), stamped more than 60
//    seconds ahead of the clock (a clock stepped back, a file server whose
//    clock runs ahead), or carries a mark of this host (its holder on this
//    machine has died: no need to wait the minute); a live holder of this
//    program is never broken, whatever the clocks say;
//  - a writer checks, just before its commit rename, that the lock file is
//    still the one it made; a writer whose lock was broken after all (another
//    suite program judged it by age alone) commits nothing and gives -9.
// A request that finds a lock held waits for it, sleeping in short growing
// steps with jitter (a few milliseconds first) up to Fio_lock_wait_ms.
//
// Temporary files (lock files before they take the lock's name, the new
// content of a rewrite, the copy of a picture being moved) are named
// "<file>.<process id>.<8 random hex digits>.tmp" beside the file they are
// for, and each holds its maker's kernel lock for its whole life. Where the
// file system allows it they have no name until they are put in place (a
// lock file is linked straight to the lock's name, a rewrite's file takes
// its temporary name only at its commit, just before its rename), so a
// killed request leaves none. Otherwise, and for the few that a kill catches
// in between, whoever breaks a dead lock removes in its directory the
// temporary files of that form whose kernel lock it can take.
#define FIO_MARK_PREFIX "velt "
enum { FIO_MARK_CAP = 128 };

// Longest wait for a held lock, in milliseconds: 4000, unless the environment
// variable VELT_LOCK_WAIT_MS, read once when the program starts, holds a
// whole number from 1 to 9000 (anything else keeps 4000). It is there for
// tests, which shorten the wait instead of sitting it out; a site never sets
// it (a web server passes no client header under that name: clients' headers
// arrive only as HTTP_*). Unit tests may also set the variable directly.
extern int Fio_lock_wait_ms;
// The wait that a text of VELT_LOCK_WAIT_MS asks for: its number when it is
// 1 to 4 decimal digits worth 1 to 9000, else 4000 (also for null).
int Fio_lock_wait_of(const char* text);

// Set to 1, every temporary file is made under its name from its creation
// on, as where the file system offers no unnamed files (tests use it to run
// that path). The CGI leaves it 0.
extern int Fio_named_temporaries;

// A lock this request holds.
struct FIO_LOCK {
    char path[FIO_PATH_MAX];
    int fd;                   // the lock file, holding its kernel lock; -1 when not held
    char mark[FIO_MARK_CAP];  // what was written into it
    long long fresh;          // clock reading of its making or last renewal
    long long unrenewed;      // bytes written under it since then
};

// Lock protocol on the lock file chkfilename. mode 0 test: 1 when the lock is
// held, else 0, at once (a stale or dead lock is broken first). mode 1
// acquire: waits for a held lock as above; 0 taken, 1 not taken (still held
// after the wait, or the lock file cannot be made at all: no such directory,
// no permission, which no wait changes and so gives 1 at once). mode 2
// release: removes the lock only when it is the one this process took with
// mode 1 and still stands; another's is never removed. Release and any other
// mode return 0.
int Fio_xor_control(char* chkfilename, int mode);

// The judgement every acquisition makes of a lock it meets, for tools that
// look at a data directory: 1 when the lock file chkfilename is dead (no live
// process holds its kernel lock, and it is older than the stale age or was
// made on this machine by a request that has died), else 0. With remove set,
// a dead lock is removed (1 only when it was).
int Fio_lock_dead(char* chkfilename, int remove);

// The judgement of a temporary file that every lock breaker makes, for tools
// that look at a data directory: FIO_NOT_TEMPORARY when the name of path is
// not of this program's temporary form above (the caller judges it
// otherwise), 1 when its maker has died (nobody holds its kernel lock) and it
// is more than 2 seconds old by its status-change time (a younger one may be
// a named file whose maker has not yet locked it; the times are whole
// seconds, so a file is certain to count as old only at 3), else 0. With remove set, a
// dead one is removed while this call holds its kernel lock (1 only when it
// was). A live writer's file is never judged dead, however old.
enum { FIO_NOT_TEMPORARY = -1 };
int Fio_temp_dead(char* path, int remove);

// Removes from directory dir (ending in a separator) every temporary file of
// this program that Fio_temp_dead judges dead; what a lock breaker does in
// the directory of the lock it broke. Returns how many were removed.
int Fio_remove_dead_temps(char* dir);

// Moves FileSRC to FileDSC by copying in pieces of 1000 bytes (flushed to
// disk before the source is removed); the destination is readable by its
// owner only (0600: the program delivers the pictures itself). 0 moved; -1 when the source is missing or cannot be opened, the
// destination cannot be created, or the copy fails (any partial destination
// is removed and the source stays).
int Fio_filemove(char* FileSRC, char* FileDSC);

// Names the data directory (the site's DATA_FILE_PATH) for the prefixes
// below. dir is kept, not copied: the settings pass their own field once, so
// the store always reads the path as the settings hold it. Until it is called
// the data directory is "".
void Fio_set_data_dir(const char* dir);

// Directory prefixes of the data files, ending in a backslash separator (the
// file access layer turns it into a slash), written into out (FIO_PATH_MAX
// bytes). Each returns 0, or -1 (out empty) when the prefix cannot be built
// safely or would not fit.
//   data directory:  DATA_FILE_PATH
//   room directory:  DATA_FILE_PATH + folder number + "\"
//   user directory:  DATA_FILE_PATH + "user\" + user id + "\"; a user id that is
//                    empty, ".", "..", or holds '/', '\' or a zero byte is
//                    refused, so no id ever leads out of the data directory.
//                    ('\' counts where it stands as a character: the 0x5C
//                    second byte of a double-byte character is part of that
//                    character and never a separator. An id that ends in a
//                    lone lead byte is refused too: it would swallow the
//                    separator behind it.)
int Fio_dir_data(char* out);
int Fio_dir_room(char* out, int folder_no);
int Fio_dir_user(char* out, const char* user_id);

// True for a name that can only mean one entry of the directory it is put in
// (a user id as a user directory, a picture in a room's picture directory):
// not empty, not "." or "..", no '/' byte, no backslash of its own, and no
// lone lead byte at its end (it would swallow the separator behind it).
bool Fio_safe_name(const char* name);

// One locked access to one data file. A store opens it, walks the old content
// with the read calls, writes what stays (and what is new) with the write
// calls, and closes it with its result:
//   FIO_READ      for the suite's shared files, which other programs may
//                 rewrite in ways a reader must not meet halfway: waits
//                 while the lock is held (-9 when it still is after the
//                 wait), then opens the data file, creating it empty when
//                 missing (as every store does).
//   FIO_SNAPSHOT  for files that only this program writes, each always
//                 replaced by one rename of a whole new file: opens the
//                 data file as the last commit left it, without looking at
//                 the lock. A writer at work never makes such a reader see
//                 less than the truth, and the reader never waits.
//   FIO_REWRITE   takes the lock (waiting as above), opens the data file
//                 likewise and a temporary file of its own (see above: no
//                 name yet where the file system allows it, else created
//                 exclusively under its unique name "<data file>.<pid>.<random
//                 hex>.tmp"). Fio_close with result 0 flushes the temporary
//                 file to disk, checks that the lock is still this access's,
//                 gives it its unique name if it has none, and renames it
//                 over the data file in one step; any other result, or a lock
//                 found lost, removes it and leaves the data file byte for
//                 byte as it was.
//   FIO_IN_PLACE  takes the lock like a rewrite and opens the data file for
//                 Fio_write_at: bytes overwritten where they stand, without a
//                 temporary file, a flush to disk or a rename. Only for
//                 volatile fields of fixed-size records (a member's sign of
//                 life): the file's size and record boundaries never change,
//                 so a crash can cost the new bytes but never tear a record
//                 apart or the file's shape; and a reader that meets the
//                 write halfway sees at worst a field that another look,
//                 under the lock, gets right.
// Text stores read lines, binary stores records; both read the data file
// through the access's read buffer and write the temporary file through its
// write buffer, on descriptors (no stdio stream).
enum { FIO_READ = 0, FIO_REWRITE = 1, FIO_SNAPSHOT = 2, FIO_IN_PLACE = 3 };
enum { FIO_TEXT = 0, FIO_BINARY = 1 };

// Sizes of an access's read and write buffers. An open access holds one of a
// few pairs kept for the whole process (one access after the other uses the
// same memory, so a request touches the buffers' pages once, not once per
// store call); only accesses open at the same time beyond those get pairs of
// their own, freed by Fio_close. The store layer is used by one thread.
enum { FIO_RBUF_SIZE = 32768, FIO_WBUF_SIZE = 16384 };
// An open access also lends its store a line buffer of this size (the pieces
// of the text stores' long lines), which, kept with the others, costs no stack.
enum { FIO_LINE_SIZE = 10000 };
// A read of at least this many bytes (Fio_read) while the read buffer is
// empty goes straight into the caller's memory.
enum { FIO_DIRECT_READ = 4000 };

struct FIO_ACCESS {
    char data_path[FIO_PATH_MAX];
    char tmp_path[FIO_PATH_MAX];
    char lock_path[FIO_PATH_MAX];
    int how;         // FIO_READ, FIO_SNAPSHOT, FIO_REWRITE or FIO_IN_PLACE
    int binary;      // FIO_TEXT or FIO_BINARY
    int write_error; // 1 once a write to the temporary file failed
    int read_error;  // 1 once a read of the data file failed
    int src_fd;      // the data file, or -1
    int tmp_fd;      // the temporary file, or -1
    int tmp_named;   // 1 once the temporary file has the name tmp_path
    FIO_LOCK lock;   // the lock a rewrite took or found held (fd -1 when none)
    int lock_held;   // 1 when lock is one this process held already (see Fio_open)
    // Reads come through this buffer: a scan of many small records or short
    // lines costs a few large reads instead of one per record or line.
    int rbuf_pos;    // next byte to hand out
    int rbuf_len;    // bytes held
    // Writes to the temporary file gather here and go out in large pieces.
    int wbuf_len;    // bytes held
    char* rbuf;      // FIO_RBUF_SIZE bytes while the access is open
    char* wbuf;      // FIO_WBUF_SIZE bytes while the access is open
    char* line;      // FIO_LINE_SIZE bytes for the store's own use while open
    int buffers;     // the process's pair held (its index), or -1: a pair of its own
};

// Opens data file `file` in directory prefix `dir` (see Fio_dir_*), guarded by
// lock file `lock` in the same directory. Returns 0 (the access is open and
// must be closed with Fio_close), -9 (lock still held after the wait) or -2
// (a file could not be opened, the lock file cannot be made, or a path would
// not fit; a lock this call took is released). On a non-zero result the
// access holds nothing and Fio_close need not be called.
// A `lock` that this process holds, taken with Fio_xor_control mode 1 and not
// yet released, is the caller's: the access neither waits for it, takes nor
// releases it, but a rewrite still checks, just before its commit, that the
// lock file is the one this process made (a lock found lost gives -9, as for
// a lock the access took). A null or empty `lock` means the caller looks
// after the lock itself: the access then neither tests, takes, releases nor
// checks any lock file. A reading access never
// creates or removes a lock file (beyond breaking a stale or dead one while it
// waits). The data file is opened read-write and created empty (0600) when
// missing, never truncated: a file that a writer renames into place at the
// same moment is never emptied.
int Fio_open(FIO_ACCESS* a, const char* dir, const char* file, const char* lock, int how, int binary);

// Text: reads the next piece of a line into buf as fgets does with cap bytes:
// at most cap-1 bytes, up to and with a line feed, then a zero byte (a zero
// byte inside the line is copied like any other, so the text as a string
// ends there while the piece goes on to the line feed). A longer line comes
// in pieces. Returns 1, or 0 at the end of the file or on a read error
// (which makes Fio_close answer -2).
int Fio_gets(FIO_ACCESS* a, char* buf, int cap);
// Reads up to cap bytes of the data file (text or binary) into buf, fewer
// only at its end: the count read, 0 at the end, -1 on an error before any
// byte. For stores that take a file as one text (the room information text)
// or many records at a time (see FIO_DIRECT_READ).
int Fio_read(FIO_ACCESS* a, void* buf, int cap);
// Text: appends text to the temporary file.
void Fio_puts(FIO_ACCESS* a, const char* text);
// Text: printf into the temporary file.
void Fio_printf(FIO_ACCESS* a, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Whole lines of a text store: a line longer than the store's read buffer
// arrives in pieces, and the pieces after the first belong to the same line
// rather than being taken for lines of their own. Both take `piece`, the first
// piece of a line just read with Fio_gets into a buffer of cap bytes; a piece
// goes on only when it filled its buffer without reaching a line feed.
// Fio_skip_line reads and drops the rest of the line, if any.
void Fio_skip_line(FIO_ACCESS* a, const char* piece, int cap);
// Fio_copy_line copies the whole line into the temporary file. A line that
// ends without a line feed (the last of a file) gets one, so that a line
// written after it cannot run into it.
void Fio_copy_line(FIO_ACCESS* a, const char* piece, int cap);

// Binary: reads the next whole record of size bytes. Returns 1, or 0 at the
// end of the file, on a partial record (which ends every scan) or on a read
// error (which makes Fio_close answer -2).
int Fio_read_rec(FIO_ACCESS* a, void* rec, int size);
// Moves the read position to byte offset of the data file (binary or text);
// 0 or -1.
int Fio_seek_rec(FIO_ACCESS* a, long offset);
// Binary: appends size bytes (a record, or any piece) to the temporary file.
void Fio_write_rec(FIO_ACCESS* a, const void* rec, int size);
// Binary, FIO_IN_PLACE: writes size bytes at byte offset of the data file,
// leaving the read position where it was. 0, or -1 (nothing or part written).
int Fio_write_at(FIO_ACCESS* a, long offset, const void* bytes, int size);
// Binary: appends everything of the data file from the read position to its
// end to the temporary file (in large pieces, or inside the kernel where it
// can); a trailing piece shorter than rec_size bytes (a damaged file) is left
// behind. The read position ends at the end of the file.
void Fio_copy_rest(FIO_ACCESS* a, int rec_size);

// Ends the access with the store's result: commits a rewrite when result is 0
// (a commit that fails turns the result into -2, a lock found lost into -9,
// and either leaves the old file), discards it otherwise, closes every file
// and releases a lock this access took. A read of the data file that failed
// turns any result into -2 (what was read may be a part only) and commits
// nothing. Returns the final result.
int Fio_close(FIO_ACCESS* a, int result);
