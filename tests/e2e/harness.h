// End-to-end harness: builds a temporary site (cgi directory with zepa.ini and
// velt.lng, a data directory) and runs the real CGI in it as a web server would.
#pragma once
#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// Settings of the zepa.ini that make_site writes (before `extra`).
inline const char* const SITE_ID = "zepa1";
inline const char* const SITE_LANGUAGE = "english";
inline const char* const SITE_CG_WEB_PATH = "/zepa/cg/";
inline const char* const SITE_BACK_GIF = "back.gif";

struct Site {
    std::string root;      // temporary directory, removed by remove_site
    std::string cgi_dir;   // working directory of the CGI: zepa.ini, velt.lng
    std::string data_dir;  // DATA_FILE_PATH, ends with '/'
};

// Makes a fresh site: cgi_dir with the built Shift_JIS velt.lng and a zepa.ini
// in canonical form whose DATA_FILE_PATH is data_dir; `extra` lines
// ("KEY,value,\n" ...) are appended to zepa.ini (the last line of a key wins).
Site make_site(const std::string& extra = "");
void remove_site(const Site& site);

struct Result {
    std::string out;   // standard output, byte for byte
    std::string err;   // standard error
    int status = -1;   // exit status (-1 when killed by a signal)
};

struct Request {
    std::string method = "GET";
    std::string query;                     // QUERY_STRING
    std::string body;                      // standard input
    std::string content_type;              // CONTENT_TYPE (unset when empty)
    std::string content_length = "auto";   // "auto": body size; "" unset; else as given
    std::map<std::string, std::string> env;  // further variables (REMOTE_ADDR...)
    std::string faketime;                  // non-empty: run velt-dyn.cgi under faketime at this time
    bool foreign_scripts = false;          // the page may show script that is not the program's own
    std::string body_file;                 // non-empty: standard input is this file instead of body
                                           // ("auto" CONTENT_LENGTH: its size)
    unsigned long long address_space = 0;  // non-zero: the program's address space limit (RLIMIT_AS)
                                           // in bytes; not applied in a sanitized build, whose
                                           // shadow memory needs far more
    int user = -1;                         // not -1: the program runs as this user and group id
                                           // (the test must run as root)
    int lock_wait_ms = 0;                  // not 0: the program waits this long for a held lock
                                           // (VELT_LOCK_WAIT_MS) instead of its 4 seconds
};

// The lock wait of requests that are meant to give up on a held lock: long
// enough to look at the lock a few times, short enough not to idle.
inline const int SHORT_LOCK_WAIT_MS = 300;

// Runs build/velt.cgi in site.cgi_dir with a clean CGI environment. Every HTML
// page it prints is checked with foreign_scripts (a test failure names each
// script the page's policy does not allow), unless req.foreign_scripts is set.
Result run(const Site& site, const Request& req);

// The inline scripts, event handlers and javascript: addresses of an HTML
// response whose hashes its Content-Security-Policy header does not name, as
// a browser hashes them (UTF-8 reading of the Shift_JIS text, handler values
// unescaped), one text each; "no policy" when the header lacks one.
std::vector<std::string> foreign_scripts(const std::string& response);

// Shortcuts: a GET with the query string; a URL-encoded POST.
Result get(const Site& site, const std::string& query);
Result post(const Site& site, const std::string& body);

// Multipart body builder: parts are appended in order.
struct Multipart {
    std::string boundary = "----veltBoundary7MA4YWxkTrZu0gW";
    std::string body;
};
void mp_field(Multipart& mp, const std::string& name, const std::string& value);
void mp_file(Multipart& mp, const std::string& name, const std::string& filename,
             const std::string& content, const std::string& type = "application/octet-stream");
// Closes the body and returns the request (POST, CONTENT_TYPE with boundary).
Request mp_request(Multipart& mp);

// File helpers (paths relative to nothing: pass full paths).
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
void make_dir(const std::string& path);

// The page head every HTML response starts with, given messages 1 and 2 of the
// loaded language and the body line ("" gives the default BODY tag of a site
// made by make_site: SITE_CG_WEB_PATH and SITE_BACK_GIF joined). Its header
// carries the policy for the scripts as shown in `language` (messages 200, 306,
// 308; "" for a table without them), with the talk form's timer allowed when
// `timer` is set.
std::string page_head(const std::string& msg1, const std::string& msg2, const std::string& body_line,
                      const std::string& language = "", bool timer = false);

// Message n of the built velt.lng in `language`, exactly as the program loads
// it (Shift_JIS bytes; "" when the section does not set it).
std::string message(int n, const std::string& language = SITE_LANGUAGE);

// page_head with messages 1 and 2 of `language`.
std::string site_head(const std::string& body_line = "", const std::string& language = SITE_LANGUAGE);

// The same for the talk form.
std::string talk_head(const std::string& body_line = "", const std::string& language = SITE_LANGUAGE);

// The error page of message msg in the site's language, with an empty title
// (as a store's refusal is answered, e.g. message 12).
std::string error_page(int msg);

// The busy answer in the site's language: "Status: 503 Service Unavailable"
// and the error page of message 19.
std::string busy_page();

// A live holder of the lock file at path, as a request of this program holds
// one: a child process that made the file with its mark and keeps the kernel
// lock on it until release_lock (a lock whose holder has died is broken at
// once, so a plain file would not do). Returns the holder's process id. Forks:
// call it before the test starts threads of its own.
pid_t hold_lock(const std::string& path);
// Ends the holder and removes its lock file.
void release_lock(pid_t holder, const std::string& path);

// The answers of a request that gets no page: a CGI status and one line of
// plain text.
inline const char* const NO_ROOM = "Status: 404 Not Found\nContent-Type: text/plain\n\nNo such chat room.\n";
inline const char* const NO_PAGE = "Status: 404 Not Found\nContent-Type: text/plain\n\nNo such page of the chat.\n";
inline const char* const NO_ACCESS =
    "Status: 403 Forbidden\nContent-Type: text/plain\n\nYou have no access to this chat room.\n";
inline const char* const TOO_LARGE =
    "Status: 413 Payload Too Large\nContent-Type: text/plain\n\nThe request is larger than this chat accepts.\n";
inline const char* const CUT_BODY =
    "Status: 400 Bad Request\nContent-Type: text/plain\n\nThe request arrived incomplete; nothing was stored.\n";

// Name/value pairs in page order (form fields).
using Fields = std::vector<std::pair<std::string, std::string>>;

// What a browser makes of an HTML-escaped text or attribute value.
std::string html_unescape(const std::string& s);

// The hidden fields of the nth_form-th form of a page (from 0), in order,
// their values unescaped as a browser would submit them.
Fields hidden_fields(const std::string& html, int nth_form = 0);

}  // namespace e2e
