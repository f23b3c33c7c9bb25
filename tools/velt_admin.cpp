// velt-admin: the operator's tool for a chat site. It creates a site (the
// program directory with zepa.ini and velt.lng, and the data directory), adds
// users and adds rooms, writing the suite's files through the same stores as
// the program itself.
//
//   velt-admin create-site CGI_DIR --data DATA_DIR [--site-id ID]
//              [--language LANG] [--lng FILE]
//   velt-admin add-user CGI_DIR USER_ID --password PW [--name NAME]
//              [--level N] [--mode 1|2] [--language LANG] [--color COLOR]
//   velt-admin add-room CGI_DIR FOLDER_NO --name NAME [--cgi URL]
//              [--access-level N] [--write-level N]
//
// Errors go to standard error with a non-zero exit. Every file is written whole
// through a temporary file and one rename, so a failure never leaves a
// half-written file; a user or room becomes visible (its user.mst or tree.mst
// line) only after everything else it needs is in place.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "access/personal_mst.h"
#include "access/tree_mst.h"
#include "access/user_mst.h"
#include "settings/sysinfo.h"
#include "store/cust.h"
#include "store/fileio.h"
#include "store/groval.h"

namespace {

const char* const kUsage =
    "usage:\n"
    "  velt-admin create-site CGI_DIR --data DATA_DIR [--site-id ID] [--language LANG] [--lng FILE]\n"
    "  velt-admin add-user CGI_DIR USER_ID --password PW [--name NAME] [--level N] [--mode 1|2]\n"
    "             [--language LANG] [--color COLOR]\n"
    "  velt-admin add-room CGI_DIR FOLDER_NO --name NAME [--cgi URL] [--access-level N] [--write-level N]\n";

// Ends the tool with a message on standard error.
[[noreturn]] void die(const std::string& message) {
    std::fprintf(stderr, "velt-admin: %s\n", message.c_str());
    std::exit(1);
}

[[noreturn]] void usage(const std::string& message) {
    std::fprintf(stderr, "velt-admin: %s\n%s", message.c_str(), kUsage);
    std::exit(2);
}

// A value given on the command line that cannot be stored.
[[noreturn]] void bad_value(const std::string& message) {
    std::fprintf(stderr, "velt-admin: %s\n", message.c_str());
    std::exit(2);
}

// The store results as words for the messages.
std::string store_error(int r) {
    switch (r) {
        case FIO_NOT_FOUND: return "not found or refused";
        case FIO_NO_FILE: return "a file could not be opened or created";
        case FIO_EXISTS: return "already present";
        case FIO_LOCKED: return "the file is locked by another request; try again";
        default: return "result " + std::to_string(r);
    }
}

// Positional arguments and "--name value" options of one command.
struct Args {
    std::vector<std::string> pos;
    std::map<std::string, std::string> opt;
};

Args parse_args(int argc, char** argv, int from, const std::vector<std::string>& known) {
    Args a;
    for (int i = from; i < argc; ++i) {
        std::string s = argv[i];
        if (s.rfind("--", 0) == 0) {
            bool ok = false;
            for (const auto& k : known) ok = ok || k == s;
            if (!ok) usage("unknown option " + s);
            if (i + 1 >= argc) usage("option " + s + " needs a value");
            a.opt[s] = argv[++i];
        } else {
            a.pos.push_back(s);
        }
    }
    return a;
}

std::string opt_or(const Args& a, const char* name, const std::string& fallback) {
    auto it = a.opt.find(name);
    return it == a.opt.end() ? fallback : it->second;
}

int parse_int(const std::string& text, const char* what) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < INT_MIN || v > INT_MAX) {
        bad_value(std::string(what) + " must be a whole number: " + text);
    }
    return static_cast<int>(v);
}

// A text that goes into one field of the suite's files: at most max bytes, no
// line end (every file is line based) and, where the field is one of a
// comma-separated line, no comma.
void check_text(const std::string& text, std::size_t max, bool comma_ok, const char* what) {
    if (text.size() > max) bad_value(std::string(what) + " is longer than " + std::to_string(max) + " bytes");
    if (text.find_first_of("\r\n") != std::string::npos) bad_value(std::string(what) + " must not hold a line end");
    if (text.find('\0') != std::string::npos) bad_value(std::string(what) + " must not hold a zero byte");
    if (!comma_ok && text.find(',') != std::string::npos) bad_value(std::string(what) + " must not hold a comma");
}

