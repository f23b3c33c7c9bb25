// The suite's system log system.log in the data directory: one line of six
// comma-closed fields per event, oldest first.
#pragma once
#include <cstdint>
#include <string>

#include "access/struct.h"

// Longest line of system.log, line end included.
enum { SYSLOG_LINE_CAP = 1000 };

// Parses one line into rec (cleared first): 0 when all six fields are closed
// by commas, -1 otherwise. Texts are cut to their fields.
int syslog_parse_line(const char* line, SYSTEM_LOG* rec);

// The line of rec, "\n" included. A comma, CR or LF inside a value (a
// browser identification may hold commas) becomes '_', so that the line
// always reads back as six fields.
std::string syslog_format_line(const SYSTEM_LOG& rec);

// 1 read: *rec gets the record at position in_position, counting full
// records from 1 (1 or less: the first); -1 past the end. 2 add: the line of
// *rec is appended. 3 delete, 4 update: the line at position in_position,
// counting every line of the file, is removed or replaced by the line of
// *rec (a delete does not use rec, which may be null); -3 past the end (file
// unchanged). Returns 0 done, -4 (FIO_BAD_ARGUMENT) for an unknown op or a
// null rec where one is used, -2 a file cannot be opened, -9 lock held.
int Fio_SYSTEM_LOG(int32_t in_position, int32_t op, SYSTEM_LOG* rec);
