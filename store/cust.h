// The file access layer: every access of the program to the file system goes
// through these calls, which first turn each free-standing backslash of a path
// into a slash, in the caller's buffer, and which reach the platform only
// through the table Cu_system.
#pragma once
#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

// The platform's file calls, the only way by which the store layer reaches
// them: one entry per call, filled with the real ones. A test replaces an
// entry (to fail one call, or the nth, with an errno of its choice, or to
// count the calls) and puts the saved table back. The entries are the bare
// calls; the Cu_ functions around them try a call again when a signal
// interrupted it (EINTR), except close, which Linux ends either way.
struct CU_SYSTEM {
    int (*open)(const char* path, int flags, mode_t mode);
    int (*openat)(int dir, const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buf, size_t count);
    ssize_t (*pread)(int fd, void* buf, size_t count, off_t offset);
    ssize_t (*write)(int fd, const void* buf, size_t count);
    ssize_t (*pwrite)(int fd, const void* buf, size_t count, off_t offset);
    off_t (*lseek)(int fd, off_t offset, int whence);
    int (*close)(int fd);
    int (*fsync)(int fd);
    int (*futimens)(int fd, const struct timespec times[2]);
    int (*flock)(int fd, int operation);
    int (*fstat)(int fd, struct stat* st);
    int (*stat)(const char* path, struct stat* st);
    ssize_t (*copy_file_range)(int in_fd, off_t* in_off, int out_fd, off_t* out_off, size_t count,
                               unsigned flags);
    int (*rename)(const char* from, const char* to);
    int (*link)(const char* from, const char* to);
    int (*linkat)(int from_dir, const char* from, int to_dir, const char* to, int flags);
    int (*unlink)(const char* path);
    int (*rmdir)(const char* path);
    int (*mkdir)(const char* path, mode_t mode);
    int (*chmod)(const char* path, mode_t mode);
    DIR* (*opendir)(const char* path);
    struct dirent* (*readdir)(DIR* dir);
    int (*closedir)(DIR* dir);
};
extern CU_SYSTEM Cu_system;

// Converts the path in place (a 0x5C that is the second byte of a double-byte
// character stays). Returns 0.
int Cu_platform_path(char* fname);

// mode 0: open an existing file read-write; otherwise also create it (0600).
// Never truncates. Returns the descriptor or -1.
int Cu_b_open(char* FileName, int mode);
// Creates the file (0600) only if nothing exists at the path, in one step
// (O_CREAT|O_EXCL): uploads, and temporary files where the file system offers
// no unnamed ones, are made this way so that two requests never both believe
// they made the same file. Returns the descriptor, or -1 (errno EEXIST when
// the file was there).
int Cu_b_open_excl(char* FileName);
// Creates a file without a name (O_TMPFILE, 0600) in the directory dir: it
// gets one only from Cu_b_link_unnamed and vanishes with its last descriptor,
// so a process killed before that leaves nothing behind. The descriptor, or
// -1 (errno EOPNOTSUPP, EISDIR or EINVAL where the file system or the kernel
// does not offer such files).
int Cu_b_open_unnamed(char* dir);
// Gives the open file fh (typically an unnamed one) the name in_buff2, which
// fails when that name exists: linkat of /proc/self/fd/<fh> following the
// link, else (where that way is not offered) linkat with AT_EMPTY_PATH. 0, or
// -1 (errno EEXIST when the name was taken; ENOENT, EPERM and others where
// neither way is offered; the file system's own error, EIO or ENOSPC, when
// it failed).
int Cu_b_link_unnamed(int fh, char* in_buff2);
// True for an errno by which the platform says that it does not offer a way
// (a file without a name, the link of one, a copy inside the kernel), which
// another way may replace; false for a failure of the file system itself
// (EIO, ENOSPC, EDQUOT, EROFS...), which no other way mends.
bool Cu_not_offered(int err);
// The platform's read: bytes read, 0 at the end, -1 on an error or a
// negative count.
int Cu_b_read(int fh, void* buff, int in_count);
// Writes all in_count bytes, going on after a short write: in_count, fewer
// when a later write failed, -1 when the first did (or the count is
// negative).
int Cu_b_write(int fh, const void* buff, int in_count);
// Writes in_count bytes at byte offset (pwrite, the position stays): the
// bytes written, or -1.
int Cu_b_pwrite(int fh, const void* buff, int in_count, long offset);
// The platform's lseek (origin 0 from the start): the new position, or -1.
long Cu_b_lseek(int fh, long offset, int origin);
// 0 or -1.
int Cu_b_close(int fh);
// Flushes the file's data to the disk (fsync); 0 or -1.
int Cu_b_sync(int fh);
// The kernel's advisory lock on the whole file (flock): held until the
// descriptor is closed. wait 0 tries once, otherwise blocks. 0 taken, -1 not.
int Cu_b_flock(int fh, int wait);
// Identity of the file behind a descriptor or a path (device and inode), its
// status-change time and size; 0, or -1 when its status cannot be read.
// links gets the number of names the file has (0 once it was removed).
struct CU_FILE_ID {
    unsigned long long dev;
    unsigned long long ino;
    long long ctime;
    long long links;
    long long size;
};
int Cu_b_id(int fh, CU_FILE_ID* id);
int Cu_id(char* FileName, CU_FILE_ID* id);
// Copies count bytes of the file in_fh from byte offset from to the current
// position of out_fh, inside the kernel where it can (copy_file_range), else
// through a 64 KiB buffer; out_fh's position moves on, in_fh's does not.
// The bytes copied (count unless a read or write failed), or -1.
long Cu_b_copy(int in_fh, long from, int out_fh, long count);
// Sets the file's times to now, which also renews its status-change time
// (the age of a lock file); 0 or -1.
int Cu_b_touch(int fh);
// Fills buf with n bytes from the kernel's cryptographic source: getrandom(2),
// or /dev/urandom where the call is unavailable. false when neither gives all.
bool Cu_random(void* buf, std::size_t n);

