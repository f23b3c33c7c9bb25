// The system log store: parsing and writing log lines, the positional read and
// the locked append, delete and replace.
#include "access/system_log.h"

#include <cstring>

#include "store/text_line.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

struct LogField {
    char* text;
    std::size_t cap;
};

struct LogText {
    const char* text;
    std::size_t cap;
};

}  // namespace

int syslog_parse_line(const char* line, SYSTEM_LOG* rec) {
    std::memset(rec, 0, sizeof *rec);
    SYSTEM_LOG r;
    std::memset(&r, 0, sizeof r);
    const LogField fields[] = {
        {r.LOG_DATE, sizeof r.LOG_DATE},       {r.USER_ID, sizeof r.USER_ID},
        {r.USER_NAME, sizeof r.USER_NAME},     {r.ACTION, sizeof r.ACTION},
        {r.REMOTE_ADDR, sizeof r.REMOTE_ADDR}, {r.USER_AGENT, sizeof r.USER_AGENT},
    };
    const char* p = line;
    for (const LogField& f : fields) {
        int comma = G_StrFind(p, ",");
        if (comma < 0) return -1;
        line_field_copy(f.text, f.cap, p, static_cast<std::size_t>(comma));
        p += comma + 1;
    }
    *rec = r;
    return 0;
}

std::string syslog_format_line(const SYSTEM_LOG& rec) {
    std::string line;
    const LogText fields[] = {
        {rec.LOG_DATE, sizeof rec.LOG_DATE},       {rec.USER_ID, sizeof rec.USER_ID},
        {rec.USER_NAME, sizeof rec.USER_NAME},     {rec.ACTION, sizeof rec.ACTION},
        {rec.REMOTE_ADDR, sizeof rec.REMOTE_ADDR}, {rec.USER_AGENT, sizeof rec.USER_AGENT},
    };
    for (const LogText& f : fields) {
        line_field_append(line, f.text, f.cap, true);
        line += ',';
    }
    line += '\n';
    return line;
}

// Opens as every keyed text store does (tree.mst's too); past the open, the
// log's positions and line form are its own.
int Fio_SYSTEM_LOG(int32_t in_position, int32_t op, SYSTEM_LOG* rec) {
    if (op < STORE_READ || op > STORE_UPDATE) return FIO_BAD_ARGUMENT;
    if (rec == nullptr && op != STORE_DELETE) return FIO_BAD_ARGUMENT;
    char dir[FIO_PATH_MAX];
    if (Fio_dir_data(dir) != 0) return FIO_NO_FILE;

    FIO_ACCESS a;
    int rc = Fio_open(&a, dir, "system.log", "system.chk",
                      op == STORE_READ ? FIO_READ : FIO_REWRITE, FIO_TEXT);
    if (rc != 0) return rc;

    // A line longer than the buffer is handled whole: its later pieces are
    // never taken for lines of their own.
    char line[SYSLOG_LINE_CAP];
    int32_t position = 1;
    if (op == STORE_READ) {
        int result = FIO_NOT_FOUND;
        while (Fio_gets(&a, line, sizeof line)) {
            Fio_skip_line(&a, line, sizeof line);
            SYSTEM_LOG found;
            if (syslog_parse_line(line, &found) != 0) continue;
            if (in_position <= position) {
                *rec = found;
                result = FIO_OK;
                break;
            }
            ++position;
        }
        return Fio_close(&a, result);
    }

    const std::string new_line = op == STORE_DELETE ? std::string() : syslog_format_line(*rec);
    int result = op == STORE_ADD ? FIO_OK : FIO_EXISTS;
    bool handled = op == STORE_ADD;  // an add replaces nothing
    // The log is copied as it stands; delete and update count every line.
    while (Fio_gets(&a, line, sizeof line)) {
        if (!handled && in_position <= position) {
            handled = true;
            result = FIO_OK;
            Fio_skip_line(&a, line, sizeof line);
            if (op == STORE_UPDATE) Fio_puts(&a, new_line.c_str());
            continue;
        }
        Fio_copy_line(&a, line, sizeof line);
        ++position;
    }
    if (op == STORE_ADD) Fio_puts(&a, new_line.c_str());
    return Fio_close(&a, result);
}
