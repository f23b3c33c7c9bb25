// The presence index of a room, rewritten whole through the locked rewrite of
// the store layer, and the time-out sweep guarded by chattime.txt.
#include "chat/chatuser.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "chat/chatdata.h"
#include "store/cust.h"
#include "store/datetime.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

const char INDEX_FILE[] = "chatuser.idx";
const char LOCK_FILE[] = "chatuser.chk";   // also guards chattime.txt
const char TIME_FILE[] = "chattime.txt";

// Minutes of silence after which a member is dropped.
const int TIMEOUT_MIN = 5;
// Minutes by which a sign of life may lie ahead of the clock (a member's
// request came a little early by another host's clock) and still keep the
// member: one stamped further ahead was written while the clock ran ahead
// and would otherwise stay listed until the clock caught up.
const int AHEAD_MIN = 10;
// Length of a time stamp.
const int STAMP_LEN = 16;

// Records read from a file may lack their terminators; every text field is
// ended within its width before it is used as text.
void terminate_fields(CHAT_USER_IDX* rec) {
    rec->USER_ID[sizeof rec->USER_ID - 1] = '\0';
    rec->USER_NAME[sizeof rec->USER_NAME - 1] = '\0';
    rec->LAST_DATE[sizeof rec->LAST_DATE - 1] = '\0';
    rec->COLOR[sizeof rec->COLOR - 1] = '\0';
}

// A record is identified by its user id and its chat name, both whole texts.
bool same_member(const CHAT_USER_IDX& a, const CHAT_USER_IDX& b) {
    return std::strncmp(a.USER_ID, b.USER_ID, sizeof a.USER_ID) == 0 &&
           std::strncmp(a.USER_NAME, b.USER_NAME, sizeof a.USER_NAME) == 0;
}

// A member whose last sign of life is older than limit (an empty stamp
// included) or later than ahead has timed out; stamps compare
// chronologically byte for byte.
bool timed_out(const CHAT_USER_IDX& rec, const char* limit, const char* ahead) {
    return std::strncmp(limit, rec.LAST_DATE, sizeof rec.LAST_DATE) > 0 ||
           std::strncmp(rec.LAST_DATE, ahead, sizeof rec.LAST_DATE) > 0;
}

// Replaces chattime.txt of the room by the stamp now (16 characters, no line
// end), under the index lock. 0, -2 or -9.
int write_chattime(const char* dir, const char* now) {
    FIO_ACCESS a;
    int r = Fio_open(&a, dir, TIME_FILE, LOCK_FILE, FIO_REWRITE, FIO_TEXT);
    if (r != FIO_OK) return r;
    char stamp[STAMP_LEN + 1];
    std::snprintf(stamp, sizeof stamp, "%s", now);
    Fio_puts(&a, stamp);
    return Fio_close(&a, FIO_OK);
}

// Hands the index's records, from the access's read position on, to
// each(record) until it returns false. The records come many at a time, so
// a scan of a large room costs a few reads and no call per record; a
// trailing piece shorter than a record (a damaged file), or a read that
// fails, ends the scan.
template <class Each>
void each_record(FIO_ACCESS* a, Each each) {
    enum { PIECE = 24 };  // records per read, within a page
    CHAT_USER_IDX piece[PIECE];
    for (;;) {
        const int got = Fio_read(a, piece, static_cast<int>(sizeof piece));
        const int n = got > 0 ? got / static_cast<int>(sizeof piece[0]) : 0;
        for (int i = 0; i < n; ++i) {
            if (!each(piece[i])) return;
        }
        if (n < PIECE) return;
    }
}

// Puts the notice that member rec was dropped in front of the room's messages.
void post_dropped(int folder_no, const CHAT_USER_IDX& rec, const char* now, const char* notice) {
    // A notice that cannot be written is simply lost.
    Fio_CHAT_DATA_post(folder_no, rec.MODE, rec.USER_ID, rec.USER_NAME, now, rec.COLOR, notice);
}

}  // namespace

