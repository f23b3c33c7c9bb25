// Multipart form data: text fields become parameter pairs, file fields land
// in temporary files "CGI<n>"; and the end step that clears old ones.
#include "cgi/multipart.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cgi/cgilib61.h"
#include "store/cust.h"

// One upload temporary file made by a request, with the identity of the file
// it made: the name may later be another request's, once this one's file was
// moved away.
struct CGI_UPLOAD {
    char* path;
    unsigned long long dev;
    unsigned long long ino;
    CGI_UPLOAD* next;
};

namespace {

// Module state: the reader's work buffers for the one body being read, set
// afresh by every reading (too large for the stack, and no part of a request
// once its pairs are in the list).
//
// Where the body comes from: standard input, or a buffer (tests, fuzzing).
// Bytes are fetched in blocks but handed out one at a time, and never beyond
// the params' content_length: their input_byte counts the bytes handed out.
struct MP_INPUT {
    const unsigned char* mem;  // body in memory, or null for standard input
    uint32_t mem_len;
    uint32_t mem_pos;
    unsigned char block[65536];
    uint32_t pos;              // next byte of block
    uint32_t len;              // bytes in block
    int ended;                 // 1 once the body has ended
    int dry;                   // 1 once the input ended before content_length
};
MP_INPUT g_in;

// Work texts of the reader: the field name, the browser's file name, the
// temporary path, a text field's value and the assembled "name=value" pair.
char g_name[MP_NAME_CAP];
char g_filename[MP_NAME_CAP];
char g_temp[MP_TEMP_CAP];
char g_value[MP_VALUE_CAP];
char g_pair[MP_VALUE_CAP];

// Set by f_get_name when the field name ran into the line feed of its header
// line: the file name cannot follow on that line any more.
int g_name_took_line;

// Set once a file field's upload could not be stored whole (its file could
// not be made, opened, written or closed): the reading then answers
// CGI_NOT_STORED.
int g_unstored;

// Bytes of a text field's value that are kept; the rest is read and dropped.
const uint32_t VALUE_KEEP = 100000;
// Output block of a file field's content.
const int BIN_BLOCK = 1000;
// What a pair costs the fields' budget (CGI_FIELDS_LIMIT) beside its name and
// value: its node and the two allocations, so that a flood of empty parts
// cannot grow the list either.
const uint32_t PAIR_COST = 64;
// Random numbers tried for a free temporary name before giving up: with
// numbers drawn from 31 bits, a clash at all is rare, eight in a row means a
// broken directory.
const int TEMP_TRIES = 8;

void input_reset(CGI_PARAMS* p, const unsigned char* mem, uint32_t mem_len) {
    g_in.mem = mem;
    g_in.mem_len = mem_len;
    g_in.mem_pos = 0;
    g_in.pos = 0;
    g_in.len = 0;
    g_in.ended = 0;
    g_in.dry = 0;
    g_unstored = 0;
    p->input_byte = 0;
}

// Fills the block with the next bytes of the body, at most up to
// content_length (called only while some are still due). false when the
// input has no more bytes: the body was cut off.
bool input_fill(CGI_PARAMS* p) {
    uint32_t want = p->content_length - p->input_byte;
    if (want > sizeof g_in.block) want = sizeof g_in.block;
    uint32_t got = 0;
    if (g_in.mem != nullptr) {
        uint32_t left = g_in.mem_len - g_in.mem_pos;
        got = want < left ? want : left;
        std::memcpy(g_in.block, g_in.mem + g_in.mem_pos, got);
        g_in.mem_pos += got;
    } else {
        // fread waits until the block is full or the input ends, so a short
        // count means the client sent no more.
        got = static_cast<uint32_t>(std::fread(g_in.block, 1, want, stdin));
    }
    g_in.pos = 0;
    g_in.len = got;
    if (got == 0) g_in.dry = 1;
    return got > 0;
}

// The last bytes read, as long as the boundary, to recognise it in the input.
// Bytes pushed out of the window were not part of a boundary.
struct MP_WINDOW {
    const unsigned char* boundary;
    int size;     // boundary length
    int count;    // bytes in the window
    int start;    // ring position of the oldest byte
    unsigned char ring[MP_BOUNDARY_CAP];
};

void window_init(MP_WINDOW* w, const char* boundary) {
    w->boundary = reinterpret_cast<const unsigned char*>(boundary);
    w->size = static_cast<int>(std::strlen(boundary));
    w->count = 0;
    w->start = 0;
}

// Adds byte c; returns the byte that left the window, or -1 when none left.
int window_push(MP_WINDOW* w, int c) {
    if (w->count < w->size) {
        w->ring[(w->start + w->count) % w->size] = static_cast<unsigned char>(c);
        ++w->count;
        return -1;
    }
    int out = w->ring[w->start];
    w->ring[w->start] = static_cast<unsigned char>(c);
    w->start = (w->start + 1) % w->size;
    return out;
}

// True when the window holds the boundary; last is the byte just pushed.
bool window_match(const MP_WINDOW* w, int last) {
    if (w->count < w->size || last != w->boundary[w->size - 1]) return false;
    for (int i = 0; i < w->size; ++i) {
        if (w->ring[(w->start + i) % w->size] != w->boundary[i]) return false;
    }
    return true;
}

// After a boundary: "--" closes the body, a line break opens the next part.
// 0 when a part follows, -1 otherwise (the body ending counts as closed).
int after_boundary(CGI_PARAMS* p) {
    cgi_mp_getc(p);
    int second = cgi_mp_getc(p);
    return (second < 0 || second == '-') ? -1 : 0;
}

// Reads bytes of the current header line until key has been seen. 1 found,
// 0 the line ended first (its line feed is consumed), -1 the body ended.
// The keys searched ("name=", "filename=") repeat no prefix of themselves
// inside them, so a mismatch can restart at the key's first byte.
int line_find(CGI_PARAMS* p, const char* key) {
    const int klen = static_cast<int>(std::strlen(key));
    int matched = 0;
    for (;;) {
        int c = cgi_mp_getc(p);
        if (c < 0) return -1;
        if (c == '\n') return 0;
        if (c == static_cast<unsigned char>(key[matched])) {
            if (++matched == klen) return 1;
        } else {
            matched = (c == static_cast<unsigned char>(key[0])) ? 1 : 0;
        }
    }
}

// Reads a quoted text after "name=" or "filename=": skips the opening quote
// and keeps up to cap-1 bytes until a double quote. Returns the byte that
// ended it: '"', '\n', or -1 at the end of the body.
int read_quoted(CGI_PARAMS* p, char* out, int cap) {
    int n = 0;
    int c = cgi_mp_getc(p);  // the opening quote
    if (c == '\n' || c < 0) {
        out[0] = '\0';
        return c;
    }
    for (;;) {
        c = cgi_mp_getc(p);
        if (c < 0 || c == '"' || c == '\n') break;
        if (n < cap - 1) out[n++] = static_cast<char>(c);
    }
    out[n] = '\0';
    return c;
}

// Skips the rest of a part's header, up to and including its empty line.
// Any number of header lines (content type and others) may stand before it.
// 0, or -1 when the body ended inside the header.
int skip_part_header(CGI_PARAMS* p) {
    for (;;) {
        int c = cgi_mp_getc(p);
        if (c < 0) return -1;
        if (c == '\n') return 0;       // a bare line feed as the empty line
        if (c == '\r') {
            cgi_mp_get_0x0a(p);
            return g_in.ended ? -1 : 0;
        }
        cgi_mp_get_0x0a(p);  // a further header line
        if (g_in.ended) return -1;
    }
}

// Creates a free temporary file "CGI<n>" of the data directory, n a random
// number (never a count from 0, which grows slower with every file left
// over), in one exclusive step, so that two requests uploading at the same
// moment never share a file, and records it as this request's own. path
// (MP_TEMP_CAP bytes) receives the name in the platform's form even when
// nothing could be created. 0 created, -1 not.
int create_temp(CGI_PARAMS* p, char* path) {
    for (int tries = 0; tries < TEMP_TRIES; ++tries) {
        uint32_t n = 0;
        if (!Cu_random(&n, sizeof n)) return -1;
        std::snprintf(path, MP_TEMP_CAP, "%sCGI%u", p->data_dir, static_cast<unsigned>(n & 0x7FFFFFFFu));
        Cu_platform_path(path);
        int fd = Cu_b_open_excl(path);
        if (fd != -1) {
            CU_FILE_ID id = {};
            const bool known = Cu_b_id(fd, &id) == 0;
            Cu_b_close(fd);
            // Without its identity the end step could not tell it for ours.
            if (!known) {
                Cu_remove(path);
                return -1;
            }
            CGI_UPLOAD* rec = static_cast<CGI_UPLOAD*>(std::malloc(sizeof(CGI_UPLOAD)));
            char* copy = static_cast<char*>(std::malloc(std::strlen(path) + 1));
            if (rec == nullptr || copy == nullptr) {
                // Unrecorded it would never count as this request's upload.
                std::free(rec);
                std::free(copy);
                Cu_remove(path);
                return -1;
            }
            std::strcpy(copy, path);
            rec->path = copy;
            rec->dev = id.dev;
            rec->ino = id.ino;
            rec->next = p->uploads;
            p->uploads = rec;
            return 0;
        }
        // Taken: try the next number. Any other failure (no directory, no
        // permission) would fail for every number alike.
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// Writes n bytes to fd, when fd is open. A failed write closes fd (-1) and
// sets *failed: the upload is incomplete, and later writes are dropped.
void write_block(int* fd, const unsigned char* buf, int n, bool* failed) {
    if (*fd == -1 || n <= 0) return;
    if (Cu_b_write(*fd, buf, n) != n) {
        Cu_b_close(*fd);
        *fd = -1;
        *failed = true;
    }
}

// Removes this request's upload file at path (in the platform's form) and
// forgets it: an upload that could not be stored whole counts as none, so
// that no part of it is ever moved into place.
void drop_upload(CGI_PARAMS* p, const char* path) {
    for (CGI_UPLOAD** u = &p->uploads; *u != nullptr; u = &(*u)->next) {
        if (std::strcmp((*u)->path, path) != 0) continue;
        CGI_UPLOAD* gone = *u;
        Cu_remove(gone->path);
        *u = gone->next;
        std::free(gone->path);
        std::free(gone);
        return;
    }
}

// Sets g_pair to the texts joined, cut to the pair's capacity.
void pair_set(const char* name, const char* value, const char* path = nullptr) {
    const char* pieces[] = {name, "=", value, path != nullptr ? "," : "", path != nullptr ? path : ""};
    std::size_t len = 0;
    for (const char* piece : pieces) {
        std::size_t n = std::strlen(piece);
        if (n > sizeof g_pair - 1 - len) n = sizeof g_pair - 1 - len;
        std::memcpy(g_pair + len, piece, n);
        len += n;
    }
    g_pair[len] = '\0';
}

// cgi_mp_get_str with a bound: once the value has passed `allow` bytes
// (counted whether kept or not), the reading stops there with *over set and
// -1. The two bytes before a boundary may pass it: they are the line break
// that belongs to the boundary.
int read_value(CGI_PARAMS* p, char* out_buff, const char* boundary, uint64_t allow, bool* over) {
    MP_WINDOW w;
    window_init(&w, boundary);
    uint32_t kept = 0;
    uint64_t taken = 0;
    *over = false;
    for (;;) {
        int c = cgi_mp_getc(p);
        if (c < 0) {
            // Cut off: the bytes still in the window are value bytes too.
            for (int i = 0; i < w.count && kept < VALUE_KEEP; ++i) {
                out_buff[kept++] = static_cast<char>(w.ring[(w.start + i) % w.size]);
            }
            out_buff[kept] = '\0';
            return -1;
        }
        int out = window_push(&w, c);
        if (out >= 0) {
            if (kept < VALUE_KEEP) out_buff[kept++] = static_cast<char>(out);
            if (++taken > allow + 2) {
                out_buff[kept] = '\0';
                *over = true;
                return -1;
            }
        }
        if (window_match(&w, c)) {
            // The line break before the boundary belongs to the boundary.
            if (kept >= 2) kept -= 2;
            out_buff[kept] = '\0';
            if (taken >= 2 && taken - 2 > allow) {
                *over = true;
                return -1;
            }
            return after_boundary(p);
        }
    }
}

// The reading of all parts once the source is set. Every pair is charged to
// the fields' budget before it joins the list: text values as they are read,
// so that the reading stops as soon as they pass it.
int read_parts(CGI_PARAMS* p, const char* content_type, int result, int store_files) {
    p->multipart_read = true;
    char boundary[MP_BOUNDARY_CAP];
    cgi_mp_boundary(content_type, boundary);
    if (cgi_mp_wait_boundary(p, boundary) != 0) return 0;

    uint64_t used = 0;
    for (;;) {
        if (cgi_mp_get_name(p, g_name) != 0) return result;
        const bool is_file = cgi_mp_get_filename(p, g_filename) == 0;
        // A body cut off inside the header adds nothing for the part.
        if (skip_part_header(p) != 0) return result;

        int more = 0;
        bool stored = false;
        if (!is_file) {
            const uint64_t fixed = std::strlen(g_name) + 1 + PAIR_COST;
            if (used + fixed > CGI_FIELDS_LIMIT) return CGI_TOO_LARGE;
            bool over = false;
            more = read_value(p, g_value, boundary, CGI_FIELDS_LIMIT - used - fixed, &over);
            if (over) return CGI_TOO_LARGE;
            pair_set(g_name, g_value);
        } else if (g_filename[0] != '\0' && store_files) {
            stored = create_temp(p, g_temp) == 0;
            if (!stored) g_unstored = 1;
            pair_set(g_name, g_filename, g_temp);
        } else {
            // An empty file name means no file was chosen; over the upload
            // limit, a chosen file counts as none as well.
            pair_set(g_name, "");
        }
        used += std::strlen(g_pair) + PAIR_COST;
        if (used > CGI_FIELDS_LIMIT) return CGI_TOO_LARGE;
        cgi_setdata(p, g_pair, 2);
        if (is_file) more = cgi_mp_get_bindata(p, stored ? g_temp : "", boundary);
        if (more != 0) return result;
    }
}

// The result of a whole reading: a body whose input ran dry before its
// content_length was cut off, whatever was read of it; one read whole whose
// upload could not be stored is not to be acted on either.
int read_body_parts(CGI_PARAMS* p, const char* content_type, int result, int store_files) {
    const int r = read_parts(p, content_type, result, store_files);
    if (g_in.dry) return CGI_CUT;
    return g_unstored && r != CGI_TOO_LARGE ? CGI_NOT_STORED : r;
}

}  // namespace

int cgi_mp_getc(CGI_PARAMS* p) {
    if (g_in.ended) return -1;
    if (p->input_byte >= p->content_length) {
        g_in.ended = 1;
        return -1;
    }
    if (g_in.pos >= g_in.len && !input_fill(p)) {
        g_in.ended = 1;
        return -1;
    }
    ++p->input_byte;
    return g_in.block[g_in.pos++];
}

void cgi_mp_input_mem(CGI_PARAMS* p, const void* body, uint32_t body_len) {
    static const unsigned char none = 0;
    input_reset(p, body != nullptr ? static_cast<const unsigned char*>(body) : &none,
                body != nullptr ? body_len : 0);
}

void cgi_mp_boundary(const char* content_type, char* out) {
    std::strcpy(out, "--");
    if (content_type == nullptr || content_type[0] == '\0') return;
    // Only a parameter after the media type counts: from position 1 on.
    const char* at = std::strstr(content_type + 1, "boundary=");
    if (at == nullptr) return;
    const char* p = at + std::strlen("boundary=");
    int n = 2;
    while (*p != '\0' && *p != ']' && n < MP_BOUNDARY_CAP - 1) out[n++] = *p++;
    out[n] = '\0';
}

int cgi_mp_wait_boundary(CGI_PARAMS* p, const char* boundary) {
    MP_WINDOW w;
    window_init(&w, boundary);
    for (;;) {
        int c = cgi_mp_getc(p);
        if (c < 0) return -1;
        window_push(&w, c);
        if (window_match(&w, c)) return after_boundary(p);
    }
}

int cgi_mp_get_name(CGI_PARAMS* p, char* out_buff) {
    out_buff[0] = '\0';
    g_name_took_line = 0;
    // Header lines without a name (a content type before the disposition)
    // are passed over.
    for (;;) {
        int found = line_find(p, "name=");
        if (found < 0) return -1;
        if (found == 1) break;
    }
    if (read_quoted(p, out_buff, MP_NAME_CAP) == '\n') g_name_took_line = 1;
    return 0;
}

int cgi_mp_get_filename(CGI_PARAMS* p, char* out_buff) {
    out_buff[0] = '\0';
    if (g_name_took_line) return -1;
    if (line_find(p, "filename=") != 1) return -1;
    int end = read_quoted(p, out_buff, MP_NAME_CAP);
    if (end != '"') return -1;  // no closing quote on the line: a text field
    cgi_mp_get_0x0a(p);
    return 0;
}

void cgi_mp_get_0x0a(CGI_PARAMS* p) {
    for (;;) {
        int c = cgi_mp_getc(p);
        if (c < 0 || c == '\n') return;
    }
}

int cgi_mp_get_str(CGI_PARAMS* p, char* out_buff, const char* boundary) {
    bool over = false;
    return read_value(p, out_buff, boundary, UINT64_MAX - 2, &over);
}

int cgi_mp_get_bindata(CGI_PARAMS* p, const char* tempfilename, const char* boundary) {
    int fd = -1;
    bool failed = false;
    char path[MP_TEMP_CAP] = "";
    if (tempfilename != nullptr && tempfilename[0] != '\0') {
        std::snprintf(path, sizeof path, "%s", tempfilename);
        fd = Cu_b_open(path, 0);
        failed = fd == -1;
    }
    MP_WINDOW w;
    window_init(&w, boundary);
    // Two bytes more than a block: the last two are held back until the next
    // byte shows that they are not the line break before the boundary.
    unsigned char buf[BIN_BLOCK + 2];
    int n = 0;
    for (;;) {
        int c = cgi_mp_getc(p);
        if (c < 0) {
            // Cut off: what is still held is not written.
            if (fd != -1) Cu_b_close(fd);
            return -1;
        }
        int out = window_push(&w, c);
        if (out >= 0) {
            if (n == BIN_BLOCK + 2) {
                write_block(&fd, buf, BIN_BLOCK, &failed);
                buf[0] = buf[BIN_BLOCK];
                buf[1] = buf[BIN_BLOCK + 1];
                n = 2;
            }
            buf[n++] = static_cast<unsigned char>(out);
        }
        if (window_match(&w, c)) {
            if (n >= 2 && buf[n - 2] == '\r' && buf[n - 1] == '\n') n -= 2;
            write_block(&fd, buf, n, &failed);
            // A close can be the first to report a write that failed (one
            // that a signal interrupted has closed the file all the same).
            if (fd != -1 && Cu_b_close(fd) != 0 && errno != EINTR) failed = true;
            if (failed) {
                g_unstored = 1;
                drop_upload(p, path);  // path as the open converted it
            }
            return after_boundary(p);
        }
    }
}

int cgi_get_multipart(CGI_PARAMS* p, int result, int store_files) {
    char content_type[MP_NAME_CAP];
    const char* env = std::getenv("CONTENT_TYPE");
    std::snprintf(content_type, sizeof content_type, "%s", env != nullptr ? env : "");
    input_reset(p, nullptr, 0);
    return read_body_parts(p, content_type, result, store_files);
}

int cgi_multipart_mem(CGI_PARAMS* p, const char* content_type, uint32_t declared_length,
                      const void* body, uint32_t body_len, int result, int store_files) {
    p->content_length = declared_length;
    cgi_mp_input_mem(p, body, body_len);
    char type[MP_NAME_CAP];
    std::snprintf(type, sizeof type, "%s", content_type != nullptr ? content_type : "");
    return read_body_parts(p, type, result, store_files);
}

bool cgi_is_own_upload(const CGI_PARAMS* p, const char* path) {
    if (path == nullptr || path[0] == '\0') return false;
    // Compared in the platform's form, as the upload value carries it.
    char probe[MP_TEMP_CAP];
    std::snprintf(probe, sizeof probe, "%s", path);
    Cu_platform_path(probe);
    for (const CGI_UPLOAD* u = p->uploads; u != nullptr; u = u->next) {
        if (std::strcmp(u->path, probe) == 0) return true;
    }
    return false;
}

void cgi_free(CGI_PARAMS* p) {
    // The head node is not allocated; its texts and every further node are.
    CGI_PAIR* node = p->list.next;
    std::free(p->list.name);
    std::free(p->list.value);
    while (node != nullptr) {
        CGI_PAIR* next = node->next;
        std::free(node->name);
        std::free(node->value);
        std::free(node);
        node = next;
    }
    p->list = CGI_PAIR{};
    p->cur = nullptr;

    // Whatever the request's outcome, its uploads that no handler moved away
    // go with it: nothing a request wrote before its login was checked may
    // outlive it. A name that now leads to another file (ours was moved, and
    // another request made a new one of the same name) is left alone.
    while (p->uploads != nullptr) {
        CGI_UPLOAD* next = p->uploads->next;
        CU_FILE_ID id;
        if (Cu_id(p->uploads->path, &id) == 0 && id.dev == p->uploads->dev && id.ino == p->uploads->ino)
            Cu_remove(p->uploads->path);
        std::free(p->uploads->path);
        std::free(p->uploads);
        p->uploads = next;
    }

    // Uploads an hour old were left by earlier requests that were killed
    // before their end; younger ones may still be in use. Looked for by the
    // requests that upload (listing the data directory on every reload would
    // cost every request), so leftovers never pile up beyond what uploading
    // requests left.
    if (!p->multipart_read) return;
    p->multipart_read = false;
    char names[1200];
    std::snprintf(names, sizeof names, "%sCGI*", p->data_dir);
    Cu_filefind(names);
    for (char* at = names; *at != '\0';) {
        char* comma = std::strchr(at, ',');
        if (comma != nullptr) *comma = '\0';
        char path[sizeof p->data_dir + sizeof names];
        std::snprintf(path, sizeof path, "%s%s", p->data_dir, at);
        Cu_removefile1h(path, 60);
        if (comma == nullptr) break;
        at = comma + 1;
    }
}
