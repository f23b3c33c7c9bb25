// Lock files, the locked read-or-rewrite of a data file shared by every record
// store (and its whole-line handling), the file move of uploaded pictures, and
// the data path builders.
#include "store/fileio.h"

#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

#include "store/cust.h"
#include "store/datetime.h"
#include "store/text.h"

int Fio_lock_wait_of(const char* text) { return G_setting_number(text, 4, 1, 9000, 4000); }

int Fio_lock_wait_ms = Fio_lock_wait_of(std::getenv("VELT_LOCK_WAIT_MS"));
int Fio_named_temporaries = 0;

namespace {

// A lock older than this belongs to a request that ended without releasing
// it, unless a live process still holds its kernel lock.
const long long STALE_SECONDS = 60;
// A holder renews its lock file's age at most this often, while it writes.
const long long RENEW_SECONDS = 10;
// Bytes written between two looks at the clock for the renewal.
const long long RENEW_BYTES = 1 << 20;
// A temporary file younger than this may still be between its creation and
// its maker's kernel lock (see temp_dead).
const long long YOUNG_SECONDS = 2;
// First and longest sleep between two looks at a held lock.
const int FIRST_STEP_MS = 2;
const int LONGEST_STEP_MS = 100;

// Locks taken with Fio_xor_control mode 1, until their release.
const int HELD_MAX = 8;
FIO_LOCK g_held[HELD_MAX];

long long monotonic_ms() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Sleeps about step milliseconds (between half and one and a half times, so
// that waiters who met the same holder do not all look again at once), never
// past the deadline.
void sleep_step(int step, long long deadline) {
    unsigned char r = 0;
    Cu_random(&r, 1);
    long long ms = step / 2 + (static_cast<long long>(step) * r) / 255;
    const long long left = deadline - monotonic_ms();
    if (ms > left) ms = left;
    if (ms < 1) ms = 1;
    struct timespec ts = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

int next_step(int step) { return step * 2 > LONGEST_STEP_MS ? LONGEST_STEP_MS : step * 2; }

// This machine's name, as marks carry it.
const char* host_name() {
    static char name[64];
    if (name[0] == '\0' && (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0'))
        std::snprintf(name, sizeof name, "localhost");
    return name;
}

// Fills mark with a value that no other lock holder has.
void make_mark(char* mark) {
    unsigned char r[8] = {};
    Cu_random(r, sizeof r);
    char hex[17];
    for (int i = 0; i < 8; ++i) std::snprintf(hex + 2 * i, 3, "%02x", r[i]);
    std::snprintf(mark, FIO_MARK_CAP, FIO_MARK_PREFIX "%s %ld %s\n", host_name(), static_cast<long>(getpid()), hex);
}

// Reads the text of the lock file fd (a mark, FIO_MARK_CAP bytes at most with
// its zero) into text: its length, or -1 (text empty) when it cannot be read.
int read_mark(int fd, char* text) {
    const int n = Cu_b_read(fd, text, FIO_MARK_CAP - 1);
    text[n > 0 ? n : 0] = '\0';
    return n;
}

// True for a mark that this program wrote on this machine.
bool mark_of_this_host(const char* text) {
    char expect[FIO_MARK_CAP];
    std::snprintf(expect, sizeof expect, FIO_MARK_PREFIX "%s ", host_name());
    return std::strncmp(text, expect, std::strlen(expect)) == 0;
}

// Joins two or three texts into out (FIO_PATH_MAX bytes); false when the
// result would not fit (out is then empty).
bool join(char* out, const char* a, const char* b, const char* c = "") {
    const std::size_t na = std::strlen(a), nb = std::strlen(b), nc = std::strlen(c);
    if (na + nb + nc >= FIO_PATH_MAX) {
        out[0] = '\0';
        return false;
    }
    // Every store call builds its paths here: copies, not a formatting.
    std::memmove(out, a, na);
    std::memcpy(out + na, b, nb);
    std::memcpy(out + na + nb, c, nc);
    out[na + nb + nc] = '\0';
    return true;
}

// The directory part of path (up to and with its last '/'; "" for none) into
// out (FIO_PATH_MAX bytes). A '/' is never the second byte of a double-byte
// character, so the last one is a separator.
void dir_of(char* out, const char* path) {
    const char* slash = std::strrchr(path, '/');
    const std::size_t n = slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
    std::memcpy(out, path, n);
    out[n] = '\0';
}

// A temporary name of this request's own beside base: base + ".<process
// id>.<random hex>.tmp", into out (FIO_PATH_MAX bytes). false when it would
// not fit.
bool unique_tmp(char* out, const char* base) {
    unsigned char r[4] = {};
    Cu_random(r, sizeof r);
    char tail[40];
    std::snprintf(tail, sizeof tail, ".%ld.%02x%02x%02x%02x.tmp", static_cast<long>(getpid()), r[0], r[1], r[2], r[3]);
    return join(out, base, tail);
}

// True for a name of that form: "<something>.<decimal pid>.<8 hex>.tmp".
bool temp_form(const char* name) {
    const std::size_t n = std::strlen(name);
    if (n < 16 || std::strcmp(name + n - 4, ".tmp") != 0) return false;
    const char* hex = name + n - 12;
    for (int i = 0; i < 8; ++i)
        if (hex[i] == '\0' || std::strchr("0123456789abcdefABCDEF", hex[i]) == nullptr) return false;
    const char* dot = hex - 1;
    if (*dot != '.') return false;
    const char* digits = dot;
    while (digits > name && digits[-1] >= '0' && digits[-1] <= '9') --digits;
    return digits < dot && digits - 1 > name && digits[-1] == '.';
}

// Whether files without a name can be made and then linked here: unknown
// until this process's first lock shows it, and off for good once such a
// file failed where a named one worked.
enum { UNNAMED_UNKNOWN, UNNAMED_WORKS, UNNAMED_OFF };
int g_unnamed = UNNAMED_UNKNOWN;

// Opens a fresh temporary file of this request's own beside base,
// exclusively (0600) under the name in out. The descriptor, or -1.
int open_unique_tmp(char* out, const char* base) {
    for (int tries = 0; tries < 8; ++tries) {
        if (!unique_tmp(out, base)) return -1;
        int fd = Cu_b_open_excl(out);
        if (fd != -1 || errno != EEXIST) return fd;
    }
    return -1;
}

// Makes a temporary file of this request's own beside base (0600) that holds
// its maker's kernel lock (flock) for its whole life: a file of the form
// above whose kernel lock can be taken has no live maker. With unnamed set,
// and where the file system offers it, the file has no name (*named false;
// out holds the name it is to take): a process killed before it is named
// leaves nothing. Otherwise (and where unnamed files are not offered) it is
// created exclusively under the name in out (*named true) and locked right
// after. A failure of the file system itself is no reason to try the other
// way. The descriptor, or -1 (nothing is left).
int temp_open(char* out, const char* base, bool unnamed, bool* named) {
    *named = false;
    if (!unique_tmp(out, base)) return -1;
    bool unnamed_failed = false;
    if (unnamed && Fio_named_temporaries == 0 && g_unnamed != UNNAMED_OFF) {
        char dir[FIO_PATH_MAX];
        dir_of(dir, base);
        const int fd = Cu_b_open_unnamed(dir);
        if (fd != -1) {
            // Nobody else can know the file yet: the lock is free, and only a
            // failing file system refuses it.
            if (Cu_b_flock(fd, 1) == 0) return fd;
            Cu_b_close(fd);
            return -1;
        }
        if (!Cu_not_offered(errno)) return -1;
        unnamed_failed = true;
    }
    const int fd = open_unique_tmp(out, base);
    if (fd == -1) return -1;
    // A named file without its kernel lock would pass for a dead maker's.
    if (Cu_b_flock(fd, 1) != 0) {
        Cu_remove(out);
        Cu_b_close(fd);
        return -1;
    }
    if (unnamed_failed) g_unnamed = UNNAMED_OFF;
    *named = true;
    return fd;
}

// Gives the unnamed temporary file fd the name in out, or another fresh one
// beside base if that was taken meanwhile. 0 or -1.
int temp_name(int fd, char* out, const char* base) {
    for (int tries = 0; tries < 8; ++tries) {
        if (Cu_b_link_unnamed(fd, out) == 0) return 0;
        if (errno != EEXIST || !unique_tmp(out, base)) return -1;
    }
    return -1;
}

// Judges the file at path (already in the platform's form): FIO_NOT_TEMPORARY
// when its name is not of this program's temporary form, 1 when its maker has died (its
// kernel lock can be taken) and it is not young, else 0. A file younger than
// YOUNG_SECONDS by its status-change time is left: where the file system
// offers no unnamed files its maker creates it under its name and takes its
// kernel lock only a moment later; a file does not tell how it was made, so
// the rule holds for every one (a young leftover goes with a later broken
// lock). A time more than the stale age ahead of the clock is no sign of
// youth. With remove, a dead file is removed while this request holds its
// kernel lock, after checking that the name still leads to it (1 only when
// it was removed).
int temp_dead(char* path, bool remove) {
    const char* slash = std::strrchr(path, '/');
    if (!temp_form(slash == nullptr ? path : slash + 1)) return FIO_NOT_TEMPORARY;
    const int fd = Cu_b_open(path, 0);
    if (fd == -1) return 0;
    bool dead = false;
    CU_FILE_ID mine, named;
    if (Cu_b_flock(fd, 0) == 0 && Cu_b_id(fd, &mine) == 0 && mine.links > 0) {
        const long long now = static_cast<long long>(Tm_time());
        const bool young = mine.ctime >= now - YOUNG_SECONDS && mine.ctime <= now + STALE_SECONDS;
        dead = !young && Cu_id(path, &named) == 0 && named.dev == mine.dev && named.ino == mine.ino;
        if (dead && remove) dead = Cu_remove(path) == 0;
    }
    Cu_b_close(fd);
    return dead ? 1 : 0;
}

// Removes the dead temporary files of this program (temp_dead) in directory
// dir (ending in '/', or "" for the working directory). Returns how many.
int remove_dead_temps(char* dir) {
    DIR* d = Cu_opendir(dir);
    if (d == nullptr) return 0;
    int removed = 0;
    char path[FIO_PATH_MAX];
    for (const char* name = Cu_readdir(d); name != nullptr; name = Cu_readdir(d)) {
        if (temp_form(name) && join(path, dir, name) && temp_dead(path, true) == 1) ++removed;
    }
    Cu_closedir(d);
    return removed;
}

// Looks at the lock file at path and, when nobody can be holding it any more
// and remove is set, removes it: no live process holds its kernel lock, and
// it is older than the stale age, stamped more than the stale age ahead of
// the clock (a clock stepped back, a file server whose clock runs ahead), or
// was made by this program on this machine (whose holder has therefore
// died). The removal happens while this request holds the kernel lock on
// that very file, so two requests that judge the same dead lock cannot
// remove a new one made in between. Whoever breaks a lock also removes the
// temporary files that dead makers left in its directory (lock drafts,
// half-written rewrites). true when the lock is dead (and, with remove, was
// removed).
bool judge_lock(char* path, bool remove) {
    int fd = Cu_b_open(path, 0);
    if (fd == -1) return false;
    bool dead = false;
    CU_FILE_ID mine, named;
    if (Cu_b_flock(fd, 0) == 0 && Cu_b_id(fd, &mine) == 0 && mine.links > 0) {
        char text[FIO_MARK_CAP];
        read_mark(fd, text);
        const long long now = static_cast<long long>(Tm_time());
        const bool old = mine.ctime < now - STALE_SECONDS || mine.ctime > now + STALE_SECONDS;
        dead = (old || mark_of_this_host(text)) && Cu_id(path, &named) == 0 && named.dev == mine.dev &&
               named.ino == mine.ino;
        if (dead && remove) dead = Cu_remove(path) == 0;
    }
    Cu_b_close(fd);
    if (dead && remove) {
        char dir[FIO_PATH_MAX];
        dir_of(dir, path);
        remove_dead_temps(dir);
    }
    return dead;
}

// True when a lock file stands at path (after breaking a dead one). A free
// lock, the common case, costs one failed open.
bool lock_held(char* path) {
    int fd = Cu_b_open(path, 0);
    if (fd == -1) return false;
    Cu_b_close(fd);
    if (!judge_lock(path, true)) return true;
    fd = Cu_b_open(path, 0);
    if (fd == -1) return false;
    Cu_b_close(fd);
    return true;
}

// Waits until no lock stands at path or Fio_lock_wait_ms has passed. true
// when free.
bool wait_free(char* path) {
    const long long deadline = monotonic_ms() + Fio_lock_wait_ms;
    for (int step = FIRST_STEP_MS;; step = next_step(step)) {
        if (!lock_held(path)) return true;
        if (monotonic_ms() >= deadline) return false;
        sleep_step(step, deadline);
    }
}

// Makes l's lock file, not yet under the lock's name: a temporary file
// (temp_open) holding its kernel lock, with l's mark written (a lock file
// without its mark would later look lost to its own holder). The
// descriptor, or -1 (nothing is left).
int draft_open(FIO_LOCK* l, char* draft, bool unnamed, bool* named) {
    const int fd = temp_open(draft, l->path, unnamed, named);
    if (fd == -1) return -1;
    make_mark(l->mark);
    const int len = static_cast<int>(std::strlen(l->mark));
    if (Cu_b_write(fd, l->mark, len) == len) return fd;
    if (*named) Cu_remove(draft);
    Cu_b_close(fd);
    return -1;
}

// Takes the lock at path into l, waiting while another holds it. 0 taken, 1
// still held after the wait, -2 the lock file cannot be made at all (no such
// directory, no permission, a failing file system), which no wait changes.
// The lock file is made complete first (the mark written, the kernel lock
// held), without a name where the file system allows it, else under a
// temporary name of its own, and then given the lock's name by a link, which
// fails when the name exists: test and creation in one step, as an exclusive
// create would be, but no other request ever sees the lock file empty and
// without its holder's kernel lock, and so none can take a fresh lock for a
// dead one, whatever its clock says. An unnamed draft leaves nothing when
// its request is killed while it waits.
int lock_take(FIO_LOCK* l, const char* path) {
    l->fd = -1;
    if (std::snprintf(l->path, sizeof l->path, "%s", path) >= static_cast<int>(sizeof l->path)) return -2;
    char draft[FIO_PATH_MAX];
    bool named = false;
    bool unnamed_failed = false;
    int fd = draft_open(l, draft, true, &named);
    if (fd == -1) return -2;

    int result = 1;
    const long long deadline = monotonic_ms() + Fio_lock_wait_ms;
    for (int step = FIRST_STEP_MS;; step = next_step(step)) {
        if ((named ? Cu_link(draft, l->path) : Cu_b_link_unnamed(fd, l->path)) == 0) {
            result = 0;
            break;
        }
        if (!named && Cu_not_offered(errno)) {
            // An unnamed file cannot be linked here (no /proc, no right to
            // the direct way): the draft is made under a name instead.
            Cu_b_close(fd);
            unnamed_failed = true;
            fd = draft_open(l, draft, false, &named);
            if (fd == -1) return -2;
            continue;
        }
        if (errno != EEXIST) {
            result = -2;
            break;
        }
        if (judge_lock(l->path, true)) continue;
        if (monotonic_ms() >= deadline) break;
        sleep_step(step, deadline);
    }
    if (named) Cu_remove(draft);  // under the draft's kernel lock, still held
    if (result != 0) {
        Cu_b_close(fd);
        return result;
    }
    if (!named) g_unnamed = UNNAMED_WORKS;
    if (unnamed_failed) g_unnamed = UNNAMED_OFF;
    l->fd = fd;
    l->fresh = static_cast<long long>(Tm_time());
    l->unrenewed = 0;
    return 0;
}

// True when the lock file now at l's path is the very file l made (its name
// opened afresh, so that a file system that caches names, NFS, looks again);
// with check_mark, also still carrying l's mark.
bool names_mine(FIO_LOCK* l, bool check_mark) {
    if (l->fd == -1) return false;
    int fd = Cu_b_open(l->path, 0);
    if (fd == -1) return false;
    CU_FILE_ID held, named;
    char text[FIO_MARK_CAP];
    bool same = Cu_b_id(l->fd, &held) == 0 && Cu_b_id(fd, &named) == 0 && held.dev == named.dev &&
                held.ino == named.ino;
    if (same && check_mark) same = read_mark(fd, text) >= 0 && std::strcmp(text, l->mark) == 0;
    Cu_b_close(fd);
    return same;
}

// Removes l's lock file if it is still l's, then lets go of the kernel lock.
void lock_release(FIO_LOCK* l) {
    if (l->fd == -1) return;
    if (names_mine(l, false)) Cu_remove(l->path);
    Cu_b_close(l->fd);
    l->fd = -1;
}

// Counts bytes written under l; a holder that writes for long renews its lock
// file's age, so that programs that judge locks by age alone keep out.
void lock_renew(FIO_LOCK* l, long long bytes) {
    if (l->fd == -1) return;
    l->unrenewed += bytes;
    if (l->unrenewed < RENEW_BYTES) return;
    l->unrenewed = 0;
    const long long now = static_cast<long long>(Tm_time());
    if (now - l->fresh < RENEW_SECONDS) return;
    Cu_b_touch(l->fd);
    l->fresh = now;
}

// The lock at path (in the platform's form) that this process took with
// Fio_xor_control mode 1 and still holds, or null.
FIO_LOCK* held_lock(const char* path) {
    for (FIO_LOCK& l : g_held)
        if (l.fd != -1 && l.path[0] != '\0' && std::strcmp(l.path, path) == 0) return &l;
    return nullptr;
}

}  // namespace

int Fio_temp_dead(char* path, int remove) {
    if (path == nullptr) return FIO_NOT_TEMPORARY;
    Cu_platform_path(path);
    return temp_dead(path, remove != 0);
}

int Fio_remove_dead_temps(char* dir) {
    if (dir == nullptr) return 0;
    Cu_platform_path(dir);
    return remove_dead_temps(dir);
}

int Fio_lock_dead(char* chkfilename, int remove) {
    if (chkfilename == nullptr) return 0;
    Cu_platform_path(chkfilename);
    return judge_lock(chkfilename, remove != 0) ? 1 : 0;
}

int Fio_xor_control(char* chkfilename, int mode) {
    if (chkfilename == nullptr) return 0;
    Cu_platform_path(chkfilename);
    if (mode == 0) return lock_held(chkfilename) ? 1 : 0;
    if (mode == 1) {
        for (FIO_LOCK& l : g_held) {
            if (l.path[0] != '\0') continue;  // a slot in use
            if (lock_take(&l, chkfilename) == 0) return 0;
            l.path[0] = '\0';
            return 1;
        }
        return 1;  // more locks than a request ever holds at once
    }
    if (mode == 2) {
        if (FIO_LOCK* l = held_lock(chkfilename)) {
            lock_release(l);
            l->path[0] = '\0';
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
    // A short name of its own in the destination's directory: a picture's
    // name may already be as long as a name can be. Unnamed until the copy
    // is whole where the file system allows it; either way it holds its
    // kernel lock to the end, so that a copy left by a killed request is
    // known for one.
    char tmp[FIO_PATH_MAX];
    Cu_platform_path(FileDSC);
    const char* slash = std::strrchr(FileDSC, '/');
    const std::string stem = std::string(FileDSC, slash == nullptr ? 0 : slash - FileDSC + 1) + "picture";
    bool named = false;
    int dst = temp_open(tmp, stem.c_str(), g_unnamed == UNNAMED_WORKS, &named);  // 0600: only the program reads pictures
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
        if (Cu_b_write(dst, buf, n) != n) {
            ok = false;
            break;
        }
    }
    // The copy must be on the disk before the source goes: otherwise a crash
    // could leave neither a whole picture nor the upload.
    if (ok && Cu_b_sync(dst) != 0) ok = false;
    Cu_b_close(src);
    if (ok && !named) ok = named = temp_name(dst, tmp, stem.c_str()) == 0;
    if (ok && Cu_replace(tmp, FileDSC) != 0) ok = false;
    // A partial copy is no picture; the upload stays for the clean-up. A
    // named copy goes while its kernel lock is still held.
    if (!ok && named) Cu_remove(tmp);
    Cu_b_close(dst);
    if (!ok) return -1;
    Cu_remove(FileSRC);
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

namespace {
// The settings' own DATA_FILE_PATH field (see Fio_set_data_dir), not a copy.
const char* g_data_dir = "";
}  // namespace

void Fio_set_data_dir(const char* dir) { g_data_dir = dir ? dir : ""; }

int Fio_dir_data(char* out) {
    if (out == nullptr) return -1;
    return join(out, g_data_dir, "") ? 0 : -1;
}

int Fio_dir_room(char* out, int folder_no) {
    if (out == nullptr) return -1;
    char num[16];
    *std::to_chars(num, num + sizeof num - 1, folder_no).ptr = '\0';
    return join(out, g_data_dir, num, "\\") ? 0 : -1;
}

int Fio_dir_user(char* out, const char* user_id) {
    if (out == nullptr) return -1;
    out[0] = '\0';
    if (!Fio_safe_name(user_id)) return -1;
    char tail[FIO_PATH_MAX];
    int n = std::snprintf(tail, sizeof tail, "user\\%s\\", user_id);
    if (n < 0 || n >= static_cast<int>(sizeof tail)) return -1;
    return join(out, g_data_dir, tail) ? 0 : -1;
}

namespace {

// The buffer pairs kept for the whole process (see FIO_RBUF_SIZE): two, for
// the one access a store has open and one it may open meanwhile.
const int SHARED_BUFFERS = 2;
struct FIO_BUFFERS {
    char r[FIO_RBUF_SIZE];
    char w[FIO_WBUF_SIZE];
    char line[FIO_LINE_SIZE];
};
FIO_BUFFERS g_buffers[SHARED_BUFFERS];
bool g_buffers_held[SHARED_BUFFERS];

// Gives the access a buffer pair: a free one of the process's, else one of
// its own. false when there is no memory for one.
bool buffers_take(FIO_ACCESS* a) {
    for (int i = 0; i < SHARED_BUFFERS; ++i) {
        if (g_buffers_held[i]) continue;
        g_buffers_held[i] = true;
        a->buffers = i;
        a->rbuf = g_buffers[i].r;
        a->wbuf = g_buffers[i].w;
        a->line = g_buffers[i].line;
        return true;
    }
    FIO_BUFFERS* own = static_cast<FIO_BUFFERS*>(std::malloc(sizeof(FIO_BUFFERS)));
    if (own == nullptr) return false;
    a->buffers = -1;
    a->rbuf = own->r;
    a->wbuf = own->w;
    a->line = own->line;
    return true;
}

// Gives the access's buffer pair back (nothing when it holds none).
void buffers_give_back(FIO_ACCESS* a) {
    if (a->rbuf == nullptr) return;
    if (a->buffers >= 0) {
        g_buffers_held[a->buffers] = false;
    } else {
        std::free(a->rbuf);  // the pair's start
    }
    a->rbuf = a->wbuf = a->line = nullptr;
}


}  // namespace

int Fio_open(FIO_ACCESS* a, const char* dir, const char* file, const char* lock, int how, int binary) {
    if (a == nullptr) return FIO_NOT_FOUND;
    // The fields only: the buffers are filled before they are read.
    a->data_path[0] = a->tmp_path[0] = a->lock_path[0] = '\0';
    a->how = how == FIO_REWRITE || how == FIO_SNAPSHOT || how == FIO_IN_PLACE ? how : FIO_READ;
    a->binary = binary == FIO_BINARY ? FIO_BINARY : FIO_TEXT;
    a->write_error = a->read_error = 0;
    a->src_fd = a->tmp_fd = -1;
    a->tmp_named = 0;
    a->lock.path[0] = a->lock.mark[0] = '\0';
    a->lock.fd = -1;
    a->lock.fresh = a->lock.unrenewed = 0;
    a->lock_held = 0;
    a->rbuf_pos = a->rbuf_len = a->wbuf_len = 0;
    a->rbuf = a->wbuf = a->line = nullptr;
    a->buffers = -1;
    if (dir == nullptr || file == nullptr || file[0] == '\0') return FIO_NO_FILE;
    if (!join(a->data_path, dir, file)) return FIO_NO_FILE;
    Cu_platform_path(a->data_path);

    const bool guarded = lock != nullptr && lock[0] != '\0';
    if (guarded && a->how != FIO_SNAPSHOT) {
        if (!join(a->lock_path, dir, lock)) return FIO_NO_FILE;
        Cu_platform_path(a->lock_path);
        if (const FIO_LOCK* held = held_lock(a->lock_path)) {
            // The caller's own lock: a rewrite works under it and checks it
            // before its commit through a copy (the same open lock file).
            if (a->how != FIO_READ) a->lock = *held;
            a->lock_held = 1;
        } else if (a->how == FIO_READ) {
            if (!wait_free(a->lock_path)) return FIO_LOCKED;
        } else {
            int taken = lock_take(&a->lock, a->lock_path);
            if (taken == 1) return FIO_LOCKED;
            if (taken != 0) return FIO_NO_FILE;
        }
    }

    // Every store creates a missing data file, empty, even when it only
    // reads; never by truncation, which could empty a file that a writer has
    // just renamed into place.
    a->src_fd = Cu_b_open(a->data_path, 1);
    if (a->src_fd == -1) return Fio_close(a, FIO_NO_FILE);  // closes what is open, releases the lock

    if (a->how == FIO_REWRITE) {
        // A temporary file of the suite's usual name was left by a rewrite
        // that died (nobody else writes it while this access holds the lock).
        char classic[FIO_PATH_MAX];
        if (join(classic, a->data_path, ".tmp")) Cu_remove(classic);
        // Unnamed until its commit where the file system allows it (known
        // from this request's own lock), so that a killed writer leaves none.
        bool named = false;
        a->tmp_fd = temp_open(a->tmp_path, a->data_path, g_unnamed == UNNAMED_WORKS, &named);
        a->tmp_named = named ? 1 : 0;
        if (a->tmp_fd == -1) return Fio_close(a, FIO_NO_FILE);
    }
    if (!buffers_take(a)) return Fio_close(a, FIO_NO_FILE);
    return FIO_OK;
}

namespace {

// Refills the empty read buffer from the data file: 1, 0 at the end, -1 on
// an error (noted in the access).
int refill(FIO_ACCESS* a) {
    a->rbuf_pos = a->rbuf_len = 0;
    const int n = Cu_b_read(a->src_fd, a->rbuf, FIO_RBUF_SIZE);
    if (n < 0) a->read_error = 1;
    if (n <= 0) return n;
    a->rbuf_len = n;
    return 1;
}

// Hands out up to cap bytes of the data file through the read buffer: the
// count, 0 at the end, -1 on an error. A piece of FIO_DIRECT_READ bytes or
// more, asked while the buffer is empty, is read straight into out: records
// taken many at a time are neither copied nor held twice.
int buffered_read(FIO_ACCESS* a, char* out, int cap) {
    if (a->rbuf_pos == a->rbuf_len && cap >= FIO_DIRECT_READ) {
        const int n = Cu_b_read(a->src_fd, out, cap);
        if (n < 0) a->read_error = 1;
        return n;
    }
    if (a->rbuf_pos == a->rbuf_len) {
        const int r = refill(a);
        if (r <= 0) return r;
    }
    const int n = cap < a->rbuf_len - a->rbuf_pos ? cap : a->rbuf_len - a->rbuf_pos;
    std::memcpy(out, a->rbuf + a->rbuf_pos, static_cast<std::size_t>(n));
    a->rbuf_pos += n;
    return n;
}

// The read position in the data file as the store sees it.
long logical_pos(FIO_ACCESS* a) {
    const long fd_pos = Cu_b_lseek(a->src_fd, 0, SEEK_CUR);
    return fd_pos < 0 ? -1 : fd_pos - (a->rbuf_len - a->rbuf_pos);
}

// Writes n bytes straight to the temporary file; a failure is noted, and
// after one nothing more is written (the rewrite cannot commit any more).
void write_out(FIO_ACCESS* a, const char* p, std::size_t n) {
    for (std::size_t done = 0; done < n && !a->write_error;) {
        const std::size_t piece = n - done < (1u << 30) ? n - done : (1u << 30);
        if (Cu_b_write(a->tmp_fd, p + done, static_cast<int>(piece)) != static_cast<int>(piece)) {
            a->write_error = 1;
            return;
        }
        done += piece;
    }
}

// Empties the write buffer into the temporary file.
void flush_out(FIO_ACCESS* a) {
    if (a->wbuf_len > 0) write_out(a, a->wbuf, static_cast<std::size_t>(a->wbuf_len));
    a->wbuf_len = 0;
}

// Appends n bytes to the temporary file through the write buffer (a piece
// larger than the buffer goes straight out).
void append_out(FIO_ACCESS* a, const char* p, std::size_t n) {
    if (a->write_error) return;
    if (n > static_cast<std::size_t>(FIO_WBUF_SIZE) - static_cast<std::size_t>(a->wbuf_len)) flush_out(a);
    if (n >= static_cast<std::size_t>(FIO_WBUF_SIZE)) {
        write_out(a, p, n);
        return;
    }
    std::memcpy(a->wbuf + a->wbuf_len, p, n);
    a->wbuf_len += static_cast<int>(n);
}

// True when the access has a temporary file of the given kind (FIO_TEXT or
// FIO_BINARY) to write; a write into any other is a failed write.
bool writable(FIO_ACCESS* a, int kind) {
    if (a->tmp_fd != -1 && a->binary == kind) return true;
    a->write_error = 1;
    return false;
}

}  // namespace

int Fio_gets(FIO_ACCESS* a, char* buf, int cap) {
    if (a == nullptr || a->src_fd == -1 || a->binary != FIO_TEXT || buf == nullptr || cap < 2) return 0;
    int n = 0;
    while (n < cap - 1) {
        if (a->rbuf_pos == a->rbuf_len) {
            const int r = refill(a);
            if (r < 0) return 0;  // as fgets: an error ends the reading, whatever came before
            if (r == 0) break;
        }
        const char* from = a->rbuf + a->rbuf_pos;
        const int held = a->rbuf_len - a->rbuf_pos;
        int take = cap - 1 - n < held ? cap - 1 - n : held;
        const void* lf = std::memchr(from, '\n', static_cast<std::size_t>(take));
        if (lf != nullptr) take = static_cast<int>(static_cast<const char*>(lf) - from) + 1;
        std::memcpy(buf + n, from, static_cast<std::size_t>(take));
        n += take;
        a->rbuf_pos += take;
        if (lf != nullptr) break;
    }
    if (n == 0) return 0;
    buf[n] = '\0';
    return 1;
}

void Fio_puts(FIO_ACCESS* a, const char* text) {
    if (a == nullptr || text == nullptr) return;
    const std::size_t n = std::strlen(text);
    if (writable(a, FIO_TEXT)) append_out(a, text, n);
    lock_renew(&a->lock, static_cast<long long>(n));
}

void Fio_printf(FIO_ACCESS* a, const char* format, ...) {
    if (a == nullptr || format == nullptr || !writable(a, FIO_TEXT)) return;
    va_list ap;
    va_start(ap, format);
    va_list again;
    va_copy(again, ap);
    // Formatted straight into the write buffer; a text that does not fit in
    // what is left is formatted again after a flush (or, larger than the
    // whole buffer, into a string of its own).
    const std::size_t room = static_cast<std::size_t>(FIO_WBUF_SIZE) - static_cast<std::size_t>(a->wbuf_len);
    const int n = std::vsnprintf(a->wbuf + a->wbuf_len, room, format, ap);
    va_end(ap);
    if (n < 0) {
        a->write_error = 1;
    } else if (static_cast<std::size_t>(n) < room) {
        if (!a->write_error) a->wbuf_len += n;
    } else {
        flush_out(a);
        if (static_cast<std::size_t>(n) < static_cast<std::size_t>(FIO_WBUF_SIZE)) {
            std::vsnprintf(a->wbuf, static_cast<std::size_t>(FIO_WBUF_SIZE), format, again);
            if (!a->write_error) a->wbuf_len = n;
        } else {
            std::string text(static_cast<std::size_t>(n) + 1, '\0');
            std::vsnprintf(&text[0], text.size(), format, again);
            append_out(a, text.data(), static_cast<std::size_t>(n));
        }
    }
    va_end(again);
    lock_renew(&a->lock, n < 0 ? 0 : n);
}

namespace {

// True when a piece read into a buffer of cap bytes is followed by more of
// the same line. (A shorter piece without a line feed ends the file, or held
// a zero byte, after which Fio_gets still read up to the line feed.)
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
    if (a == nullptr || buf == nullptr || cap <= 0 || a->src_fd == -1) return -1;
    char* out = static_cast<char*>(buf);
    int got = 0;
    while (got < cap) {
        const int n = buffered_read(a, out + got, cap - got);
        if (n < 0 && got == 0) return -1;
        if (n <= 0) break;
        got += n;
    }
    return got;
}

int Fio_read_rec(FIO_ACCESS* a, void* rec, int size) {
    if (a == nullptr || a->binary != FIO_BINARY || size <= 0) return 0;
    return Fio_read(a, rec, size) == size ? 1 : 0;  // less: the end, an error, or a partial record
}

int Fio_seek_rec(FIO_ACCESS* a, long offset) {
    if (a == nullptr || offset < 0 || a->src_fd == -1) return -1;
    a->rbuf_pos = a->rbuf_len = 0;
    return Cu_b_lseek(a->src_fd, offset, SEEK_SET) == offset ? 0 : -1;
}

void Fio_write_rec(FIO_ACCESS* a, const void* rec, int size) {
    if (a == nullptr || rec == nullptr || size < 0) return;
    if (!writable(a, FIO_BINARY)) return;
    append_out(a, static_cast<const char*>(rec), static_cast<std::size_t>(size));
    lock_renew(&a->lock, size);
}

int Fio_write_at(FIO_ACCESS* a, long offset, const void* bytes, int size) {
    if (a == nullptr || a->how != FIO_IN_PLACE || a->binary != FIO_BINARY || a->src_fd == -1 || bytes == nullptr ||
        size < 0 || offset < 0)
        return -1;
    return Cu_b_pwrite(a->src_fd, bytes, size, offset) == size ? 0 : -1;
}

void Fio_copy_rest(FIO_ACCESS* a, int rec_size) {
    if (a == nullptr || a->src_fd == -1 || a->binary != FIO_BINARY || rec_size <= 0) return;
    if (!writable(a, FIO_BINARY)) return;
    // What the write buffer holds goes first: the copy writes at the file's
    // own position.
    flush_out(a);
    const long pos = logical_pos(a);
    const long end = Cu_b_lseek(a->src_fd, 0, SEEK_END);
    a->rbuf_pos = a->rbuf_len = 0;
    if (pos < 0 || end < 0) {
        a->write_error = 1;
        return;
    }
    long left = end > pos ? (end - pos) - (end - pos) % rec_size : 0;
    // Pieces of a few megabytes, so that a long copy renews its lock.
    const long PIECE = 4L << 20;
    long from = pos;
    while (left > 0 && !a->write_error) {
        const long want = left < PIECE ? left : PIECE;
        const long n = Cu_b_copy(a->src_fd, from, a->tmp_fd, want);
        if (n <= 0) {
            a->write_error = 1;
            break;
        }
        from += n;
        left -= n;
        lock_renew(&a->lock, n);
    }
    Cu_b_lseek(a->src_fd, end, SEEK_SET);
}

int Fio_close(FIO_ACCESS* a, int result) {
    if (a == nullptr) return result;
    if (a->src_fd != -1) Cu_b_close(a->src_fd);
    a->src_fd = -1;
    // What was read may be a part of the file only: no answer and no commit
    // may rest on it.
    if (a->read_error) result = FIO_NO_FILE;

    if (a->tmp_fd != -1) {
        const int fd = a->tmp_fd;
        // The new content must be on the disk before it takes the data
        // file's name: a crash then leaves the old file or the new one,
        // never an empty or partial one.
        bool commit = result == FIO_OK && !a->write_error;
        if (commit) flush_out(a);
        commit = commit && !a->write_error && Cu_b_sync(fd) == 0;
        // The last look at the lock: a writer whose lock was broken and
        // perhaps taken by another must not put its file in place over the
        // other's work.
        bool lost = false;
        if (commit && a->lock.fd != -1 && !names_mine(&a->lock, true)) commit = !(lost = true);
        // An unnamed file takes its temporary name (a rename needs one) only
        // now, and keeps it for no longer than the rename right after.
        if (commit && !a->tmp_named) {
            commit = temp_name(fd, a->tmp_path, a->data_path) == 0;
            a->tmp_named = commit ? 1 : 0;
        }
        // One rename over the data file, without removing it first, so that
        // a reader opens either the old or the new content.
        if (commit && Cu_replace(a->tmp_path, a->data_path) != 0) commit = false;
        // A file that is not put in place is removed while its kernel lock
        // is still held (the close below lets go of it). Whether that
        // removal works or not, the result stays a refusal.
        if (!commit && a->tmp_named) Cu_remove(a->tmp_path);
        Cu_b_close(fd);
        a->tmp_fd = -1;
        a->wbuf_len = 0;
        if (!commit && result == FIO_OK) result = lost ? FIO_LOCKED : FIO_NO_FILE;
    }
    if (!a->lock_held) lock_release(&a->lock);
    buffers_give_back(a);
    return result;
}
