// The hold of a live poll (see wait.h): the kernel's directory notices
// (inotify) wake it, a look at the file's identity once a second backs them.
#include "live/wait.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "store/cust.h"
#include "store/fileio.h"
#include "store/text.h"

int live_wait_no_inotify = 0;

namespace {

using Clock = std::chrono::steady_clock;

enum { LOOK_EVERY_MS = 1000 };

// What the kernel reports of an entry of the watched directory that may be
// the file's commit: a rename into place, a creation (a link of a new file),
// a removal, a rename away, the end of a write in place.
const uint32_t WATCHED = IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_CLOSE_WRITE | IN_MOVED_FROM;

long long ms_until(Clock::time_point t) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
    return left < 0 ? 0 : static_cast<long long>(left);
}

// The notice descriptor and its watch are the kernel's, not files of the
// stores: they are made, read, polled and closed here directly rather than
// through the file access layer, which has no calls for them. -1 when the
// notices cannot be had (switched off, no inotify, too many watches).
int watch_dir(const char* dir) {
    if (live_wait_no_inotify) return -1;
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return -1;
    if (inotify_add_watch(fd, dir, WATCHED | IN_ONLYDIR) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads every notice waiting on fd. Returns 1 when one may concern file_name
// (its name, a lost notice, or the watch gone with its directory), 0 when none
// does, -1 when the descriptor is of no more use (the watch was removed, or a
// read failed): the caller then goes on with its once-a-second look.
int drain(int fd, const char* file_name) {
    alignas(struct inotify_event) char buf[4096];
    int result = 0;
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? result : -1;
        if (n == 0) return -1;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(struct inotify_event)) <= n;) {
            const struct inotify_event* ev = reinterpret_cast<const struct inotify_event*>(buf + at);
            if (ev->mask & IN_IGNORED) return -1;
            if ((ev->mask & IN_Q_OVERFLOW) || (ev->len > 0 && std::strcmp(ev->name, file_name) == 0)) result = 1;
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
        }
    }
}

}  // namespace

void live_file_id(const char* room_dir, const char* file_name, LIVE_FILE_ID* out) {
    if (out == nullptr) return;
    std::memset(out, 0, sizeof *out);
    if (room_dir == nullptr || file_name == nullptr) return;
    char path[FIO_PATH_MAX + 256];
    const int n = std::snprintf(path, sizeof path, "%s%s", room_dir, file_name);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof path) return;
    CU_FILE_ID id;
    if (Cu_id(path, &id) != 0) return;
    out->exists = 1;
    out->dev = id.dev;
    out->ino = id.ino;
    out->ctime = id.ctime;
    out->size = id.size;
}

bool live_same_file(const LIVE_FILE_ID& a, const LIVE_FILE_ID& b) {
    return a.exists == b.exists && a.dev == b.dev && a.ino == b.ino && a.size == b.size && a.ctime == b.ctime;
}

int live_wait_for_change(const char* room_dir, const char* file_name, const LIVE_FILE_ID& seen, int hold_ms) {
    if (room_dir == nullptr || file_name == nullptr || file_name[0] == '\0') return LIVE_WAIT_ERROR;
    char dir[FIO_PATH_MAX];
    if (std::strlen(room_dir) >= sizeof dir) return LIVE_WAIT_ERROR;
    G_set(dir, room_dir);
    Cu_platform_path(dir);
    if (std::strlen(dir) + std::strlen(file_name) >= FIO_PATH_MAX + 255) return LIVE_WAIT_ERROR;

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(hold_ms < 0 ? 0 : hold_ms);
    LIVE_FILE_ID now;
    live_file_id(dir, file_name, &now);
    if (!live_same_file(now, seen)) return LIVE_WAIT_CHANGED;

    int fd = watch_dir(dir);
    // A commit between the look above and the watch would give no notice:
    // look once more now that the watch stands.
    bool look = fd >= 0;
    Clock::time_point next_look = Clock::now() + std::chrono::milliseconds(LOOK_EVERY_MS);
    int result = LIVE_WAIT_TIMED_OUT;
    for (;;) {
        if (look) {
            live_file_id(dir, file_name, &now);
            if (!live_same_file(now, seen)) {
                result = LIVE_WAIT_CHANGED;
                break;
            }
            look = false;
        }
        const long long left = ms_until(deadline);
        if (left == 0) break;
        long long wait = ms_until(next_look);
        if (wait > left) wait = left;
        if (wait == 0) wait = 1;
        if (fd >= 0) {
            struct pollfd p = {fd, POLLIN, 0};
            const int n = poll(&p, 1, static_cast<int>(wait));
            if (n < 0 && errno != EINTR) {
                close(fd);
                fd = -1;
            } else if (n > 0) {
                const int d = drain(fd, file_name);
                if (d != 0) look = true;
                if (d < 0) {
                    close(fd);
                    fd = -1;
                }
            }
        } else {
            poll(nullptr, 0, static_cast<int>(wait));
        }
        if (ms_until(next_look) == 0) {
            look = true;
            next_look = Clock::now() + std::chrono::milliseconds(LOOK_EVERY_MS);
        }
    }
    if (fd >= 0) close(fd);
    return result;
}

int live_hold_seconds() {
    return G_setting_number(std::getenv("VELT_LIVE_HOLD"), 2, LIVE_HOLD_MIN, LIVE_HOLD_MAX, LIVE_HOLD_DEFAULT);
}