// Reads the whole file FileName (converted in place) into *out: opened
// read-only, its size asked once and the bytes taken in one read (more
// reads only for a file that grows meanwhile). For the site's small files
// that every request reads whole (zepa.ini, velt.lng), which are then parsed
// in memory. true read (*out holds the bytes), false when the file cannot be
// opened or read (*out empty).
bool Cu_read_all(char* FileName, std::string* out);

// Streams, for the site's own files outside the data stores (zepa.ini,
// velt.lng, mimemap.txt, the operator tool's writes); the stores themselves
// read and write descriptors (store/fileio.h). The file is opened through
// the table; stdio then reads, writes and closes it through the C library.
// Stream open with "r" or "w+"; null on failure. A file that "w+"
// creates is 0600 (data files are readable by their owner only).
FILE* Cu_fopen(char* filename, const char* mode);
// 0 or -1 (also for a null stream).
int Cu_fclose(FILE* stream);
// Flushes the stream's buffer and its file's data to the disk; 0, or -1 when
// any write of the stream failed or the flush failed.
int Cu_fsync(FILE* stream);

// 0 when removed, -1 otherwise.
int Cu_remove(char* in_buff);
// Renames, replacing an existing file of the new name (one rename(2): a
// reader sees either file, never none); 0 or -1.
int Cu_replace(char* in_buff1, char* in_buff2);
// Gives the file in_buff1 the further name in_buff2 (link(2)), which fails
// when in_buff2 exists. 0, or -1 (errno EEXIST when the name was taken).
int Cu_link(char* in_buff1, char* in_buff2);
// Size in bytes, or -1 when the file's status cannot be read.
int Cu_get_filelength(char* FileSRC);
// Creates one directory level (mkdir(2), 0700: only the program's own user
// may look into or add to what it makes, the picture directories included)
// when nothing exists at the path. Never a shell.
void Cu_mkdir(char* in_buff);
// Sets the permission bits given as octal text ("777") with chmod(2); a text
// that is not 1 to 4 octal digits changes nothing. Never a shell.
void Cu_chmod(char* FileDSC, const char* mode);
// Removes the file when its status-change time lies more than in_min minutes
// back of the program's clock (Tm_time). 0 when kept or removed, -1 when
// missing or not removable.
int Cu_removefile1h(char* filename, int in_min);
// Replaces the pattern in filename (a buffer of at least 1000 bytes) by the
// comma-separated names that match it, in directory order; the directory is
// the text up to the last "/" (else the working directory). The list stops
// before a name that would take it past 999 characters. Empty text when
// nothing matches or the directory cannot be opened.
void Cu_filefind(char* filename);
// The names in a directory, one at a time: Cu_opendir (null when it cannot
// be opened), Cu_readdir (the next name, "." and ".." included, or null at
// the end; valid until the next call) and Cu_closedir.
DIR* Cu_opendir(char* dir);
const char* Cu_readdir(DIR* d);
void Cu_closedir(DIR* d);

// Name pattern match (x, x*, *x, *x*): 0 match, -1 otherwise.
int check_name(const char* keyword, const char* name);
// newpath = oldpath + "/" (unless it ends in one) + fname.
void editpath(const char* fname, const char* oldpath, char* newpath);

// Opens picture `name` of the directory dir_path (converted in place) for
// reading, following no symbolic link at either: the directory itself must be
// a directory and not a link to one, and the picture a regular file in it
// (not a link, directory, device or pipe; a pipe never blocks the open).
// name is one entry of the directory: empty or holding '/' is refused.
// Returns a read-only descriptor, or -1.
int Cu_open_picture(char* dir_path, const char* name);
