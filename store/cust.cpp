// The file access layer: thin wrappers over the platform's file calls. Every
// call that takes a path first converts it in place from the suite's backslash
// form to slashes, so no data path reaches the platform unconverted.
#include "store/cust.h"

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "store/datetime.h"
#include "store/groval.h"

int yen_to_sura(char* fname) {
    if (fname == nullptr) return 0;
    // G_StrFind only finds a backslash that stands as a character of its own;
    // the 0x5C second byte of a double-byte character stays.
    int pos = 0;
    for (;;) {
        int found = G_StrFind(fname + pos, "\\");
        if (found < 0) break;
        fname[pos + found] = '/';
        pos += found + 1;
    }
    return 0;
}

int Cu_b_open(char* FileName, int mode) {
    if (FileName == nullptr) return -1;
    yen_to_sura(FileName);
    int fd = open(FileName, O_RDWR);
    if (fd == -1 && mode != 0) fd = open(FileName, O_RDWR | O_CREAT, 0600);
    return fd;
}

int Cu_b_open_excl(char* FileName) {
    if (FileName == nullptr) return -1;
    yen_to_sura(FileName);
    return open(FileName, O_RDWR | O_CREAT | O_EXCL, 0600);
}

int Cu_b_read(int fh, void* buff, int in_count) {
    if (in_count < 0) return -1;
    return static_cast<int>(read(fh, buff, static_cast<size_t>(in_count)));
}

int Cu_b_write(int fh, const void* buff, int in_count) {
    if (in_count < 0) return -1;
    return static_cast<int>(write(fh, buff, static_cast<size_t>(in_count)));
}

long Cu_b_lseek(int fh, long offset, int origin) {
    return static_cast<long>(lseek(fh, static_cast<off_t>(offset), origin));
}

int Cu_b_close(int fh) { return close(fh) == 0 ? 0 : -1; }

int Cu_b_truncate(int fh, long length) { return ftruncate(fh, static_cast<off_t>(length)) == 0 ? 0 : -1; }

int Cu_b_sync(int fh) { return fsync(fh) == 0 ? 0 : -1; }

FILE* Cu_fopen(char* filename, const char* mode) {
    if (filename == nullptr || mode == nullptr) return nullptr;
    yen_to_sura(filename);
    return std::fopen(filename, mode);
}

int Cu_fseek(FILE* stream, long offset, int origin) {
    if (stream == nullptr) return -1;
    return std::fseek(stream, offset, origin) == 0 ? 0 : -1;
}

int Cu_fclose(FILE* stream) {
    if (stream == nullptr) return -1;
    return std::fclose(stream) == 0 ? 0 : -1;
}

int Cu_fsync(FILE* stream) {
    if (stream == nullptr) return -1;
    if (std::fflush(stream) != 0 || std::ferror(stream)) return -1;
    return fsync(fileno(stream)) == 0 ? 0 : -1;
}

int Cu_remove(char* in_buff) {
    if (in_buff == nullptr) return -1;
    yen_to_sura(in_buff);
    return std::remove(in_buff) == 0 ? 0 : -1;
}

int Cu_replace(char* in_buff1, char* in_buff2) {
    if (in_buff1 == nullptr || in_buff2 == nullptr) return -1;
    yen_to_sura(in_buff1);
    yen_to_sura(in_buff2);
    return std::rename(in_buff1, in_buff2) == 0 ? 0 : -1;
}

void Cu_rename(char* in_buff1, char* in_buff2) { (void)Cu_replace(in_buff1, in_buff2); }

int Cu_get_filelength(char* FileSRC) {
    if (FileSRC == nullptr) return -1;
    yen_to_sura(FileSRC);
    struct stat st;
    if (stat(FileSRC, &st) != 0) return -1;
    return static_cast<int>(st.st_size);
}

void Cu_mkdir(char* in_buff) {
    if (in_buff == nullptr || in_buff[0] == '\0') return;
    yen_to_sura(in_buff);
    struct stat st;
    if (stat(in_buff, &st) == 0) return;  // a file or directory is there already
    (void)mkdir(in_buff, 0777);
}

void Cu_chmod(char* FileDSC, const char* mode) {
    if (FileDSC == nullptr || mode == nullptr) return;
    yen_to_sura(FileDSC);
    // Only plain octal digits are a mode; anything else changes nothing.
    if (mode[0] == '\0' || std::strlen(mode) > 4) return;
    if (std::strspn(mode, "01234567") != std::strlen(mode)) return;
    long bits = std::strtol(mode, nullptr, 8);
    (void)chmod(FileDSC, static_cast<mode_t>(bits));
}

int Cu_removefile1h(char* filename, int in_min) {
    if (filename == nullptr) return -1;
    yen_to_sura(filename);
    struct stat st;
    if (stat(filename, &st) != 0) return -1;
    // The status-change time is the file's making (or last write); lock files
    // are never written, so for them it is the moment the lock was taken.
    const time_t limit = Tm_time() - static_cast<time_t>(in_min) * 60;
    if (st.st_ctime >= limit) return 0;
    return std::remove(filename) == 0 ? 0 : -1;
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
    yen_to_sura(filename);

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
    std::memset(result, 0, sizeof result);
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
    DIR* d = opendir(dir);
    if (d != nullptr) {
        for (struct dirent* e = readdir(d); e != nullptr; e = readdir(d)) {
            if (e->d_ino == 0) continue;
            if (check_name(pattern, e->d_name) != 0) continue;
            editpath(e->d_name, dir, path);
            struct stat st;
            if (stat(path, &st) != 0) continue;
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
        closedir(d);
    }
    std::memcpy(filename, result, used + 1);
    std::free(dir);
    std::free(pattern);
    std::free(path);
}

void Cu_setmode() {}