int Fio_CHAT_USER_IDX(int op, CHAT_USER_IDX* rec) {
    if (op < STORE_READ || op > STORE_UPDATE || rec == nullptr) return FIO_BAD_ARGUMENT;
    // Only this program writes the index, always by one rename of a whole
    // new file: a read takes the index as the last commit left it and never
    // waits, so a writer at work never makes a member look absent.
    FIO_ACCESS a;
    int r = chat_open(&a, rec->FOLDER_NO, INDEX_FILE, LOCK_FILE, op == STORE_READ ? FIO_SNAPSHOT : FIO_REWRITE);
    if (r != FIO_OK) return r;

    if (op == STORE_READ) {
        // What a caller sees when the member is not present.
        std::memset(rec->LAST_DATE, 0, sizeof rec->LAST_DATE);
        std::memset(rec->COLOR, 0, sizeof rec->COLOR);
        rec->DISP_LINE = 30;
        rec->RELOAD_TIME = 30;
    }
    CHAT_USER_IDX mine = *rec;
    std::memset(mine.pad_, 0, sizeof mine.pad_);

    int result = FIO_NOT_FOUND;
    each_record(&a, [&](const CHAT_USER_IDX& stored) {
        if (!same_member(stored, mine)) {
            if (op != STORE_READ) Fio_write_rec(&a, &stored, sizeof stored);
            return true;
        }
        if (op == STORE_READ) {
            *rec = stored;
            terminate_fields(rec);
            chat_color_or_default(rec->COLOR);
            result = FIO_OK;
            return false;
        }
        if (op == STORE_ADD) {
            result = FIO_EXISTS;
            return false;
        }
        result = FIO_OK;
        if (op == STORE_UPDATE) Fio_write_rec(&a, &mine, sizeof mine);
        return true;
    });
    if (op == STORE_ADD && result == FIO_NOT_FOUND) {
        Fio_write_rec(&a, &mine, sizeof mine);
        result = FIO_OK;
    }
    return Fio_close(&a, result);
}

int Fio_CHAT_USER_IDX_touch(const CHAT_USER_IDX& member) {
    FIO_ACCESS a;
    int r = chat_open(&a, member.FOLDER_NO, INDEX_FILE, LOCK_FILE, FIO_IN_PLACE);
    if (r != FIO_OK) return r;
    const CHAT_USER_IDX mine = member;
    int result = FIO_NOT_FOUND;
    CHAT_USER_IDX rec;
    for (long at = 0; Fio_read_rec(&a, &rec, sizeof rec); at += static_cast<long>(sizeof rec)) {
        if (!same_member(rec, mine)) continue;
        if (Fio_write_at(&a, at + static_cast<long>(offsetof(CHAT_USER_IDX, LAST_DATE)), mine.LAST_DATE,
                         sizeof mine.LAST_DATE) != 0) {
            result = FIO_NO_FILE;
            break;
        }
        result = FIO_OK;
    }
    return Fio_close(&a, result);
}

int Fio_CHAT_USER_IDX20(int in_folder_no, int in_count, CHAT_USER_IDX out[CHAT_USER_BLOCK]) {
    FIO_ACCESS a;
    int r = chat_open(&a, in_folder_no, INDEX_FILE, LOCK_FILE, FIO_SNAPSHOT);
    if (r != FIO_OK) return r;

    std::memset(out, 0, sizeof(CHAT_USER_IDX) * CHAT_USER_BLOCK);
    CHAT_USER_IDX rec;
    // The records before the block are passed over without being read; past
    // the end of the index the block simply stays empty.
    if (in_count > 0 && Fio_seek_rec(&a, static_cast<long>(in_count) * static_cast<long>(sizeof rec)) != 0)
        return Fio_close(&a, FIO_OK);
    for (int n = 0; n < CHAT_USER_BLOCK; ++n) {
        if (!Fio_read_rec(&a, &rec, sizeof rec)) break;
        terminate_fields(&rec);
        chat_color_or_default(rec.COLOR);
        out[n] = rec;
    }
    return Fio_close(&a, FIO_OK);
}

