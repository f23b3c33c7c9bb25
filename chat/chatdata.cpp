// The message store of a room: chatdata.dat holds fixed 408-byte records,
// newest first, rewritten whole through the locked rewrite of the store layer.
#include "chat/chatdata.h"

#include <cstdio>
#include <cstring>

#include "chat/chatuser.h"
#include "store/cust.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

const char DATA_FILE[] = "chatdata.dat";
const char LOCK_FILE[] = "chatdata.chk";

// Records read from a file may lack their terminators (a damaged file, or one
// written by a careless program); every text field is ended within its width
// before the pages print it as text, so no reader runs past the record.
void terminate_fields(CHAT_DATA_DAT* rec) {
    rec->USER_ID[sizeof rec->USER_ID - 1] = '\0';
    rec->USER_NAME[sizeof rec->USER_NAME - 1] = '\0';
    rec->WRITE_DATE[sizeof rec->WRITE_DATE - 1] = '\0';
    rec->COLOR[sizeof rec->COLOR - 1] = '\0';
    rec->CTALK[sizeof rec->CTALK - 1] = '\0';
}

// A record as every read hands it out: fields ended, an empty COLOR as the
// colour that an empty one means.
void prepare_read(CHAT_DATA_DAT* rec) {
    terminate_fields(rec);
    chat_color_or_default(rec->COLOR);
}

}  // namespace

int Fio_CHAT_DATA_DAT(const CHAT_DATA_DAT& rec) {
    FIO_ACCESS a;
    int r = chat_open(&a, rec.FOLDER_NO, DATA_FILE, LOCK_FILE, FIO_REWRITE);
    if (r != FIO_OK) return r;

    CHAT_DATA_DAT line = rec;
    std::memset(line.pad_, 0, sizeof line.pad_);
    // Readers take the first zero MODE as the end of the list, so a writer
    // whose personal settings say MODE 0 would hide every older line: such a
    // record is stored as an ordinary account's.
    if (line.MODE == 0) line.MODE = 1;
    Fio_write_rec(&a, &line, sizeof line);
    // The old records follow unchanged; a trailing piece shorter than a
    // record (a damaged file) is left behind.
    Fio_copy_rest(&a, sizeof line);
    return Fio_close(&a, FIO_OK);
}

int Fio_CHAT_DATA_post(int folder_no, int mode, const char* user_id, const char* chat_name, const char* stamp,
                       const char* color, const char* text) {
    CHAT_DATA_DAT rec;
    std::memset(&rec, 0, sizeof rec);
    rec.FOLDER_NO = folder_no;
    rec.MODE = mode;
    G_set(rec.USER_ID, user_id);
    G_set(rec.USER_NAME, chat_name);
    G_set(rec.WRITE_DATE, stamp);
    G_set(rec.COLOR, color);
    G_set(rec.CTALK, text);
    return Fio_CHAT_DATA_DAT(rec);
}

int Fio_CHAT_DATA_newest(int in_folder_no, int max, bool (*each)(const CHAT_DATA_DAT& rec, void* arg), void* arg) {
    // Only this program writes the message file, always by one rename of a
    // whole new file: the file as the last post left it is the truth, and a
    // reload never waits for a post at work (nor shows an empty list for it).
    FIO_ACCESS a;
    int r = chat_open(&a, in_folder_no, DATA_FILE, LOCK_FILE, FIO_SNAPSHOT);
    if (r != FIO_OK) return r;
    if (max > CHAT_DATA_READ_MAX) max = CHAT_DATA_READ_MAX;

    // Twenty records a read, straight into the piece (see Fio_read); a
    // trailing piece shorter than a record (a damaged file) is no record.
    enum { PIECE = 20 };
    CHAT_DATA_DAT piece[PIECE];
    for (int handed = 0; handed < max;) {
        const int want = max - handed < PIECE ? max - handed : PIECE;
        const int got = Fio_read(&a, piece, static_cast<int>(sizeof(CHAT_DATA_DAT)) * want);
        const int n = got > 0 ? got / static_cast<int>(sizeof(CHAT_DATA_DAT)) : 0;
        for (int i = 0; i < n; ++i) {
            prepare_read(&piece[i]);
            if (!each(piece[i], arg)) return Fio_close(&a, FIO_OK);
        }
        if (n < want) break;  // the end of the file
        handed += n;
    }
    return Fio_close(&a, FIO_OK);
}

