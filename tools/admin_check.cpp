// velt-admin check: the health of a site's data directory after a crash or a
// careless edit, and with --repair the removal of what crashed requests left
// behind. The files are read directly, never through the stores: a store
// creates a missing file and expires a stale lock on every access, and a
// check must change nothing unless it is asked to repair.
#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "store/keyed_line.h"
#include "store/text_line.h"
#include "access/struct.h"
#include "access/tree_mst.h"
#include "chat/records.h"
#include "settings/sysinfo.h"
#include "store/fileio.h"
#include "tools/admin.h"

namespace {

// The ages from which a leftover is stale: a temporary file of the suite's
// plain form "<data file>.tmp" is written on for as long as its rewrite
// lives (a lock held longer than a minute renews its age), and uploading
// requests sweep upload files older than an hour. Lock files and this
// program's own temporary files are judged as the store layer judges them.
const long kStaleTemp = 60;
const long kStaleUpload = 3600;

struct CHECK_STATE {
    bool repair = false;
    int problems = 0;
    int leftovers = 0;   // stale leftovers found (and, repairing, not removed)
    int removed = 0;
};

void problem(CHECK_STATE& s, const std::string& text) {
    std::printf("problem: %s\n", text.c_str());
    ++s.problems;
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool all_digits(const std::string& s, std::size_t from) {
    if (s.size() <= from) return false;
    for (std::size_t i = from; i < s.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

// Seconds since the file was last written or changed; -1 when it is gone.
long age_of(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return -1;
    const time_t last = st.st_mtime > st.st_ctime ? st.st_mtime : st.st_ctime;
    return static_cast<long>(std::time(nullptr) - last);
}

// The names in dir (without . and ..), or none when it cannot be read.
std::vector<std::string> names_in(const std::string& dir) {
    std::vector<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return out;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") out.push_back(n);
    }
    closedir(d);
    return out;
}

// A path as the store layer's calls take it (they may convert it in place).
std::vector<char> c_path(const std::string& path) {
    std::vector<char> p(path.begin(), path.end());
    p.push_back('\0');
    return p;
}

// Reports a leftover of a crashed request, age seconds old, and when
// repairing removes it with remove_it (true when it is gone).
void found(CHECK_STATE& s, const std::string& path, const char* what, long age, const std::function<bool()>& remove_it) {
    if (s.repair) {
        if (remove_it()) {
            std::printf("removed: %s (%s, %ld s old)\n", path.c_str(), what, age);
            ++s.removed;
            return;
        }
        std::printf("leftover: %s (%s, %ld s old) could not be removed: %s\n", path.c_str(), what, age,
                    std::strerror(errno));
    } else {
        std::printf("leftover: %s (%s, %ld s old)\n", path.c_str(), what, age);
    }
    ++s.leftovers;
}

// A leftover judged by its age: reported when older than stale seconds, and
// removed when repairing (looking at its age once more just before, so that
// a file made again meanwhile is kept).
void leftover(CHECK_STATE& s, const std::string& path, const char* what, long stale) {
    const long age = age_of(path);
    if (age < stale) return;
    found(s, path, what, age, [&] { return age_of(path) >= stale && std::remove(path.c_str()) == 0; });
}

// A temporary file. One of this program's own form is a leftover when the
// store layer would remove it (its maker's kernel lock is gone), so a live
// writer's file is never reported or removed, however long it writes; any
// other (the suite's "<data file>.tmp") is judged by its age.
void temporary(CHECK_STATE& s, const std::string& path) {
    std::vector<char> p = c_path(path);
    const int dead = Fio_temp_dead(p.data(), 0);
    if (dead == FIO_NOT_TEMPORARY) leftover(s, path, "temporary file", kStaleTemp);
    if (dead != 1) return;
    found(s, path, "temporary file", age_of(path), [&] { return Fio_temp_dead(p.data(), 1) == 1; });
}

// A lock file that the store layer would break: no live holder, and old or
// left on this machine by a request that died. A live holder's lock is never
// reported, however long its rewrite runs.
void dead_lock(CHECK_STATE& s, const std::string& path) {
    std::vector<char> p = c_path(path);
    if (Fio_lock_dead(p.data(), 0) == 0) return;
    if (s.repair) {
        if (Fio_lock_dead(p.data(), 1) == 1) {
            std::printf("removed: %s (lock file of a request that ended)\n", path.c_str());
            ++s.removed;
            return;
        }
        std::printf("leftover: %s (lock file) could not be removed\n", path.c_str());
    } else {
        std::printf("leftover: %s (lock file of a request that ended)\n", path.c_str());
    }
    ++s.leftovers;
}

// Temporary and lock files in one directory. The temporary files come first:
// removing a dead lock also removes the dead temporary files beside it, and
// each is to be reported by its name.
void scan_leftovers(CHECK_STATE& s, const std::string& dir) {
    const std::vector<std::string> names = names_in(dir);
    for (const std::string& n : names)
        if (ends_with(n, ".tmp")) temporary(s, dir + n);
    for (const std::string& n : names)
        if (ends_with(n, ".chk")) dead_lock(s, dir + n);
}

// A binary file of fixed-size records: its length must be a whole number of them.
void check_records(CHECK_STATE& s, const std::string& path, std::size_t size) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return;
    if (static_cast<std::size_t>(st.st_size) % size != 0) {
        problem(s, path + " is " + std::to_string(st.st_size) + " bytes, not a whole number of " + std::to_string(size) +
                       "-byte records");
    }
}

// The lines of a text file, each without its line end; false when it cannot
// be read (a missing file is no problem: the stores create it empty).
bool read_lines(const std::string& path, std::vector<std::string>* lines) {
    std::string all;
    lines->clear();
    if (!admin_read_file(path, &all)) return false;
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t end = all.find('\n', at);
        if (end == std::string::npos) end = all.size();
        std::string line = all.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines->push_back(line);
        at = end + 1;
    }
    return true;
}

// Lines of a keyed store (personal.mst, dir.cnf) that hold no entry.
void check_keyed(CHECK_STATE& s, const std::string& path, KEYED_FORMAT format) {
    std::vector<std::string> lines;
    if (!read_lines(path, &lines)) return;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        int key_len, value_pos, value_len;
        if (!lines[i].empty() && keyed_line_split(format, lines[i].c_str(), &key_len, &value_pos, &value_len) != 0) {
            problem(s, path + " line " + std::to_string(i + 1) + " does not parse: " + admin_utf8(lines[i]));
        }
    }
}

