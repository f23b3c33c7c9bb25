// The benchmark's yardstick: the smallest static C++ CGI, which prints a
// minimal HTML page and exits. Every request is measured as a ratio to it.
#include <cstdio>

int main() {
    std::fputs("Content-type: text/html\n\n<HTML><BODY>hello</BODY></HTML>\n", stdout);
    return 0;
}
