// Lock files, the one locked read-or-rewrite of a data file that every record
// store uses (with whole-line reading and copying for the text stores), the
// file move of uploaded pictures, and the data path builders.
#pragma once
#include <cstdio>

// Store results shared by every record store.
enum {
    FIO_OK = 0,
    FIO_NOT_FOUND = -1,  // not found, nothing done, or a bad argument
    FIO_NO_FILE = -2,    // a data or temporary file cannot be opened or created
    FIO_EXISTS = -3,     // an add found the key present
    FIO_LOCKED = -9,     // the lock file is held by another request
};

// Store operations (sql_mode).
enum { SQL_READ = 1, SQL_ADD = 2, SQL_DELETE = 3, SQL_UPDATE = 4 };

// Capacity of a built data path: the data directory (1001 characters at most)
// plus "user\", a user id, "\", a file name and ".tmp".
enum { FIO_PATH_MAX = 1200 };

// Lock protocol on the lock file chkfilename. mode 0 test, 1 acquire (exclusive
// create; up to three tries with 3-second waits), 2 release (up to three tries
// with 1-second waits). Every mode first removes a lock older than 60 seconds.
// Returns 1 when the lock is held by someone else (test) or was not taken
// (acquire), else 0. An acquisition whose lock file cannot be made for any
// reason but its existence (no such directory, no permission) returns 1 at
// once, without waits: nothing is taken, and waiting would change nothing.
int Fio_xor_control(char* chkfilename, int mode);

// Moves FileSRC to FileDSC by copying in pieces of 1000 bytes (flushed to
// disk before the source is removed), then sets the destination's bits to
// 0777. 0 moved; -1 when the source is missing or cannot be opened, the
// destination cannot be created, or the copy fails (any partial destination
// is removed and the source stays).
int Fio_filemove(char* FileSRC, char* FileDSC);

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
//   FIO_READ     tests the lock only (held: -9) and opens the data file,
//                creating it empty when missing (as every store does).
//   FIO_REWRITE  tests and takes the lock, opens the data file likewise and a
//                fresh temporary file "<data file>.tmp". Fio_close with result
//                0 flushes the temporary file to disk and renames it over the
//                data file in one step; any other result removes it and leaves
//                the data file byte for byte as it was.
// Text stores use streams (lines), binary stores descriptors (records).
enum { FIO_READ = 0, FIO_REWRITE = 1 };
enum { FIO_TEXT = 0, FIO_BINARY = 1 };

struct FIO_ACCESS {
    char data_path[FIO_PATH_MAX];
    char tmp_path[FIO_PATH_MAX];
    char lock_path[FIO_PATH_MAX];
    int how;         // FIO_READ or FIO_REWRITE
    int binary;      // FIO_TEXT or FIO_BINARY
    int locked;      // 1 while this access holds the lock
    int write_error; // 1 once a write to the temporary file failed
    FILE* src;       // text: the data file
    FILE* tmp;       // text: the temporary file
    int src_fd;      // binary: the data file, or -1
    int tmp_fd;      // binary: the temporary file, or -1
};

// Opens data file `file` in directory prefix `dir` (see Fio_dir_*), guarded by
// lock file `lock` in the same directory. Returns 0 (the access is open and
// must be closed with Fio_close), -9 (lock held or not taken) or -2 (a file
// could not be opened, the lock file cannot be made, or a path would not fit;
// a lock this call took is released). On a non-zero result the access holds
// nothing and Fio_close need not be called.
// A null or empty `lock` means the caller already holds the lock (the
// presence sweep's delete rewrite): the access then neither tests, takes nor
// releases any lock file. A FIO_READ access never creates or removes a lock
// file (beyond the expiry of a stale one that every test performs).
// Data file and temporary file: text "r+" (else "w+", creating it empty) and a
// fresh "w+" temporary; binary Cu_b_open(path, 1) and a fresh, empty temporary.
int Fio_open(FIO_ACCESS* a, const char* dir, const char* file, const char* lock, int how, int binary);

// Text: reads the next piece of a line into buf (fgets with cap bytes, so a
// longer line comes in pieces). Returns 1, or 0 at the end of the file.
int Fio_gets(FIO_ACCESS* a, char* buf, int cap);
// Reads up to cap bytes of the data file (text or binary) into buf: the
// count read, 0 at the end, -1 on an error. For stores that take a file as
// one text (the room information text).
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
// end of the file or on a partial record (which ends every scan).
int Fio_read_rec(FIO_ACCESS* a, void* rec, int size);
// Moves the read position to byte offset of the data file (binary or text);
// 0 or -1.
int Fio_seek_rec(FIO_ACCESS* a, long offset);
// Binary: appends size bytes (a record, or any piece) to the temporary file.
void Fio_write_rec(FIO_ACCESS* a, const void* rec, int size);

// Ends the access with the store's result: commits a rewrite when result is 0
// (a commit that fails turns the result into -2 and leaves the old file),
// discards it otherwise, closes every file and releases a lock this access
// took. Returns the final result.
int Fio_close(FIO_ACCESS* a, int result);
