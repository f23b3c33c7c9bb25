// velt-admin's room commands: add-room, list-rooms, remove-room and
// trim-history, through the folder tree store and the rooms' own locks.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "access/tree_mst.h"
#include "chat/records.h"
#include "store/fileio.h"
#include "store/text.h"
#include "tools/admin.h"

namespace {

// A room's lock files in the order a request takes them (the presence lock
// before the message lock), then the others.
const char* const kRoomLocks[] = {"chatuser.chk", "chatdata.chk", "dir_cnf.chk", "info.chk", "acl.chk"};

int folder_arg(const std::string& given) {
    const int folder = admin_int(given, "the folder number");
    if (folder <= 0) admin_bad_value("the folder number must be 1 or more");
    return folder;
}

// Reads folder `folder`; dies when it is not in the tree.
TREE_DATA find_folder(int folder) {
    TREE_DATA rec;
    std::memset(&rec, 0, sizeof rec);
    const int r = Fio_TREE_DATA(folder, STORE_READ, 1, &rec);
    if (r == FIO_NOT_FOUND) admin_die("no folder " + std::to_string(folder) + " in the folder tree");
    if (r != 0) admin_die("cannot read the folder tree: " + admin_store_error(r));
    return rec;
}

// The platform path of room `folder`'s directory, ending in "/".
std::string room_dir(int folder) {
    char dir[FIO_PATH_MAX];
    if (Fio_dir_room(dir, folder) != 0) admin_die("the room directory's path cannot be built");
    return admin_platform_path(dir);
}

std::vector<char> c_path(const std::string& path) {
    std::vector<char> buf(path.begin(), path.end());
    buf.push_back('\0');
    return buf;
}

// Removes everything below dir (files and directories) but the names in
// keep; the reason of the first failure, or empty text.
std::string empty_dir(const std::string& dir, const std::vector<std::string>& keep) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return errno == ENOENT ? std::string() : dir + ": " + std::strerror(errno);
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        bool kept = false;
        for (const auto& k : keep) kept = kept || k == n;
        if (!kept) names.push_back(n);
    }
    closedir(d);
    for (const std::string& n : names) {
        const std::string path = dir + n;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            const std::string err = empty_dir(path + "/", {});
            if (!err.empty()) return err;
            if (rmdir(path.c_str()) != 0) return path + ": " + std::strerror(errno);
        } else if (!admin_remove(path)) {
            return path + ": " + std::strerror(errno);
        }
    }
    return std::string();
}

}  // namespace

int admin_add_room(int argc, char** argv) {
    ADMIN_ARGS a = admin_parse("add-room", argc, argv, 2, {"--name", "--cgi", "--access-level", "--write-level"});
    if (a.pos.size() != 2) admin_usage("add-room", "add-room needs the program directory and a folder number");
    const int folder = folder_arg(a.pos[1]);
    if (!a.opt.count("--name")) admin_usage("add-room", "add-room needs --name NAME");
    const std::string name = admin_text(a.opt["--name"], sizeof(TREE_DATA::NAME) - 1, false, "the room name");
    const std::string cgi = admin_text(admin_opt(a, "--cgi", "/cgi-bin/velt.cgi"), sizeof(TREE_DATA::CGI_NAME) - 1,
                                       false, "the program address");
    const int access_level = admin_int(admin_opt(a, "--access-level", "0"), "the access level");
    const int write_level = admin_int(admin_opt(a, "--write-level", "0"), "the write level");
    if (name.empty()) admin_bad_value("the room name is empty");
    if (access_level < 0) admin_bad_value("the access level must be 0 or more");
    if (write_level < 0) admin_bad_value("the write level must be 0 or more");

    admin_open_site(a.pos[0]);
    TREE_DATA rec;
    std::memset(&rec, 0, sizeof rec);
    int r = Fio_TREE_DATA(folder, STORE_READ, 1, &rec);
    if (r == 0) admin_die("folder " + std::to_string(folder) + " exists already (" + admin_utf8(rec.NAME) + ")");
    if (r != FIO_NOT_FOUND) admin_die("cannot read the folder tree: " + admin_store_error(r));

    const std::string dir = room_dir(folder);
    const bool made_dir = !admin_is_dir(dir);
    admin_make_dirs(dir.substr(0, dir.size() - 1));

    std::memset(&rec, 0, sizeof rec);
    rec.CLASS = 1;
    rec.FOLDER_NO = folder;
    G_set(rec.NAME, name.c_str());
    G_set(rec.CGI_NAME, cgi.c_str());
    rec.ACCESS_LEVEL = access_level;
    rec.WRITE_LEVEL = write_level;
    r = Fio_TREE_DATA(folder, STORE_ADD, 1, &rec);
    if (r != 0) {
        if (made_dir) rmdir(dir.c_str());
        admin_die("cannot add folder " + std::to_string(folder) + " to the folder tree: " + admin_store_error(r));
    }
    std::printf("room added: folder %d (%s), served by %s\n", folder, admin_utf8(name).c_str(), admin_utf8(cgi).c_str());
    return 0;
}

