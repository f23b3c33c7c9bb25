// Whole-line handling for the text stores of the access lists: a line longer
// than a store's read buffer arrives in pieces, and the pieces after the first
// belong to the same line rather than being taken for lines of their own.
#pragma once
#include "store/fileio.h"

// Both take `piece`, the first piece of a line just read with Fio_gets into a
// buffer of cap bytes; a piece goes on only when it filled its buffer without
// reaching a line feed.

// Reads and drops the rest of the line, if any.
void Fio_skip_line(FIO_ACCESS* a, const char* piece, int cap);

// Copies the whole line into the temporary file. A line that ends without a
// line feed (the last of a file) gets one, so that a line written after it
// cannot run into it.
void Fio_copy_line(FIO_ACCESS* a, const char* piece, int cap);
