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
};

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

void append(REPLY_BUFFER* b, const void* bytes, std::size_t n) {
    if (n == 0) return;
    if (b->len + n > b->cap) {
        std::size_t cap = b->cap == 0 ? 8192 : b->cap;
        while (cap < b->len + n) cap *= 2;
        char* grown = static_cast<char*>(std::realloc(b->bytes, cap));
        // Out of memory: the piece is lost, as a write to a full disk would be.
        if (grown == nullptr) return;
        b->bytes = grown;
        b->cap = cap;
    }
    std::memcpy(b->bytes + b->len, bytes, n);
    b->len += n;
}

void release(REPLY_BUFFER* b) {
    std::free(b->bytes);
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

}  // namespace

void out(const char* text) { append(&g_reply.body, text, std::strlen(text)); }

void out_bytes(const void* bytes, std::size_t n) { append(&g_reply.body, bytes, n); }

void out_fmt(const char* format, ...) {
    char small[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) < sizeof small) {
        append(&g_reply.body, small, static_cast<std::size_t>(n));
        return;
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(&big[0], big.size(), format, args);
    va_end(args);
    append(&g_reply.body, big.data(), static_cast<std::size_t>(n));
}

void out_html(const char* text) {
    G_html_pieces(
        text, [](const char* bytes, std::size_t n, void* body) { append(static_cast<REPLY_BUFFER*>(body), bytes, n); },
        &g_reply.body);
}

void out_url(const char* text) {
    const std::string encoded = G_url(text);
    append(&g_reply.body, encoded.data(), encoded.size());
}

void reply_status(const char* status) { G_set(g_reply.status, status); }

void reply_type(const char* line) { G_set(g_reply.type, line); }

void reply_header(const char* line) {
    append(&g_reply.headers, line, std::strlen(line));
    append(&g_reply.headers, "\n", 1);
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
    bool ok = write_all(fd, v, g_reply.body.len > 0 ? 2 : 1);

    if (g_reply.has_file) {
        char block[65536];
        for (int got; ok && (got = Cu_b_read(g_reply.file, block, sizeof block)) > 0;) {
            struct iovec piece = {block, static_cast<std::size_t>(got)};
            ok = write_all(fd, &piece, 1);
        }
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
