// Cursors of the live view and the reads of lines by them (see cursor.h): the
// digests and their text are pure; the reads go through the message store's
// ranged snapshot read, a piece at a time.
#include "live/cursor.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "chat/chatdata.h"
#include "store/fileio.h"

namespace {

uint64_t digest_add(uint64_t h, const CHAT_DATA_DAT& rec) { return live_digest(h, &rec, sizeof rec); }

// Record R[index] of a run (run[0] is R[first], count records), or null.
const CHAT_DATA_DAT* in_run(const CHAT_DATA_DAT* run, long first, int count, long index) {
    return index >= first && index < first + count ? &run[index - first] : nullptr;
}

// Index of the s-th record of the window of R[index] (0 the line itself).
long window_at(long index, int s, int kind) { return kind == LIVE_OLDEST ? index - s : index + s; }

bool is_hex(char ch) { return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'); }

int clamp_max(int max) { return max < 1 ? 1 : max > LIVE_LINES_MAX ? LIVE_LINES_MAX : max; }

// --- reading a file that may be rewritten between two reads ------------------

// The reads of one answer must all see the same file. Each ranged read opens
// the file anew, so a post or a trim may come between two of them; every read
// of an attempt therefore checks that the file still holds the number of
// records the attempt began with, and an attempt that finds otherwise starts
// over. (A post and a trim that cancel out in the microseconds between two
// reads would pass; nothing else does.)
enum { RETRY = 100, ATTEMPTS = 4 };

struct ATTEMPT {
    int folder_no;
    long total;  // records of the file the attempt reads; -1 before its first read
};

// Reads R[first .. first+count-1] into out (*got of them). FIO_OK, RETRY
// (the file's record count is not the attempt's) or FIO_NO_FILE.
int read_run(ATTEMPT* at, long first, int count, CHAT_DATA_DAT* out, int* got) {
    long total = 0;
    const int r = Fio_CHAT_DATA_range(at->folder_no, first, count, out, got, &total);
    if (r != FIO_OK) return r;
    if (at->total < 0) at->total = total;
    if (total != at->total) return RETRY;
    return FIO_OK;
}

// Finds the line of cursor c of kind `kind` in the file as this attempt sees
// it (T records): first at index T - Q (where posts since have moved the
// line; clamped to 0), then at older ones (where a trim moved it) up to
// LIVE_SCAN_MAX records. FIO_OK: *index is its index and *now its renewed
// cursor; for a Q of 0 (the room was empty) *index is T, every record being
// newer. LIVE_GONE, RETRY, or a result of the reads (FIO_NO_FILE).
int locate_once(ATTEMPT* at, const LIVE_CURSOR& c, int kind, long* index, LIVE_CURSOR* now) {
    int got = 0;
    if (at->total < 0) {
        const int r = read_run(at, 0, 0, nullptr, &got);
        if (r != FIO_OK) return r;
    }
    const long total = at->total;
    if (c.q == 0) {
        *index = total;
        *now = LIVE_CURSOR{0, 0};
        return FIO_OK;
    }
    // Posts since the cursor was made put the line at T - Q exactly; a trim
    // since can only have put it further towards the older end.
    const long start = c.q >= total ? 0 : static_cast<long>(total - c.q);
    const long end = total < start + LIVE_SCAN_MAX ? total : start + LIVE_SCAN_MAX;
    const int margin = LIVE_WINDOW - 1;  // a candidate's neighbours on either side
    // Where no trim came between, the line is the first candidate: the first
    // look reads only it and its neighbours (most polls), later looks a piece.
    CHAT_DATA_DAT buf[LIVE_PIECE + 2 * (LIVE_WINDOW - 1)];
    for (long from = start, step = 1; from < end; from += step, step = LIVE_PIECE) {
        const long to = from + step < end ? from + step : end;
        const long first = from - margin < 0 ? 0 : from - margin;
        const int r = read_run(at, first, static_cast<int>(to + margin - first), buf, &got);
        if (r != FIO_OK) return r;
        const long found = live_cursor_find(buf, first, got, total, from, to, c, kind, now);
        if (found >= 0) {
            *index = found;
            return FIO_OK;
        }
    }
    return LIVE_GONE;
}

void clear_answer(LIVE_LINES* out) {
    out->count = 0;
    out->reset = false;
    out->more = false;
    out->cursor[0] = '\0';
    out->oldest[0] = '\0';
}

int newest_once(ATTEMPT* at, int max, LIVE_LINES* out) {
    CHAT_DATA_DAT buf[LIVE_LINES_MAX + LIVE_WINDOW - 1];
    int got = 0;
    // The newest line's window (two older records) lies inside the lines
    // unless there are fewer than three: two more records cover it.
    const int r = read_run(at, 0, max + LIVE_WINDOW - 1, buf, &got);
    if (r != FIO_OK) return r;
    const long total = at->total;
    const int k = total < max ? static_cast<int>(total) : max;
    if (got < k) return RETRY;
    clear_answer(out);
    for (int n = 0; n < k; ++n) out->lines[n] = buf[k - 1 - n];
    out->count = k;
    out->more = total > k;
    if (k == 0) {
        live_cursor_format(LIVE_CURSOR{0, 0}, out->cursor);
        return FIO_OK;
    }
    live_cursor_format(live_cursor_of(buf, 0, got, total, 0, LIVE_NEWEST), out->cursor);
    live_cursor_format(live_cursor_of(buf, 0, got, total, k - 1, LIVE_OLDEST), out->oldest);
    return FIO_OK;
}

int newer_once(ATTEMPT* at, const LIVE_CURSOR& c, int max, LIVE_LINES* out) {
    long i = 0;
    LIVE_CURSOR now;
    int r = locate_once(at, c, LIVE_NEWEST, &i, &now);
    if (r == LIVE_GONE) {
        r = newest_once(at, max, out);
        out->reset = true;
        return r;
    }
    if (r != FIO_OK) return r;
    const long total = at->total;
    clear_answer(out);
    const int k = i < max ? static_cast<int>(i) : max;
    if (k == 0) {
        live_cursor_format(now, out->cursor);
        return FIO_OK;
    }
    // R[i-k] .. R[i-1], the k oldest of the newer lines, and two more for the
    // window of the newest of them.
    CHAT_DATA_DAT buf[LIVE_LINES_MAX + LIVE_WINDOW - 1];
    int got = 0;
    const long first = i - k;
    r = read_run(at, first, k + LIVE_WINDOW - 1, buf, &got);
    if (r != FIO_OK) return r;
    if (got < k) return RETRY;
    for (int n = 0; n < k; ++n) out->lines[n] = buf[k - 1 - n];
    out->count = k;
    live_cursor_format(live_cursor_of(buf, first, got, total, first, LIVE_NEWEST), out->cursor);
    return FIO_OK;
}

int older_once(ATTEMPT* at, const LIVE_CURSOR& c, int max, LIVE_LINES* out) {
    clear_answer(out);
    if (c.q == 0) {  // the page held an empty room: nothing is older
        live_cursor_format(c, out->oldest);
        return FIO_OK;
    }
    long i = 0;
    LIVE_CURSOR now;
    int r = locate_once(at, c, LIVE_OLDEST, &i, &now);
    if (r == LIVE_GONE) {
        out->reset = true;
        return FIO_OK;
    }
    if (r != FIO_OK) return r;
    const long total = at->total;
    const long older = total - 1 - i;
    const int k = older < max ? static_cast<int>(older) : max;
    if (k == 0) {
        live_cursor_format(now, out->oldest);
        return FIO_OK;
    }
    // R[i+1] .. R[i+k], and the newer records of the window of the oldest of
    // them: at most back to R[i-1].
    CHAT_DATA_DAT buf[LIVE_LINES_MAX + LIVE_WINDOW];
    int got = 0;
    const long first = i + 1 - (LIVE_WINDOW - 1) < 0 ? 0 : i + 1 - (LIVE_WINDOW - 1);
    const long last = i + k;
    r = read_run(at, first, static_cast<int>(last - first + 1), buf, &got);
    if (r != FIO_OK) return r;
    if (got < last - first + 1) return RETRY;
    for (int n = 0; n < k; ++n) out->lines[n] = buf[last - n - first];
    out->count = k;
    out->more = last < total - 1;
    live_cursor_format(live_cursor_of(buf, first, got, total, last, LIVE_OLDEST), out->oldest);
    return FIO_OK;
}

// Runs one read of an answer (once(ATTEMPT*)) until it sees one file from
// start to end, at most ATTEMPTS times: its result, or LIVE_BUSY when the
// file was rewritten under every attempt.
template <class F>
int with_attempts(int folder_no, F once) {
    for (int n = 0; n < ATTEMPTS; ++n) {
        ATTEMPT at{folder_no, -1};
        const int r = once(&at);
        if (r != RETRY) return r;
    }
    return LIVE_BUSY;
}

}  // namespace

uint64_t live_digest(uint64_t h, const void* p, unsigned long n) {
    const unsigned char* bytes = static_cast<const unsigned char*>(p);
    for (unsigned long i = 0; i < n; ++i) {
        h ^= bytes[i];
        h *= 0x100000001b3ULL;
    }
    return h;
}

int live_cursor_parse(const char* text, LIVE_CURSOR* out) {
    if (out == nullptr) return LIVE_BAD_CURSOR;
    *out = LIVE_CURSOR{0, 0};
    if (text == nullptr) return LIVE_BAD_CURSOR;
    if (text[0] == '\0') return LIVE_NONE;
    const char* p = text;
    int64_t q = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
        if (digits == 10) return LIVE_BAD_CURSOR;
        q = q * 10 + (*p - '0');
    }
    if (digits == 0 || (digits > 1 && text[0] == '0') || *p != '.') return LIVE_BAD_CURSOR;
    ++p;
    uint64_t d = 0;
    for (int n = 0; n < 16; ++n, ++p) {
        if (!is_hex(*p)) return LIVE_BAD_CURSOR;
        d = (d << 4) | static_cast<uint64_t>(*p <= '9' ? *p - '0' : *p - 'a' + 10);
    }
    if (*p != '\0' || (q == 0 && d != 0)) return LIVE_BAD_CURSOR;
    *out = LIVE_CURSOR{q, d};
    return FIO_OK;
}

