// velt-bench: the benchmark's spawn harness. It starts programs as a web
// server starts a CGI and times them, and prepares large room files.
//
//   velt-bench run [--runs N] [--warmup N] CASEFILE
//       Runs every case of CASEFILE once per round (a case with "every K" in
//       every K-th round only), N rounds (default 31), after N warm-up rounds
//       (default 2) that run every case and are not counted; each round starts
//       one case later, so no case always follows the same one. Prints one
//       tab-separated line per case:
//         name runs bad median_us p25_us p75_us min_us self_median_us
//         cpu_median_us faults_median
//       (self_median_us is "-" unless the case is self-timed; cpu is the
//       child's user and system time, faults its minor and major page faults,
//       both from wait4's resource usage). Progress goes to standard error.
//   velt-bench profile --valgrind PATH CASEFILE OUTDIR
//       Runs every case that is not self-timed once (resets first, as above)
//       under valgrind --tool=callgrind, its profile written to
//       OUTDIR/NAME.callgrind, and prints one tab-separated line per case:
//         name bad instructions
//       (the instructions the program executed from its first to its last,
//       process start-up included). A run that misses an expect counts as bad.
//   velt-bench fill-messages SRC COUNT OUT
//       Writes OUT (through OUT.tmp and a rename) with COUNT copies of the
//       first 408-byte record of the message file SRC.
//   velt-bench fill-members SRC COUNT OUT
//       Writes a presence index OUT of COUNT members: COUNT-1 made-up members
//       ("benchNNNNN" / "Member NNNNN") cloned from the first record of SRC,
//       then that record itself, every sign of life set to the current minute
//       (see the directive restamp).
//
// A case file holds blocks of directives, one per line ('#' starts a comment):
//   case NAME              starts a case
//   exe PATH               the program (absolute path)
//   arg TEXT               one more argument (repeatable)
//   dir PATH               working directory of the program
//   method GET|POST        REQUEST_METHOD (default GET)
//   query TEXT             QUERY_STRING
//   content-type TEXT      CONTENT_TYPE
//   stdin FILE             the request body; CONTENT_LENGTH is its size
//   reset SRC DST          before every run (not timed) DST becomes a synced
//                          copy of SRC, put in place by a rename (repeatable)
//   restamp PATH           before every run, after the resets (not timed), the
//                          sign of life of every member of the presence index
//                          PATH becomes the current minute, so that the
//                          once-a-minute time-out sweep drops nobody however
//                          long the measurement runs (a stamp more than five
//                          minutes old, or ten ahead, is dropped) (repeatable)
//   expect TEXT            standard output must hold TEXT (repeatable)
//   size PATH BYTES        after every run PATH must be BYTES long
//   self-timed             the program prints "elapsed_us=N": that is its time
//   every K                counted only in every K-th round (K >= 1), for the
//                          slow cases, so that the quick ones get more rounds
// A run that exits non-zero, or misses an expect or a size, counts as bad;
// its time is kept all the same (the table shows how many were bad).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "chat/records.h"

namespace {

struct Reset {
    std::string src;
    std::string dst;
};

struct Case {
    std::string name;
    std::string exe;
    std::vector<std::string> args;
    std::string dir;
    std::string method = "GET";
    std::string query;
    std::string content_type;
    std::string body;
    bool has_body = false;
    std::vector<Reset> resets;
    std::vector<std::string> restamps;
    std::vector<std::string> expects;
    std::string size_path;
    long long size_bytes = -1;
    bool self_timed = false;
    int every = 1;
    // Results.
    std::vector<long long> wall_us;
    std::vector<long long> self_us;
    std::vector<long long> cpu_us;
    std::vector<long long> faults;
    int bad = 0;
    std::string first_bad;  // what went wrong the first time
};

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "velt-bench: %s\n", what.c_str());
    std::exit(1);
}

