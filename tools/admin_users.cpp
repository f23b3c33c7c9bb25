// velt-admin's user commands: add-user, list-users, passwd and remove-user,
// through the user list, password, personal settings and session key stores.
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "access/personal_mst.h"
#include "access/skey_mst.h"
#include "access/user_mst.h"
#include "store/cust.h"
#include "store/fileio.h"
#include "store/text.h"
#include "tools/admin.h"

namespace {

// The password file holds at most 20 bytes; the login compares whole texts.
enum { PASSWORD_MAX = 20 };

// The files the chat's stores keep in a user's directory, each with its lock.
const char* const kUserFiles[][2] = {
    {"password.mst", "password.chk"},
    {"personal.mst", "personal.chk"},
    {"skey.mst", "skey.chk"},
    {"user_g.mst", "user_g.chk"},
};

// A password from the command line; "-" reads the first line of standard
// input instead, so that it need not show in the process list.
std::string password_arg(const std::string& given) {
    std::string pw = given;
    if (given == "-") {
        if (!std::getline(std::cin, pw)) admin_bad_value("no password on standard input");
        if (!pw.empty() && pw.back() == '\r') pw.pop_back();
    }
    return admin_text(pw, PASSWORD_MAX, true, "the password");
}

// A user id given on the command line: text that can name the user's directory.
std::string user_id_arg(const std::string& given) {
    const std::string uid = admin_text(given, sizeof(USER_MST::USER_ID) - 1, false, "the user id");
    if (uid.empty()) admin_bad_value("the user id is empty");
    if (!Fio_safe_name(uid.c_str()) || uid.find(' ') != std::string::npos) {
        admin_bad_value("the user id must not be . or .. nor hold / \\ or a blank: " + given);
    }
    return uid;
}

// What a user read that answered r (neither found nor not found) could not
// read: the user list, or, for a listed user (whose stored spelling the read
// leaves in user, cleared before the read), his personal settings.
std::string unread(const USER_MST& user, int r) {
    if (user.USER_ID[0] == '\0') return "cannot read the user list: " + admin_store_error(r);
    return "cannot read the personal settings of " + admin_utf8(user.USER_ID) + ": " + admin_store_error(r);
}

// Reads a listed user into *user; dies when the user is not listed or cannot
// be read. The id as user.mst spells it.
std::string find_user(const std::string& uid, const std::string& shown, USER_MST* user) {
    std::memset(user, 0, sizeof *user);
    const int r = Fio_USER_MST(uid.c_str(), STORE_READ, user);
    if (r == FIO_NOT_FOUND) admin_die("no user " + shown);
    if (r != 0) admin_die(unread(*user, r));
    return user->USER_ID;
}

// The platform path of user uid's directory, ending in "/".
std::string user_dir(const std::string& uid) {
    char dir[FIO_PATH_MAX];
    if (Fio_dir_user(dir, uid.c_str()) != 0) admin_die("the user id cannot name a directory: " + admin_utf8(uid));
    return admin_platform_path(dir);
}

// Removes the files a failed add-user wrote into a directory it made.
void undo_user_dir(const std::string& dir) {
    for (const auto& f : kUserFiles) {
        admin_remove(dir + f[0]);
        admin_remove(dir + f[1]);
    }
    rmdir(dir.c_str());
}

}  // namespace

