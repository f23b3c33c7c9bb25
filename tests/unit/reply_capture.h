// Test support: the bytes a piece of the program answers with, as reply_send
// writes them, taken from a fresh reply.
#pragma once
#include <cstdio>
#include <string>

#include "page/reply.h"

namespace reply_test {

// Runs fn on an empty reply and returns what the reply sends; the reply is
// empty again afterwards.
template <typename Fn>
std::string capture(Fn fn) {
    reply_reset();
    fn();
    std::FILE* f = std::tmpfile();
    if (f == nullptr) return "(no temporary file)";
    reply_send(fileno(f));
    reply_reset();
    std::string out;
    std::rewind(f);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    std::fclose(f);
    return out;
}

}  // namespace reply_test
