// The keyed-line text stores: the one read/add/delete/update walk and the one
// loader shared by personal.mst and dir.cnf, which differ only in line format.
#include "store/keyed_line.h"

#include <cstring>
#include <string>

#include "store/text_line.h"
#include "store/fileio.h"
#include "store/text.h"

static_assert(static_cast<int>(KEYED_LINE_CAP) <= static_cast<int>(FIO_LINE_SIZE), "the access's line buffer holds a piece");

namespace {

// The line of an entry as the format writes it.
std::string entry_line(KEYED_FORMAT format, const char* key, const char* value) {
    const bool comma_value = format == KEYED_KEY_VALUE_COMMA;
    std::string line;
    line_field_append(line, key, std::strlen(key), true);
    line += ',';
    line_field_append(line, value, std::strlen(value), comma_value);
    line += comma_value ? ",\n" : "\n";
    return line;
}

// Copies a value of len bytes into out (cap bytes), cut as the format cuts.
void copy_value(KEYED_FORMAT format, char* out, std::size_t cap, const char* value, std::size_t len) {
    if (format == KEYED_KEY_VALUE_COMMA) {
        line_field_copy_chars(out, cap, value, len);
    } else {
        line_field_copy(out, cap, value, len);
    }
}

}  // namespace

int keyed_line_split(KEYED_FORMAT format, const char* line, int* key_len, int* value_pos, int* value_len) {
    int first = G_StrFind(line, ",");
    if (first < 0) return -1;
    const char* value = line + first + 1;
    int len;
    if (format == KEYED_KEY_VALUE_COMMA) {
        len = G_StrFind(value, ",");
        if (len < 0) return -1;
    } else {
        // The line end is no part of the value; CR and LF cannot be second
        // bytes, so a byte-wise cut from the end is safe.
        len = static_cast<int>(std::strlen(value));
        while (len > 0 && (value[len - 1] == '\r' || value[len - 1] == '\n')) --len;
    }
    *key_len = first;
    *value_pos = first + 1;
    *value_len = len;
    return 0;
}

namespace {

// How a read opens the store of a format. personal.mst is the suite's shared
// file, which other programs may rewrite in ways a reader must not meet
// halfway: its reads wait while it is locked. dir.cnf is the chat's own and
// only ever replaced by one rename of a whole new file: its reads take it as
// the last commit left it and never wait, so that a settings update at work
// delays no page of the room.
int read_how(KEYED_FORMAT format) { return format == KEYED_KEY_VALUE_COMMA ? FIO_SNAPSHOT : FIO_READ; }

}  // namespace

int Fio_keyed_line(KEYED_FORMAT format, const char* dir, const char* file, const char* lock, int32_t op,
                   const char* in_buff, char* out_buff, int out_size) {
    if (op < STORE_READ || op > STORE_UPDATE) return FIO_BAD_ARGUMENT;

    FIO_ACCESS a;
    int rc = Fio_open(&a, dir, file, lock, op == STORE_READ ? read_how(format) : FIO_REWRITE, FIO_TEXT);
    if (rc != 0) return rc;

    const bool writer = op != STORE_READ;
    const std::string new_line =
        op == STORE_ADD || op == STORE_UPDATE ? entry_line(format, in_buff, out_buff) : std::string();
    if (!writer && out_size > 0) out_buff[0] = '\0';
    const std::size_t want = std::strlen(in_buff);

    // A line longer than the buffer is handled whole: its later pieces are
    // never taken for entries of their own.
    int result = FIO_NOT_FOUND;
    char* line = a.line;  // KEYED_LINE_CAP bytes
    while (Fio_gets(&a, line, KEYED_LINE_CAP)) {
        int key_len, value_pos, value_len;
        bool entry = keyed_line_split(format, line, &key_len, &value_pos, &value_len) == 0;
        bool match = entry && static_cast<std::size_t>(key_len) == want && std::memcmp(line, in_buff, want) == 0;
        if (!match) {
            // A line that holds no entry is passed over, so a rewrite drops it.
            if (writer && entry) {
                Fio_copy_line(&a, line, KEYED_LINE_CAP);
            } else {
                Fio_skip_line(&a, line, KEYED_LINE_CAP);
            }
            continue;
        }
        if (op == STORE_ADD) {
            result = FIO_EXISTS;
            break;
        }
        Fio_skip_line(&a, line, KEYED_LINE_CAP);
        result = FIO_OK;
        if (op == STORE_READ) {
            if (out_size > 0) {
                copy_value(format, out_buff, static_cast<std::size_t>(out_size), line + value_pos,
                           static_cast<std::size_t>(value_len));
            }
            break;
        }
        if (op == STORE_UPDATE) Fio_puts(&a, new_line.c_str());
    }
    if (op == STORE_ADD && result == FIO_NOT_FOUND) {
        Fio_puts(&a, new_line.c_str());
        result = FIO_OK;
    }
    return Fio_close(&a, result);
}

bool keyed_field_set(KEYED_FORMAT format, const KEYED_FIELD* fields, int count, const char* key,
                     std::size_t key_len, const char* value, std::size_t value_len) {
    bool found = false;
    for (int i = 0; i < count; ++i) {
        const KEYED_FIELD& f = fields[i];
        // Whole keys, byte for byte; most rows differ in their first byte.
        if (key_len == 0 || f.key[0] != key[0] || std::strncmp(f.key, key, key_len) != 0 || f.key[key_len] != '\0')
            continue;
        found = true;
        if (f.text != nullptr) {
            copy_value(format, f.text, f.cap, value, value_len);
        } else if (f.number != nullptr) {
            // Read as text ending with the value (a short one copied on the stack).
            char small[64];
            if (value_len < sizeof small) {
                std::memcpy(small, value, value_len);
                small[value_len] = '\0';
                *f.number = G_atoi(small);
            } else {
                *f.number = G_atoi(std::string(value, value_len).c_str());
            }
        }
    }
    return found;
}

int Fio_keyed_line_load(KEYED_FORMAT format, const char* dir, const char* file, const char* lock,
                        const KEYED_FIELD* fields, int count) {
    FIO_ACCESS a;
    int rc = Fio_open(&a, dir, file, lock, read_how(format), FIO_TEXT);
    if (rc != 0) return rc;
    char* line = a.line;  // KEYED_LINE_CAP bytes
    while (Fio_gets(&a, line, KEYED_LINE_CAP)) {
        Fio_skip_line(&a, line, KEYED_LINE_CAP);
        int key_len, value_pos, value_len;
        if (keyed_line_split(format, line, &key_len, &value_pos, &value_len) != 0) continue;
        keyed_field_set(format, fields, count, line, static_cast<std::size_t>(key_len), line + value_pos,
                        static_cast<std::size_t>(value_len));
    }
    return Fio_close(&a, FIO_OK);
}
