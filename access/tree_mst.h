// The folder tree tree.mst of the data directory: one folder per line, its
// nesting depth written as leading blanks; the store reads a folder by number
// or position and adds, deletes or replaces lines through a temporary file.
#pragma once
#include <cstdint>
#include <string>

#include "access/struct.h"

// Longest line of tree.mst, line end included; longer lines are read in
// pieces of this size less one.
enum { TREE_LINE_CAP = 1000 };

// Parses one line (with or without its line end) into rec, which is cleared
// first. Returns 0 for a folder record, -1 for a line that is no record (one
// of the first seven fields lacks its closing comma; rec is then cleared).
// The last four numbers may be missing and read as 0; texts longer than their
// fields are cut to them.
int tree_parse_line(const char* line, TREE_DATA* rec);

// The line of rec as the suite writes it, "\n" included: CLASS blanks, then
// the eleven fields each followed by a comma. A comma, CR or LF inside a text
// field becomes '_' so that the line always reads back as the same folder.
std::string tree_format_line(const TREE_DATA& rec);

// One operation on tree.mst. op 1 read, 2 add, 3 delete, 4 update; search_mode
// 1 selects by folder number in_folder_no, 2 by position in_folder_no (from 1;
// a read counts full records, a write every line that holds a comma). Read
// fills *rec; add and update write the line of *rec (add by position inserts
// before that position, past the end and add by number append); delete does not
// use rec (it may be null). Returns 0 done, -1 read found nothing (*rec
// unchanged), -4 (FIO_BAD_ARGUMENT) an unknown op or a null rec where one is
// used, -2 a file cannot be opened, -3 a write did nothing (add by number found
// the number, delete or update found no line; the file stays byte for byte), -9
// the lock is held.
int Fio_TREE_DATA(int32_t in_folder_no, int32_t op, int32_t search_mode, TREE_DATA* rec);
