// HTTP side of the end-to-end tests: one exchange with a web server on
// 127.0.0.1, a free port, and a site served through scripts/serve.sh.
#pragma once
#include <string>
#include <sys/types.h>

namespace e2e {

struct Http {
    int status = 0;  // 0 when no HTTP answer came
    std::string head;
    std::string body;
};

// One HTTP/1.0 exchange with the server on 127.0.0.1:port; the answer is read
// until the server closes the connection (a silent server is given up after
// thirty seconds).
Http http(int port, const std::string& method, const std::string& target, const std::string& content_type = "",
          const std::string& body = "");

// A port nobody listens on now (the kernel's choice for an ephemeral bind).
int free_port();

// Runs a command line through the shell; its exit status (-1 when it did
// not exit normally).
int shell(const std::string& cmd);

// Percent-encoding of a form value (everything but letters, digits, -._~).
std::string url_encode(const std::string& s);

// The address of the frame named name in a frameset page, unescaped.
std::string frame_src(const std::string& html, const std::string& name);

// Starts `scripts/serve.sh --server SERVER ROOT PORT` in the background (its
// messages go to ROOT/serve.out) and waits until the site's portal page
// answers, for at most thirty seconds. Returns the process id of serve.sh, or
// -1 with *why saying what went wrong (the server is then stopped). serve.sh
// is sent SIGTERM when the calling thread ends, however it ends, so that no
// server outlives its test.
pid_t serve_site(const std::string& server, const std::string& root, int port, std::string* why);

// Stops a server started with serve_site (it writes out its logs) and sets
// *pid to -1; nothing when *pid is not positive.
void stop_site(pid_t* pid);

}  // namespace e2e
