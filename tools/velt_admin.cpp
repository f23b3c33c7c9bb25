// velt-admin: the operator's tool for a chat site. It creates a site, adds,
// lists and removes users and rooms, changes passwords, checks a data
// directory and bounds a room's history, always through the program's own
// stores and their lock files; this file holds the command table, the help
// texts and create-site. docs/velt-admin.md is its manual.
//
// Errors go to standard error with a non-zero exit. Every file is written whole
// through a temporary file and one rename, so a failure never leaves a
// half-written file; a user or room becomes visible (its user.mst or tree.mst
// line) only after everything else it needs is in place.
#include <cstdio>
#include <cstring>
#include <string>

#include "settings/sysinfo.h"
#include "tools/admin.h"

namespace {

// One command's help.
struct COMMAND {
    const char* name;
    const char* synopsis;
    const char* help;
};

const COMMAND kCommands[] = {
    {"create-site", "create-site CGI_DIR --data DATA_DIR [--site-id ID] [--language LANG] [--lng FILE]",
     "Creates a site: CGI_DIR gets zepa.ini and the message file velt.lng (by default\n"
     "the one beside velt-admin or installed with it), DATA_DIR and DATA_DIR/user\n"
     "are made. The site id names the suite's frame FRM22<ID> (default 1); LANG is\n"
     "the default message language, a section of velt.lng (default english). A\n"
     "site is created once.\n"},
    {"add-user", "add-user CGI_DIR USER_ID --password PW [--name NAME] [--level N] [--mode 1|2]\n"
     "         [--language LANG] [--color COLOR]",
     "Adds a user: the password (at most 20 bytes), the display name (default the\n"
     "id), the level (default 1; 100 and above is a system administrator), the\n"
     "account mode (1 ordinary, 2 shared by several people), the message language\n"
     "and the chat colour. The id may not be . or .. nor hold / \\ , or a blank.\n"
     "PW - reads the password from the first line of standard input.\n"},
    {"list-users", "list-users CGI_DIR",
     "Lists the users of user.mst, one a line: id, level, mode and name, separated\n"
     "by tabs.\n"},
    {"passwd", "passwd CGI_DIR USER_ID --password PW",
     "Sets a user's password (at most 20 bytes; PW - reads it from the first line\n"
     "of standard input) and ends the user's session, so that every open window\n"
     "must log in again.\n"},
    {"remove-user", "remove-user CGI_DIR USER_ID",
     "Removes a user from user.mst, then the files the chat keeps for the user\n"
     "(password, session key, personal settings, group memberships). The user's\n"
     "directory goes too unless another program of the suite keeps files there.\n"},
    {"add-room", "add-room CGI_DIR FOLDER_NO --name NAME [--cgi URL] [--access-level N] [--write-level N]",
     "Adds a room as a folder of tree.mst with its directory. URL is the address\n"
     "the pages point to (default /cgi-bin/velt.cgi); users of at least the access\n"
     "level may open the room, of at least the write level also post (default 0).\n"},
    {"list-rooms", "list-rooms CGI_DIR",
     "Lists the folders of tree.mst, one a line: folder number, access level,\n"
     "write level, the number of stored messages, name and program address,\n"
     "separated by tabs.\n"},
    {"remove-room", "remove-room CGI_DIR FOLDER_NO",
     "Removes a room: its folder line from tree.mst, then its directory with the\n"
     "messages, members, settings, information text and pictures. A folder that\n"
     "has folders below it in the tree is refused.\n"},
    {"trim-history", "trim-history CGI_DIR FOLDER_NO --keep N",
     "Keeps the newest N messages of a room and drops the older ones, rewriting\n"
     "the room's chatdata.dat under its lock as a post does. A room that is never\n"
     "empty keeps every line until then; run it from cron to bound busy rooms.\n"},
    {"check", "check CGI_DIR [--repair]",
     "Checks a data directory: record sizes of the binary files, lines that do not\n"
     "parse, users without a directory, folders without a directory, and leftovers\n"
     "of crashed requests: lock files (*.chk) and temporary files (*.tmp) older\n"
     "than 60 seconds, uploads (CGI<number>) older than an hour; pictures of a\n"
     "room that no setting names, and pictures a setting names that are missing.\n"
     "--repair removes those leftovers (unnamed pictures under the room's settings\n"
     "lock) and nothing else. Exit status 0 when nothing is left to report, 1\n"
     "otherwise.\n"},
};

const char* const kCommon =
    "Text arguments (ids, names, passwords) are taken as UTF-8 and stored in\n"
    "Shift_JIS; a character Shift_JIS cannot hold is refused. --encoding sjis\n"
    "takes them as Shift_JIS already. Output is UTF-8.\n";

void print_overview(std::FILE* out) {
    std::fputs("usage: velt-admin COMMAND ARGS... [--encoding utf8|sjis]\n\ncommands:\n", out);
    for (const COMMAND& c : kCommands) std::fprintf(out, "  %s\n", c.synopsis);
    std::fputs("\n", out);
    std::fputs(kCommon, out);
    std::fputs("\n\"velt-admin help COMMAND\" or \"velt-admin COMMAND --help\" tells more.\n", out);
}

// Takes "--encoding X" out of the arguments wherever it stands; dies on a
// value other than utf8 or sjis.
void take_encoding(int* argc, char** argv) {
    int kept = 0;
    for (int i = 0; i < *argc; ++i) {
        if (std::strcmp(argv[i], "--encoding") == 0) {
            const std::string v = i + 1 < *argc ? argv[i + 1] : "";
            if (v == "sjis" || v == "shift_jis" || v == "cp932") {
                admin_args_sjis = true;
            } else if (v == "utf8" || v == "utf-8") {
                admin_args_sjis = false;
            } else {
                admin_bad_value("--encoding takes utf8 or sjis" + (v.empty() ? std::string() : ", not " + v));
            }
            ++i;
            continue;
        }
        argv[kept++] = argv[i];
    }
    *argc = kept;
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

}  // namespace

bool admin_help(const std::string& command, std::FILE* out) {
    for (const COMMAND& c : kCommands) {
        if (command != c.name) continue;
        if (out == nullptr) return true;
        std::fprintf(out, "usage: velt-admin %s\n\n%s\n%s", c.synopsis, c.help, kCommon);
        return true;
    }
    return false;
}

int admin_create_site(int argc, char** argv) {
    ADMIN_ARGS a = admin_parse("create-site", argc, argv, 2, {"--data", "--site-id", "--language", "--lng"});
    if (a.pos.size() != 1) admin_usage("create-site", "create-site needs the program directory");
    if (!a.opt.count("--data")) admin_usage("create-site", "create-site needs --data DATA_DIR");
    const std::string cgi_dir = admin_absolute(a.pos[0]);
    std::string data_dir = admin_absolute(a.opt["--data"]);
    if (data_dir.back() != '/') data_dir += '/';
    const std::string site_id = admin_text(admin_opt(a, "--site-id", "1"), sizeof(SYSINFO_REC::SITE_ID) - 1, false, "the site id");
    const std::string language =
        admin_text(admin_opt(a, "--language", "english"), sizeof(SYSINFO_REC::LANGUAGE) - 1, false, "the language");
    // The message file beside the tool (a build tree), else where an install
    // puts it (bin/../share/velt).
    std::string lng_src = admin_own_dir() + "/velt.lng";
    if (!admin_exists(lng_src)) lng_src = admin_own_dir() + "/../share/velt/velt.lng";
    lng_src = admin_opt(a, "--lng", lng_src);
    // The data directory is a path of this machine: it is stored as given.
    if (data_dir.size() > sizeof(SYSINFO_REC::DATA_FILE_PATH) - 1) admin_bad_value("the data directory's path is too long");
    if (data_dir.find_first_of(",\r\n") != std::string::npos) {
        admin_bad_value("the data directory's path must not hold a comma or a line end");
    }

    const std::string ini = cgi_dir + "/zepa.ini";
    if (admin_exists(ini)) admin_die(ini + " exists already; a site is created only once");
    std::string lng;
    if (!admin_read_file(lng_src, &lng)) admin_die("cannot read the message file " + lng_src + ": " + std::strerror(errno));
    if (lng.find("[" + language + "]") == std::string::npos) {
        admin_die("the message file " + lng_src + " has no section [" + admin_utf8(language) + "]");
    }

    admin_make_dirs(cgi_dir);
    admin_make_dirs(data_dir + "user");
    std::string err = admin_write_file(cgi_dir + "/velt.lng", lng);
    if (err.empty()) err = admin_write_file(ini, site_config(site_id, language, data_dir));
    if (!err.empty()) admin_die(err);
    std::printf("site created: program directory %s, data directory %s\n", cgi_dir.c_str(), data_dir.c_str());
    return 0;
}

int main(int argc, char** argv) {
    take_encoding(&argc, argv);
    if (argc < 2) {
        print_overview(stderr);
        return ADMIN_USAGE;
    }
    const std::string cmd = argv[1];
    if (cmd == "-h" || cmd == "--help" || (cmd == "help" && argc == 2)) {
        print_overview(stdout);
        return 0;
    }
    if (cmd == "help") {
        if (!admin_help(argv[2], stdout)) admin_usage("", std::string("unknown command ") + argv[2]);
        return 0;
    }
    if (!admin_help(cmd, nullptr)) admin_usage("", "unknown command " + cmd);
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            admin_help(cmd, stdout);
            return 0;
        }
    }
    if (cmd == "create-site") return admin_create_site(argc, argv);
    if (cmd == "add-user") return admin_add_user(argc, argv);
    if (cmd == "list-users") return admin_list_users(argc, argv);
    if (cmd == "passwd") return admin_passwd(argc, argv);
    if (cmd == "remove-user") return admin_remove_user(argc, argv);
    if (cmd == "add-room") return admin_add_room(argc, argv);
    if (cmd == "list-rooms") return admin_list_rooms(argc, argv);
    if (cmd == "remove-room") return admin_remove_room(argc, argv);
    if (cmd == "trim-history") return admin_trim_history(argc, argv);
    return admin_check(argc, argv);
}
