// The reply: header lines in their fixed order whatever the order of the
// work, the body, a file after it, a late refusal replacing a half page, and
// one send per request.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "page/context.h"
#include "page/page.h"
#include "page/reply.h"
#include "tests/unit/reply_capture.h"

namespace {

using reply_test::capture;

TEST(Reply, HeadersComeInTheirOrderWhateverTheOrderOfTheWork) {
    const std::string long_text(3000, 'x');
    EXPECT_EQ(capture([&] {
                  out("<P>");
                  reply_header("X-One: 1");
                  out_fmt("%d%%%s", 5, long_text.c_str());  // longer than the formatter's first buffer
                  reply_type("Content-type: text/plain");
                  reply_header("X-Two: 2");
                  reply_type("Content-Type: text/html");  // a second type replaces the first
                  reply_status("418 I'm a teapot");       // found late, sent first
                  out_html("<\x95\x5C&amp;\"'>");
              }),
              "Status: 418 I'm a teapot\nContent-Type: text/html\nX-One: 1\nX-Two: 2\n\n<P>5%" + long_text +
                  "&lt;\x95\x5C&amp;amp;&quot;&#39;&gt;");
    // Without header lines the body goes alone; nothing at all is nothing.
    EXPECT_EQ(capture([] { out("text"); }), "text");
    EXPECT_EQ(capture([] {}), "");
}

TEST(Reply, AFileFollowsTheBodyAndALateRefusalReplacesAHalfPage) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    const std::string bytes("GIF89a\0\x5C\xFF", 9);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    const int fd = dup(fileno(f));
    std::fclose(f);
    EXPECT_EQ(capture([&] {
                  reply_type("Content-type: image/gif");
                  reply_file(fd);
              }),
              "Content-type: image/gif\n\n" + bytes);

    context_clear();
    EXPECT_EQ(capture([] {
                  reply_type("Content-type: text/html");
                  out("<HTML>half a page");
                  G_answer_without_page("404 Not Found", "No such page of the chat.");
              }),
              "Status: 404 Not Found\nContent-Type: text/plain\n\nNo such page of the chat.\n");
    const std::string busy = capture([] { G_busy_page(); });
    EXPECT_EQ(capture([] {
                  reply_header("X-Left: over");
                  out("<HTML>half a page");
                  G_busy_page();
              }),
              busy);
    EXPECT_EQ(busy.rfind("Status: 503 Service Unavailable\nContent-type: text/html\n", 0), 0u) << busy;
}

TEST(Reply, IsSentOncePerRequest) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    reply_reset();
    out("once");
    reply_send(fileno(f));
    out(" more");
    reply_send(fileno(f));
    reply_reset();
    out("again");
    reply_send(fileno(f));
    reply_reset();
    std::rewind(f);
    char buf[64] = {};
    EXPECT_EQ(std::fread(buf, 1, sizeof buf - 1, f), 9u);
    EXPECT_STREQ(buf, "onceagain");
    std::fclose(f);
}

}  // namespace
