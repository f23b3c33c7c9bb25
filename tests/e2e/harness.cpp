// End-to-end harness (see harness.h): temporary sites, and runs of the built
// CGI with a clean CGI environment, the body on standard input and standard
// output and error captured whole.
#include "tests/e2e/harness.h"

#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "page/digest.h"
#include "page/script.h"
#include "store/sjis.h"
#include "page/context.h"
#include "store/fileio.h"

namespace e2e {

namespace {

void fail(const std::string& what) { throw std::runtime_error("e2e harness: " + what + ": " + std::strerror(errno)); }

std::string temp_file_path(const char* tag) {
    std::string pattern = std::string("/tmp/velt-e2e-") + tag + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    const int fd = mkstemp(buf.data());
    if (fd < 0) fail("mkstemp");
    close(fd);
    return buf.data();
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }

std::string canonical_zepa_ini(const std::string& data_dir) {
    std::string s = "***** ZEPA (Pure CGI System) Configuration file *****,,\n";
    s += std::string("SITE_ID,") + SITE_ID + ",\n";
    s += "CGI_FILE_NAME,/cgi-bin/velt.cgi,\n";
    s += std::string("LANGUAGE,") + SITE_LANGUAGE + ",\n";
    s += "CG_FILE_PATH,/var/www/zepa/cg/,\n";
    s += std::string("CG_FILE_WEB_PATH,") + SITE_CG_WEB_PATH + ",\n";
    s += "DATA_FILE_PATH," + data_dir + ",\n";
    s += std::string("BACK_GIF,") + SITE_BACK_GIF + ",\n";
    s += "LOG_DATE,0,\n";
    s += "DATETIME,1,\n";
    s += "IECOLS,80,\n";
    s += "NSCOLS,60,\n";
    s += "ROWS,8,\n";
    s += "MAX_CONTENTS,4000,\n";
    s += "LOGOFF_URL,,\n";
    s += "LOGIN_ERR_URL,,\n";
    s += "FRAME_DIVIDE,20%,\n";
    s += "INITIAL_GP,0,\n";
    s += "ATTACHED_FILE_LIMIT,10000000,\n";
    s += "TIME_CORRECT,,\n";
    s += "MAILER,,\n";
    return s;
}

}  // namespace

Site make_site(const std::string& extra) {
    char root[] = "/tmp/velt-site-XXXXXX";
    if (!mkdtemp(root)) fail("mkdtemp");
    Site site;
    site.root = root;
    site.cgi_dir = site.root + "/cgi";
    site.data_dir = site.root + "/data/";
    make_dir(site.cgi_dir);
    make_dir(site.data_dir);
    write_file(site.cgi_dir + "/velt.lng", read_file(std::string(VELT_BINARY_DIR) + "/velt.lng"));
    write_file(site.cgi_dir + "/zepa.ini", canonical_zepa_ini(site.data_dir) + extra);
    return site;
}

void remove_site(const Site& site) {
    if (site.root.rfind("/tmp/velt-site-", 0) != 0) return;  // never anything else
    nftw(site.root.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

Result run(const Site& site, const Request& req) {
    std::vector<std::string> env = {
        "GATEWAY_INTERFACE=CGI/1.1",
        "SERVER_SOFTWARE=velt-e2e",
        "SERVER_NAME=localhost",
        "SERVER_PORT=80",
        "SERVER_PROTOCOL=HTTP/1.1",
        "SCRIPT_NAME=/cgi-bin/velt.cgi",
        "REQUEST_METHOD=" + req.method,
        "QUERY_STRING=" + req.query,
    };
    if (!req.content_type.empty()) env.push_back("CONTENT_TYPE=" + req.content_type);
    if (req.content_length == "auto") {
        struct stat st = {};
        const unsigned long long size = req.body_file.empty() ? req.body.size()
                                        : stat(req.body_file.c_str(), &st) == 0 ? static_cast<unsigned long long>(st.st_size)
                                                                                 : 0;
        if (req.method == "POST" || size != 0) env.push_back("CONTENT_LENGTH=" + std::to_string(size));
    } else if (!req.content_length.empty()) {
        env.push_back("CONTENT_LENGTH=" + req.content_length);
    }
    if (req.lock_wait_ms != 0) env.push_back("VELT_LOCK_WAIT_MS=" + std::to_string(req.lock_wait_ms));
    for (const auto& kv : req.env) env.push_back(kv.first + "=" + kv.second);

    std::vector<std::string> args;
    if (req.faketime.empty()) {
        args = {std::string(VELT_BINARY_DIR) + "/velt.cgi"};
    } else {
        // A sanitized build must accept the preloaded clock library before it.
        env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
        args = {"/usr/bin/faketime", req.faketime, std::string(VELT_BINARY_DIR) + "/velt-dyn.cgi"};
    }

    const std::string in_path = req.body_file.empty() ? temp_file_path("in") : req.body_file;
    const std::string out_path = temp_file_path("out");
    const std::string err_path = temp_file_path("err");
    if (req.body_file.empty()) write_file(in_path, req.body);
#if defined(__SANITIZE_ADDRESS__)
    const unsigned long long address_space = 0;
#else
    const unsigned long long address_space = req.address_space;
#endif

    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) fail("fork");
    if (pid == 0) {
        const int in = open(in_path.c_str(), O_RDONLY);
        const int out = open(out_path.c_str(), O_WRONLY | O_TRUNC);
        const int err = open(err_path.c_str(), O_WRONLY | O_TRUNC);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            chdir(site.cgi_dir.c_str()) != 0) {
            _exit(127);
        }
        close(in);
        close(out);
        close(err);
        if (address_space != 0) {
            const struct rlimit limit = {static_cast<rlim_t>(address_space), static_cast<rlim_t>(address_space)};
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
        }
        if (req.user != -1 && (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(req.user)) != 0 ||
                               setuid(static_cast<uid_t>(req.user)) != 0)) {
            _exit(127);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
        if (errno != EINTR) fail("waitpid");
    }
    Result r;
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    if (req.body_file.empty()) std::remove(in_path.c_str());
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    // An HTML page, after a status line or not.
    const std::size_t html_at = r.out.rfind("Status: ", 0) == 0 ? r.out.find('\n') + 1 : 0;
    if (!req.foreign_scripts && r.out.compare(html_at, 24, "Content-type: text/html\n") == 0) {
        for (const std::string& s : foreign_scripts(r.out))
            ADD_FAILURE() << "script outside the page's policy (" << req.query << "): " << s;
    }
    return r;
}

namespace {

bool starts_with_nocase(const std::string& s, std::size_t at, const char* word) {
    for (std::size_t i = 0; word[i]; ++i) {
        if (at + i >= s.size() || std::tolower(static_cast<unsigned char>(s[at + i])) != word[i]) return false;
    }
    return true;
}

std::size_t find_nocase(const std::string& s, const char* word, std::size_t from) {
    for (std::size_t at = from; at < s.size(); ++at)
        if (starts_with_nocase(s, at, word)) return at;
    return std::string::npos;
}

// Each attribute of the tag text between '<' and '>' as (lower-case name,
// value unescaped).
std::vector<std::pair<std::string, std::string>> attributes(const std::string& tag) {
    std::vector<std::pair<std::string, std::string>> out;
    std::size_t i = 0;
    while (i < tag.size() && !std::isspace(static_cast<unsigned char>(tag[i]))) ++i;  // the tag's name
    while (i < tag.size()) {
        while (i < tag.size() && (std::isspace(static_cast<unsigned char>(tag[i])) || tag[i] == '/')) ++i;
        std::string name;
        while (i < tag.size() && tag[i] != '=' && !std::isspace(static_cast<unsigned char>(tag[i])))
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(tag[i++])));
        while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
        std::string value;
        if (i < tag.size() && tag[i] == '=') {
            ++i;
            while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
            if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
                const char q = tag[i++];
                while (i < tag.size() && tag[i] != q) value += tag[i++];
                ++i;
            } else {
                while (i < tag.size() && !std::isspace(static_cast<unsigned char>(tag[i]))) value += tag[i++];
            }
        }
        if (!name.empty()) out.emplace_back(name, html_unescape(value));
    }
    return out;
}

}  // namespace