void live_cursor_format(const LIVE_CURSOR& c, char (&out)[LIVE_CURSOR_CAP]) {
    std::snprintf(out, sizeof out, "%" PRId64 ".%016" PRIx64, c.q, c.d);
}

LIVE_CURSOR live_cursor_of(const CHAT_DATA_DAT* run, long first, int count, long total, long index, int kind) {
    uint64_t h = live_digest_start;
    for (int s = 0; s < LIVE_WINDOW; ++s) {
        const long at = window_at(index, s, kind);
        const CHAT_DATA_DAT* rec = at >= 0 && at < total ? in_run(run, first, count, at) : nullptr;
        if (rec == nullptr) break;
        h = digest_add(h, *rec);
    }
    return LIVE_CURSOR{static_cast<int64_t>(total - index), h};
}

long live_cursor_find(const CHAT_DATA_DAT* run, long first, int count, long total, long from, long to,
                      const LIVE_CURSOR& c, int kind, LIVE_CURSOR* now) {
    for (long j = from; j < to; ++j) {
        uint64_t h = live_digest_start;
        for (int s = 0; s < LIVE_WINDOW; ++s) {
            const long at = window_at(j, s, kind);
            const CHAT_DATA_DAT* rec = at >= 0 && at < total ? in_run(run, first, count, at) : nullptr;
            if (rec == nullptr) break;
            h = digest_add(h, *rec);
            if (h == c.d) {
                if (now != nullptr) *now = live_cursor_of(run, first, count, total, j, kind);
                return j;
            }
        }
    }
    return -1;
}

