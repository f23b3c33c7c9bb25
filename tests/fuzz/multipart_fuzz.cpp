// Fuzz target of the in-memory multipart reader. The first input byte picks
// the mode:
// - raw (bit 7 clear): "content type" 0x00 "body"; bit 0 stores uploads,
//   bit 1 declares the body longer than it is (a client cut off). The reader
//   must stay in its buffers, read no more than declared, make only files it
//   records as its own, and leave none behind after cgi_free.
// - built (bit 7 set): zero-separated texts "boundary", then name/value pairs
//   (a name starting with '@' is a file field; '"', '=', line ends and a
//   last lone lead byte are dropped from names). A well-formed body is built
//   from them and must read back as exactly those pairs and file contents,
//   unless its fields pass the limit of what a request may hold.
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cgi/cgilib61.h"
#include "cgi/multipart.h"
#include "store/fileio.h"
#include "store/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The parameters of the body under test; uploads go to its data_dir.
CGI_PARAMS params;

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Checks the list against the uploads on disk; returns the number of pairs.
std::size_t check_list(bool store_files, std::size_t body_len) {
    std::size_t pairs = 0, files = 0;
    for (const CGI_PAIR* node = &params.list; node && node->name; node = node->next, ++pairs) {
        FUZZ_CHECK(node->value != nullptr);
        FUZZ_CHECK(std::strlen(node->name) + 1 + std::strlen(node->value) < MP_VALUE_CAP);
        // A value that names one of this request's uploads: the file exists
        // in the data directory and holds no more than the body carried.
        char bare[252];
        std::vector<char> temp(4002);
        G_cut_filename(node->value, bare, temp.data());
        if (cgi_is_own_upload(&params, temp.data())) {
            ++files;
            struct stat st;
            FUZZ_CHECK(stat(temp.data(), &st) == 0 && static_cast<std::size_t>(st.st_size) <= body_len);
            FUZZ_CHECK((st.st_mode & 077) == 0);
        }
    }
    // Every file in the data directory is one of this request's uploads, at
    // most one per pair. (A field name ending in a lone lead byte swallows
    // the "=" of its pair, so its upload is named by no value; the reader
    // still owns it and cgi_free removes it.)
    const std::vector<std::string> made = fuzz::scratch_entries("CGI");
    FUZZ_CHECK(made.size() >= files && made.size() <= pairs);
    for (const std::string& name : made) FUZZ_CHECK(cgi_is_own_upload(&params, (fuzz::scratch_dir() + "/" + name).c_str()));
    if (!store_files) FUZZ_CHECK(made.empty());
    return pairs;
}

void finish() {
    cgi_free(&params);
    FUZZ_CHECK(params.list.name == nullptr && params.cur == nullptr);
    FUZZ_CHECK(fuzz::scratch_entries("CGI").empty());
}

// Only bytes that keep a boundary one token: no quote, blank, ']' or line end.
std::string boundary_of(const std::string& s) {
    std::string b;
    for (char c : s) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || std::strchr("'()+_,-./:=?", c))
            b += c;
        if (b.size() == 60) break;
    }
    return b.empty() ? "fz" : b;
}

void run_built(const std::vector<std::string>& t) {
    const std::string boundary = boundary_of(t[0]);
    const std::string delim = "--" + boundary;
    std::string body = "preamble\r\n";
    struct Field { std::string name, value; bool file; };
    std::vector<Field> fields;
    for (std::size_t i = 1; i + 1 < t.size(); i += 2) {
        // The reader joins "name=value" and splits the pair at its first "="
        // that is a character of its own (as the parameter reader does), so a
        // name holding "=" or ending in a lone lead byte (which takes the "="
        // as its second byte) cannot come through whole; nor can one with a
        // quote or a line end.
        std::string name;
        for (char c : t[i])
            if (c != '"' && c != '\r' && c != '\n' && c != '=' && name.size() < 200) name += c;
        std::size_t walk = 0;
        while (walk + 1 < name.size()) walk += G_char_len(name.c_str() + walk);
        if (walk + 1 == name.size() && G_is_lead(static_cast<unsigned char>(name.back()))) name.pop_back();
        const std::string& value = t[i + 1];
        // A value holding the delimiter would end its part there.
        if (value.find(delim) != std::string::npos) continue;
        const bool file = !name.empty() && name[0] == '@';
        fields.push_back({name, value, file});
        body += delim + "\r\nContent-Disposition: form-data; name=\"" + name + "\"";
        if (file) body += "; filename=\"C:\\pics\\up.gif\"\r\nContent-Type: image/gif";
        body += "\r\n\r\n" + value + "\r\n";
    }
    body += delim + "--\r\n";
    const std::string type = "multipart/form-data; boundary=" + boundary;
    const int r = cgi_multipart_mem(&params, type.c_str(), static_cast<uint32_t>(body.size()), body.data(),
                                    static_cast<uint32_t>(body.size()), 0, 1);
    if (r == CGI_TOO_LARGE) {
        // Refused only for fields that pass the limit: each pair counts its
        // "name=value" (a file's value at most its browser name, a comma
        // and the longest temporary path) and 64 bytes for its node.
        std::size_t most = 0;
        for (const Field& f : fields)
            most += f.name.size() + 1 + (f.file ? std::strlen("C:\\pics\\up.gif,") + MP_TEMP_CAP : f.value.size()) + 64;
        FUZZ_CHECK(most > CGI_FIELDS_LIMIT);
        finish();
        return;
    }

    const CGI_PAIR* node = &params.list;
    for (const Field& f : fields) {
        FUZZ_CHECK(node != nullptr && node->name != nullptr);
        FUZZ_CHECK(f.name == node->name);
        if (!f.file) {
            FUZZ_CHECK(f.value == node->value);
        } else {
            char bare[252];
            std::vector<char> temp(4002);
            G_cut_filename(node->value, bare, temp.data());
            FUZZ_CHECK(std::strcmp(bare, "up.gif") == 0);
            FUZZ_CHECK(cgi_is_own_upload(&params, temp.data()));
            FUZZ_CHECK(read_file(temp.data()) == f.value);
        }
        node = node->next;
    }
    FUZZ_CHECK(node != nullptr && node->name == nullptr);
    check_list(true, body.size());
    finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = [] {
        // Uploads go to the scratch directory, which cgi_free also sweeps.
        G_set(params.data_dir, (fuzz::scratch_dir() + "/").c_str());
        Fio_set_data_dir(params.data_dir);
        return true;
    }();
    (void)once;
    if (size == 0) return 0;
    const int flags = data[0];
    ++data;
    --size;

    if (flags & 0x80) {
        run_built(fuzz::split0(data, size, 41));
        return 0;
    }

    const std::vector<std::string> t = fuzz::split0(data, size, 1);
    const std::string& type = t[0];
    const std::size_t skip = type.size() < size ? type.size() + 1 : size;
    const uint8_t* body = data + skip;
    const uint32_t body_len = static_cast<uint32_t>(size - skip);
    const bool store_files = (flags & 1) != 0;
    const uint32_t declared = (flags & 2) ? body_len + 64 : body_len;
    // The body in a buffer of exactly its size, so that any read past it shows.
    std::vector<uint8_t> exact(body, body + body_len);
    cgi_multipart_mem(&params, type.c_str(), declared, exact.empty() ? nullptr : exact.data(), body_len, 0, store_files ? 1 : 0);
    FUZZ_CHECK(params.input_byte <= body_len);
    check_list(store_files, body_len);
    finish();
    return 0;
}
