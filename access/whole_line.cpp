// Whole-line handling for the text stores of the access lists (see whole_line.h).
#include "access/whole_line.h"

#include <cstring>

namespace {

// True when a piece read into a buffer of cap bytes is followed by more of
// the same line. (A shorter piece without a line feed ends the file, or held
// a zero byte, after which fgets still read up to the line feed.)
bool goes_on(const char* piece, int cap) {
    std::size_t n = std::strlen(piece);
    return n + 1 == static_cast<std::size_t>(cap) && piece[n - 1] != '\n';
}

bool ends_line(const char* piece) {
    std::size_t n = std::strlen(piece);
    return n > 0 && piece[n - 1] == '\n';
}

// Passes the rest of the line; copies it when keep. Returns true when the
// line's last piece ended with a line feed.
bool pass_rest(FIO_ACCESS* a, const char* piece, int cap, bool keep) {
    char buf[1000];
    bool more = goes_on(piece, cap);
    bool ended = ends_line(piece);
    while (more && Fio_gets(a, buf, sizeof buf)) {
        if (keep) Fio_puts(a, buf);
        more = goes_on(buf, sizeof buf);
        ended = ends_line(buf);
    }
    return ended;
}

}  // namespace

void Fio_skip_line(FIO_ACCESS* a, const char* piece, int cap) { pass_rest(a, piece, cap, false); }

void Fio_copy_line(FIO_ACCESS* a, const char* piece, int cap) {
    Fio_puts(a, piece);
    if (!pass_rest(a, piece, cap, true)) Fio_puts(a, "\n");
}
