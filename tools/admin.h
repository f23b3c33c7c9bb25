// Shared parts of velt-admin: argument reading, refusals, the text encoding of
// arguments and output, file helpers, and opening a site the way the program
// opens it on every request.
#pragma once
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "settings/sysinfo.h"

// Exit statuses: 1 the site refused or failed (a store's answer, a file), 2 the
// command line itself is wrong (unknown command or option, a bad value).
enum { ADMIN_FAILED = 1, ADMIN_USAGE = 2 };

// Ends the tool with "velt-admin: message" on standard error and status 1.
[[noreturn]] void admin_die(const std::string& message);
// A wrong command line: the message, then how to ask for the command's help;
// status 2.
[[noreturn]] void admin_usage(const std::string& command, const std::string& message);
// A value that cannot be stored: the message; status 2.
[[noreturn]] void admin_bad_value(const std::string& message);

// A store result in words.
std::string admin_store_error(int r);

// Positional arguments and "--name value" options (or "--flag" without a
// value, for the names in flags) of one command.
struct ADMIN_ARGS {
    std::vector<std::string> pos;
    std::map<std::string, std::string> opt;
};
ADMIN_ARGS admin_parse(const std::string& command, int argc, char** argv, int from,
                       const std::vector<std::string>& options, const std::vector<std::string>& flags = {});
std::string admin_opt(const ADMIN_ARGS& a, const char* name, const std::string& fallback);
// A whole decimal number that fits 32 bits, else a refusal naming `what`.
int admin_int(const std::string& text, const char* what);

// Text arguments arrive in UTF-8, as terminals type them, unless
// "--encoding sjis" says the caller passes Shift_JIS already. Set once by main.
extern bool admin_args_sjis;

// One text argument as the suite stores it: Shift_JIS (CP932). A UTF-8
// argument is converted as a browser's form converts it (G_utf8_to_sjis); a
// character Shift_JIS cannot hold (one a form would send as a numeric
// reference: an emoji, U+301C, a private-use character) or bytes that are not
// valid in the argument's encoding are refused with a message naming `what`,
// since the files hold Shift_JIS and nothing else. The result is then checked
// to fit a field of max bytes, with no line end, no zero byte and (unless
// comma_ok) no comma, since every file is line based and most are
// comma-separated.
std::string admin_text(const std::string& arg, std::size_t max, bool comma_ok, const char* what);
// A stored Shift_JIS text as UTF-8 for printing, read as a browser reads it
// (G_sjis_to_utf8): a byte that is no Shift_JIS character shows as U+FFFD.
std::string admin_utf8(const std::string& sjis);

bool admin_is_dir(const std::string& path);
bool admin_exists(const std::string& path);
// Makes the directory and its missing parents, each 0700 (owner only, as
// every directory the program makes); dies when it cannot.
void admin_make_dirs(const std::string& path);
// Writes bytes as the whole new content of path through path.tmp, flushed and
// renamed over path. Empty text, or the reason it failed (nothing left behind).
std::string admin_write_file(const std::string& path, const std::string& bytes);
bool admin_read_file(const std::string& path, std::string* out);
// Removes a file; true when it is gone (also when it never was there).
bool admin_remove(const std::string& path);
// The absolute form of a path given on the command line.
std::string admin_absolute(const std::string& path);
// The directory of this program's executable.
std::string admin_own_dir();
// The platform form of a path built by the stores' path builders.
std::string admin_platform_path(const char* suite_path);

// Makes the program directory the working directory and loads its zepa.ini,
// as the program does on every request; dies when the site cannot be used.
// The site's settings, kept for the rest of the run.
const SYSINFO_REC& admin_open_site(const std::string& cgi_dir);

// Prints the help of one command (its synopsis and what it does) to out
// (null: prints nothing); false for an unknown command.
bool admin_help(const std::string& command, std::FILE* out);

// The commands; each returns the exit status.
int admin_create_site(int argc, char** argv);
int admin_add_user(int argc, char** argv);
int admin_list_users(int argc, char** argv);
int admin_passwd(int argc, char** argv);
int admin_remove_user(int argc, char** argv);
int admin_add_room(int argc, char** argv);
int admin_list_rooms(int argc, char** argv);
int admin_remove_room(int argc, char** argv);
int admin_trim_history(int argc, char** argv);
int admin_check(int argc, char** argv);