void check_users(CHECK_STATE& s, const std::string& data) {
    std::vector<std::string> ids;
    read_lines(data + "user.mst", &ids);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const std::string& id = ids[i];
        if (id.empty()) continue;
        if (!Fio_safe_name(id.c_str()) || id.size() > sizeof(USER_MST::USER_ID) - 1) {
            problem(s, data + "user.mst line " + std::to_string(i + 1) + " is no usable user id: " + admin_utf8(id));
            continue;
        }
        const std::string dir = data + "user/" + id + "/";
        if (!admin_is_dir(dir)) {
            problem(s, "user " + admin_utf8(id) + " has no directory " + dir);
            continue;
        }
        std::string pw;
        if (admin_read_file(dir + "password.mst", &pw)) {
            bool hex = pw.size() % 2 == 0 && pw.size() <= 40;
            for (char c : pw) hex = hex && std::isxdigit(static_cast<unsigned char>(c));
            if (!hex) problem(s, dir + "password.mst is not a scrambled password (hex digit pairs, no line end)");
        }
        check_records(s, dir + "skey.mst", sizeof(MST_SKEY));
        check_keyed(s, dir + "personal.mst", KEYED_NAME_VALUE);
    }
}

void check_tree(CHECK_STATE& s, const std::string& data) {
    std::vector<std::string> lines;
    read_lines(data + "tree.mst", &lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].empty()) continue;
        TREE_DATA f;
        if (tree_parse_line(lines[i].c_str(), &f) != 0) {
            problem(s, data + "tree.mst line " + std::to_string(i + 1) + " does not parse: " + admin_utf8(lines[i]));
            continue;
        }
        const std::string dir = data + std::to_string(f.FOLDER_NO) + "/";
        if (!admin_is_dir(dir)) {
            problem(s, "folder " + std::to_string(f.FOLDER_NO) + " (" + admin_utf8(f.NAME) + ") has no directory " + dir);
        }
    }
}

