// The floor of a post: nothing but the rewrite a post into a message file of
// 408-byte records needs, timed inside the program (no process start).
//   velt-bench-floor FILE
// Puts one new 408-byte record in front of FILE's records: a new temporary
// file FILE.tmp, the record, an in-kernel copy of the old records, fsync and
// one rename over FILE. Prints "elapsed_us=N" (the rewrite alone) and exits 0;
// any failure prints its cause on standard error and exits 1.
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "chat/records.h"

namespace {

const off_t RECORD_SIZE = sizeof(CHAT_DATA_DAT);

int fail(const char* what) {
    std::fprintf(stderr, "velt-bench-floor: %s: %s\n", what, std::strerror(errno));
    return 1;
}

// Copies count bytes from in to out inside the kernel; falls back to
// sendfile where copy_file_range is refused (another file system, old kernel).
bool copy_in_kernel(int in, int out, off_t count) {
    off_t done = 0;
    while (done < count) {
        ssize_t n = copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(count - done), 0);
        if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
            n = sendfile(out, in, nullptr, static_cast<size_t>(count - done));
        }
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

long long now_us() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: velt-bench-floor FILE\n", stderr);
        return 2;
    }
    const std::string path = argv[1];
    const std::string tmp = path + ".tmp";
    CHAT_DATA_DAT record;
    std::memset(&record, 0, sizeof record);
    record.MODE = 1;
    std::snprintf(record.CTALK, sizeof record.CTALK, "a new line of talk");

    const long long start = now_us();
    const int in = open(path.c_str(), O_RDONLY | O_CREAT, 0600);
    if (in < 0) return fail("open");
    struct stat st;
    if (fstat(in, &st) != 0) return fail("fstat");
    const int out = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0) return fail("create temporary file");
    if (write(out, &record, sizeof record) != static_cast<ssize_t>(sizeof record)) return fail("write");
    const off_t old_records = st.st_size - st.st_size % RECORD_SIZE;
    if (!copy_in_kernel(in, out, old_records)) return fail("copy");
    if (fsync(out) != 0) return fail("fsync");
    if (close(out) != 0) return fail("close");
    close(in);
    if (rename(tmp.c_str(), path.c_str()) != 0) return fail("rename");
    const long long elapsed = now_us() - start;

    std::printf("elapsed_us=%lld\n", elapsed);
    return 0;
}
