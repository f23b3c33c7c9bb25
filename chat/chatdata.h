// The message store of a room: chatdata.dat, 408-byte records newest first;
// put a record in front, read the newest 100, remove the file.
#pragma once
#include "chat/records.h"

enum { CHAT_DATA_READ_MAX = 100 };

// Puts rec (every field filled by the caller) in front of the file of room
// rec.FOLDER_NO (creating the file when missing). 0 written, -2 a file could
// not be opened or created, -9 the store is locked.
int Fio_CHAT_DATA_DAT(const CHAT_DATA_DAT& rec);

// Makes one line (every field given, the rest zero) and puts it in front of
// room folder_no's file; the result of Fio_CHAT_DATA_DAT.
int Fio_CHAT_DATA_post(int folder_no, int mode, const char* user_id, const char* chat_name, const char* stamp,
                       const char* color, const char* text);

// Reads the newest 100 records of room in_folder_no into out, newest first, an
// empty COLOR read as CHAT_DEFAULT_COLOR; slots without a record are all zero.
// A missing file is created empty. Reads the file as the last post left it,
// never waiting. 0 (possibly nothing read), -2 cannot open (out untouched) or
// read (out holds nothing of use).
int Fio_CHAT_DATA_DAT100(int in_folder_no, CHAT_DATA_DAT out[CHAT_DATA_READ_MAX]);

// The same records handed one at a time, newest first, to each(rec, arg),
// which returns false to stop early; at most max (1 .. CHAT_DATA_READ_MAX).
// The file is read a few records at a time through one small buffer, so a
// page that prints the lines as they come never holds them all. 0, -2 cannot
// open (nothing handed) or a read failed (the records handed before it are
// all there is).
int Fio_CHAT_DATA_newest(int in_folder_no, int max, bool (*each)(const CHAT_DATA_DAT& rec, void* arg), void* arg);

// Removes the message file of a room that nobody is in: under the message
// lock (waited for), and only when the presence index, read under it, is
// empty. -9 the lock is still held after the wait, otherwise 0 removed or -1
// not removed (the file does not exist, or somebody has entered).
int Fio_CHAT_DATA_DAT_DEL(int in_folder_no);

// Reads records first .. first+count-1 of room folder_no's message file,
// counted from the newest (0), into out[0 .. *got), as the last commit left
// the file: never waits for a post at work and never creates the file (a
// missing file is an empty room). *total gets the number of whole records in
// the file (a trailing piece shorter than a record is not counted); count 0
// only counts. Text fields are ended within their widths and an empty COLOR
// reads as "blue", as the newest-100 read gives them. FIO_OK (also for a
// first beyond the end: *got 0), or FIO_NO_FILE (the room's directory is
// missing, or the file cannot be opened).
int Fio_CHAT_DATA_range(int folder_no, long first, int count, CHAT_DATA_DAT* out, int* got, long* total);
