// The file access layer: thin wrappers over the platform's file calls, which
// they reach only through the table Cu_system. Every call that takes a path
// first converts it in place from the suite's backslash form to slashes, so
// no data path reaches the platform unconverted.
#include "store/cust.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "store/datetime.h"
#include "store/text.h"

namespace {
// open, openat and copy_file_range as plain functions of fixed arguments.
int sys_open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int sys_openat(int dir, const char* path, int flags, mode_t mode) { return ::openat(dir, path, flags, mode); }
ssize_t sys_copy_file_range(int in_fd, off_t* in_off, int out_fd, off_t* out_off, size_t count, unsigned flags) {
    return ::copy_file_range(in_fd, in_off, out_fd, out_off, count, flags);
}
}  // namespace

CU_SYSTEM Cu_system = {
    sys_open,  sys_openat, ::read,   ::pread,  ::write, ::pwrite, ::lseek,   ::close,   ::fsync,
    ::futimens, ::flock, ::fstat, ::stat,  sys_copy_file_range, ::rename,  ::link,
    ::linkat,  ::unlink,   ::rmdir,  ::mkdir,  ::chmod, ::opendir, ::readdir, ::closedir,
};

namespace {

// Makes the call f again for as long as a signal interrupts it (-1, EINTR):
// an interrupted call did nothing, so trying it again cannot change what it
// does. Not for close, which Linux ends even when it reports EINTR.
template <class F>
auto again(F f) -> decltype(f()) {
    for (;;) {
        const auto r = f();
        if (r != -1 || errno != EINTR) return r;
    }
}

// opendir and readdir the same way (null, EINTR); readdir also gives null
// at the end, which leaves errno alone.
DIR* opendir_again(const char* path) {
    for (;;) {
        DIR* d = Cu_system.opendir(path);
        if (d != nullptr || errno != EINTR) return d;
    }
}

struct dirent* readdir_again(DIR* d) {
    for (;;) {
        errno = 0;
        struct dirent* e = Cu_system.readdir(d);
        if (e != nullptr || errno != EINTR) return e;
    }
}

int stat_again(const char* path, struct stat* st) {
    return again([&] { return Cu_system.stat(path, st); });
}

// Removes a file or an empty directory, as remove(3) does: unlink, and rmdir
// when the path is a directory.
int remove_path(const char* path) {
    if (again([&] { return Cu_system.unlink(path); }) == 0) return 0;
    if (errno != EISDIR) return -1;
    return again([&] { return Cu_system.rmdir(path); }) == 0 ? 0 : -1;
}

}  // namespace

int Cu_platform_path(char* fname) {
    if (fname == nullptr) return 0;
    // One walk by characters: only a backslash that stands as a character of
    // its own is converted; the 0x5C second byte of a double-byte character
    // stays. Every path is converted at every call, so the walk is kept tight.
    for (char* p = fname; *p != '\0'; p += G_char_len(p)) {
        if (*p == '\\') *p = '/';
    }
    return 0;
}

int Cu_b_open(char* FileName, int mode) {
    if (FileName == nullptr) return -1;
    Cu_platform_path(FileName);
    // O_CREAT without O_TRUNC opens an existing file as it is.
    const int flags = mode == 0 ? O_RDWR : O_RDWR | O_CREAT;
    return again([&] { return Cu_system.open(FileName, flags, 0600); });
}

int Cu_b_open_excl(char* FileName) {
    if (FileName == nullptr) return -1;
    Cu_platform_path(FileName);
    return again([&] { return Cu_system.open(FileName, O_RDWR | O_CREAT | O_EXCL, 0600); });
}

int Cu_b_open_unnamed(char* dir) {
    if (dir == nullptr) return -1;
    Cu_platform_path(dir);
    const char* at = dir[0] == '\0' ? "." : dir;
    return again([&] { return Cu_system.open(at, O_TMPFILE | O_RDWR, 0600); });
}