// The keys of dir.cnf that name a picture of the room.
const char* const kPictureKeys[] = {"TITLEPIC", "BACKPIC1", "BACKPIC2", "BACKPIC3"};

// Adds the name a setting gives, cut as the program cuts it, to the pictures
// named (name -> the setting, for the report).
void add_named(std::map<std::string, std::string>* named, const char* value, std::size_t len,
               const std::string& setting) {
    char name[sizeof(TREE_DATA::PIC_FILENAME)];
    line_field_copy_chars(name, sizeof name, value, len);
    if (name[0] != '\0') named->emplace(name, setting);
}

// The pictures the settings of room `folder` name: every line of the four
// picture keys in its dir.cnf, and the folder's picture in tree.mst. false
// when a file that is there cannot be read.
bool named_pictures(const std::string& data, const std::string& folder, std::map<std::string, std::string>* named) {
    std::vector<std::string> lines;
    const std::string cnf = data + folder + "/dir.cnf";
    if (!read_lines(cnf, &lines) && admin_exists(cnf)) return false;
    for (const std::string& line : lines) {
        int key_len, value_pos, value_len;
        if (keyed_line_split(KEYED_KEY_VALUE_COMMA, line.c_str(), &key_len, &value_pos, &value_len) != 0) continue;
        for (const char* key : kPictureKeys) {
            if (line.compare(0, static_cast<std::size_t>(key_len), key) != 0) continue;
            add_named(named, line.c_str() + value_pos, static_cast<std::size_t>(value_len), std::string(key) + " of " + cnf);
        }
    }
    if (!read_lines(data + "tree.mst", &lines) && admin_exists(data + "tree.mst")) return false;
    for (const std::string& line : lines) {
        TREE_DATA f;
        // The folder whose directory this is: the program names it so.
        if (tree_parse_line(line.c_str(), &f) != 0 || std::to_string(f.FOLDER_NO) != folder) continue;
        add_named(named, f.PIC_FILENAME, std::strlen(f.PIC_FILENAME), "the folder picture in " + data + "tree.mst");
    }
    return true;
}

// Picture `name` of the picture directory fcg, which no setting names:
// reported, and removed when repairing under the room settings lock (locked:
// whether that lock was taken).
void unnamed_picture(CHECK_STATE& s, const std::string& fcg, const std::string& name, bool locked) {
    const std::string path = fcg + name;
    const std::string shown = fcg + admin_utf8(name) + " (picture no setting names)";
    if (!s.repair) {
        std::printf("leftover: %s\n", shown.c_str());
    } else if (!locked) {
        std::printf("leftover: %s could not be removed: the room's settings are locked\n", shown.c_str());
    } else if (std::remove(path.c_str()) == 0) {
        std::printf("removed: %s\n", shown.c_str());
        ++s.removed;
        return;
    } else {
        std::printf("leftover: %s could not be removed: %s\n", shown.c_str(), std::strerror(errno));
    }
    ++s.leftovers;
}