bool is_dir(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Makes the directory and its missing parents; dies when it cannot.
void make_dirs(const std::string& path) {
    std::string done;
    std::size_t i = 0;
    while (i <= path.size()) {
        std::size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        done = path.substr(0, j);
        if (!done.empty() && !is_dir(done)) {
            std::vector<char> buf(done.begin(), done.end());
            buf.push_back('\0');
            Cu_mkdir(buf.data());
            if (!is_dir(done)) die("cannot create directory " + done + ": " + std::strerror(errno));
        }
        i = j + 1;
    }
}

// Writes bytes as the whole new content of path: into path.tmp, flushed to
// disk, then renamed over path in one step. Returns an empty text or the
// reason of the failure (the temporary file is then removed).
std::string write_whole_file(const std::string& path, const std::string& bytes) {
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

bool read_whole_file(const std::string& path, std::string* out) {
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

// The directory of this program's executable, where the build puts velt.lng.
std::string own_dir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = '\0';
    std::string s = buf;
    const std::size_t slash = s.rfind('/');
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) die(std::string("cannot read the working directory: ") + std::strerror(errno));
    return std::string(cwd) + "/" + path;
}

// zepa.ini in the suite's canonical form: header line, then every key in the
// suite's order, "KEY,value,".
std::string site_config(const std::string& site_id, const std::string& language, const std::string& data_dir) {
    std::string s = "***** ZEPA (Pure CGI System) Configuration file *****,,\n";
    const std::pair<const char*, std::string> lines[] = {
        {"SITE_ID", site_id},
        {"CGI_FILE_NAME", "velt.cgi"},
        {"LANGUAGE", language},
        {"CG_FILE_PATH", ""},
        {"CG_FILE_WEB_PATH", ""},
        {"DATA_FILE_PATH", data_dir},
        {"BACK_GIF", ""},
        {"LOG_DATE", "0"},
        {"DATETIME", "1"},
        {"IECOLS", "80"},
        {"NSCOLS", "60"},
        {"ROWS", "8"},
        {"MAX_CONTENTS", "4000"},
        {"LOGOFF_URL", ""},
        {"LOGIN_ERR_URL", ""},
        {"FRAME_DIVIDE", "20%"},
        {"INITIAL_GP", "0"},
        {"ATTACHED_FILE_LIMIT", "10000000"},
        {"TIME_CORRECT", ""},
        {"MAILER", ""},
    };
    for (const auto& kv : lines) s += std::string(kv.first) + "," + kv.second + ",\n";
    return s;
}

int create_site(int argc, char** argv) {
    Args a = parse_args(argc, argv, 2, {"--data", "--site-id", "--language", "--lng"});
    if (a.pos.size() != 1) usage("create-site needs the program directory");
    if (!a.opt.count("--data")) usage("create-site needs --data DATA_DIR");
    const std::string cgi_dir = absolute(a.pos[0]);
    std::string data_dir = absolute(a.opt["--data"]);
    if (data_dir.back() != '/') data_dir += '/';
    const std::string site_id = opt_or(a, "--site-id", "1");
    const std::string language = opt_or(a, "--language", "english");
    const std::string lng_src = opt_or(a, "--lng", own_dir() + "/velt.lng");
    check_text(site_id, sizeof SYSINFO.SITE_ID - 1, false, "the site id");
    check_text(language, sizeof SYSINFO.LANGUAGE - 1, false, "the language");
    check_text(data_dir, sizeof SYSINFO.DATA_FILE_PATH - 1, false, "the data directory");

    const std::string ini = cgi_dir + "/zepa.ini";
    if (exists(ini)) die(ini + " exists already; a site is created only once");
    std::string lng;
    if (!read_whole_file(lng_src, &lng)) die("cannot read the message file " + lng_src + ": " + std::strerror(errno));
    if (lng.find("[" + language + "]") == std::string::npos) {
        die("the message file " + lng_src + " has no section [" + language + "]");
    }

    make_dirs(cgi_dir);
    make_dirs(data_dir + "user");
    std::string err = write_whole_file(cgi_dir + "/velt.lng", lng);
    if (err.empty()) err = write_whole_file(ini, site_config(site_id, language, data_dir));
    if (!err.empty()) die(err);
    std::printf("site created: program directory %s, data directory %s\n", cgi_dir.c_str(), data_dir.c_str());
    return 0;
}

// Makes the program directory the working directory and loads its zepa.ini,
// as the program does on every request.
void open_site(const std::string& cgi_dir) {
    if (chdir(cgi_dir.c_str()) != 0) die("cannot enter " + cgi_dir + ": " + std::strerror(errno));
    if (SysFileOpen("zepa.ini") != 0) die("no readable zepa.ini in " + cgi_dir + " (create the site first)");
    if (SYSINFO.DATA_FILE_PATH[0] == '\0') die("zepa.ini in " + cgi_dir + " names no DATA_FILE_PATH");
    if (!is_dir(SYSINFO.DATA_FILE_PATH)) die(std::string("the data directory ") + SYSINFO.DATA_FILE_PATH + " does not exist");
}

// The platform form of a data path built by the stores' path builders.
std::string platform_path(const char* suite_path) {
    std::vector<char> buf(suite_path, suite_path + std::strlen(suite_path) + 1);
    yen_to_sura(buf.data());
    return buf.data();
}

// Removes the files a failed add-user wrote into a directory it made.
void undo_user_dir(const std::string& dir) {
    for (const char* name : {"password.mst", "personal.mst", "password.chk", "personal.chk"}) {
        std::string p = dir + name;
        std::vector<char> buf(p.begin(), p.end());
        buf.push_back('\0');
        Cu_remove(buf.data());
    }
    rmdir(dir.c_str());
}

int add_user(int argc, char** argv) {
    Args a = parse_args(argc, argv, 2, {"--password", "--name", "--level", "--mode", "--language", "--color"});
    if (a.pos.size() != 2) usage("add-user needs the program directory and a user id");
    if (!a.opt.count("--password")) usage("add-user needs --password PW");
    const std::string uid = a.pos[1];
    const std::string pw = a.opt["--password"];
    const std::string name = opt_or(a, "--name", uid);
    const int level = parse_int(opt_or(a, "--level", "1"), "the level");
    const int mode = parse_int(opt_or(a, "--mode", "1"), "the mode");
    const std::string language = opt_or(a, "--language", "");
    const std::string color = opt_or(a, "--color", "");
    if (uid.empty()) bad_value("the user id is empty");
    check_text(uid, sizeof sUSER_MST.USER_ID - 1, false, "the user id");
    if (!Fio_safe_name(uid.c_str()) || uid.find(' ') != std::string::npos) {
        bad_value("the user id must not be . or .. nor hold / \\ or a blank: " + uid);
    }
    // The password file holds at most 20 bytes; the login compares whole texts.
    check_text(pw, 20, true, "the password");
    check_text(name, sizeof sUSER_MST.USER_NAME - 1, true, "the name");
    check_text(language, sizeof sUSER_MST.LANGUAGE - 1, true, "the language");
    check_text(color, 21, true, "the colour");
    if (mode != 1 && mode != 2) bad_value("the mode is 1 (ordinary account) or 2 (shared account)");

    open_site(a.pos[0]);
    int r = Fio_USER_MST(uid.c_str(), SQL_READ);
    if (r == 0) die("user " + uid + " exists already (as " + sUSER_MST.USER_ID + ")");
    if (r != FIO_NOT_FOUND) die("cannot read the user list: " + store_error(r));

    char dir[FIO_PATH_MAX];
    if (Fio_dir_user(dir, uid.c_str()) != 0) die("the user id cannot name a directory: " + uid);
    const std::string user_dir = platform_path(dir);
    const bool made_dir = !is_dir(user_dir);
    make_dirs(user_dir.substr(0, user_dir.size() - 1));
    auto fail = [&](const std::string& why) {
        if (made_dir) undo_user_dir(user_dir);
        die(why);
    };

    std::memset(&sUSER_MST, 0, sizeof sUSER_MST);
    G_set(sUSER_MST.USER_ID, uid.c_str());
    G_set(sUSER_MST.USER_NAME, name.c_str());
    G_set(sUSER_MST.USER_PASS, pw.c_str());
    G_set(sUSER_MST.LANGUAGE, language.c_str());
    sUSER_MST.USER_LEVEL = level;
    sUSER_MST.USER_DISP_DEF = 5;
    sUSER_MST.MODE = mode;
    sUSER_MST.WRITE_MODE = 1;
    const USER_MST wanted = sUSER_MST;

    r = Fio_MST_PASSWORD(uid.c_str(), SQL_ADD);
    if (r != 0) fail("cannot store the password: " + store_error(r));
    // The personal settings first, checked by reading them back: the store
    // does not report single failures.
    Fio_PERSONAL_MST_ALL(uid.c_str(), SQL_ADD);
    if (!color.empty()) {
        char value[22];
        G_set(value, color.c_str());
        if (Fio_PERSONAL_MST(uid.c_str(), SQL_UPDATE, "COLOR", value) != 0) {
            G_set(value, color.c_str());
            r = Fio_PERSONAL_MST(uid.c_str(), SQL_ADD, "COLOR", value);
            if (r != 0) fail("cannot store the colour: " + store_error(r));
        }
    }
    std::memset(&sUSER_MST, 0, sizeof sUSER_MST);
    r = Fio_PERSONAL_MST_ALL(uid.c_str(), SQL_READ);
    if (r != 0 || std::strcmp(sUSER_MST.USER_NAME, wanted.USER_NAME) != 0 || sUSER_MST.USER_LEVEL != level ||
        sUSER_MST.MODE != mode || std::strcmp(sUSER_MST.LANGUAGE, wanted.LANGUAGE) != 0) {
        fail("cannot store the personal settings of " + uid + (r != 0 ? ": " + store_error(r) : std::string()));
    }

    // Last, the line that makes the user known.
    sUSER_MST = wanted;
    r = Fio_USER_MST(uid.c_str(), SQL_ADD);
    if (r != 0) fail("cannot add " + uid + " to the user list: " + store_error(r));

    r = Fio_USER_MST(uid.c_str(), SQL_READ);
    const bool found = r == 0 && std::strcmp(sUSER_MST.USER_ID, uid.c_str()) == 0;
    if (!found || Fio_MST_PASSWORD(uid.c_str(), SQL_READ) != 0 || std::strcmp(sUSER_MST.USER_PASS, pw.c_str()) != 0) {
        die("user " + uid + " was added but does not read back as written; check " + user_dir);
    }
    std::printf("user added: %s (%s), level %d, mode %d\n", uid.c_str(), name.c_str(), level, mode);
    return 0;
}

int add_room(int argc, char** argv) {
    Args a = parse_args(argc, argv, 2, {"--name", "--cgi", "--access-level", "--write-level"});
    if (a.pos.size() != 2) usage("add-room needs the program directory and a folder number");
    const int folder = parse_int(a.pos[1], "the folder number");
    if (folder <= 0) bad_value("the folder number must be 1 or more");
    if (!a.opt.count("--name")) usage("add-room needs --name NAME");
    const std::string name = a.opt["--name"];
    const std::string cgi = opt_or(a, "--cgi", "/cgi-bin/velt.cgi");
    const int access_level = parse_int(opt_or(a, "--access-level", "0"), "the access level");
    const int write_level = parse_int(opt_or(a, "--write-level", "0"), "the write level");
    check_text(name, sizeof sTREE_DATA.NAME - 1, false, "the room name");
    check_text(cgi, sizeof sTREE_DATA.CGI_NAME - 1, false, "the program address");

    open_site(a.pos[0]);
    std::memset(&sTREE_DATA, 0, sizeof sTREE_DATA);
    int r = Fio_TREE_DATA(folder, SQL_READ, 1);
    if (r == 0) die("folder " + std::to_string(folder) + " exists already (" + sTREE_DATA.NAME + ")");
    if (r != FIO_NOT_FOUND) die("cannot read the folder tree: " + store_error(r));

    char dir[FIO_PATH_MAX];
    if (Fio_dir_room(dir, folder) != 0) die("the room directory cannot be built");
    const std::string room_dir = platform_path(dir);
    const bool made_dir = !is_dir(room_dir);
    make_dirs(room_dir.substr(0, room_dir.size() - 1));

    std::memset(&sTREE_DATA, 0, sizeof sTREE_DATA);
    sTREE_DATA.CLASS = 1;
    sTREE_DATA.FOLDER_NO = folder;
    G_set(sTREE_DATA.NAME, name.c_str());
    G_set(sTREE_DATA.CGI_NAME, cgi.c_str());
    sTREE_DATA.ACCESS_LEVEL = access_level;
    sTREE_DATA.WRITE_LEVEL = write_level;
    r = Fio_TREE_DATA(folder, SQL_ADD, 1);
    if (r != 0) {
        if (made_dir) rmdir(room_dir.c_str());
        die("cannot add folder " + std::to_string(folder) + " to the folder tree: " + store_error(r));
    }
    std::printf("room added: folder %d (%s), served by %s\n", folder, name.c_str(), cgi.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) usage("no command");
    const std::string cmd = argv[1];
    if (cmd == "create-site") return create_site(argc, argv);
    if (cmd == "add-user") return add_user(argc, argv);
    if (cmd == "add-room") return add_room(argc, argv);
    if (cmd == "-h" || cmd == "--help" || cmd == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    usage("unknown command " + cmd);
}