bool Cu_not_offered(int err) {
    switch (err) {
        case ENOENT:      // no /proc; the direct link without its privilege
        case EPERM:
        case EACCES:
        case EINVAL:      // a flag the kernel or the file system does not know
        case EISDIR:      // O_TMPFILE on a kernel that predates it
        case EOPNOTSUPP:  // the file system offers no unnamed files, no copy
        case EXDEV:       // a copy between file systems on an older kernel
        case ENOSYS:
            return true;
        default:
            return false;
    }
}

int Cu_b_link_unnamed(int fh, char* in_buff2) {
    if (in_buff2 == nullptr || fh < 0) return -1;
    Cu_platform_path(in_buff2);
    char self[40];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fh);
    if (again([&] { return Cu_system.linkat(AT_FDCWD, self, AT_FDCWD, in_buff2, AT_SYMLINK_FOLLOW); }) == 0) return 0;
    if (!Cu_not_offered(errno)) return -1;  // the name is taken, or the file system failed
    // No /proc here (a chroot): the direct way, which some kernels keep for
    // privileged processes.
    return again([&] { return Cu_system.linkat(fh, "", AT_FDCWD, in_buff2, AT_EMPTY_PATH); }) == 0 ? 0 : -1;
}

int Cu_b_read(int fh, void* buff, int in_count) {
    if (in_count < 0) return -1;
    return static_cast<int>(again([&] { return Cu_system.read(fh, buff, static_cast<size_t>(in_count)); }));
}

int Cu_b_write(int fh, const void* buff, int in_count) {
    if (in_count < 0) return -1;
    const char* p = static_cast<const char*>(buff);
    int done = 0;
    while (done < in_count) {
        const ssize_t n = again([&] { return Cu_system.write(fh, p + done, static_cast<size_t>(in_count - done)); });
        if (n <= 0) return done > 0 ? done : -1;
        done += static_cast<int>(n);
    }
    return done;
}

int Cu_b_pwrite(int fh, const void* buff, int in_count, long offset) {
    if (in_count < 0 || offset < 0) return -1;
    const char* p = static_cast<const char*>(buff);
    int done = 0;
    while (done < in_count) {
        const ssize_t n = again([&] {
            return Cu_system.pwrite(fh, p + done, static_cast<size_t>(in_count - done), static_cast<off_t>(offset + done));
        });
        if (n <= 0) return done > 0 ? done : -1;
        done += static_cast<int>(n);
    }
    return done;
}

long Cu_b_lseek(int fh, long offset, int origin) {
    return static_cast<long>(again([&] { return Cu_system.lseek(fh, static_cast<off_t>(offset), origin); }));
}

int Cu_b_close(int fh) { return Cu_system.close(fh) == 0 ? 0 : -1; }

int Cu_b_sync(int fh) { return again([&] { return Cu_system.fsync(fh); }) == 0 ? 0 : -1; }

FILE* Cu_fopen(char* filename, const char* mode) {
    if (filename == nullptr || mode == nullptr) return nullptr;
    Cu_platform_path(filename);
    int flags;
    if (std::strcmp(mode, "r") == 0) {
        flags = O_RDONLY;
    } else if (std::strcmp(mode, "w+") == 0) {
        flags = O_RDWR | O_CREAT | O_TRUNC;  // 0600 below: fopen would take 0666 less the umask
    } else {
        return nullptr;
    }
    const int fd = again([&] { return Cu_system.open(filename, flags, 0600); });
    if (fd == -1) return nullptr;
    // From here the C library reads, writes and closes the file itself.
    FILE* f = fdopen(fd, mode);
    if (f == nullptr) Cu_system.close(fd);
    return f;
}

int Cu_b_flock(int fh, int wait) {
    const int how = wait ? LOCK_EX : LOCK_EX | LOCK_NB;
    return again([&] { return Cu_system.flock(fh, how); }) == 0 ? 0 : -1;
}