long long now_us() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) die("cannot read " + path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Writes bytes as the whole new content of path: path.tmp, fsync, rename.
void write_synced(const std::string& path, const std::string& bytes) {
    const std::string tmp = path + ".tmp";
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) die("cannot create " + tmp + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) die("cannot write " + tmp + ": " + std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0) die("cannot sync " + tmp + ": " + std::strerror(errno));
    if (rename(tmp.c_str(), path.c_str()) != 0) die("cannot rename " + tmp + ": " + std::strerror(errno));
}

// Reads a case file; dies with the line number on anything it does not know.
std::vector<Case> read_cases(const std::string& path) {
    std::ifstream in(path);
    if (!in) die("cannot read " + path);
    std::vector<Case> cases;
    std::string line;
    int line_no = 0;
    while (std::getline(in, line)) {
        ++line_no;
        if (line.empty() || line[0] == '#') continue;
        const std::size_t sp = line.find(' ');
        const std::string key = line.substr(0, sp);
        const std::string value = sp == std::string::npos ? "" : line.substr(sp + 1);
        const std::string where = path + ":" + std::to_string(line_no);
        if (key == "case") {
            cases.emplace_back();
            cases.back().name = value;
            continue;
        }
        if (cases.empty()) die(where + ": a directive before the first case");
        Case& c = cases.back();
        if (key == "exe") {
            c.exe = value;
        } else if (key == "arg") {
            c.args.push_back(value);
        } else if (key == "dir") {
            c.dir = value;
        } else if (key == "method") {
            c.method = value;
        } else if (key == "query") {
            c.query = value;
        } else if (key == "content-type") {
            c.content_type = value;
        } else if (key == "stdin") {
            c.body = read_all(value);
            c.has_body = true;
        } else if (key == "reset") {
            const std::size_t sp2 = value.find(' ');
            if (sp2 == std::string::npos) die(where + ": reset needs SRC and DST");
            c.resets.push_back({value.substr(0, sp2), value.substr(sp2 + 1)});
        } else if (key == "restamp") {
            c.restamps.push_back(value);
        } else if (key == "expect") {
            c.expects.push_back(value);
        } else if (key == "size") {
            const std::size_t sp2 = value.find(' ');
            if (sp2 == std::string::npos) die(where + ": size needs PATH and BYTES");
            c.size_path = value.substr(0, sp2);
            c.size_bytes = std::atoll(value.c_str() + sp2 + 1);
        } else if (key == "self-timed") {
            c.self_timed = true;
        } else if (key == "every") {
            c.every = std::atoi(value.c_str());
            if (c.every < 1) die(where + ": every needs a count of at least 1");
        } else {
            die(where + ": unknown directive " + key);
        }
    }
    for (const Case& c : cases) {
        if (c.exe.empty() || c.dir.empty()) die(path + ": case " + c.name + " needs exe and dir");
    }
    return cases;
}

// The environment a web server gives a CGI: the server's variables and the
// request's own, nothing inherited.
std::vector<std::string> cgi_environment(const Case& c) {
    std::vector<std::string> env = {
        "PATH=/usr/bin:/bin",
        "GATEWAY_INTERFACE=CGI/1.1",
        "SERVER_SOFTWARE=velt-bench",
        "SERVER_NAME=127.0.0.1",
        "SERVER_PORT=80",
        "SERVER_PROTOCOL=HTTP/1.1",
        "REMOTE_ADDR=127.0.0.1",
        "SCRIPT_NAME=/cgi-bin/velt.cgi",
        "REQUEST_METHOD=" + c.method,
        "QUERY_STRING=" + c.query,
    };
    if (!c.content_type.empty()) env.push_back("CONTENT_TYPE=" + c.content_type);
    if (c.has_body) env.push_back("CONTENT_LENGTH=" + std::to_string(c.body.size()));
    return env;
}

// What one start cost the child besides its wall time: user and system
// time, and minor and major page faults.
struct Usage {
    long long cpu_us = 0;
    long long faults = 0;
};