int admin_list_rooms(int argc, char** argv) {
    ADMIN_ARGS a = admin_parse("list-rooms", argc, argv, 2, {});
    if (a.pos.size() != 1) admin_usage("list-rooms", "list-rooms needs the program directory");
    admin_open_site(a.pos[0]);
    for (int pos = 1;; ++pos) {
        TREE_DATA f;
        const int r = Fio_TREE_DATA(pos, STORE_READ, 2, &f);
        if (r == FIO_NOT_FOUND) break;
        if (r != 0) admin_die("cannot read the folder tree: " + admin_store_error(r));
        // The messages stored: whole records of the room's message file.
        struct stat st;
        const long records = stat((room_dir(f.FOLDER_NO) + "chatdata.dat").c_str(), &st) == 0
                                 ? static_cast<long>(st.st_size / sizeof(CHAT_DATA_DAT))
                                 : 0;
        std::printf("%d\t%d\t%d\t%ld\t%s\t%s\n", f.FOLDER_NO, f.ACCESS_LEVEL, f.WRITE_LEVEL, records,
                    admin_utf8(f.NAME).c_str(), admin_utf8(f.CGI_NAME).c_str());
    }
    return 0;
}

int admin_remove_room(int argc, char** argv) {
    ADMIN_ARGS a = admin_parse("remove-room", argc, argv, 2, {});
    if (a.pos.size() != 2) admin_usage("remove-room", "remove-room needs the program directory and a folder number");
    const int folder = folder_arg(a.pos[1]);
    admin_open_site(a.pos[0]);
    const std::string name = admin_utf8(find_folder(folder).NAME);

    // A folder with folders below it (the next line nested deeper) stays:
    // removing it would hang them under another folder.
    for (int pos = 1;; ++pos) {
        TREE_DATA f, next;
        if (Fio_TREE_DATA(pos, STORE_READ, 2, &f) != 0) break;
        if (f.FOLDER_NO != folder) continue;
        if (Fio_TREE_DATA(pos + 1, STORE_READ, 2, &next) == 0 && next.CLASS > f.CLASS) {
            admin_die("folder " + std::to_string(folder) + " has folders below it (" +
                      std::to_string(next.FOLDER_NO) + "); remove those first");
        }
        break;
    }

    // Every lock of the room, so that no request is half-way through a file.
    const std::string dir = room_dir(folder);
    std::vector<std::string> held;
    auto release = [&]() {
        for (const std::string& l : held) Fio_xor_control(c_path(dir + l).data(), 2);
    };
    if (admin_is_dir(dir)) {
        for (const char* lock : kRoomLocks) {
            if (Fio_xor_control(c_path(dir + lock).data(), 1) != 0) {
                release();
                admin_die("room " + std::to_string(folder) + " is busy (" + lock + " is held); try again");
            }
            held.push_back(lock);
        }
    }
    const int r = Fio_TREE_DATA(folder, STORE_DELETE, 1, nullptr);
    if (r != 0) {
        release();
        admin_die("cannot remove folder " + std::to_string(folder) + " from the folder tree: " + admin_store_error(r));
    }
    const std::string err = empty_dir(dir, held);
    release();
    if (!err.empty() || (rmdir(dir.c_str()) != 0 && errno != ENOENT)) {
        admin_die("folder " + std::to_string(folder) + " is removed from the tree, but its directory stays: " +
                  (err.empty() ? dir + ": " + std::strerror(errno) : err));
    }
    std::printf("room removed: folder %d (%s)\n", folder, name.c_str());
    return 0;
}

int admin_trim_history(int argc, char** argv) {
    ADMIN_ARGS a = admin_parse("trim-history", argc, argv, 2, {"--keep"});
    if (a.pos.size() != 2) admin_usage("trim-history", "trim-history needs the program directory and a folder number");
    const int folder = folder_arg(a.pos[1]);
    if (!a.opt.count("--keep")) admin_usage("trim-history", "trim-history needs --keep N");
    const int keep = admin_int(a.opt["--keep"], "the number of messages to keep");
    if (keep < 0) admin_bad_value("the number of messages to keep must be 0 or more");
    admin_open_site(a.pos[0]);
    find_folder(folder);
    const std::string dir = room_dir(folder);
    if (!admin_is_dir(dir)) admin_die("room " + std::to_string(folder) + " has no directory " + dir);

    // The same locked rewrite a post makes: the newest records (the file's
    // front) go into the new file, which replaces the old one whole.
    char suite_dir[FIO_PATH_MAX];
    Fio_dir_room(suite_dir, folder);
    FIO_ACCESS acc;
    int r = Fio_open(&acc, suite_dir, "chatdata.dat", "chatdata.chk", FIO_REWRITE, FIO_BINARY);
    if (r != 0) admin_die("cannot open the messages of room " + std::to_string(folder) + ": " + admin_store_error(r));
    CHAT_DATA_DAT rec;
    long kept = 0, dropped = 0;
    while (Fio_read_rec(&acc, &rec, sizeof rec)) {
        if (kept < keep) {
            Fio_write_rec(&acc, &rec, sizeof rec);
            ++kept;
        } else {
            ++dropped;
        }
    }
    // Nothing to drop: the file stays as it is, untouched.
    r = Fio_close(&acc, dropped > 0 ? FIO_OK : FIO_NOT_FOUND);
    if (dropped > 0 && r != 0) admin_die("cannot rewrite the messages of room " + std::to_string(folder) + ": " + admin_store_error(r));
    std::printf("room %d: %ld messages kept, %ld dropped\n", folder, kept, dropped);
    return 0;
}
