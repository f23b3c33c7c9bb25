// velt-admin's shared parts (see admin.h): refusals, arguments, the Shift_JIS
// conversion of text arguments, file helpers and opening a site.
#include "tools/admin.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "settings/sysinfo.h"
#include "store/cust.h"
#include "store/fileio.h"
#include "store/sjis.h"

bool admin_args_sjis = false;

void admin_die(const std::string& message) {
    std::fprintf(stderr, "velt-admin: %s\n", message.c_str());
    std::exit(ADMIN_FAILED);
}

void admin_usage(const std::string& command, const std::string& message) {
    std::fprintf(stderr, "velt-admin: %s\n", message.c_str());
    if (!admin_help(command, stderr)) std::fputs("Try: velt-admin --help\n", stderr);
    std::exit(ADMIN_USAGE);
}

void admin_bad_value(const std::string& message) {
    std::fprintf(stderr, "velt-admin: %s\n", message.c_str());
    std::exit(ADMIN_USAGE);
}

std::string admin_store_error(int r) {
    switch (r) {
        case FIO_NOT_FOUND: return "not found or refused";
        case FIO_NO_FILE: return "a file could not be opened or created";
        case FIO_EXISTS: return "already present";
        case FIO_BAD_ARGUMENT: return "refused as a bad argument";
        case FIO_LOCKED: return "the file is locked by another request; try again";
        default: return "result " + std::to_string(r);
    }
}

ADMIN_ARGS admin_parse(const std::string& command, int argc, char** argv, int from,
                       const std::vector<std::string>& options, const std::vector<std::string>& flags) {
    ADMIN_ARGS a;
    for (int i = from; i < argc; ++i) {
        const std::string s = argv[i];
        if (s.size() > 2 && s.rfind("--", 0) == 0) {
            bool is_flag = false, is_option = false;
            for (const auto& f : flags) is_flag = is_flag || f == s;
            for (const auto& o : options) is_option = is_option || o == s;
            if (is_flag) {
                a.opt[s] = "";
                continue;
            }
            if (!is_option) admin_usage(command, "unknown option " + s);
            if (i + 1 >= argc) admin_usage(command, "option " + s + " needs a value");
            a.opt[s] = argv[++i];
        } else {
            a.pos.push_back(s);
        }
    }
    return a;
}

std::string admin_opt(const ADMIN_ARGS& a, const char* name, const std::string& fallback) {
    const auto it = a.opt.find(name);
    return it == a.opt.end() ? fallback : it->second;
}

int admin_int(const std::string& text, const char* what) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < INT_MIN || v > INT_MAX) {
        admin_bad_value(std::string(what) + " must be a whole number: " + text);
    }
    return static_cast<int>(v);
}

namespace {

// The UTF-8 character (or the single byte) at offset `at`, for a message.
std::string utf8_char_at(const std::string& s, std::size_t at) {
    const unsigned char c = static_cast<unsigned char>(s[at]);
    std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return s.substr(at, n);
}

}  // namespace

std::string admin_text(const std::string& arg, std::size_t max, bool comma_ok, const char* what) {
    std::string sjis;
    if (admin_args_sjis) {
        const std::size_t bad = G_sjis_invalid_at(arg);
        if (bad != std::string::npos) {
            admin_bad_value(std::string(what) + " is not valid Shift_JIS (byte " + std::to_string(bad + 1) + ")");
        }
        sjis = arg;
    } else {
        std::size_t bad = G_utf8_invalid_at(arg);
        if (bad != std::string::npos) {
            admin_bad_value(std::string(what) + " is not valid UTF-8 (byte " + std::to_string(bad + 1) +
                            "); pass --encoding sjis for Shift_JIS text");
        }
        // The files hold Shift_JIS only: what a form would send as a reference
        // is refused, not stored as one.
        bad = G_sjis_unencodable_at(arg);
        if (bad != std::string::npos) {
            admin_bad_value(std::string(what) + " holds \"" + utf8_char_at(arg, bad) +
                            "\", which Shift_JIS cannot hold");
        }
        sjis = G_utf8_to_sjis(arg);
    }
    if (sjis.size() > max) {
        admin_bad_value(std::string(what) + " is longer than " + std::to_string(max) + " bytes in Shift_JIS");
    }
    if (sjis.find_first_of("\r\n") != std::string::npos) admin_bad_value(std::string(what) + " must not hold a line end");
    if (sjis.find('\0') != std::string::npos) admin_bad_value(std::string(what) + " must not hold a zero byte");
    if (!comma_ok && sjis.find(',') != std::string::npos) admin_bad_value(std::string(what) + " must not hold a comma");
    return sjis;
}