// The pictures of room `folder` against its settings: a picture a setting
// names must be a file of the picture directory; a file there that no setting
// names is a leftover (a temporary file, "*.tmp", is left to the leftover
// rule, and only regular files count as pictures). Repairing, the room
// settings lock is held throughout: a settings update holds it from moving a
// picture in until its name is stored, so no picture at work is taken for an
// unnamed one.
void check_pictures(CHECK_STATE& s, const std::string& data, const std::string& folder) {
    const std::string fcg = data + folder + "/fcg/";
    std::string lock = data + folder + "/dir_cnf.chk";
    const bool locked = s.repair && Fio_xor_control(&lock[0], 1) == 0;
    std::map<std::string, std::string> named;
    if (!named_pictures(data, folder, &named)) {
        problem(s, "the settings of room " + folder + " cannot be read; its pictures are not checked");
    } else {
        for (const auto& n : named) {
            struct stat st;
            const std::string shown = fcg + admin_utf8(n.first);
            if (!Fio_safe_name(n.first.c_str())) {
                problem(s, n.second + " names " + admin_utf8(n.first) + ", which cannot be a file of " + fcg);
            } else if (lstat((fcg + n.first).c_str(), &st) != 0) {
                problem(s, "picture " + shown + " is missing; " + n.second + " names it");
            } else if (!S_ISREG(st.st_mode)) {
                problem(s, "picture " + shown + " is not a regular file; " + n.second + " names it");
            }
        }
        for (const std::string& n : names_in(fcg)) {
            struct stat st;
            if (ends_with(n, ".tmp") || named.count(n) > 0) continue;
            if (lstat((fcg + n).c_str(), &st) == 0 && S_ISREG(st.st_mode)) unnamed_picture(s, fcg, n, locked);
        }
    }
    if (locked) Fio_xor_control(&lock[0], 2);
}

// One room directory: its binary files and settings, the leftovers in it and
// in its picture directory, and its pictures against its settings.
void check_room(CHECK_STATE& s, const std::string& data, const std::string& folder) {
    const std::string dir = data + folder + "/";
    check_records(s, dir + "chatdata.dat", sizeof(CHAT_DATA_DAT));
    check_records(s, dir + "chatuser.idx", sizeof(CHAT_USER_IDX));
    check_keyed(s, dir + "dir.cnf", KEYED_KEY_VALUE_COMMA);
    scan_leftovers(s, dir);
    if (admin_is_dir(dir + "fcg")) scan_leftovers(s, dir + "fcg/");
    check_pictures(s, data, folder);
}

}  // namespace

int admin_check(int argc, char** argv) {
    ADMIN_ARGS a = admin_parse("check", argc, argv, 2, {}, {"--repair"});
    if (a.pos.size() != 1) admin_usage("check", "check needs the program directory");
    CHECK_STATE s;
    s.repair = a.opt.count("--repair") > 0;
    const SYSINFO_REC& site = admin_open_site(a.pos[0]);
    if (!admin_exists("velt.lng")) problem(s, "the message file velt.lng is missing beside zepa.ini");
    const std::string data = admin_platform_path(site.DATA_FILE_PATH);

    check_users(s, data);
    check_tree(s, data);
    scan_leftovers(s, data);
    for (const std::string& n : names_in(data)) {
        // Uploads the program writes into the data directory while it reads a request.
        if (n.rfind("CGI", 0) == 0 && all_digits(n, 3)) leftover(s, data + n, "upload", kStaleUpload);
        if (all_digits(n, 0) && admin_is_dir(data + n)) check_room(s, data, n);
    }
    for (const std::string& n : names_in(data + "user")) {
        if (admin_is_dir(data + "user/" + n)) scan_leftovers(s, data + "user/" + n + "/");
    }

    if (s.problems == 0 && s.leftovers == 0) {
        std::printf("check: %s is in order%s\n", data.c_str(),
                    s.removed > 0 ? (" (" + std::to_string(s.removed) + " leftovers removed)").c_str() : "");
        return 0;
    }
    std::printf("check: %d problems, %d leftovers%s\n", s.problems, s.leftovers,
                s.leftovers > 0 && !s.repair ? " (check --repair removes the leftovers)" : "");
    return ADMIN_FAILED;
}
