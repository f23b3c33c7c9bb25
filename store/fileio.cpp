// Lock files, the locked read-or-rewrite of a data file shared by every record
// store (and its whole-line handling), the file move of uploaded pictures, and
// the data path builders.
#include "store/fileio.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "settings/sysinfo.h"
#include "store/cust.h"
#include "store/datetime.h"
#include "store/groval.h"

namespace {

// Waits of the lock protocol, in seconds.
const int ACQUIRE_WAIT = 3;
const int RELEASE_WAIT = 1;
const int TRIES = 3;

// One acquisition: 0 taken, 1 held by another request after the retries,
// -2 the lock file cannot be made at all (no such directory, no permission),
// which no amount of waiting changes.
int lock_take(char* chk) {
    for (int i = 0; i < TRIES; ++i) {
        // Test and creation in one step: of two requests that find the lock
        // free at the same moment, only one makes the file.
        int fd = Cu_b_open_excl(chk);
        if (fd != -1) {
            Cu_b_close(fd);
            return 0;
        }
        if (errno != EEXIST) return -2;
        Tm_wait_sec(ACQUIRE_WAIT);
    }
    return 1;
}

// Joins two or three texts into out (FIO_PATH_MAX bytes); false when the
// result would not fit (out is then empty).
bool join(char* out, const char* a, const char* b, const char* c = "") {
    int n = std::snprintf(out, FIO_PATH_MAX, "%s%s%s", a, b, c);
    if (n < 0 || n >= FIO_PATH_MAX) {
        out[0] = '\0';
        return false;
    }
    return true;
}

void release_if_taken(FIO_ACCESS* a) {
    if (a->locked) {
        Fio_xor_control(a->lock_path, 2);
        a->locked = 0;
    }
}

}  // namespace

int Fio_xor_control(char* chkfilename, int mode) {
    if (chkfilename == nullptr) return 0;
    // A lock older than a minute belongs to a request that ended without
    // releasing it (or ran too long): it expires, whatever the mode.
    Cu_removefile1h(chkfilename, 1);

    if (mode == 0) {
        for (int i = 0; i < TRIES; ++i) {
            int fd = Cu_b_open(chkfilename, 0);
            if (fd == -1) return 0;
            Cu_b_close(fd);
        }
        return 1;
    }
    if (mode == 1) return lock_take(chkfilename) == 0 ? 0 : 1;
    if (mode == 2) {
        for (int i = 0; i < TRIES; ++i) {
            if (Cu_remove(chkfilename) == 0) break;
            Tm_wait_sec(RELEASE_WAIT);
        }
    }
    return 0;
}

