// The chat stores' records: a line of the message file chatdata.dat and a
// member of the presence index chatuser.idx. Both are stored exactly as laid
// out, so their layout is pinned below. And what the two stores share: the
// opening of a room's record file, and the default colour.
#pragma once
#include <cstddef>
#include <cstdint>

#include "store/fileio.h"
#include "store/text.h"

// One line of talk or notice; chatdata.dat holds them newest first.
struct CHAT_DATA_DAT {
    int32_t FOLDER_NO;
    int32_t MODE;           // non-zero in every record in use
    char USER_ID[22];
    char USER_NAME[82];     // the chat name used
    char WRITE_DATE[20];
    char COLOR[22];         // empty means CHAT_DEFAULT_COLOR
    char CTALK[252];
    char pad_[2];
};
static_assert(sizeof(CHAT_DATA_DAT) == 408, "chatdata.dat record is 408 bytes");
static_assert(offsetof(CHAT_DATA_DAT, MODE) == 4, "chatdata.dat layout");
static_assert(offsetof(CHAT_DATA_DAT, USER_ID) == 8, "chatdata.dat layout");
static_assert(offsetof(CHAT_DATA_DAT, USER_NAME) == 30, "chatdata.dat layout");
static_assert(offsetof(CHAT_DATA_DAT, WRITE_DATE) == 112, "chatdata.dat layout");
static_assert(offsetof(CHAT_DATA_DAT, COLOR) == 132, "chatdata.dat layout");
static_assert(offsetof(CHAT_DATA_DAT, CTALK) == 154, "chatdata.dat layout");

// One member present in a room; chatuser.idx holds them in order of entry.
struct CHAT_USER_IDX {
    int32_t FOLDER_NO;      // non-zero in every record
    int32_t MODE;
    char USER_ID[22];
    char USER_NAME[82];     // the chat name
    char LAST_DATE[20];     // last sign of life
    char COLOR[22];
    char pad_[2];
    int32_t DISP_LINE;
    int32_t RELOAD_TIME;    // seconds; 999 means no automatic reload
};
static_assert(sizeof(CHAT_USER_IDX) == 164, "chatuser.idx record is 164 bytes");
static_assert(offsetof(CHAT_USER_IDX, MODE) == 4, "chatuser.idx layout");
static_assert(offsetof(CHAT_USER_IDX, USER_ID) == 8, "chatuser.idx layout");
static_assert(offsetof(CHAT_USER_IDX, USER_NAME) == 30, "chatuser.idx layout");
static_assert(offsetof(CHAT_USER_IDX, LAST_DATE) == 112, "chatuser.idx layout");
static_assert(offsetof(CHAT_USER_IDX, COLOR) == 132, "chatuser.idx layout");
static_assert(offsetof(CHAT_USER_IDX, DISP_LINE) == 156, "chatuser.idx layout");
static_assert(offsetof(CHAT_USER_IDX, RELOAD_TIME) == 160, "chatuser.idx layout");

// The colour of a name stored without one.
constexpr char CHAT_DEFAULT_COLOR[] = "blue";

// A colour field (of either record, or a page field of the same capacity) as
// it is shown: an empty one becomes CHAT_DEFAULT_COLOR.
inline void chat_color_or_default(char (&color)[sizeof(CHAT_USER_IDX::COLOR)]) {
    if (color[0] == '\0') G_set(color, CHAT_DEFAULT_COLOR);
}

// Opens the record file `file` of room folder_no, guarded by the lock file
// `lock` in the room's directory, for `how` (see Fio_open): Fio_open's
// result, or FIO_NO_FILE when the room has no path.
inline int chat_open(FIO_ACCESS* a, int folder_no, const char* file, const char* lock, int how) {
    char dir[FIO_PATH_MAX];
    if (Fio_dir_room(dir, folder_no) != 0) return FIO_NO_FILE;
    return Fio_open(a, dir, file, lock, how, FIO_BINARY);
}
