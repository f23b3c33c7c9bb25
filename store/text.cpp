// Shift_JIS-aware string helpers: every function that must respect character
// boundaries walks the text with G_char_len, the one lead-byte rule.
#include "store/text.h"

#include <cstdlib>
#include <cstring>
#include <new>

void G_set(char* field, std::size_t cap, const char* src) {
    if (field == nullptr || cap == 0) return;
    std::size_t n = 0;
    if (src != nullptr) {
        while (n + 1 < cap && src[n] != '\0') {
            field[n] = src[n];
            ++n;
        }
    }
    field[n] = '\0';
}

int32_t G_atoi(const char* text) {
    if (text == nullptr) return 0;
    long v = std::strtol(text, nullptr, 10);
    // Wrap modulo 2^32 like the suite's 32-bit fields.
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(v)));
}

int G_StrFind(const char* in_buff, const char* keyword) {
    if (in_buff == nullptr || keyword == nullptr || in_buff[0] == '\0' || keyword[0] == '\0') return -1;
    // A keyword of one single-byte character (a separator: ",", "=", "?"),
    // the common case: a character of its own is that byte and no lead byte.
    if (keyword[1] == '\0' && !G_is_lead(static_cast<unsigned char>(keyword[0]))) {
        for (int at = 0; in_buff[at] != '\0'; at += G_char_len(in_buff + at)) {
            if (in_buff[at] == keyword[0]) return at;
        }
        return -1;
    }
    const std::size_t klen = std::strlen(keyword);
    // Try a match at every character boundary; a match consists of whole
    // characters of in_buff, so a double-byte character is compared as a unit
    // and its second byte is never taken for a character of its own.
    for (int start = 0; in_buff[start] != '\0'; start += G_char_len(in_buff + start)) {
        std::size_t k = 0;
        int pos = start;
        while (k < klen && in_buff[pos] != '\0') {
            int len = G_char_len(in_buff + pos);
            if (k + static_cast<std::size_t>(len) > klen) break;
            if (std::memcmp(in_buff + pos, keyword + k, static_cast<std::size_t>(len)) != 0) break;
            k += static_cast<std::size_t>(len);
            pos += len;
        }
        if (k == klen) return start;
    }
    return -1;
}

std::size_t G_line_piece(const char* text, std::size_t size, std::size_t pos, std::size_t max) {
    if (pos >= size) return 0;
    std::size_t n = max < size - pos ? max : size - pos;
    const void* lf = std::memchr(text + pos, '\n', n);
    if (lf != nullptr) n = static_cast<std::size_t>(static_cast<const char*>(lf) - (text + pos)) + 1;
    return n;
}

bool G_next_line(const char* text, std::size_t size, std::size_t* pos, char* line, int cap) {
    if (cap < 2 || *pos >= size) return false;
    const std::size_t n = G_line_piece(text, size, *pos, static_cast<std::size_t>(cap - 1));
    std::memcpy(line, text + *pos, n);
    line[n] = '\0';
    *pos += n;
    return true;
}

void G_setStrlength(char* in_buff, int in_size) {
    if (in_buff == nullptr) return;
    if (in_size < 1) in_size = 1;
    const int limit = in_size - 1;
    int pos = 0;
    while (in_buff[pos] != '\0') {
        int len = G_char_len(in_buff + pos);
        if (pos + len > limit) {
            in_buff[pos] = '\0';  // a character that would straddle the limit goes whole
            return;
        }
        pos += len;
    }
}