std::vector<std::string> foreign_scripts(const std::string& response) {
    const std::size_t end = response.find("\n\n");
    const std::string header = response.substr(0, end);
    const std::size_t p = header.find("\nContent-Security-Policy: ");
    if (p == std::string::npos) return {"no policy"};
    const std::size_t p0 = p + 27;
    const std::string policy = header.substr(p0, header.find('\n', p0) - p0) + ";";
    const std::string body = end == std::string::npos ? "" : response.substr(end + 2);
    std::vector<std::string> out;
    auto check = [&](const std::string& text) {
        const std::string source = "'sha256-" + G_base64(G_sha256(G_sjis_to_utf8(text))) + "'";
        if (policy.find(" " + source + " ") == std::string::npos && policy.find(" " + source + ";") == std::string::npos)
            out.push_back(text);
    };
    for (std::size_t at = body.find('<'); at != std::string::npos; at = body.find('<', at + 1)) {
        if (starts_with_nocase(body, at, "<!--")) {  // the frame's comment line; scripts hide theirs inside
            const std::size_t close = body.find("-->", at);
            if (close == std::string::npos) break;
            at = close;
            continue;
        }
        std::size_t close = at + 1;
        for (char q = 0; close < body.size() && (q != 0 || body[close] != '>'); ++close) {
            if (q == 0 && (body[close] == '"' || body[close] == '\'')) q = body[close];
            else if (body[close] == q) q = 0;
        }
        if (close >= body.size()) break;
        const std::string tag = body.substr(at + 1, close - at - 1);
        for (const auto& a : attributes(tag)) {
            if (a.first.compare(0, 2, "on") == 0) check(a.second);
            if (starts_with_nocase(a.second, a.second.find_first_not_of(" \t\n"), "javascript:")) check(a.second);
        }
        if (starts_with_nocase(body, at, "<script")) {
            const std::size_t stop = find_nocase(body, "</script", close + 1);
            check(body.substr(close + 1, stop == std::string::npos ? std::string::npos : stop - close - 1));
            if (stop == std::string::npos) break;
            at = stop;
        } else {
            at = close;
        }
    }
    return out;
}