namespace {
void fill_id(const struct stat& st, CU_FILE_ID* id) {
    id->dev = static_cast<unsigned long long>(st.st_dev);
    id->ino = static_cast<unsigned long long>(st.st_ino);
    id->ctime = static_cast<long long>(st.st_ctime);
    id->links = static_cast<long long>(st.st_nlink);
    id->size = static_cast<long long>(st.st_size);
}
}  // namespace

int Cu_b_id(int fh, CU_FILE_ID* id) {
    struct stat st;
    if (id == nullptr || again([&] { return Cu_system.fstat(fh, &st); }) != 0) return -1;
    fill_id(st, id);
    return 0;
}

int Cu_id(char* FileName, CU_FILE_ID* id) {
    if (FileName == nullptr || id == nullptr) return -1;
    Cu_platform_path(FileName);
    struct stat st;
    if (stat_again(FileName, &st) != 0) return -1;
    fill_id(st, id);
    return 0;
}

long Cu_b_copy(int in_fh, long from, int out_fh, long count) {
    if (count < 0 || from < 0) return -1;
    long done = 0;
    off_t in_off = static_cast<off_t>(from);
    bool in_kernel = true;
    while (done < count) {
        ssize_t n = -1;
        const size_t want = static_cast<size_t>(count - done);
        if (in_kernel) {
            n = again([&] { return Cu_system.copy_file_range(in_fh, &in_off, out_fh, nullptr, want, 0); });
            if (n < 0 && done == 0 && Cu_not_offered(errno)) {
                in_kernel = false;  // not offered here (another file system, an old kernel)
                continue;
            }
        } else {
            static char buf[65536];
            const size_t piece = want < sizeof buf ? want : sizeof buf;
            n = again([&] { return Cu_system.pread(in_fh, buf, piece, in_off); });
            if (n > 0) {
                if (Cu_b_write(out_fh, buf, static_cast<int>(n)) != n) return done > 0 ? done : -1;
                in_off += n;
            }
        }
        if (n <= 0) break;
        done += n;
    }
    return done > 0 || count == 0 ? done : -1;
}

int Cu_b_touch(int fh) { return again([&] { return Cu_system.futimens(fh, nullptr); }) == 0 ? 0 : -1; }

