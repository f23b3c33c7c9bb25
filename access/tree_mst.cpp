// The folder tree store: parsing and writing tree.mst lines, and the locked
// read and rewrite of the file.
#include "access/tree_mst.h"

#include <cstring>

#include "store/text_line.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

// The field that starts at pos: its start and length; pos moves behind its
// closing comma (or to the end of the line). True when a comma closed it.
bool next_field(const char* line, std::size_t& pos, const char*& start, std::size_t& len) {
    start = line + pos;
    int comma = G_StrFind(start, ",");
    if (comma < 0) {
        len = std::strlen(start);
        pos += len;
        return false;
    }
    len = static_cast<std::size_t>(comma);
    pos += len + 1;
    return true;
}

// The key of a line for the rewrites: its nesting depth and folder number.
int32_t line_folder_no(const char* line) {
    std::size_t blanks = 0;
    while (line[blanks] == ' ') ++blanks;
    return G_atoi(line + blanks);
}

}  // namespace

int tree_parse_line(const char* line, TREE_DATA* rec) {
    std::memset(rec, 0, sizeof *rec);
    TREE_DATA r;
    std::memset(&r, 0, sizeof r);
    std::size_t pos = 0;
    const char* f;
    std::size_t len;

    // The first seven fields must each be closed by a comma.
    if (!next_field(line, pos, f, len)) return -1;
    std::size_t blanks = 0;
    while (blanks < len && f[blanks] == ' ') ++blanks;
    r.CLASS = static_cast<int32_t>(blanks);
    r.FOLDER_NO = G_atoi(f + blanks);
    if (!next_field(line, pos, f, len)) return -1;
    line_field_copy(r.NAME, sizeof r.NAME, f, len);
    if (!next_field(line, pos, f, len)) return -1;
    r.MODE = G_atoi(f);
    if (!next_field(line, pos, f, len)) return -1;
    line_field_copy(r.CGI_NAME, sizeof r.CGI_NAME, f, len);
    if (!next_field(line, pos, f, len)) return -1;
    r.ACCESS_LEVEL = G_atoi(f);
    if (!next_field(line, pos, f, len)) return -1;
    r.WRITE_LEVEL = G_atoi(f);
    if (!next_field(line, pos, f, len)) return -1;
    line_field_copy(r.PIC_FILENAME, sizeof r.PIC_FILENAME, f, len);

    // The last four may be missing (0), or lack their comma. A number field
    // that is empty reads 0: G_atoi stops at its closing comma.
    int32_t* tail[] = {&r.TARGET, &r.UPW, &r.SKEY, &r.ICON_MODE};
    for (int32_t* n : tail) {
        if (line[pos] == '\0') break;
        *n = G_atoi(line + pos);
        next_field(line, pos, f, len);
    }
    *rec = r;
    return 0;
}

std::string tree_format_line(const TREE_DATA& rec) {
    std::string line;
    // A depth beyond what a line can hold cannot be read back anyway; the cap
    // only keeps a wild value from building a huge line.
    int32_t blanks = rec.CLASS > 0 ? rec.CLASS : 0;
    if (blanks > TREE_LINE_CAP - 1) blanks = TREE_LINE_CAP - 1;
    line.append(static_cast<std::size_t>(blanks), ' ');
    auto number = [&line](int32_t v) {
        line += std::to_string(v);
        line += ',';
    };
    auto text = [&line](const char* field, std::size_t cap) {
        line_field_append(line, field, cap, true);
        line += ',';
    };
    number(rec.FOLDER_NO);
    text(rec.NAME, sizeof rec.NAME);
    number(rec.MODE);
    text(rec.CGI_NAME, sizeof rec.CGI_NAME);
    number(rec.ACCESS_LEVEL);
    number(rec.WRITE_LEVEL);
    text(rec.PIC_FILENAME, sizeof rec.PIC_FILENAME);
    number(rec.TARGET);
    number(rec.UPW);
    number(rec.SKEY);
    number(rec.ICON_MODE);
    line += '\n';
    return line;
}

int Fio_TREE_DATA(int32_t in_folder_no, int32_t op, int32_t search_mode, TREE_DATA* rec) {
    if (op < STORE_READ || op > STORE_UPDATE) return FIO_BAD_ARGUMENT;
    if (rec == nullptr && op != STORE_DELETE) return FIO_BAD_ARGUMENT;
    char dir[FIO_PATH_MAX];
    if (Fio_dir_data(dir) != 0) return FIO_NO_FILE;

    FIO_ACCESS a;
    int rc = Fio_open(&a, dir, "tree.mst", "tree_mst.chk",
                      op == STORE_READ ? FIO_READ : FIO_REWRITE, FIO_TEXT);
    if (rc != 0) return rc;

    // A line longer than the buffer is handled whole: its later pieces are
    // never taken for lines of their own.
    char line[TREE_LINE_CAP];
    if (op == STORE_READ) {
        int result = FIO_NOT_FOUND;
        int32_t position = 1;
        while (Fio_gets(&a, line, sizeof line)) {
            Fio_skip_line(&a, line, sizeof line);
            TREE_DATA found;
            if (tree_parse_line(line, &found) != 0) continue;
            bool match = (search_mode == 1 && found.FOLDER_NO == in_folder_no) ||
                         (search_mode == 2 && position == in_folder_no);
            if (match) {
                *rec = found;
                result = FIO_OK;
                break;
            }
            ++position;
        }
        return Fio_close(&a, result);
    }

    const std::string new_line = op == STORE_DELETE ? std::string() : tree_format_line(*rec);
    int result = FIO_EXISTS;  // a delete or update that finds nothing did nothing
    bool handled = false;
    int32_t position = 1;
    while (Fio_gets(&a, line, sizeof line)) {
        // A line without any comma (an empty one, too) holds no folder and
        // is left out of the new file.
        if (G_StrFind(line, ",") < 0) {
            Fio_skip_line(&a, line, sizeof line);
            continue;
        }
        if (!handled) {
            bool match = (search_mode == 1 && line_folder_no(line) == in_folder_no) ||
                         (search_mode == 2 && position == in_folder_no);
            if (match) {
                handled = true;
                if (op == STORE_ADD && search_mode == 1) break;  // the number is taken: -3
                result = FIO_OK;
                if (op != STORE_DELETE) Fio_puts(&a, new_line.c_str());
                if (op == STORE_ADD) {
                    Fio_copy_line(&a, line, sizeof line);  // inserted before it
                } else {
                    Fio_skip_line(&a, line, sizeof line);
                }
                continue;
            }
            ++position;
        }
        Fio_copy_line(&a, line, sizeof line);
    }
    if (op == STORE_ADD && !handled) {
        Fio_puts(&a, new_line.c_str());
        result = FIO_OK;
    }
    return Fio_close(&a, result);
}