std::string error_page(int msg) {
    return site_head() +
           "<CENTER>\n<BR><FONT SIZE=\"5\"><B></B></FONT>\n<P><BR><HR><P><BR>\n<FONT COLOR=\"RED\"><B>" +
           message(msg) +
           "</B></FONT>\n<FORM METHOD=POST >\n<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n"
           "</FORM>\n</CENTER>\n</BODY>\n</HTML>\n";
}

std::string busy_page() { return "Status: 503 Service Unavailable\n" + error_page(19); }

pid_t hold_lock(const std::string& path) {
    // The mark as the store writes it: "velt <host> <pid> <hex>\n", the pid
    // the holder's own.
    char host[64] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') std::snprintf(host, sizeof host, "localhost");
    int ready[2];
    if (pipe(ready) != 0) fail("pipe");
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) fail("fork");
    if (pid == 0) {
        close(ready[0]);
        char mark[FIO_MARK_CAP];
        std::snprintf(mark, sizeof mark, FIO_MARK_PREFIX "%s %ld 0123456789abcdef\n", host, static_cast<long>(getpid()));
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0 || flock(fd, LOCK_EX) != 0 || write(fd, mark, std::strlen(mark)) < 0 || write(ready[1], "1", 1) != 1)
            _exit(1);
        for (;;) pause();
    }
    close(ready[1]);
    char c = 0;
    const bool ok = read(ready[0], &c, 1) == 1;
    close(ready[0]);
    if (!ok) {
        waitpid(pid, nullptr, 0);
        errno = EEXIST;
        fail("cannot hold " + path);
    }
    return pid;
}

void release_lock(pid_t holder, const std::string& path) {
    kill(holder, SIGKILL);
    while (waitpid(holder, nullptr, 0) < 0 && errno == EINTR) {
    }
    std::remove(path.c_str());
}

Result get(const Site& site, const std::string& query) {
    Request req;
    req.query = query;
    return run(site, req);
}

Result post(const Site& site, const std::string& body) {
    Request req;
    req.method = "POST";
    req.content_type = "application/x-www-form-urlencoded";
    req.body = body;
    return run(site, req);
}

