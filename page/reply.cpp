// The reply held in memory until it is sent (see reply.h).
#include "page/reply.h"

#include <sys/uio.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "page/escape.h"
#include "store/cust.h"
#include "store/text.h"

namespace {

// A growing byte buffer (malloc'd).
struct REPLY_BUFFER {
    char* bytes;
    std::size_t len;
    std::size_t cap;
    bool own;  // bytes is malloc'd (else the buffer's first memory, below)
};

// The first memory of the two buffers, for the whole process: a page of the
// chat fits the body's (only the memory written is ever touched, while each
// doubling would copy the page into new memory), and the header lines are a
// few hundred bytes. Only an answer larger than these takes memory of its own.
char g_body_first[65536];
char g_headers_first[1024];

struct REPLY {
    char status[64];        // e.g. "503 Service Unavailable"; empty: none
    char type[1024];        // the content-type line; empty: none
    REPLY_BUFFER headers;   // further header lines, each ending in "\n"
    REPLY_BUFFER body;
    bool has_file;          // file's bytes follow the body
    int file;
    bool sent;
};

// Module state: the one answer of this process, built by the handlers until
// velt_main sends it.
REPLY g_reply;

// Appends n bytes to b; an empty buffer starts in its first memory (first,
// first_cap bytes), a full one moves to malloc'd memory of twice its size.
void append(REPLY_BUFFER* b, const void* bytes, std::size_t n, char* first, std::size_t first_cap) {
    if (n == 0) return;
    if (b->cap == 0) {
        b->bytes = first;
        b->cap = first_cap;
        b->own = false;
    }
    if (b->len + n > b->cap) {
        std::size_t cap = b->cap;
        while (cap < b->len + n) cap *= 2;
        char* grown = static_cast<char*>(b->own ? std::realloc(b->bytes, cap) : std::malloc(cap));
        // Out of memory: the piece is lost, as a write to a full disk would be.
        if (grown == nullptr) return;
        if (!b->own) std::memcpy(grown, b->bytes, b->len);
        b->bytes = grown;
        b->cap = cap;
        b->own = true;
    }
    std::memcpy(b->bytes + b->len, bytes, n);
    b->len += n;
}

// Appends n bytes to the body.
void append_body(const void* bytes, std::size_t n) {
    append(&g_reply.body, bytes, n, g_body_first, sizeof g_body_first);
}

void release(REPLY_BUFFER* b) {
    if (b->own) std::free(b->bytes);
    *b = REPLY_BUFFER{};
}

void drop_file() {
    if (g_reply.has_file) Cu_b_close(g_reply.file);
    g_reply.has_file = false;
    g_reply.file = -1;
}

// Writes all n bytes of the pieces to fd (one writev where it can); false
// once a write fails.
bool write_all(int fd, struct iovec* v, int count) {
    while (count > 0) {
        const ssize_t w = writev(fd, v, count);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        std::size_t done = static_cast<std::size_t>(w);
        while (count > 0 && done >= v->iov_len) {
            done -= v->iov_len;
            ++v;
            --count;
        }
        if (count > 0) {
            v->iov_base = static_cast<char*>(v->iov_base) + done;
            v->iov_len -= done;
        }
    }
    return true;
}

// Writes the reply's file to fd, in blocks. A function of its own: its block
// is on the stack only while a picture is sent, not under every page.
__attribute__((noinline)) void send_file(int fd) {
    char block[65536];
    for (int got; (got = Cu_b_read(g_reply.file, block, sizeof block)) > 0;) {
        struct iovec piece = {block, static_cast<std::size_t>(got)};
        if (!write_all(fd, &piece, 1)) return;
    }
}

}  // namespace

void out(const char* text) { append_body(text, std::strlen(text)); }

void out_bytes(const void* bytes, std::size_t n) { append_body(bytes, n); }

void out_fmt(const char* format, ...) {
    char small[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) < sizeof small) {
        append_body(small, static_cast<std::size_t>(n));
        return;
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(&big[0], big.size(), format, args);
    va_end(args);
    append_body(big.data(), static_cast<std::size_t>(n));
}

void out_html(const char* text) {
    G_html_pieces(
        text, [](const char* bytes, std::size_t n, void*) { append_body(bytes, n); }, nullptr);
}

void reply_status(const char* status) { G_set(g_reply.status, status); }

void reply_type(const char* line) { G_set(g_reply.type, line); }

void reply_header(const char* line) {
    append(&g_reply.headers, line, std::strlen(line), g_headers_first, sizeof g_headers_first);
    append(&g_reply.headers, "\n", 1, g_headers_first, sizeof g_headers_first);
}

void reply_discard_body() {
    g_reply.status[0] = '\0';
    g_reply.type[0] = '\0';
    g_reply.headers.len = 0;
    g_reply.body.len = 0;
    drop_file();
}

void reply_file(int fd) {
    drop_file();
    g_reply.has_file = true;
    g_reply.file = fd;
}

void reply_send(int fd) {
    if (g_reply.sent) return;
    g_reply.sent = true;

    std::string head;
    if (g_reply.status[0] != '\0') head = std::string("Status: ") + g_reply.status + "\n";
    if (g_reply.type[0] != '\0') head += std::string(g_reply.type) + "\n";
    head.append(g_reply.headers.bytes != nullptr ? g_reply.headers.bytes : "", g_reply.headers.len);
    if (!head.empty()) head += "\n";

    struct iovec v[2] = {{&head[0], head.size()}, {g_reply.body.bytes, g_reply.body.len}};
    const bool ok = write_all(fd, v, g_reply.body.len > 0 ? 2 : 1);
    if (g_reply.has_file) {
        if (ok) send_file(fd);
        drop_file();
    }
}

void reply_reset() {
    drop_file();
    release(&g_reply.headers);
    release(&g_reply.body);
    g_reply.status[0] = '\0';
    g_reply.type[0] = '\0';
    g_reply.sent = false;
}