namespace {

// Where Fio_CHAT_DATA_DAT100's records go: the next slot of out.
struct INTO_ARRAY {
    CHAT_DATA_DAT* out;
    int n;
};

}  // namespace

int Fio_CHAT_DATA_DAT100(int in_folder_no, CHAT_DATA_DAT out[CHAT_DATA_READ_MAX]) {
    INTO_ARRAY into = {out, 0};
    const int r = Fio_CHAT_DATA_newest(
        in_folder_no, CHAT_DATA_READ_MAX,
        [](const CHAT_DATA_DAT& rec, void* arg) {
            INTO_ARRAY* to = static_cast<INTO_ARRAY*>(arg);
            to->out[to->n++] = rec;
            return true;
        },
        &into);
    if (r != FIO_OK) return r;
    // Only the slots that no record filled are cleared.
    std::memset(out + into.n, 0, sizeof(CHAT_DATA_DAT) * static_cast<std::size_t>(CHAT_DATA_READ_MAX - into.n));
    return r;
}

int Fio_CHAT_DATA_DAT_DEL(int in_folder_no) {
    char dir[FIO_PATH_MAX];
    if (Fio_dir_room(dir, in_folder_no) != 0) return FIO_NOT_FOUND;
    char lock[FIO_PATH_MAX + sizeof LOCK_FILE];
    char data[FIO_PATH_MAX + sizeof DATA_FILE];
    std::snprintf(lock, sizeof lock, "%s%s", dir, LOCK_FILE);
    std::snprintf(data, sizeof data, "%s%s", dir, DATA_FILE);
    // Under the message lock, so no post is at work; and the room must still
    // be empty then: a member who entered after the caller looked has his
    // presence record in place before his entry notice takes this lock.
    if (Fio_xor_control(lock, 1) != 0) return FIO_LOCKED;
    int r = FIO_NOT_FOUND;
    CHAT_USER_IDX members[CHAT_USER_BLOCK];
    if (Fio_CHAT_USER_IDX20(in_folder_no, 0, members) == FIO_OK && members[0].FOLDER_NO == 0)
        r = Cu_remove(data) == 0 ? FIO_OK : FIO_NOT_FOUND;
    Fio_xor_control(lock, 2);
    return r;
}

int Fio_CHAT_DATA_range(int folder_no, long first, int count, CHAT_DATA_DAT* out, int* got, long* total) {
    if (got != nullptr) *got = 0;
    if (total != nullptr) *total = 0;
    if (got == nullptr || total == nullptr || (count > 0 && out == nullptr) || first < 0 || count < 0)
        return FIO_NO_FILE;
    char dir[FIO_PATH_MAX];
    if (Fio_dir_room(dir, folder_no) != 0) return FIO_NO_FILE;
    char path[FIO_PATH_MAX + sizeof DATA_FILE];
    std::snprintf(path, sizeof path, "%s%s", dir, DATA_FILE);
    // Every store opening creates a missing file; this read must not: an
    // emptied room has no file, and a live view looking at it every second
    // would bring it back. So the file is looked for first. (A removal
    // between the look and the opening still leaves an empty file, as the
    // newest-100 read would.)
    CU_FILE_ID id;
    if (Cu_id(path, &id) != 0) {
        char room[FIO_PATH_MAX];
        G_set(room, dir);
        return Cu_id(room, &id) == 0 ? FIO_OK : FIO_NO_FILE;
    }
    FIO_ACCESS a;
    int r = Fio_open(&a, dir, DATA_FILE, LOCK_FILE, FIO_SNAPSHOT, FIO_BINARY);
    if (r != FIO_OK) return r;
    const long size = Cu_b_lseek(a.src_fd, 0, SEEK_END);
    if (size < 0) return Fio_close(&a, FIO_NO_FILE);
    *total = size / static_cast<long>(sizeof(CHAT_DATA_DAT));
    if (count > 0 && first < *total && Fio_seek_rec(&a, first * static_cast<long>(sizeof(CHAT_DATA_DAT))) == 0) {
        while (*got < count && Fio_read_rec(&a, &out[*got], sizeof out[*got])) {
            prepare_read(&out[*got]);
            ++*got;
        }
    }
    return Fio_close(&a, FIO_OK);
}
