// Fuzz target of the picture type lookup: the extension of a picture path and
// the search of a type map (held in memory as a stream). The extension is the
// text behind the last dot and fits its buffer; a found type is non-empty,
// one line's text between its commas; a map whose first line names the
// extension gives that line's type.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "roomconf/bg_dl.h"
#include "store/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Fio_mime_find over the bytes of map; -3 when the stream cannot be had.
int find_in(const std::string& map, const char* ext, char* type, int cap) {
    std::string copy = map;
    FILE* f = fmemopen(copy.empty() ? nullptr : &copy[0], copy.size(), "r");
    if (f == nullptr) return -3;
    const int rc = Fio_mime_find(f, ext, type, cap);
    std::fclose(f);
    return rc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> p = fuzz::split0(data, size, 2);
    const std::string& path = p[0];
    const std::string& map = p[1];

    // The extension, in the program's buffer and in one as small as the input
    // makes it.
    const int small = static_cast<int>(size % 8);
    for (int cap : {static_cast<int>(MIME_EXT_CAP), small}) {
        char ext[MIME_EXT_CAP];
        std::memset(ext, 'X', sizeof ext);
        const int rc = Fio_mime_ext(path.c_str(), ext, cap);
        const std::size_t dot = path.find_last_of('.');
        const bool has_dot = dot != std::string::npos && dot >= 1;
        if (has_dot && path.size() - dot - 1 <= static_cast<std::size_t>(cap > 0 ? cap - 1 : 0) && cap > 0) {
            FUZZ_CHECK(rc == 0 && std::string(ext) == path.substr(dot + 1));
        } else {
            FUZZ_CHECK(rc == -2);
            if (cap > 0) FUZZ_CHECK(ext[0] == '\0');
            FUZZ_CHECK(std::memchr(ext + 1, 'X', sizeof ext - 1) == ext + 1);  // nothing written behind
        }
    }

    char ext[MIME_EXT_CAP];
    if (Fio_mime_ext(path.c_str(), ext, sizeof ext) != 0) ext[0] = '\0';

    char type[MIME_TYPE_CAP];
    const int rc = find_in(map, ext, type, sizeof type);
    if (rc == 0) {
        FUZZ_CHECK(type[0] != '\0' && std::strchr(type, '\n') == nullptr);
        FUZZ_CHECK(map.find(std::string(type) + ",") != std::string::npos);
    } else {
        FUZZ_CHECK(rc == -2 && type[0] == '\0');
    }

    // A small buffer cuts the type and never writes past it.
    char tiny[4] = {'X', 'X', 'X', 'X'};
    const int trc = find_in(map, ext, tiny, 3);
    FUZZ_CHECK((trc == 0) == (rc == 0));
    if (trc == 0) FUZZ_CHECK(std::strlen(tiny) <= 2 && std::strncmp(type, tiny, 2) == 0);
    FUZZ_CHECK(tiny[3] == 'X');

    // A first line naming a plain extension decides, whatever follows.
    bool plain = ext[0] != '\0';
    for (const char* c = ext; *c; ++c)
        if (*c == ',' || *c == '\n' || *c == '\r' || G_is_lead(static_cast<unsigned char>(*c))) plain = false;
    if (plain) {
        char first[MIME_TYPE_CAP];
        FUZZ_CHECK(find_in(std::string(ext) + ",image/x-fz,\n" + map, ext, first, sizeof first) == 0);
        FUZZ_CHECK(std::strcmp(first, "image/x-fz") == 0);
    }
    return 0;
}