// One start of the case's program: spawned (posix_spawn, which shares the
// harness's memory until the exec instead of copying it, so that the child's
// page faults are the program's own) with the CGI environment, the body on a
// pipe to its standard input, standard output read to the end from a pipe. Returns the wall time in microseconds; out gets the output, status
// the exit status (-1 when it did not exit normally) and usage what the child
// used. wrapper, when not empty, is started instead, with the program and its
// arguments after the wrapper's own (a profiler).
long long spawn_once(const Case& c, std::string* out, int* status, Usage* usage,
                     const std::vector<std::string>& wrapper = {}) {
    std::vector<std::string> env = cgi_environment(c);
    std::vector<std::string> args = wrapper;
    args.push_back(c.exe);
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    out->clear();
    const long long start = now_us();
    int in_pipe[2], out_pipe[2];
    if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0) die(std::string("pipe: ") + std::strerror(errno));
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1]}) posix_spawn_file_actions_addclose(&fa, fd);
    posix_spawn_file_actions_addchdir_np(&fa, c.dir.c_str());
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (spawned != 0) die("cannot start " + args[0] + ": " + std::strerror(spawned));
    close(in_pipe[0]);
    close(out_pipe[1]);
    // The bodies are small: they fit the pipe, so writing them whole before
    // reading cannot block against a program that writes first.
    std::size_t done = 0;
    while (done < c.body.size()) {
        const ssize_t n = write(in_pipe[1], c.body.data() + done, c.body.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the program stopped reading: it has what it wanted
        done += static_cast<std::size_t>(n);
    }
    close(in_pipe[1]);
    char buf[65536];
    for (;;) {
        const ssize_t n = read(out_pipe[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out->append(buf, static_cast<std::size_t>(n));
    }
    close(out_pipe[0]);
    int wstatus = 0;
    struct rusage ru;
    while (wait4(pid, &wstatus, 0, &ru) < 0) {
        if (errno != EINTR) die(std::string("wait4: ") + std::strerror(errno));
    }
    const long long elapsed = now_us() - start;
    *status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    usage->cpu_us = (static_cast<long long>(ru.ru_utime.tv_sec) + ru.ru_stime.tv_sec) * 1000000 +
                    ru.ru_utime.tv_usec + ru.ru_stime.tv_usec;
    usage->faults = ru.ru_minflt + ru.ru_majflt;
    return elapsed;
}

long long file_size(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// The current minute as the presence index stamps it ("YYYY/MM/DD HH:MM",
// local time), zero-filled to the field.
void stamp_now(char (&out)[sizeof(CHAT_USER_IDX::LAST_DATE)]) {
    std::memset(out, 0, sizeof out);
    const std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    std::strftime(out, sizeof out, "%Y/%m/%d %H:%M", &local);
}

// Sets the sign of life of every whole record of the presence index at path
// to the current minute, in place.
void restamp(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR);
    if (fd < 0) die("cannot open " + path + ": " + std::strerror(errno));
    char stamp[sizeof(CHAT_USER_IDX::LAST_DATE)];
    stamp_now(stamp);
    struct stat st;
    if (fstat(fd, &st) != 0) die("cannot look at " + path);
    for (off_t at = 0; at + static_cast<off_t>(sizeof(CHAT_USER_IDX)) <= st.st_size; at += sizeof(CHAT_USER_IDX)) {
        const off_t field = at + static_cast<off_t>(offsetof(CHAT_USER_IDX, LAST_DATE));
        if (pwrite(fd, stamp, sizeof stamp, field) != static_cast<ssize_t>(sizeof stamp)) die("cannot restamp " + path);
    }
    close(fd);
}

// Puts the case's files in place for a run: its resets, then its restamps.
void prepare(const Case& c) {
    for (const Reset& r : c.resets) write_synced(r.dst, read_all(r.src));
    for (const std::string& p : c.restamps) restamp(p);
}

// What is wrong with a run's outcome (its exit status, output and the file
// size the case names), or empty.
std::string judge(const Case& c, int status, const std::string& out) {
    std::string wrong;
    if (status != 0) wrong = "exit status " + std::to_string(status);
    for (const std::string& e : c.expects) {
        if (wrong.empty() && out.find(e) == std::string::npos) wrong = "output lacks \"" + e + "\"";
    }
    if (wrong.empty() && c.size_bytes >= 0 && file_size(c.size_path) != c.size_bytes) {
        wrong = c.size_path + " is " + std::to_string(file_size(c.size_path)) + " bytes, not " +
                std::to_string(c.size_bytes);
    }
    return wrong;
}

// Runs a case once (resets first, untimed) and keeps its times when record.
void run_case(Case& c, bool record) {
    prepare(c);
    std::string out;
    int status = 0;
    Usage usage;
    const long long wall = spawn_once(c, &out, &status, &usage);

    std::string wrong = judge(c, status, out);
    long long self = -1;
    if (c.self_timed) {
        const std::size_t p = out.find("elapsed_us=");
        if (p == std::string::npos) {
            if (wrong.empty()) wrong = "no elapsed_us in the output";
        } else {
            self = std::atoll(out.c_str() + p + 11);
        }
    }
    if (!record) return;
    c.wall_us.push_back(wall);
    c.cpu_us.push_back(usage.cpu_us);
    c.faults.push_back(usage.faults);
    if (self >= 0) c.self_us.push_back(self);
    if (!wrong.empty()) {
        if (c.bad == 0) c.first_bad = wrong;
        ++c.bad;
    }
}

// The value below which the given fraction of the sorted values lie (nearest
// rank); the median of an odd count is its middle value.
long long quantile(std::vector<long long> v, double q) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    std::size_t i = static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

int cmd_run(int argc, char** argv) {
    int runs = 31;
    int warmup = 2;
    std::string case_file;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (a == "--warmup" && i + 1 < argc) {
            warmup = std::atoi(argv[++i]);
        } else if (case_file.empty() && a.rfind("--", 0) != 0) {
            case_file = a;
        } else {
            die("run: unexpected argument " + a);
        }
    }
    if (case_file.empty() || runs < 1 || warmup < 0) die("usage: velt-bench run [--runs N] [--warmup N] CASEFILE");
    std::vector<Case> cases = read_cases(case_file);
    if (cases.empty()) die(case_file + ": no case");

    const int n = static_cast<int>(cases.size());
    const bool progress = isatty(2) != 0;
    // A program that exits without reading its whole body must not end the
    // harness: the write then fails with EPIPE instead.
    std::signal(SIGPIPE, SIG_IGN);
    for (int round = 0; round < warmup + runs; ++round) {
        const bool record = round >= warmup;
        for (int k = 0; k < n; ++k) {
            Case& c = cases[(round + k) % n];
            if (!record || (round - warmup) % c.every == 0) run_case(c, record);
        }
        if (record && progress) std::fprintf(stderr, "\rvelt-bench: round %d of %d", round - warmup + 1, runs);
    }
    if (progress) std::fputs("\n", stderr);

    for (const Case& c : cases) {
        std::string self = "-";
        if (c.self_timed && !c.self_us.empty()) self = std::to_string(quantile(c.self_us, 0.5));
        std::printf("%s\t%zu\t%d\t%lld\t%lld\t%lld\t%lld\t%s\t%lld\t%lld\n", c.name.c_str(), c.wall_us.size(),
                    c.bad, quantile(c.wall_us, 0.5), quantile(c.wall_us, 0.25), quantile(c.wall_us, 0.75),
                    quantile(c.wall_us, 0.0), self.c_str(), quantile(c.cpu_us, 0.5), quantile(c.faults, 0.5));
        if (c.bad > 0) std::fprintf(stderr, "velt-bench: %s: %d bad runs, first: %s\n", c.name.c_str(), c.bad,
                                    c.first_bad.c_str());
    }
    return 0;
}

// The total instructions of a callgrind profile (its "summary:" or
// "totals:" line), or -1.
long long callgrind_total(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    long long total = -1;
    while (std::getline(in, line)) {
        for (const char* key : {"summary: ", "totals: "}) {
            if (line.rfind(key, 0) == 0) total = std::atoll(line.c_str() + std::strlen(key));
        }
    }
    return total;
}

int cmd_profile(int argc, char** argv) {
    std::string valgrind, case_file, out_dir;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--valgrind" && i + 1 < argc) {
            valgrind = argv[++i];
        } else if (case_file.empty()) {
            case_file = a;
        } else if (out_dir.empty()) {
            out_dir = a;
        } else {
            die("profile: unexpected argument " + a);
        }
    }
    if (valgrind.empty() || out_dir.empty()) die("usage: velt-bench profile --valgrind PATH CASEFILE OUTDIR");
    std::vector<Case> cases = read_cases(case_file);
    std::signal(SIGPIPE, SIG_IGN);
    for (Case& c : cases) {
        if (c.self_timed) continue;
        const std::string file = out_dir + "/" + c.name + ".callgrind";
        prepare(c);
        std::string out;
        int status = 0;
        Usage usage;
        spawn_once(c, &out, &status, &usage, {valgrind, "--tool=callgrind", "--callgrind-out-file=" + file});
        const std::string wrong = judge(c, status, out);
        if (!wrong.empty()) std::fprintf(stderr, "velt-bench: %s under callgrind: %s\n", c.name.c_str(), wrong.c_str());
        std::printf("%s\t%d\t%lld\n", c.name.c_str(), wrong.empty() ? 0 : 1, callgrind_total(file));
    }
    return 0;
}