int live_newest(int folder_no, int max, LIVE_LINES* out) {
    if (out == nullptr || out->lines == nullptr) return FIO_NOT_FOUND;
    return with_attempts(folder_no, [&](ATTEMPT* at) { return newest_once(at, clamp_max(max), out); });
}

int live_newer(int folder_no, const char* cursor, int max, LIVE_LINES* out) {
    if (out == nullptr || out->lines == nullptr) return FIO_NOT_FOUND;
    LIVE_CURSOR c;
    const int p = live_cursor_parse(cursor, &c);
    if (p == LIVE_BAD_CURSOR) return p;
    return with_attempts(folder_no, [&](ATTEMPT* at) {
        if (p != LIVE_NONE) return newer_once(at, c, clamp_max(max), out);
        const int r = newest_once(at, clamp_max(max), out);
        out->reset = true;
        return r;
    });
}

int live_older(int folder_no, const char* before, int max, LIVE_LINES* out) {
    if (out == nullptr || out->lines == nullptr) return FIO_NOT_FOUND;
    LIVE_CURSOR c;
    const int p = live_cursor_parse(before, &c);
    if (p == LIVE_BAD_CURSOR) return p;
    if (p == LIVE_NONE) {
        clear_answer(out);
        return FIO_OK;
    }
    return with_attempts(folder_no, [&](ATTEMPT* at) { return older_once(at, c, clamp_max(max), out); });
}
