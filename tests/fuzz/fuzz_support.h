// Support shared by the fuzz targets: a check that aborts (so that libFuzzer
// and the corpus replay both report a broken invariant as a crash, whatever
// NDEBUG says), the split of an input into zero-separated texts, and a
// scratch directory of the process for targets whose readers take files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace fuzz {

// The first `want` texts of the input, separated by zero bytes (a missing
// text is empty; whatever follows the last one is ignored), so that one input
// carries several C strings and seeds stay writable by hand.
inline std::vector<std::string> split0(const uint8_t* data, std::size_t size, std::size_t want) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != 0) {
            parts.back() += static_cast<char>(data[i]);
        } else if (parts.size() < want) {
            parts.emplace_back();
        } else {
            break;
        }
    }
    parts.resize(want);
    return parts;
}

// A directory of this process under the system's temporary directory, made on
// first use and removed with its content when the process exits normally.
inline const std::string& scratch_dir() {
    static const std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && base[0] ? base : "/tmp") + "/velt-fuzz-XXXXXX";
        if (mkdtemp(&templ[0]) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        return templ;
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratch_dir(), ec);
        });
        return true;
    }();
    (void)cleanup;
    return dir;
}

// Writes bytes as the file name of the scratch directory; returns its path.
inline std::string scratch_file(const std::string& name, const uint8_t* data, std::size_t size) {
    const std::string path = scratch_dir() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

// Names of the scratch directory's entries that start with prefix.
inline std::vector<std::string> scratch_entries(const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(scratch_dir())) {
        const std::string n = e.path().filename().string();
        if (n.compare(0, prefix.size(), prefix) == 0) names.push_back(n);
    }
    return names;
}

}  // namespace fuzz
