// Test support for the storage foundation: a fresh temporary data directory
// per test (DATA_FILE_PATH points into it), file helpers, and the program
// clock put back after each test.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include <sys/resource.h>
#include <csignal>

#include "settings/sysinfo.h"
#include "store/datetime.h"
#include "store/fileio.h"
#include "store/text.h"

namespace store_test {

inline std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_all(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline unsigned mode_of(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return 0xFFFF;
    return st.st_mode & 07777;
}

// A writable copy of a text, for the calls that convert paths in place.
struct Buf {
    char b[4096];
    explicit Buf(const std::string& s) { G_set(b, sizeof b, s.c_str()); }
    operator char*() { return b; }
};

// A held lock is waited for this long in unit tests (the CGI waits seconds).
const int kLockWaitMs = 300;

// While it lives, files this process writes cannot grow past `bytes` (a write
// beyond fails instead of raising SIGXFSZ): a disk that fills up.
struct FileSizeLimit {
    struct rlimit old_limit;
    void (*old_handler)(int);
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_limit);
        old_handler = signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old_limit;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_limit);
        signal(SIGXFSZ, old_handler);
    }
};

class TmpDirTest : public ::testing::Test {
protected:
    std::string dir;  // ends without '/'
    int lock_wait_ms = Fio_lock_wait_ms;  // the program's own, put back after the test
    // The data directory as the store layer reads it, where it stands.
    static inline char data_path[sizeof(SYSINFO_REC::DATA_FILE_PATH)];

    void SetUp() override {
        char tmpl[] = "/tmp/velt-store-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        G_set(data_path, (dir + "/").c_str());
        Fio_set_data_dir(data_path);
        Tm_clock_offset = 0;
        Fio_lock_wait_ms = kLockWaitMs;
    }
    void TearDown() override {
        Tm_clock_offset = 0;
        Fio_lock_wait_ms = lock_wait_ms;
        Fio_named_temporaries = 0;
        std::memset(data_path, 0, sizeof data_path);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string at(const std::string& name) const { return dir + "/" + name; }
};

}  // namespace store_test
