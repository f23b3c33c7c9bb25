// The room information text store: info.txt read whole, replaced whole through
// a temporary file, or removed.
#include "roomconf/info_txt.h"

#include <cstring>
#include <string>

#include "store/cust.h"
#include "store/fileio.h"
#include "store/text.h"

int Fio_INFO_TXT(int32_t in_folder_no, int32_t op, char* in_buff, int in_size) {
    if (op < STORE_READ || op > STORE_UPDATE) return FIO_BAD_ARGUMENT;
    char dir[FIO_PATH_MAX];
    if (Fio_dir_room(dir, in_folder_no) != 0) return FIO_NOT_FOUND;

    // Opened as raw bytes: a new file gets the owner-only bits of the suite's
    // data files, and the text keeps its line ends exactly. Only this program
    // writes the text, always by one rename of a whole new file, so a read
    // takes it as the last update left it and never waits.
    FIO_ACCESS a;
    int rc = Fio_open(&a, dir, "info.txt", "info.chk", op == STORE_READ ? FIO_SNAPSHOT : FIO_REWRITE,
                      FIO_BINARY);
    if (rc != 0) return rc;

    if (op == STORE_READ) {
        if (in_size <= 0) return Fio_close(&a, FIO_OK);
        // Only what can reach the caller's buffer is read: its capacity, and
        // one byte more to tell whether a double-byte character is whole.
        std::string text;
        char piece[1000];
        int n;
        while (text.size() < static_cast<std::size_t>(in_size) && (n = Fio_read(&a, piece, sizeof piece)) > 0) {
            text.append(piece, static_cast<std::size_t>(n));
        }
        text.resize(std::strlen(text.c_str()));
        G_setStrlength(&text[0], in_size);
        G_set(in_buff, static_cast<std::size_t>(in_size), text.c_str());
        return Fio_close(&a, FIO_OK);
    }
    if (op == STORE_DELETE) {
        // Removed while this request holds the lock; the discarded rewrite
        // leaves the data path alone.
        Cu_remove(a.data_path);
        Fio_close(&a, FIO_NOT_FOUND);
        return FIO_OK;
    }
    // Write and replace: the old content plays no part.
    const char* text = in_buff != nullptr ? in_buff : "";
    std::size_t len = std::strlen(text);
    for (std::size_t done = 0; done < len; done += 1000) {
        std::size_t piece = len - done < 1000 ? len - done : 1000;
        Fio_write_rec(&a, text + done, static_cast<int>(piece));
    }
    return Fio_close(&a, FIO_OK);
}
