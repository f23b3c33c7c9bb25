// The parameter reader: the query string of a GET or the URL-encoded body of a
// POST split into name/value pairs, kept in arrival order in one list. Other
// POST bodies go to the multipart reader, which appends to the same list.
#include "cgi/cgilib61.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "store/text.h"

namespace {

// Splits the URL-encoded text in buf at each "&" and adds every piece to p;
// piece is a work buffer at least as large as buf.
void parse_urlencoded(CGI_PARAMS* p, char* buf, char* piece) {
    if (buf[0] == '\0') return;
    // Before any decoding, so that an encoded %2B stays a plus sign.
    for (char* c = buf; *c; ++c) {
        if (*c == '+') *c = ' ';
    }
    const char* at = buf;
    while (*at) {
        const char* amp = std::strchr(at, '&');
        const std::size_t len = amp ? static_cast<std::size_t>(amp - at) : std::strlen(at);
        std::memcpy(piece, at, len);
        piece[len] = '\0';
        cgi_setdata(p, piece, 1);  // an empty piece adds an empty name and value
        if (!amp) break;
        at = amp + 1;  // a trailing "&" leaves nothing and adds nothing
    }
}

// Digit value of one byte of a %XX escape, by the arithmetic the suite's
// programs share: letters fold to upper case, anything else counts from '0'.
// Unchecked on purpose: any pair decodes to some byte.
int hex_value(char c) {
    const signed char s = static_cast<signed char>(c);
    return s > 0x40 ? (s & 0xDF) - 0x37 : s - 0x30;
}

// Reads up to `want` bytes of the body into buf in blocks; returns the count
// read, which is short only when the input ended first.
uint32_t read_body(char* buf, uint32_t want) {
    uint32_t got = 0;
    while (got < want) {
        const std::size_t n = std::fread(buf + got, 1, want - got, stdin);
        if (n == 0) break;
        got += static_cast<uint32_t>(n);
    }
    return got;
}

// Allocates the input text and the parser's work buffer, size bytes each.
// Returns false (both null, nothing held) when either cannot be had.
bool alloc_buffers(std::size_t size, char** buf, char** piece) {
    *buf = static_cast<char*>(std::malloc(size));
    *piece = static_cast<char*>(std::malloc(size));
    if (*buf != nullptr && *piece != nullptr) return true;
    std::free(*buf);
    std::free(*piece);
    *buf = nullptr;
    *piece = nullptr;
    return false;
}

}  // namespace

int cgi_get(CGI_PARAMS* p, uint32_t max_length, const char* data_dir) {
    int result = CGI_OK;
    p->list = CGI_PAIR{};
    p->cur = nullptr;
    p->content_length = 0;
    p->input_byte = 0;
    G_set(p->data_dir, data_dir != nullptr ? data_dir : "");

    const char* method = std::getenv("REQUEST_METHOD");
    if (!method) method = "";

    char* buf = nullptr;
    char* piece = nullptr;
    if (std::strcmp(method, "GET") == 0) {
        const char* query = std::getenv("QUERY_STRING");
        if (!query || query[0] == '\0') return CGI_OK;
        const std::size_t size = std::strlen(query) + 9;
        if (!alloc_buffers(size, &buf, &piece)) return CGI_NO_MEMORY;
        std::strcpy(buf, query);
    } else if (std::strcmp(method, "POST") == 0) {
        const char* length_text = std::getenv("CONTENT_LENGTH");
        const int32_t length = G_atoi(length_text ? length_text : "");
        if (length <= 0) return CGI_BAD_LENGTH;
        p->content_length = static_cast<uint32_t>(length);
        const char* type = std::getenv("CONTENT_TYPE");
        const bool urlencoded = type && std::strcmp(type, "application/x-www-form-urlencoded") == 0;
        // Bounded before a byte is read: a URL-encoded body is held whole in
        // memory, a multipart one may carry files up to the upload limit.
        const uint64_t bound = urlencoded ? CGI_FIELDS_LIMIT : static_cast<uint64_t>(max_length) + CGI_FIELDS_LIMIT;
        if (p->content_length > bound) return CGI_TOO_LARGE;
        // A body over the limit is still read, but its uploads are not kept.
        int store_files = 1;
        if (p->content_length > max_length) {
            result = CGI_BAD_LENGTH;
            store_files = 0;
        }
        if (!urlencoded) return cgi_get_multipart(p, result, store_files);
        const std::size_t size = static_cast<std::size_t>(p->content_length) + 10;
        if (!alloc_buffers(size, &buf, &piece)) return CGI_NO_MEMORY;
        p->input_byte = read_body(buf, p->content_length);
        if (p->input_byte < p->content_length) {
            // The client went away: a part of a form is not taken for it.
            std::free(buf);
            std::free(piece);
            return CGI_CUT;
        }
        buf[p->input_byte] = '\0';
    } else {
        return CGI_OK;
    }

    parse_urlencoded(p, buf, piece);
    std::free(buf);
    std::free(piece);
    return result;
}