void G_CrLf_to_BR(char* in_data) {
    if (in_data == nullptr) return;
    // The work buffer leaves room for the last character after the output
    // passed its 99,999 bytes ("<BR>\n" is the longest one).
    const std::size_t work_cap = 104000;
    char* work = new (std::nothrow) char[work_cap];
    if (work == nullptr) return;
    std::memset(work, 0, work_cap);
    std::size_t out = 0;
    int pos = 0;
    while (in_data[pos] != '\0') {
        int len = G_char_len(in_data + pos);
        if (len == 2) {
            work[out++] = in_data[pos];
            work[out++] = in_data[pos + 1];
        } else if (in_data[pos] == '\n') {
            // dropped: "\r\n" gives one line break, from the "\r"
        } else if (in_data[pos] == '\r') {
            std::memcpy(work + out, "<BR>\n", 5);
            out += 5;
        } else {
            work[out++] = in_data[pos];
        }
        pos += len;
        if (out > 99999) break;
    }
    work[out] = '\0';
    std::memcpy(in_data, work, out + 1);
    delete[] work;
}

void G_ToUppers(char* data) {
    if (data == nullptr) return;
    for (int pos = 0; data[pos] != '\0';) {
        int len = G_char_len(data + pos);
        if (len == 1 && data[pos] >= 'a' && data[pos] <= 'z') data[pos] = static_cast<char>(data[pos] - 0x20);
        pos += len;
    }
}

void G_CutCrLf(char* in_buff) {
    if (in_buff == nullptr) return;
    // Byte-wise from the end: neither CR nor LF can be the second byte of a
    // double-byte character.
    std::size_t n = std::strlen(in_buff);
    while (n > 0 && (in_buff[n - 1] == '\r' || in_buff[n - 1] == '\n')) in_buff[--n] = '\0';
}

void G_cut_filename(const char* in_filename, char* out_filename, char* TEMP_filename) {
    enum { OUT_CAP = 252, TEMP_CAP = 4002 };
    if (out_filename != nullptr) out_filename[0] = '\0';
    if (TEMP_filename != nullptr) TEMP_filename[0] = '\0';
    if (in_filename == nullptr || out_filename == nullptr || TEMP_filename == nullptr) return;

    // The temporary path is what follows the LAST comma: the multipart reader
    // appends it behind the browser's name, which may itself hold commas. The
    // comma is found byte-wise: the browser's name may end in a lone lead byte
    // (a name in another encoding), which a character walk would pair with
    // the reader's comma, losing the upload. The path itself holds no comma.
    const char* last = std::strrchr(in_filename, ',');
    const int comma = last != nullptr ? static_cast<int>(last - in_filename) : -1;
    const int name_end = comma >= 0 ? comma : static_cast<int>(std::strlen(in_filename));
    G_set(TEMP_filename, TEMP_CAP, comma >= 0 ? in_filename + comma + 1 : in_filename);

    // The browser's directories end at the last single-byte "\" or "/".
    int name_start = 0;
    int pos;
    for (pos = 0; pos < name_end; pos += G_char_len(in_filename + pos))
        if (in_filename[pos] == '\\' || in_filename[pos] == '/') name_start = pos + 1;

    // Copy whole characters up to the field's capacity; a comma byte left in
    // the bare name becomes '_' since the stored settings are comma-separated
    // (also one that follows a stray lead byte, which a byte-wise reader
    // would still take for a separator).
    int out = 0;
    for (pos = name_start; pos < name_end;) {
        int len = G_char_len(in_filename + pos);
        if (pos + len > name_end) len = name_end - pos;
        if (out + len > OUT_CAP - 1) break;
        for (int i = 0; i < len; ++i)
            out_filename[out + i] = in_filename[pos + i] == ',' ? '_' : in_filename[pos + i];
        out += len;
        pos += len;
    }
    out_filename[out] = '\0';
}

int G_setting_number(const char* text, int max_digits, int low, int high, int fallback) {
    if (text == nullptr || text[0] == '\0') return fallback;
    int value = 0;
    int digits = 0;
    for (const char* p = text; *p != '\0'; ++p, ++digits) {
        if (*p < '0' || *p > '9' || digits == max_digits) return fallback;
        value = value * 10 + (*p - '0');
    }
    return value >= low && value <= high ? value : fallback;
}