std::string admin_utf8(const std::string& sjis) { return G_sjis_to_utf8(sjis); }

bool admin_is_dir(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool admin_exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void admin_make_dirs(const std::string& path) {
    std::size_t i = 0;
    while (i <= path.size()) {
        std::size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        const std::string done = path.substr(0, j);
        if (!done.empty() && !admin_is_dir(done)) {
            std::vector<char> buf(done.begin(), done.end());
            buf.push_back('\0');
            Cu_mkdir(buf.data());
            if (!admin_is_dir(done)) admin_die("cannot create directory " + done + ": " + std::strerror(errno));
        }
        i = j + 1;
    }
}

std::string admin_write_file(const std::string& path, const std::string& bytes) {
    std::vector<char> tmp(path.begin(), path.end());
    for (char c : std::string(".tmp")) tmp.push_back(c);
    tmp.push_back('\0');
    std::vector<char> dst(path.begin(), path.end());
    dst.push_back('\0');

    Cu_remove(tmp.data());
    FILE* f = Cu_fopen(tmp.data(), "w+");
    if (f == nullptr) return std::string("cannot create ") + tmp.data() + ": " + std::strerror(errno);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && Cu_fsync(f) == 0;
    const int saved = errno;
    Cu_fclose(f);
    if (!written || Cu_replace(tmp.data(), dst.data()) != 0) {
        const std::string why = std::strerror(written ? errno : saved);
        Cu_remove(tmp.data());
        return "cannot write " + path + ": " + why;
    }
    return std::string();
}

bool admin_read_file(const std::string& path, std::string* out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char buf[65536];
    std::size_t n;
    out->clear();
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool admin_remove(const std::string& path) {
    return std::remove(path.c_str()) == 0 || errno == ENOENT;
}

std::string admin_own_dir() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = '\0';
    const std::string s = buf;
    const std::size_t slash = s.rfind('/');
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

std::string admin_absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) admin_die(std::string("cannot read the working directory: ") + std::strerror(errno));
    return std::string(cwd) + "/" + path;
}

std::string admin_platform_path(const char* suite_path) {
    std::vector<char> buf(suite_path, suite_path + std::strlen(suite_path) + 1);
    Cu_platform_path(buf.data());
    return buf.data();
}

namespace {

// The site this run of the tool opened: the store layer reads its data
// directory and time correction where they stand, for the whole run.
SYSINFO_REC g_site;

}  // namespace

const SYSINFO_REC& admin_open_site(const std::string& cgi_dir) {
    if (chdir(cgi_dir.c_str()) != 0) admin_die("cannot enter " + cgi_dir + ": " + std::strerror(errno));
    if (SysFileOpen("zepa.ini", &g_site) != 0) admin_die("no readable zepa.ini in " + cgi_dir + " (create the site first)");
    if (g_site.DATA_FILE_PATH[0] == '\0') admin_die("zepa.ini in " + cgi_dir + " names no DATA_FILE_PATH");
    if (!admin_is_dir(g_site.DATA_FILE_PATH)) {
        admin_die(std::string("the data directory ") + g_site.DATA_FILE_PATH + " does not exist");
    }
    return g_site;
}
