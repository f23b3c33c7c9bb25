// HTTP side of the end-to-end tests: the exchange, free ports, and sites
// served through scripts/serve.sh (see http_site.h).
#include "tests/e2e/http_site.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tests/e2e/harness.h"

namespace e2e {

Http http(int port, const std::string& method, const std::string& target, const std::string& content_type,
          const std::string& body) {
    Http res;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return res;
    timeval tv{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return res;
    }
    std::string req = method + " " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\nUser-Agent: velt-flow-test\r\n";
    if (!content_type.empty()) req += "Content-Type: " + content_type + "\r\n";
    if (method == "POST") req += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    req += "\r\n" + body;
    for (std::size_t sent = 0; sent < req.size();) {
        const ssize_t n = send(fd, req.data() + sent, req.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    std::string all;
    char buf[8192];
    for (;;) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        all.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    const std::size_t split = all.find("\r\n\r\n");
    if (all.compare(0, 9, "HTTP/1.0 ") != 0 && all.compare(0, 9, "HTTP/1.1 ") != 0) return res;
    res.status = std::atoi(all.c_str() + 9);
    res.head = all.substr(0, split);
    res.body = split == std::string::npos ? "" : all.substr(split + 4);
    return res;
}

int free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    close(fd);
    return port;
}

int shell(const std::string& cmd) {
    const int st = std::system(cmd.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string url_encode(const std::string& s) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string frame_src(const std::string& html, const std::string& name) {
    const std::size_t at = html.find("NAME=\"" + name + "\"");
    if (at == std::string::npos) return "";
    const std::size_t src = html.rfind("SRC = \"", at);
    if (src == std::string::npos) return "";
    const std::size_t from = src + 7;
    return html_unescape(html.substr(from, html.find('"', from) - from));
}

pid_t serve_site(const std::string& server, const std::string& root, int port, std::string* why) {
    const std::string script = std::string(VELT_SOURCE_DIR) + "/scripts/serve.sh";
    const std::string port_text = std::to_string(port);
    const pid_t parent = getpid();
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        *why = "fork failed";
        return -1;
    }
    if (pid == 0) {
        // Told to stop when the test that started it ends, even by a crash;
        // serve.sh then stops its server.
        if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) _exit(127);
        // The server's own messages stay in its log.
        const int out = open("/dev/null", O_WRONLY);
        const int err = open((root + "/serve.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
        execl("/bin/bash", "bash", script.c_str(), "--server", server.c_str(), root.c_str(), port_text.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    // Ready when the portal answers; given up after thirty seconds.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (http(port, "GET", "/").status != 200) {
        int st;
        const bool ended = waitpid(pid, &st, WNOHANG) == pid;
        if (ended || std::chrono::steady_clock::now() >= until) {
            if (ended) pid = -1;
            stop_site(&pid);
            *why = std::string(ended ? "the server ended: " : "the server did not answer: ") +
                   read_file(root + "/serve.out") + read_file(root + "/" + server + "/error.log");
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return pid;
}

void stop_site(pid_t* pid) {
    if (*pid <= 0) return;
    kill(*pid, SIGTERM);
    int st;
    waitpid(*pid, &st, 0);
    *pid = -1;
}

}  // namespace e2e
