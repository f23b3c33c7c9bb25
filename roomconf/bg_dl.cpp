// Picture delivery: the pages point their backgrounds and the title picture at
// this program, which answers with the picture's bytes and a mapped type.
#include "roomconf/bg_dl.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "page/context.h"
#include "page/page.h"
#include "page/reply.h"
#include "roomconf/dir_cnf.h"
#include "store/cust.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

// The picture file names of the four delivery jobs.
const char* picture_name(int flg) {
    switch (flg) {
        case 1: return ctx.room.BACKPIC1;
        case 2: return ctx.room.BACKPIC2;
        case 3: return ctx.room.BACKPIC3;
        case 4: return ctx.room.TITLEPIC;
        default: return "";
    }
}

// Appends src to the text in out (cap bytes). false, with out unchanged in
// meaning, when the whole of src does not fit: a cut path would name a
// different file.
bool append_path(char* out, std::size_t cap, const char* src) {
    const std::size_t have = std::strlen(out);
    const std::size_t add = std::strlen(src);
    if (have + add >= cap) return false;
    std::memcpy(out + have, src, add + 1);
    return true;
}

}  // namespace

int Fio_mime_ext(const char* path, char* ext, int cap) {
    if (cap > 0) ext[0] = '\0';
    const long len = static_cast<long>(std::strlen(path));
    long dot = -1;
    for (long i = len - 1; i >= 1; --i) {
        if (path[i] == '.') {
            dot = i;
            break;
        }
    }
    if (dot < 0) return MIME_NO_TYPE;
    const long n = len - dot - 1;
    // A longer text behind the dot (a dotted directory above a name without a
    // dot) is no extension any map could name; it must not overrun the buffer.
    if (cap <= 0 || n > cap - 1) return MIME_NO_TYPE;
    std::memcpy(ext, path + dot + 1, static_cast<std::size_t>(n) + 1);
    return MIME_OK;
}

int Fio_mime_line(const char* line, const char* ext, char* type, int cap) {
    const int c1 = G_StrFind(line, ",");
    if (c1 < 0) return 0;
    const std::size_t ext_len = std::strlen(ext);
    if (c1 > 0 && (static_cast<std::size_t>(c1) != ext_len || std::memcmp(line, ext, ext_len) != 0)) return 0;
    const char* rest = line + c1 + 1;
    const int c2 = G_StrFind(rest, ",");
    if (c2 < 0) return 0;
    if (cap <= 0) return 1;
    const int n = c2 < cap - 1 ? c2 : cap - 1;
    std::memcpy(type, rest, static_cast<std::size_t>(n));
    type[n] = '\0';
    return 1;
}

int Fio_mime_find(FILE* map, const char* ext, char* type, int cap) {
    if (cap > 0) type[0] = '\0';
    char line[MIME_LINE_CAP];
    while (std::fgets(line, sizeof line, map) != nullptr) {
        if (Fio_mime_line(line, ext, type, cap)) return (cap > 0 && type[0] != '\0') ? MIME_OK : MIME_NO_TYPE;
    }
    return MIME_NO_TYPE;
}

int Fio_MimeDownload(char* in_filename, char* mime_filename) {
    if (in_filename[0] == '\0') return MIME_NO_PICTURE;

    char ext[MIME_EXT_CAP];
    if (Fio_mime_ext(in_filename, ext, sizeof ext) != MIME_OK) return MIME_NO_TYPE;

    FILE* map = Cu_fopen(mime_filename, "r");
    if (map == nullptr) return MIME_NO_TYPE;
    char type[MIME_TYPE_CAP];
    const int found = Fio_mime_find(map, ext, type, sizeof type);
    Cu_fclose(map);
    if (found != MIME_OK) return MIME_NO_TYPE;

    // The picture is the last entry of the path, opened in its directory
    // without following a link at either: a link planted in the picture
    // directory (or in its place) must not deliver another file.
    Cu_platform_path(in_filename);
    char* slash = std::strrchr(in_filename, '/');
    std::string dir = slash == nullptr ? "." : slash == in_filename ? "/" : std::string(in_filename, slash);
    const int fh = Cu_open_picture(&dir[0], slash == nullptr ? in_filename : slash + 1);
    if (fh < 0) return MIME_NO_PICTURE;

    // The type comes from the site's map, never from the bytes: a picture that
    // holds markup must not be taken for a page.
    reply_type((std::string("Content-type: ") + type).c_str());
    reply_header("X-Content-Type-Options: nosniff");
    reply_file(fh);
    return MIME_OK;
}

namespace {

// The delivery of b_BG_DL; its result, with nothing written unless MIME_OK.
int deliver_picture(int flg) {
    char name[252] = {0};
    G_set(name, picture_name(flg));
    // No picture set: no picture, rather than a look for a type of the
    // picture directory itself.
    if (name[0] == '\0') return MIME_NO_PICTURE;
    // A picture is a bare name in the room's picture directory; a name that
    // carries a directory (written into dir.cnf by hand or by another program)
    // must not reach files outside it.
    if (!Fio_safe_name(name)) return MIME_NO_PICTURE;

    char mime_filename[FIO_PATH_MAX] = {0};
    char map_filename[FIO_PATH_MAX] = {0};
    if (Fio_dir_room(mime_filename, ctx.query.FOLDER_NO) != 0) return MIME_NO_PICTURE;
    if (!append_path(mime_filename, sizeof mime_filename, "fcg\\") ||
        !append_path(mime_filename, sizeof mime_filename, name))
        return MIME_NO_PICTURE;
    if (Fio_dir_data(map_filename) != 0 || !append_path(map_filename, sizeof map_filename, "mimemap.txt"))
        return MIME_NO_PICTURE;
    return Fio_MimeDownload(mime_filename, map_filename);
}

}  // namespace

// Jobs BG1_DL to BG4_DL: delivers the room's picture flg (1-3 the frames'
// backgrounds, 4 the title picture). Reads no parameter beyond the request
// context. Level: LEVEL_OPEN.
int b_BG_DL(int flg) {
    const int r = deliver_picture(flg);
    // Without this answer the web server would report a failed script.
    if (r != MIME_OK) G_answer_without_page("404 Not Found", "No such picture.");
    return r;
}
