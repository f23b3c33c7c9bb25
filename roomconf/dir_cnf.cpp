// The room settings store: dir.cnf entries read, added, deleted and replaced
// one key at a time, and the per-request loader of the room's settings.
#include "roomconf/dir_cnf.h"

#include <cstring>
#include <string>

#include "access/text_line.h"
#include "request/velt.h"
#include "roomconf/info_txt.h"
#include "store/fileio.h"
#include "store/groval.h"

namespace {

// The keys of this program and the fields of DIR_CONFIG they fill.
struct DirKey {
    const char* key;
    std::size_t offset;
    std::size_t cap;
};

#define DIR_KEY(f) {#f, offsetof(DIR_CONFIG, f), sizeof(DIR_CONFIG::f)}
const DirKey kKeys[] = {
    DIR_KEY(TITLEPIC),   DIR_KEY(BACKPIC1),   DIR_KEY(BACKPIC2),  DIR_KEY(BACKPIC3),  DIR_KEY(FONTCOLOR1),
    DIR_KEY(FONTCOLOR2), DIR_KEY(FONTCOLOR3), DIR_KEY(FRAMESET1), DIR_KEY(FRAMESET2), DIR_KEY(FRAMESET3),
};
#undef DIR_KEY

// The entry line "key,value,\n" as this store writes it.
std::string entry_line(const char* key, const char* value) {
    std::string line;
    line_field_append(line, key, std::strlen(key), true);
    line += ',';
    line_field_append(line, value, std::strlen(value), true);
    line += ",\n";
    return line;
}

}  // namespace

int dircnf_split(const char* line, int* key_len, int* value_pos, int* value_len) {
    int first = G_StrFind(line, ",");
    if (first < 0) return -1;
    int second = G_StrFind(line + first + 1, ",");
    if (second < 0) return -1;
    *key_len = first;
    *value_pos = first + 1;
    *value_len = second;
    return 0;
}

int b_SET_DIR_CONFIG(int32_t in_folder_no) {
    std::memset(&G_DIR_CONFIG, 0, sizeof G_DIR_CONFIG);
    G_set(G_DIR_CONFIG.FRAMESET1, "10%");
    G_set(G_DIR_CONFIG.FRAMESET2, "40%");
    G_set(G_DIR_CONFIG.FRAMESET3, "50%");

    char dir[FIO_PATH_MAX];
    if (Fio_dir_room(dir, in_folder_no) != 0) return FIO_NO_FILE;
    FIO_ACCESS a;
    int rc = Fio_open(&a, dir, "dir.cnf", "dir_cnf.chk", FIO_READ, FIO_TEXT);
    if (rc != 0) return rc;

    char line[DIRCNF_LINE_CAP];
    while (Fio_gets(&a, line, sizeof line)) {
        Fio_skip_line(&a, line, sizeof line);
        int key_len, value_pos, value_len;
        if (dircnf_split(line, &key_len, &value_pos, &value_len) != 0) continue;
        for (const DirKey& k : kKeys) {
            if (std::strlen(k.key) != static_cast<std::size_t>(key_len) ||
                std::memcmp(line, k.key, static_cast<std::size_t>(key_len)) != 0) {
                continue;
            }
            char* field = reinterpret_cast<char*>(&G_DIR_CONFIG) + k.offset;
            line_field_copy_chars(field, k.cap, line + value_pos, static_cast<std::size_t>(value_len));
        }
    }
    Fio_close(&a, FIO_OK);

    // The room's own text, never another room's: the folder asked for here.
    if (Fio_INFO_TXT(in_folder_no, SQL_READ, G_DIR_CONFIG.INFO) != 0) G_DIR_CONFIG.INFO[0] = '\0';
    return FIO_OK;
}

int Fio_DIR_CONFIG(int32_t in_folder_no, int32_t sql_mode, const char* in_buff, char* out_buff, int out_size) {
    if (sql_mode < SQL_READ || sql_mode > SQL_UPDATE) return FIO_NOT_FOUND;
    char dir[FIO_PATH_MAX];
    if (Fio_dir_room(dir, in_folder_no) != 0) return FIO_NOT_FOUND;

    FIO_ACCESS a;
    int rc = Fio_open(&a, dir, "dir.cnf", "dir_cnf.chk", sql_mode == SQL_READ ? FIO_READ : FIO_REWRITE,
                      FIO_TEXT);
    if (rc != 0) return rc;

    const bool writer = sql_mode != SQL_READ;
    const std::string new_line =
        sql_mode == SQL_ADD || sql_mode == SQL_UPDATE ? entry_line(in_buff, out_buff) : std::string();
    if (!writer && out_size > 0) out_buff[0] = '\0';
    const std::size_t want = std::strlen(in_buff);

    // A line longer than the buffer is handled whole: its later pieces are
    // never taken for entries of their own.
    int result = FIO_NOT_FOUND;
    char line[DIRCNF_LINE_CAP];
    while (Fio_gets(&a, line, sizeof line)) {
        int key_len, value_pos, value_len;
        bool entry = dircnf_split(line, &key_len, &value_pos, &value_len) == 0;
        bool match = entry && static_cast<std::size_t>(key_len) == want && std::memcmp(line, in_buff, want) == 0;
        if (!match) {
            // A line that holds no entry is passed over, so a rewrite drops it.
            if (writer && entry) {
                Fio_copy_line(&a, line, sizeof line);
            } else {
                Fio_skip_line(&a, line, sizeof line);
            }
            continue;
        }
        if (sql_mode == SQL_ADD) {
            result = FIO_EXISTS;
            break;
        }
        Fio_skip_line(&a, line, sizeof line);
        result = FIO_OK;
        if (sql_mode == SQL_READ) {
            if (out_size > 0) {
                line_field_copy_chars(out_buff, static_cast<std::size_t>(out_size), line + value_pos,
                                      static_cast<std::size_t>(value_len));
            }
            break;
        }
        if (sql_mode == SQL_UPDATE) Fio_puts(&a, new_line.c_str());
    }
    if (sql_mode == SQL_ADD && result == FIO_NOT_FOUND) {
        Fio_puts(&a, new_line.c_str());
        result = FIO_OK;
    }
    return Fio_close(&a, result);
}