long count_arg(const char* text) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || v < 0 || v > 10000000) die(std::string("not a count: ") + text);
    return v;
}

// The first record of a file of records of type T.
template <typename T>
T first_record(const std::string& path) {
    const std::string bytes = read_all(path);
    if (bytes.size() < sizeof(T)) die(path + " holds no whole record");
    T rec;
    std::memcpy(&rec, bytes.data(), sizeof rec);
    return rec;
}

int cmd_fill_messages(int argc, char** argv) {
    if (argc != 5) die("usage: velt-bench fill-messages SRC COUNT OUT");
    const CHAT_DATA_DAT rec = first_record<CHAT_DATA_DAT>(argv[2]);
    const long count = count_arg(argv[3]);
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(count) * sizeof rec);
    for (long i = 0; i < count; ++i) bytes.append(reinterpret_cast<const char*>(&rec), sizeof rec);
    write_synced(argv[4], bytes);
    return 0;
}

int cmd_fill_members(int argc, char** argv) {
    if (argc != 5) die("usage: velt-bench fill-members SRC COUNT OUT");
    CHAT_USER_IDX self = first_record<CHAT_USER_IDX>(argv[2]);
    const long count = count_arg(argv[3]);
    if (count < 1) die("fill-members: at least the member of SRC");
    stamp_now(self.LAST_DATE);
    std::string bytes;
    for (int i = 1; i < static_cast<int>(count); ++i) {
        CHAT_USER_IDX m = self;
        std::memset(m.USER_ID, 0, sizeof m.USER_ID);
        std::memset(m.USER_NAME, 0, sizeof m.USER_NAME);
        std::snprintf(m.USER_ID, sizeof m.USER_ID, "bench%05d", i);
        std::snprintf(m.USER_NAME, sizeof m.USER_NAME, "Member %05d", i);
        bytes.append(reinterpret_cast<const char*>(&m), sizeof m);
    }
    bytes.append(reinterpret_cast<const char*>(&self), sizeof self);
    write_synced(argv[4], bytes);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "run") return cmd_run(argc, argv);
    if (cmd == "profile") return cmd_profile(argc, argv);
    if (cmd == "fill-messages") return cmd_fill_messages(argc, argv);
    if (cmd == "fill-members") return cmd_fill_members(argc, argv);
    std::fputs("usage: velt-bench run [--runs N] [--warmup N] CASEFILE\n"
               "       velt-bench profile --valgrind PATH CASEFILE OUTDIR\n"
               "       velt-bench fill-messages SRC COUNT OUT\n"
               "       velt-bench fill-members SRC COUNT OUT\n",
               stderr);
    return 2;
}