int Fio_CHAT_USER_IDX_each(int in_folder_no, bool (*each)(const CHAT_USER_IDX& rec, void* arg), void* arg) {
    if (each == nullptr) return FIO_BAD_ARGUMENT;
    FIO_ACCESS a;
    const int r = chat_open(&a, in_folder_no, INDEX_FILE, LOCK_FILE, FIO_SNAPSHOT);
    if (r != FIO_OK) return r;
    each_record(&a, [&](const CHAT_USER_IDX& stored) {
        CHAT_USER_IDX rec = stored;
        terminate_fields(&rec);
        chat_color_or_default(rec.COLOR);
        return each(rec, arg);
    });
    return Fio_close(&a, FIO_OK);
}

int Fio_CHAT_TIMEOUT_TXT(int in_folder_no, const char* notice) {
    char now[20] = "";
    Tm_set_date(now);
    char dir[FIO_PATH_MAX];
    if (Fio_dir_room(dir, in_folder_no) != 0) return FIO_NO_FILE;

    // The first request for a room only starts the clock: it drops nobody.
    char time_path[FIO_PATH_MAX + sizeof TIME_FILE];
    std::snprintf(time_path, sizeof time_path, "%s%s", dir, TIME_FILE);
    if (Cu_get_filelength(time_path) < 0) return write_chattime(dir, now);

    // Once a minute per room: a run in this minute already is enough.
    FIO_ACCESS a;
    int r = Fio_open(&a, dir, TIME_FILE, LOCK_FILE, FIO_SNAPSHOT, FIO_TEXT);
    if (r != FIO_OK) return r;
    char line[1000];
    if (!Fio_gets(&a, line, sizeof line)) line[0] = '\0';
    Fio_close(&a, FIO_OK);
    if (std::strlen(line) >= STAMP_LEN && std::memcmp(line, now, STAMP_LEN) == 0) return FIO_OK;

    char limit[20];
    std::memcpy(limit, now, sizeof limit);
    Tm_add_minute(limit, -TIMEOUT_MIN);
    char ahead[20];
    std::memcpy(ahead, now, sizeof ahead);
    Tm_add_minute(ahead, AHEAD_MIN);

    // A plain read first: a minute in which nobody timed out rewrites nothing.
    r = Fio_open(&a, dir, INDEX_FILE, LOCK_FILE, FIO_SNAPSHOT, FIO_BINARY);
    if (r != FIO_OK) return r;
    bool any = false;
    each_record(&a, [&](const CHAT_USER_IDX& member) { return !(any = timed_out(member, limit, ahead)); });
    Fio_close(&a, FIO_OK);

    // All timed-out members leave the index in one rewrite; only once it is in
    // place are their notices posted, so that no notice names a member who is
    // still listed. The index lock is no longer held when the message lock is
    // taken for the notices, so the two locks are never held together.
    int result = FIO_OK;
    std::vector<CHAT_USER_IDX> dropped;
    if (any) {
        r = Fio_open(&a, dir, INDEX_FILE, LOCK_FILE, FIO_REWRITE, FIO_BINARY);
        if (r == FIO_LOCKED) return r;  // chattime.txt stays: the next request tries again
        if (r == FIO_OK) {
            each_record(&a, [&](const CHAT_USER_IDX& member) {
                if (timed_out(member, limit, ahead)) {
                    dropped.push_back(member);
                    terminate_fields(&dropped.back());
                } else {
                    Fio_write_rec(&a, &member, sizeof member);
                }
                return true;
            });
            // Another sweep may have dropped them in the meantime.
            r = Fio_close(&a, dropped.empty() ? FIO_NOT_FOUND : FIO_OK);
            if (dropped.empty()) r = FIO_OK;
        }
        if (r != FIO_OK) {
            // Nobody was removed: nobody is announced, and the next try comes
            // with the next minute's sweep rather than at once.
            dropped.clear();
            result = FIO_NO_FILE;
        }
    }
    for (const CHAT_USER_IDX& member : dropped) post_dropped(in_folder_no, member, now, notice);

    int w = write_chattime(dir, now);
    return result != FIO_OK ? result : w;
}
