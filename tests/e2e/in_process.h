// Runs a whole request through velt_main in the test's own process, with the
// environment, standard input and working directory a web server gives the
// program, and captures what it writes to standard output: for tests that
// look inside the run (its state between two requests, the store layer's
// table of file calls).
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "request/velt.h"
#include "tests/e2e/harness.h"

namespace e2e {

// Runs req through velt_main in this process in site's program directory and
// returns the bytes it wrote to standard output.
inline std::string run_here(const Site& site, const Request& req) {
    for (const char* v : {"REQUEST_METHOD", "QUERY_STRING", "CONTENT_TYPE", "CONTENT_LENGTH", "REMOTE_ADDR",
                          "HTTP_USER_AGENT", "VELT_FRAME_ANCESTORS"})
        unsetenv(v);
    setenv("REQUEST_METHOD", req.method.c_str(), 1);
    setenv("QUERY_STRING", req.query.c_str(), 1);
    if (!req.content_type.empty()) setenv("CONTENT_TYPE", req.content_type.c_str(), 1);
    if (req.method == "POST" || !req.body.empty()) setenv("CONTENT_LENGTH", std::to_string(req.body.size()).c_str(), 1);
    for (const auto& kv : req.env) setenv(kv.first.c_str(), kv.second.c_str(), 1);

    const std::string in_path = site.root + "/in-process.in";
    const std::string out_path = site.root + "/in-process.out";
    write_file(in_path, req.body);
    write_file(out_path, "");
    EXPECT_NE(std::freopen(in_path.c_str(), "rb", stdin), nullptr);
    char cwd[PATH_MAX];
    EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(chdir(site.cgi_dir.c_str()), 0);
    std::fflush(stdout);
    const int saved = dup(1);
    const int out = open(out_path.c_str(), O_WRONLY);
    dup2(out, 1);
    close(out);

    EXPECT_EQ(velt_main(), 0);

    dup2(saved, 1);
    close(saved);
    EXPECT_EQ(chdir(cwd), 0);
    const std::string bytes = read_file(out_path);
    std::remove(in_path.c_str());
    std::remove(out_path.c_str());
    return bytes;
}

}  // namespace e2e
