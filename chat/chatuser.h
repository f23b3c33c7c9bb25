// The presence index of a room (chatuser.idx, 164-byte records in order of
// entry), its block read, and the sweep that drops silent members.
#pragma once
#include "chat/records.h"

enum { CHAT_USER_BLOCK = 20 };

// One operation on the index of room rec->FOLDER_NO; *rec carries the key
// (USER_ID and USER_NAME select the record) into every operation, the whole
// record into add and update, and the record found out of a read.
// op 1 read, 2 add (appended at the end), 3 delete (every record with
// the key), 4 update (every record with the key replaced by *rec).
// A read that finds nothing leaves the key and MODE, empty LAST_DATE and
// COLOR, DISP_LINE 30 and RELOAD_TIME 30 in *rec; a found record with an
// empty COLOR reads as CHAT_DEFAULT_COLOR. 0 done, -1 no such record, -4
// (FIO_BAD_ARGUMENT) an unknown op or a null rec, -3 add found the key
// present, -2 a file could not be opened or created, -9 the index is still
// locked after the wait (never for a read, which takes the index as the last
// commit left it).
int Fio_CHAT_USER_IDX(int op, CHAT_USER_IDX* rec);

// A member's sign of life: LAST_DATE of every record with the key of member
// (FOLDER_NO, USER_ID, USER_NAME) becomes member's, written in place under the
// index lock, without a new file or a flush to disk. A sign of life is renewed
// on every reload, so a crash that loses one costs at most a drop that a
// re-entry mends; the index keeps its records whole whatever happens. 0
// renewed, -1 no such record, -2 the index cannot be opened, -9 still locked
// after the wait.
int Fio_CHAT_USER_IDX_touch(const CHAT_USER_IDX& member);

// Reads the records after the first in_count into out (at most 20; slots
// without a record are all zero), an empty COLOR read as CHAT_DEFAULT_COLOR;
// never waits (as the read above). 0, or -2 cannot open (out untouched).
int Fio_CHAT_USER_IDX20(int in_folder_no, int in_count, CHAT_USER_IDX out[CHAT_USER_BLOCK]);

// Hands the records of room folder_no's index to each(record, arg), in order
// of entry, until it returns false; fields ended and an empty COLOR read as
// CHAT_DEFAULT_COLOR, as the read above gives them. One open for the whole
// index, which never waits. 0, or -2 when the index cannot be opened (nothing
// handed) or a read failed (what was handed is a part only).
int Fio_CHAT_USER_IDX_each(int in_folder_no, bool (*each)(const CHAT_USER_IDX& rec, void* arg), void* arg);

// The presence sweep of room in_folder_no, at most once a minute (the minute of
// the last run is kept in chattime.txt; the first request for a room only
// starts that clock): drops every member whose last sign of life is more than
// five minutes old and posts a notice with the text `notice` (the pages'
// MSG_DROPPED) for each one dropped, in the order of the index. 0 done or
// nothing to do, -2 a file could not be opened or created (or the dropped
// members could not be removed: then no notice is posted), -9 the index is
// locked.
int Fio_CHAT_TIMEOUT_TXT(int in_folder_no, const char* notice);