int Fio_filemove(char* FileSRC, char* FileDSC) {
    if (FileSRC == nullptr || FileDSC == nullptr) return -1;
    // A missing source is a failed move: making it empty and "moving" it would
    // put an empty picture in place and report success.
    int src = Cu_b_open(FileSRC, 0);
    if (src == -1) return -1;
    // The copy is made beside the destination and put in its place by one
    // rename, so a failed copy never costs the picture that stood there.
    char tmp[FIO_PATH_MAX + 8];
    if (std::snprintf(tmp, sizeof tmp, "%s.tmp", FileDSC) >= static_cast<int>(sizeof tmp)) {
        Cu_b_close(src);
        return -1;
    }
    Cu_remove(tmp);
    int dst = Cu_b_open(tmp, 1);
    if (dst == -1) {
        Cu_b_close(src);
        return -1;
    }
    char buf[1000];
    bool ok = true;
    for (;;) {
        int n = Cu_b_read(src, buf, sizeof buf);
        if (n < 0) ok = false;
        if (n <= 0) break;
        for (int done = 0; done < n;) {
            int w = Cu_b_write(dst, buf + done, n - done);
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    // The copy must be on the disk before the source goes: otherwise a crash
    // could leave neither a whole picture nor the upload.
    if (ok && Cu_b_sync(dst) != 0) ok = false;
    if (Cu_b_close(dst) != 0) ok = false;
    Cu_b_close(src);
    if (ok && Cu_replace(tmp, FileDSC) != 0) ok = false;
    if (!ok) {
        // A partial copy is no picture; the upload stays for the clean-up.
        Cu_remove(tmp);
        return -1;
    }
    Cu_remove(FileSRC);
    Cu_chmod(FileDSC, "777");
    return 0;
}

bool Fio_safe_name(const char* name) {
    if (name == nullptr || name[0] == '\0') return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    // '/' is refused as any byte: the platform takes every 0x2F for a
    // separator. A backslash is refused where it stands as a character (the
    // path conversion would make it a separator); the 0x5C second byte of a
    // double-byte character stays an ordinary byte of the name. A name that
    // ends in a lone lead byte would swallow the separator behind it.
    if (std::strchr(name, '/') != nullptr) return false;
    for (int pos = 0; name[pos] != '\0';) {
        int len = G_char_len(name + pos);
        if (len == 1 && name[pos] == '\\') return false;
        if (len == 1 && G_is_lead(static_cast<unsigned char>(name[pos]))) return false;
        pos += len;
    }
    return true;
}

int Fio_dir_data(char* out) {
    if (out == nullptr) return -1;
    return join(out, SYSINFO.DATA_FILE_PATH, "") ? 0 : -1;
}

int Fio_dir_room(char* out, int folder_no) {
    if (out == nullptr) return -1;
    char num[16];
    std::snprintf(num, sizeof num, "%d", folder_no);
    return join(out, SYSINFO.DATA_FILE_PATH, num, "\\") ? 0 : -1;
}

int Fio_dir_user(char* out, const char* user_id) {
    if (out == nullptr) return -1;
    out[0] = '\0';
    if (!Fio_safe_name(user_id)) return -1;
    char tail[FIO_PATH_MAX];
    int n = std::snprintf(tail, sizeof tail, "user\\%s\\", user_id);
    if (n < 0 || n >= static_cast<int>(sizeof tail)) return -1;
    return join(out, SYSINFO.DATA_FILE_PATH, tail) ? 0 : -1;
}

int Fio_open(FIO_ACCESS* a, const char* dir, const char* file, const char* lock, int how, int binary) {
    if (a == nullptr) return FIO_NOT_FOUND;
    std::memset(a, 0, sizeof *a);
    a->src_fd = -1;
    a->tmp_fd = -1;
    a->how = how == FIO_REWRITE ? FIO_REWRITE : FIO_READ;
    a->binary = binary == FIO_BINARY ? FIO_BINARY : FIO_TEXT;
    if (dir == nullptr || file == nullptr || file[0] == '\0') return FIO_NO_FILE;
    if (!join(a->data_path, dir, file) || !join(a->tmp_path, dir, file, ".tmp")) return FIO_NO_FILE;

    const bool guarded = lock != nullptr && lock[0] != '\0';
    if (guarded) {
        if (!join(a->lock_path, dir, lock)) return FIO_NO_FILE;
        // No store waits for a lock that is held: the test answers at once.
        if (Fio_xor_control(a->lock_path, 0) == 1) return FIO_LOCKED;
        if (a->how == FIO_REWRITE) {
            int taken = lock_take(a->lock_path);
            if (taken == 1) return FIO_LOCKED;
            if (taken != 0) return FIO_NO_FILE;
            a->locked = 1;
        }
    }

    // Every store creates a missing data file, empty, even when it only reads.
    if (a->binary == FIO_BINARY) {
        a->src_fd = Cu_b_open(a->data_path, 1);
        if (a->src_fd == -1) {
            release_if_taken(a);
            return FIO_NO_FILE;
        }
    } else {
        a->src = Cu_fopen(a->data_path, "r+");
        if (a->src == nullptr) a->src = Cu_fopen(a->data_path, "w+");
        if (a->src == nullptr) {
            release_if_taken(a);
            return FIO_NO_FILE;
        }
    }

    if (a->how == FIO_REWRITE) {
        // A temporary file left by an interrupted rewrite is replaced.
        Cu_remove(a->tmp_path);
        bool ok;
        if (a->binary == FIO_BINARY) {
            a->tmp_fd = Cu_b_open(a->tmp_path, 1);
            ok = a->tmp_fd != -1 && Cu_b_truncate(a->tmp_fd, 0) == 0;
        } else {
            a->tmp = Cu_fopen(a->tmp_path, "w+");
            ok = a->tmp != nullptr;
        }
        if (!ok) {
            if (a->tmp_fd != -1) {
                Cu_b_close(a->tmp_fd);
                a->tmp_fd = -1;
                Cu_remove(a->tmp_path);
            }
            if (a->src != nullptr) Cu_fclose(a->src);
            if (a->src_fd != -1) Cu_b_close(a->src_fd);
            a->src = nullptr;
            a->src_fd = -1;
            release_if_taken(a);
            return FIO_NO_FILE;
        }
    }
    return FIO_OK;
}

int Fio_gets(FIO_ACCESS* a, char* buf, int cap) {
    if (a == nullptr || a->src == nullptr || buf == nullptr || cap < 2) return 0;
    return std::fgets(buf, cap, a->src) != nullptr ? 1 : 0;
}

void Fio_puts(FIO_ACCESS* a, const char* text) {
    if (a == nullptr || text == nullptr) return;
    if (a->tmp == nullptr || std::fputs(text, a->tmp) < 0) a->write_error = 1;
}

void Fio_printf(FIO_ACCESS* a, const char* format, ...) {
    if (a == nullptr || format == nullptr) return;
    if (a->tmp == nullptr) {
        a->write_error = 1;
        return;
    }
    va_list ap;
    va_start(ap, format);
    if (std::vfprintf(a->tmp, format, ap) < 0) a->write_error = 1;
    va_end(ap);
}

namespace {

// True when a piece read into a buffer of cap bytes is followed by more of
// the same line. (A shorter piece without a line feed ends the file, or held
// a zero byte, after which fgets still read up to the line feed.)
bool goes_on(const char* piece, int cap) {
    std::size_t n = std::strlen(piece);
    return n + 1 == static_cast<std::size_t>(cap) && piece[n - 1] != '\n';
}

bool ends_line(const char* piece) {
    std::size_t n = std::strlen(piece);
    return n > 0 && piece[n - 1] == '\n';
}

// Passes the rest of the line; copies it when keep. Returns true when the
// line's last piece ended with a line feed.
bool pass_rest(FIO_ACCESS* a, const char* piece, int cap, bool keep) {
    char buf[1000];
    bool more = goes_on(piece, cap);
    bool ended = ends_line(piece);
    while (more && Fio_gets(a, buf, sizeof buf)) {
        if (keep) Fio_puts(a, buf);
        more = goes_on(buf, sizeof buf);
        ended = ends_line(buf);
    }
    return ended;
}

}  // namespace

void Fio_skip_line(FIO_ACCESS* a, const char* piece, int cap) { pass_rest(a, piece, cap, false); }

void Fio_copy_line(FIO_ACCESS* a, const char* piece, int cap) {
    Fio_puts(a, piece);
    if (!pass_rest(a, piece, cap, true)) Fio_puts(a, "\n");
}

int Fio_read(FIO_ACCESS* a, void* buf, int cap) {
    if (a == nullptr || buf == nullptr || cap <= 0) return -1;
    if (a->binary == FIO_BINARY) return a->src_fd == -1 ? -1 : Cu_b_read(a->src_fd, buf, cap);
    if (a->src == nullptr) return -1;
    std::size_t n = std::fread(buf, 1, static_cast<std::size_t>(cap), a->src);
    if (n == 0 && std::ferror(a->src)) return -1;
    return static_cast<int>(n);
}

int Fio_read_rec(FIO_ACCESS* a, void* rec, int size) {
    if (a == nullptr || a->src_fd == -1 || rec == nullptr || size <= 0) return 0;
    char* p = static_cast<char*>(rec);
    int got = 0;
    while (got < size) {
        int n = Cu_b_read(a->src_fd, p + got, size - got);
        if (n <= 0) return 0;  // end of file, an error, or a partial record
        got += n;
    }
    return 1;
}

int Fio_seek_rec(FIO_ACCESS* a, long offset) {
    if (a == nullptr || offset < 0) return -1;
    if (a->binary == FIO_BINARY) return (a->src_fd != -1 && Cu_b_lseek(a->src_fd, offset, 0) == offset) ? 0 : -1;
    return Cu_fseek(a->src, offset, SEEK_SET);
}

void Fio_write_rec(FIO_ACCESS* a, const void* rec, int size) {
    if (a == nullptr || rec == nullptr || size < 0) return;
    if (a->tmp_fd == -1) {
        a->write_error = 1;
        return;
    }
    const char* p = static_cast<const char*>(rec);
    for (int done = 0; done < size;) {
        int n = Cu_b_write(a->tmp_fd, p + done, size - done);
        if (n <= 0) {
            a->write_error = 1;
            return;
        }
        done += n;
    }
}

int Fio_close(FIO_ACCESS* a, int result) {
    if (a == nullptr) return result;
    if (a->src != nullptr) Cu_fclose(a->src);
    if (a->src_fd != -1) Cu_b_close(a->src_fd);
    a->src = nullptr;
    a->src_fd = -1;

    const bool has_tmp = a->tmp != nullptr || a->tmp_fd != -1;
    if (has_tmp) {
        bool commit = result == FIO_OK;
        if (commit) {
            // The new content must be on the disk before it takes the data
            // file's name: a crash then leaves the old file or the new one,
            // never an empty or partial one.
            if (a->write_error) commit = false;
            if (a->tmp != nullptr) {
                if (commit && Cu_fsync(a->tmp) != 0) commit = false;
            } else if (commit && Cu_b_sync(a->tmp_fd) != 0) {
                commit = false;
            }
        }
        if (a->tmp != nullptr && Cu_fclose(a->tmp) != 0) commit = false;
        if (a->tmp_fd != -1 && Cu_b_close(a->tmp_fd) != 0) commit = false;
        a->tmp = nullptr;
        a->tmp_fd = -1;
        // One rename over the data file, without removing it first, so that
        // a reader opens either the old or the new content.
        if (commit && Cu_replace(a->tmp_path, a->data_path) != 0) commit = false;
        if (!commit) {
            Cu_remove(a->tmp_path);
            if (result == FIO_OK) result = FIO_NO_FILE;
        }
    }
    release_if_taken(a);
    return result;
}