int admin_add_user(int argc, char** argv) {
    ADMIN_ARGS a = admin_parse("add-user", argc, argv, 2,
                               {"--password", "--name", "--level", "--mode", "--language", "--color"});
    if (a.pos.size() != 2) admin_usage("add-user", "add-user needs the program directory and a user id");
    if (!a.opt.count("--password")) admin_usage("add-user", "add-user needs --password PW");
    const std::string uid = user_id_arg(a.pos[1]);
    const std::string shown = admin_utf8(uid);
    const std::string pw = password_arg(a.opt["--password"]);
    const std::string name =
        admin_text(admin_opt(a, "--name", a.pos[1]), sizeof(USER_MST::USER_NAME) - 1, true, "the name");
    const int level = admin_int(admin_opt(a, "--level", "1"), "the level");
    const int mode = admin_int(admin_opt(a, "--mode", "1"), "the mode");
    const std::string language =
        admin_text(admin_opt(a, "--language", ""), sizeof(USER_MST::LANGUAGE) - 1, true, "the language");
    const std::string color = admin_text(admin_opt(a, "--color", ""), 21, true, "the colour");
    if (level < 0) admin_bad_value("the level must be 0 or more");
    if (mode != 1 && mode != 2) admin_bad_value("the mode is 1 (ordinary account) or 2 (shared account)");

    admin_open_site(a.pos[0]);
    USER_MST user;
    std::memset(&user, 0, sizeof user);
    int r = Fio_USER_MST(uid.c_str(), STORE_READ, &user);
    if (r == 0) admin_die("user " + shown + " exists already (as " + admin_utf8(user.USER_ID) + ")");
    if (r != FIO_NOT_FOUND) admin_die(unread(user, r));

    const std::string dir = user_dir(uid);
    const bool made_dir = !admin_is_dir(dir);
    admin_make_dirs(dir.substr(0, dir.size() - 1));
    auto fail = [&](const std::string& why) {
        if (made_dir) undo_user_dir(dir);
        admin_die(why);
    };

    USER_MST wanted;
    std::memset(&wanted, 0, sizeof wanted);
    G_set(wanted.USER_ID, uid.c_str());
    G_set(wanted.USER_NAME, name.c_str());
    G_set(wanted.USER_PASS, pw.c_str());
    G_set(wanted.LANGUAGE, language.c_str());
    wanted.USER_LEVEL = level;
    wanted.USER_DISP_DEF = 5;
    wanted.MODE = mode;
    wanted.WRITE_MODE = 1;
    user = wanted;

    r = Fio_MST_PASSWORD(uid.c_str(), STORE_ADD, &user);
    if (r != 0) fail("cannot store the password: " + admin_store_error(r));
    // The personal settings first, checked by reading them back: the store
    // does not report single failures.
    Fio_PERSONAL_MST_ALL(uid.c_str(), STORE_ADD, &user);
    if (!color.empty()) {
        char value[22];
        G_set(value, color.c_str());
        if (Fio_PERSONAL_MST(uid.c_str(), STORE_UPDATE, "COLOR", value) != 0) {
            G_set(value, color.c_str());
            r = Fio_PERSONAL_MST(uid.c_str(), STORE_ADD, "COLOR", value);
            if (r != 0) fail("cannot store the colour: " + admin_store_error(r));
        }
    }
    std::memset(&user, 0, sizeof user);
    r = Fio_PERSONAL_MST_ALL(uid.c_str(), STORE_READ, &user);
    if (r != 0 || std::strcmp(user.USER_NAME, wanted.USER_NAME) != 0 || user.USER_LEVEL != level ||
        user.MODE != mode || std::strcmp(user.LANGUAGE, wanted.LANGUAGE) != 0) {
        fail("cannot store the personal settings of " + shown + (r != 0 ? ": " + admin_store_error(r) : std::string()));
    }

    // Last, the line that makes the user known.
    user = wanted;
    r = Fio_USER_MST(uid.c_str(), STORE_ADD, &user);
    if (r != 0) fail("cannot add " + shown + " to the user list: " + admin_store_error(r));

    r = Fio_USER_MST(uid.c_str(), STORE_READ, &user);
    const bool found = r == 0 && std::strcmp(user.USER_ID, uid.c_str()) == 0;
    if (!found || Fio_MST_PASSWORD(uid.c_str(), STORE_READ, &user) != 0 ||
        std::strcmp(user.USER_PASS, pw.c_str()) != 0) {
        admin_die("user " + shown + " was added but does not read back as written; check " + dir);
    }
    std::printf("user added: %s (%s), level %d, mode %d\n", shown.c_str(), admin_utf8(name).c_str(), level, mode);
    return 0;
}