// The lookup does not move `cur`: it stays at the list's empty end node, so a
// pair added after a lookup is appended and never written over a node that
// already holds one.
const char* cgi_value(const CGI_PARAMS* p, const char* name, int in_count) {
    int count = 0;
    for (const CGI_PAIR* node = &p->list; node && node->name; node = node->next) {
        if (std::strcmp(node->name, name) != 0) continue;
        if (count == in_count) return node->value;
        ++count;
    }
    return nullptr;
}

void cgi_getvalue(const CGI_PARAMS* p, const char* name, int in_count, char* out_buff, int in_size) {
    if (in_size <= 0) return;
    const char* value = cgi_value(p, name, in_count);
    G_set(out_buff, static_cast<std::size_t>(in_size), value != nullptr ? value : "");
}

bool cgi_has(const CGI_PARAMS* p, const char* name) { return cgi_value(p, name, 0) != nullptr; }

void cgi_setdata(CGI_PARAMS* p, const char* input_buffer, int mode) {
    const int k = G_StrFind(input_buffer, "=");
    const std::size_t name_len = k >= 0 ? static_cast<std::size_t>(k) : std::strlen(input_buffer);
    const char* value_src = k >= 0 ? input_buffer + k + 1 : "";
    const std::size_t value_len = std::strlen(value_src);

    char* name = static_cast<char*>(std::malloc(name_len + 1));
    char* value = static_cast<char*>(std::malloc(value_len + 1));
    CGI_PAIR* next = static_cast<CGI_PAIR*>(std::calloc(1, sizeof(CGI_PAIR)));
    if (!name || !value || !next) {
        // Out of memory: the pair is dropped and the list stays as it was.
        std::free(name);
        std::free(value);
        std::free(next);
        return;
    }
    std::memcpy(name, input_buffer, name_len);
    name[name_len] = '\0';
    std::memcpy(value, value_src, value_len + 1);
    if (mode == 1) {
        cgi_decode(name);
        cgi_decode(value);
    }
    CGI_PAIR* at = p->cur != nullptr ? p->cur : &p->list;
    at->name = name;
    at->value = value;
    at->next = next;
    p->cur = next;
}

void cgi_decode(char* in_data) {
    // The decoded text is never longer than the encoded one, so it is written
    // over the text from its start.
    char* out = in_data;
    const char* in = in_data;
    while (*in) {
        if (in[0] == '%' && in[1] != '\0' && in[2] != '\0') {
            const int byte = (hex_value(in[1]) * 16 + hex_value(in[2])) & 0xFF;
            if (byte == 0) break;  // a decoded %00 ends the text
            *out++ = static_cast<char>(byte);
            in += 3;
        } else {
            // A "%" without two bytes after it stays as it stands.
            *out++ = *in++;
        }
    }
    *out = '\0';
}

