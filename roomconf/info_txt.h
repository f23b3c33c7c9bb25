// A room's information text info.txt: the text itself, byte for byte, read
// and written whole under the room's info.chk lock.
#pragma once
#include <cstddef>
#include <cstdint>

// The information text of room in_folder_no. 1 read: in_buff (in_size bytes)
// gets the whole file as a text, cut at a character boundary to its capacity
// (a missing file is created empty and reads as the empty text). 2 write and
// 4 replace: the file then holds exactly the text of in_buff; the new content
// is put in place whole, flushed to disk first, so a reader or a crash never
// meets half a text. 3 delete: the file is removed (0 whether or not it was
// there). Returns 0, -4 (FIO_BAD_ARGUMENT) for an unknown op, -1 for a room
// that has no path, -2 a file cannot be opened or written, -9 the lock is
// held.
int Fio_INFO_TXT(int32_t in_folder_no, int32_t op, char* in_buff, int in_size);
template <std::size_t N>
inline int Fio_INFO_TXT(int32_t in_folder_no, int32_t op, char (&in_buff)[N]) {
    return Fio_INFO_TXT(in_folder_no, op, in_buff, static_cast<int>(N));
}
