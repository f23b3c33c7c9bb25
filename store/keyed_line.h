// The keyed-line text stores (personal.mst, dir.cnf): one entry a line, found
// by the key before the line's first comma; read, add, delete and update.
#pragma once
#include <cstddef>
#include <cstdint>

// Lines are read in pieces of this size less one.
enum { KEYED_LINE_CAP = 10000 };

// The line formats of the keyed stores.
enum KEYED_FORMAT {
    // "name,value\n" (personal.mst): the value runs to the line end less its
    // CR/LF; it may hold commas; it is read and cut byte for byte.
    KEYED_NAME_VALUE = 0,
    // "key,value,\n" (dir.cnf): the value ends at the second comma; neither
    // part may hold a comma; it is read and cut at a character boundary.
    KEYED_KEY_VALUE_COMMA = 1,
};

// Splits a line of the format into its entry: the key is the text before the
// first comma (commas are found at character boundaries), the value follows
// that comma. Returns 0 and the key's length, the value's offset and its
// length, or -1 when the line holds no entry (no comma; for
// KEYED_KEY_VALUE_COMMA, no second comma either).
int keyed_line_split(KEYED_FORMAT format, const char* line, int* key_len, int* value_pos, int* value_len);

// One key in_buff of the store in data file `file` of directory prefix `dir`
// (see Fio_dir_*), guarded by lock file `lock` there. 1 read: out_buff
// (out_size bytes) gets the value of the first line with that key, cut to its
// capacity as the format cuts; 0, or -1 with out_buff empty. 2 add a line of
// key and the value in out_buff at the end unless the key is present (-3, file
// unchanged). 3 delete every line of the key; 4 update every line of the key to
// the value in out_buff; both -1 when there is none (file unchanged). Keys
// compare byte for byte with the whole text before a line's first comma. A
// rewrite keeps every other entry's bytes and line end, in place, and drops
// lines that hold no entry. A written key or value cannot split its line: CR
// and LF in it become '_', and so does a comma where the format's field cannot
// hold one. A line longer than the read buffer is handled whole. Returns also
// -4 (FIO_BAD_ARGUMENT) for an unknown op (nothing is touched), -2 a file
// cannot be opened, -9 the lock is still held after the wait; on these out_buff
// is as it was. Reads of personal.mst wait while it is locked; reads of dir.cnf
// take it as the last rewrite left it (see keyed_line.cpp).
int Fio_keyed_line(KEYED_FORMAT format, const char* dir, const char* file, const char* lock, int32_t op,
                   const char* in_buff, char* out_buff, int out_size);

// A field a keyed loader fills from the entry of its key: a text field of cap
// bytes (text), or a number (number, read with G_atoi).
struct KEYED_FIELD {
    const char* key;
    char* text;
    std::size_t cap;
    int32_t* number;
};

// A table's row for field f of the record *rec, keyed by the field's name: a
// text field, or a number.
#define KEYED_TEXT(rec, f) KEYED_FIELD{#f, (rec)->f, sizeof(rec)->f, nullptr}
#define KEYED_NUMBER(rec, f) KEYED_FIELD{#f, nullptr, 0, &(rec)->f}

// Sets every one of the count fields whose key is the key_len bytes at key
// (compared byte for byte, whole) to the value_len bytes at value: a text cut
// as the format cuts (an empty value empties the field), a number read with
// G_atoi. The one way a keyed loader (and the site configuration's) fills a
// field. False when no field has that key.
bool keyed_field_set(KEYED_FORMAT format, const KEYED_FIELD* fields, int count, const char* key,
                     std::size_t key_len, const char* value, std::size_t value_len);

// Loads every entry of the store (see Fio_keyed_line for dir, file and lock)
// whose key is one of the count fields' into that field: a text value cut as
// the format cuts (an empty value empties the field), a number by G_atoi; of
// two lines of a key the later wins; fields without a line stay as they are.
// Returns 0, -9 the lock is still held after the wait, -2 the file cannot be
// opened (no field is changed). Never takes the lock.
int Fio_keyed_line_load(KEYED_FORMAT format, const char* dir, const char* file, const char* lock,
                        const KEYED_FIELD* fields, int count);