void mp_field(Multipart& mp, const std::string& name, const std::string& value) {
    mp.body += "--" + mp.boundary + "\r\n";
    mp.body += "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
    mp.body += value + "\r\n";
}

void mp_file(Multipart& mp, const std::string& name, const std::string& filename, const std::string& content,
             const std::string& type) {
    mp.body += "--" + mp.boundary + "\r\n";
    mp.body += "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + filename + "\"\r\n";
    mp.body += "Content-Type: " + type + "\r\n\r\n";
    mp.body += content + "\r\n";
}

Request mp_request(Multipart& mp) {
    mp.body += "--" + mp.boundary + "--\r\n";
    Request req;
    req.method = "POST";
    req.content_type = "multipart/form-data; boundary=" + mp.boundary;
    req.body = mp.body;
    return req;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) fail("cannot write " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) fail("cannot write " + path);
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void make_dir(const std::string& path) {
    // Creates every missing level.
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) fail("mkdir " + part);
        }
    }
}

std::string page_head(const std::string& msg1, const std::string& msg2, const std::string& body_line,
                      const std::string& language, bool timer) {
    // The policy as the program builds it for the messages its scripts show;
    // foreign_scripts (run on every page) proves that it fits the page.
    for (int n : {200, 306, 308})
        strdef_set(&ctx.messages, n, message(n, language).c_str(), message(n, language).size());
    std::string s = "Content-type: text/html\nPragma: no-cache\nContent-Security-Policy: " + G_csp_policy(timer) +
                    "\nReferrer-Policy: no-referrer\n\n<HTML>\n<HEAD>\n";
    s += msg1;
    s += "</HEAD>\n<!--" + msg2 + "-->\n";
    if (body_line.empty()) {
        s += std::string("<BODY BACKGROUND=\"") + SITE_CG_WEB_PATH + SITE_BACK_GIF + "\" >\n";
    } else {
        s += body_line + "\n";
    }
    return s;
}

std::string message(int n, const std::string& language) {
    // An independent reading of the message file: the section's lines
    // "NNN<sep>text", line ends removed.
    std::istringstream in(read_file(std::string(VELT_BINARY_DIR) + "/velt.lng"));
    const std::string header = "[" + language + "]";
    std::string line, found;
    bool in_section = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!in_section) {
            in_section = line.compare(0, header.size(), header) == 0;
            continue;
        }
        if (!line.empty() && line[0] == '[') break;
        if (line.size() >= 3 && std::atoi(line.substr(0, 3).c_str()) == n) found = line.size() > 4 ? line.substr(4) : "";
    }
    return found;
}

std::string site_head(const std::string& body_line, const std::string& language) {
    return page_head(message(1, language), message(2, language), body_line, language);
}

std::string talk_head(const std::string& body_line, const std::string& language) {
    return page_head(message(1, language), message(2, language), body_line, language, true);
}

std::string html_unescape(const std::string& s) {
    static const std::pair<const char*, char> ents[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        bool done = false;
        for (const auto& e : ents) {
            const std::size_t n = std::strlen(e.first);
            if (s.compare(i, n, e.first) == 0) {
                out += e.second;
                i += n;
                done = true;
                break;
            }
        }
        if (!done) out += s[i++];
    }
    return out;
}

Fields hidden_fields(const std::string& html, int nth_form) {
    std::size_t pos = 0;
    for (int i = 0; i <= nth_form; ++i) {
        pos = html.find("<FORM", pos);
        if (pos == std::string::npos) return {};
        ++pos;
    }
    const std::size_t end = html.find("</FORM>", pos);
    Fields out;
    const std::string tag = "<INPUT TYPE=\"hidden\" name=\"";
    for (std::size_t p = html.find(tag, pos); p != std::string::npos && p < end; p = html.find(tag, p + 1)) {
        const std::size_t n0 = p + tag.size();
        const std::size_t n1 = html.find('"', n0);
        const std::size_t v0 = html.find("value=\"", n1) + 7;
        const std::size_t v1 = html.find('"', v0);
        out.emplace_back(html.substr(n0, n1 - n0), html_unescape(html.substr(v0, v1 - v0)));
    }
    return out;
}

}  // namespace e2e