int admin_list_users(int argc, char** argv) {
    ADMIN_ARGS a = admin_parse("list-users", argc, argv, 2, {});
    if (a.pos.size() != 1) admin_usage("list-users", "list-users needs the program directory");
    admin_open_site(a.pos[0]);

    // The ids first, in the list's order, under the list's lock test.
    char dir[FIO_PATH_MAX];
    if (Fio_dir_data(dir) != 0) admin_die("the data directory's path is too long");
    FIO_ACCESS acc;
    int r = Fio_open(&acc, dir, "user.mst", "user.chk", FIO_READ, FIO_TEXT);
    if (r != 0) admin_die("cannot read the user list: " + admin_store_error(r));
    std::vector<std::string> ids;
    char line[10000];
    while (Fio_gets(&acc, line, sizeof line)) {
        Fio_skip_line(&acc, line, sizeof line);
        G_CutCrLf(line);
        if (line[0] != '\0') ids.push_back(line);
    }
    Fio_close(&acc, FIO_OK);

    for (const std::string& id : ids) {
        USER_MST user;
        std::memset(&user, 0, sizeof user);
        r = Fio_USER_MST(id.c_str(), STORE_READ, &user);
        if (r != 0) {
            std::printf("%s\t?\t?\t(%s)\n", admin_utf8(id).c_str(), unread(user, r).c_str());
            continue;
        }
        std::printf("%s\t%d\t%d\t%s\n", admin_utf8(user.USER_ID).c_str(), user.USER_LEVEL, user.MODE,
                    admin_utf8(user.USER_NAME).c_str());
    }
    return 0;
}

int admin_passwd(int argc, char** argv) {
    ADMIN_ARGS a = admin_parse("passwd", argc, argv, 2, {"--password"});
    if (a.pos.size() != 2) admin_usage("passwd", "passwd needs the program directory and a user id");
    if (!a.opt.count("--password")) admin_usage("passwd", "passwd needs --password PW");
    const std::string uid = user_id_arg(a.pos[1]);
    const std::string pw = password_arg(a.opt["--password"]);
    admin_open_site(a.pos[0]);
    USER_MST user;
    const std::string id = find_user(uid, admin_utf8(uid), &user);
    const std::string shown = admin_utf8(id);

    G_set(user.USER_PASS, pw.c_str());
    int r = Fio_MST_PASSWORD(id.c_str(), STORE_UPDATE, &user);
    if (r != 0) admin_die("cannot store the password of " + shown + ": " + admin_store_error(r));
    std::memset(user.USER_PASS, 0, sizeof user.USER_PASS);
    if (Fio_MST_PASSWORD(id.c_str(), STORE_READ, &user) != 0 || pw != user.USER_PASS) {
        admin_die("the password of " + shown + " does not read back as written");
    }
    // A changed password ends the sessions made with the old one.
    r = Fio_MST_SKEY(id.c_str(), STORE_DELETE, nullptr);
    if (r != 0 && r != FIO_NOT_FOUND) {
        admin_die("the password of " + shown + " is changed, but the session key could not be removed (" +
                  admin_store_error(r) + "): run passwd again");
    }
    std::printf("password changed: %s; open sessions must log in again\n", shown.c_str());
    return 0;
}

int admin_remove_user(int argc, char** argv) {
    ADMIN_ARGS a = admin_parse("remove-user", argc, argv, 2, {});
    if (a.pos.size() != 2) admin_usage("remove-user", "remove-user needs the program directory and a user id");
    const std::string uid = user_id_arg(a.pos[1]);
    admin_open_site(a.pos[0]);
    USER_MST user;
    const std::string id = find_user(uid, admin_utf8(uid), &user);
    const std::string shown = admin_utf8(id);

    // The list line first: from then on no login or session of the user
    // passes, whatever happens to the files below.
    int r = Fio_USER_MST(id.c_str(), STORE_DELETE, nullptr);
    if (r != 0) admin_die("cannot remove " + shown + " from the user list: " + admin_store_error(r));

    const std::string dir = user_dir(id);
    std::string kept;
    for (const auto& f : kUserFiles) {
        std::string lock = dir + f[1];
        std::vector<char> lock_buf(lock.begin(), lock.end());
        lock_buf.push_back('\0');
        if (Fio_xor_control(lock_buf.data(), 1) != 0) {
            kept += std::string(" ") + f[0] + " (locked)";
            continue;
        }
        if (!admin_remove(dir + f[0])) kept += std::string(" ") + f[0] + " (" + std::strerror(errno) + ")";
        Fio_xor_control(lock_buf.data(), 2);
    }
    if (!kept.empty()) {
        admin_die("user " + shown + " is removed from the user list, but these files stay in " + dir + ":" + kept);
    }
    if (rmdir(dir.c_str()) != 0 && errno != ENOENT) {
        std::printf("user removed: %s; %s is kept, it holds other programs' files\n", shown.c_str(), dir.c_str());
        return 0;
    }
    std::printf("user removed: %s\n", shown.c_str());
    return 0;
}