bool Cu_random(void* buf, std::size_t n) {
    unsigned char* p = static_cast<unsigned char*>(buf);
    std::size_t got = 0;
    while (got < n) {
        ssize_t r = getrandom(p + got, n - got, 0);
        if (r > 0) {
            got += static_cast<std::size_t>(r);
        } else if (r < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    if (got == n) return true;

    const int fd = again([] { return Cu_system.open("/dev/urandom", O_RDONLY, 0); });
    if (fd < 0) return false;
    got = 0;
    while (got < n) {
        const ssize_t r = again([&] { return Cu_system.read(fd, p + got, n - got); });
        if (r <= 0) break;
        got += static_cast<std::size_t>(r);
    }
    Cu_system.close(fd);
    return got == n;
}

bool Cu_read_all(char* FileName, std::string* out) {
    out->clear();
    if (FileName == nullptr) return false;
    Cu_platform_path(FileName);
    const int fd = again([&] { return Cu_system.open(FileName, O_RDONLY, 0); });
    if (fd == -1) return false;
    struct stat st;
    const bool sized = again([&] { return Cu_system.fstat(fd, &st); }) == 0;
    // One byte more than the size: a short read then tells the end at once.
    std::size_t cap = (sized && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0) + 1;
    std::size_t got = 0;
    bool ok = true;
    for (;;) {
        out->resize(cap);
        const ssize_t n = again([&] { return Cu_system.read(fd, &(*out)[got], cap - got); });
        if (n < 0) {
            ok = false;
            break;
        }
        got += static_cast<std::size_t>(n);
        if (n == 0 || got < cap) break;
        cap *= 2;  // the file grew since its size was asked
    }
    Cu_system.close(fd);
    out->resize(ok ? got : 0);
    return ok;
}

int Cu_fclose(FILE* stream) {
    if (stream == nullptr) return -1;
    return std::fclose(stream) == 0 ? 0 : -1;
}

int Cu_fsync(FILE* stream) {
    if (stream == nullptr) return -1;
    if (std::fflush(stream) != 0 || std::ferror(stream)) return -1;
    const int fd = fileno(stream);
    return again([&] { return Cu_system.fsync(fd); }) == 0 ? 0 : -1;
}

int Cu_remove(char* in_buff) {
    if (in_buff == nullptr) return -1;
    Cu_platform_path(in_buff);
    return remove_path(in_buff);
}

int Cu_replace(char* in_buff1, char* in_buff2) {
    if (in_buff1 == nullptr || in_buff2 == nullptr) return -1;
    Cu_platform_path(in_buff1);
    Cu_platform_path(in_buff2);
    return again([&] { return Cu_system.rename(in_buff1, in_buff2); }) == 0 ? 0 : -1;
}

int Cu_link(char* in_buff1, char* in_buff2) {
    if (in_buff1 == nullptr || in_buff2 == nullptr) return -1;
    Cu_platform_path(in_buff1);
    Cu_platform_path(in_buff2);
    return again([&] { return Cu_system.link(in_buff1, in_buff2); }) == 0 ? 0 : -1;
}

int Cu_get_filelength(char* FileSRC) {
    if (FileSRC == nullptr) return -1;
    Cu_platform_path(FileSRC);
    struct stat st;
    if (stat_again(FileSRC, &st) != 0) return -1;
    return static_cast<int>(st.st_size);
}

void Cu_mkdir(char* in_buff) {
    if (in_buff == nullptr || in_buff[0] == '\0') return;
    Cu_platform_path(in_buff);
    struct stat st;
    if (stat_again(in_buff, &st) == 0) return;  // a file or directory is there already
    (void)again([&] { return Cu_system.mkdir(in_buff, 0700); });
}

void Cu_chmod(char* FileDSC, const char* mode) {
    if (FileDSC == nullptr || mode == nullptr) return;
    Cu_platform_path(FileDSC);
    // Only plain octal digits are a mode; anything else changes nothing.
    if (mode[0] == '\0' || std::strlen(mode) > 4) return;
    if (std::strspn(mode, "01234567") != std::strlen(mode)) return;
    const mode_t bits = static_cast<mode_t>(std::strtol(mode, nullptr, 8));
    (void)again([&] { return Cu_system.chmod(FileDSC, bits); });
}

int Cu_removefile1h(char* filename, int in_min) {
    if (filename == nullptr) return -1;
    Cu_platform_path(filename);
    struct stat st;
    if (stat_again(filename, &st) != 0) return -1;
    // The status-change time is the file's making (or last write); lock files
    // are never written, so for them it is the moment the lock was taken.
    const time_t limit = Tm_time() - static_cast<time_t>(in_min) * 60;
    if (st.st_ctime >= limit) return 0;
    return remove_path(filename);
}

int check_name(const char* keyword, const char* name) {
    if (keyword == nullptr || name == nullptr) return -1;
    const std::size_t klen = std::strlen(keyword);
    const std::size_t nlen = std::strlen(name);
    const bool first = klen > 0 && keyword[0] == '*';
    const bool last = klen > 1 && keyword[klen - 1] == '*';
    if (klen == 1 && first) return -1;  // a single star alone never matches
    if (first && last) {                // *x*: x anywhere (stars inside are literal)
        std::string_view x(keyword + 1, klen - 2);
        return std::string_view(name).find(x) != std::string_view::npos ? 0 : -1;
    }
    if (first) {  // *x: ends with x, and is longer than x
        const std::size_t xlen = klen - 1;
        if (nlen <= xlen) return -1;
        return std::memcmp(name + nlen - xlen, keyword + 1, xlen) == 0 ? 0 : -1;
    }
    if (last) {  // x*: begins with x
        const std::size_t xlen = klen - 1;
        if (nlen < xlen) return -1;
        return std::memcmp(name, keyword, xlen) == 0 ? 0 : -1;
    }
    if (std::strchr(keyword, '*') != nullptr) return -1;  // a star elsewhere
    return std::strcmp(keyword, name) == 0 ? 0 : -1;
}

void editpath(const char* fname, const char* oldpath, char* newpath) {
    if (newpath == nullptr) return;
    newpath[0] = '\0';
    if (oldpath != nullptr) std::strcpy(newpath, oldpath);
    std::size_t n = std::strlen(newpath);
    if (n == 0 || newpath[n - 1] != '/') std::strcat(newpath, "/");
    if (fname != nullptr) std::strcat(newpath, fname);
}

void Cu_filefind(char* filename) {
    if (filename == nullptr) return;
    Cu_platform_path(filename);

    // Split after the last "/" (found at a character boundary).
    int slash = -1;
    for (int pos = 0; filename[pos] != '\0'; pos += G_char_len(filename + pos))
        if (filename[pos] == '/') slash = pos;
    enum { RESULT_CAP = 1000 };
    const std::size_t flen = std::strlen(filename);
    char* dir = static_cast<char*>(std::malloc(flen + 2));
    char* pattern = static_cast<char*>(std::malloc(flen + 1));
    char* path = static_cast<char*>(std::malloc(flen + 2 + 256));
    char result[RESULT_CAP];
    result[0] = '\0';
    if (dir == nullptr || pattern == nullptr || path == nullptr) {
        std::free(dir);
        std::free(pattern);
        std::free(path);
        filename[0] = '\0';
        return;
    }
    if (slash >= 0) {
        std::memcpy(dir, filename, static_cast<std::size_t>(slash) + 1);
        dir[slash + 1] = '\0';
        std::strcpy(pattern, filename + slash + 1);
    } else {
        std::strcpy(dir, ".");
        std::strcpy(pattern, filename);
    }

    std::size_t used = 0;
    DIR* d = opendir_again(dir);
    if (d != nullptr) {
        for (struct dirent* e = readdir_again(d); e != nullptr; e = readdir_again(d)) {
            if (e->d_ino == 0) continue;
            if (check_name(pattern, e->d_name) != 0) continue;
            editpath(e->d_name, dir, path);
            struct stat st;
            if (stat_again(path, &st) != 0) continue;
            // The result holds at most 999 characters; a name that does not
            // fit ends the list (its file is found again on a later run).
            const std::size_t nlen = std::strlen(e->d_name);
            const std::size_t need = nlen + (used > 0 ? 1 : 0);
            if (used + need > RESULT_CAP - 1) break;
            if (used > 0) result[used++] = ',';
            std::memcpy(result + used, e->d_name, nlen);
            used += nlen;
            result[used] = '\0';
        }
        Cu_system.closedir(d);
    }
    std::memcpy(filename, result, used + 1);
    std::free(dir);
    std::free(pattern);
    std::free(path);
}

int Cu_open_picture(char* dir_path, const char* name) {
    if (dir_path == nullptr || name == nullptr || name[0] == '\0' || std::strchr(name, '/') != nullptr) return -1;
    Cu_platform_path(dir_path);
    const int dir = again([&] { return Cu_system.open(dir_path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0); });
    if (dir == -1) return -1;
    const int fh = again([&] { return Cu_system.openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0); });
    Cu_system.close(dir);
    if (fh == -1) return -1;
    struct stat st;
    if (again([&] { return Cu_system.fstat(fh, &st); }) != 0 || !S_ISREG(st.st_mode)) {
        Cu_system.close(fh);
        return -1;
    }
    return fh;
}

DIR* Cu_opendir(char* dir) {
    if (dir == nullptr) return nullptr;
    Cu_platform_path(dir);
    return opendir_again(dir[0] == '\0' ? "." : dir);
}

const char* Cu_readdir(DIR* d) {
    if (d == nullptr) return nullptr;
    struct dirent* e = readdir_again(d);
    return e == nullptr ? nullptr : e->d_name;
}

void Cu_closedir(DIR* d) {
    if (d != nullptr) Cu_system.closedir(d);
}
