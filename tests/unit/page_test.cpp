// The page frame, the error pages and the response after a post, captured
// from standard output byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "request/dispatch.h"
#include "request/page.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"

namespace {

// Runs fn with standard output sent to a temporary file; returns what it wrote.
template <typename Fn>
std::string capture(Fn fn) {
    std::fflush(stdout);
    char path[] = "/tmp/velt-page-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    const int saved = dup(1);
    dup2(fd, 1);
    fn();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string out;
    char buf[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    close(fd);
    std::remove(path);
    return out;
}

class PageTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_sys_ = SYSINFO;
        std::memset(&SYSINFO, 0, sizeof SYSINFO);
        std::memset(&STRDEF, 0, sizeof STRDEF);
        std::snprintf(STRDEF.Message[1], STRDEF_WIDTH, "<TITLE>T</TITLE>\n");
        std::snprintf(STRDEF.Message[2], STRDEF_WIDTH, "c&2");
        std::snprintf(STRDEF.Message[7], STRDEF_WIDTH, "bad key \x95\x5C");
        std::snprintf(STRDEF.Message[11], STRDEF_WIDTH, "no write");
        std::snprintf(STRDEF.Message[12], STRDEF_WIDTH, "no file");
        std::snprintf(STRDEF.Message[19], STRDEF_WIDTH, "<I>locked</I>");
        std::snprintf(SYSINFO.CG_FILE_WEB_PATH, sizeof SYSINFO.CG_FILE_WEB_PATH, "/cg/");
        std::snprintf(SYSINFO.BACK_GIF, sizeof SYSINFO.BACK_GIF, "bg.gif");
    }
    void TearDown() override {
        SYSINFO = saved_sys_;
        std::memset(&STRDEF, 0, sizeof STRDEF);
    }
    SYSINFO_REC saved_sys_;
};

const char kHead[] = "Content-type: text/html\nPragma: no-cache\n\n<HTML>\n<HEAD>\n<TITLE>T</TITLE>\n</HEAD>\n<!--c&2-->\n";

std::string err_page(const std::string& title, const std::string& text) {
    return std::string(kHead) + "<BODY BACKGROUND=\"/cg/bg.gif\" >\n<CENTER>\n<BR><FONT SIZE=\"5\"><B>" + title +
           "</B></FONT>\n<P><BR><HR><P><BR>\n<FONT COLOR=\"RED\"><B>" + text +
           "</B></FONT>\n<FORM METHOD=POST >\n<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n"
           "</FORM>\n</CENTER>\n</BODY>\n</HTML>\n";
}

TEST_F(PageTest, HeadWithTheSiteBackground) {
    EXPECT_EQ(capture([] { G_header_printf(""); }), std::string(kHead) + "<BODY BACKGROUND=\"/cg/bg.gif\" >\n");
    SYSINFO.CG_FILE_WEB_PATH[0] = '\0';
    SYSINFO.BACK_GIF[0] = '\0';
    EXPECT_EQ(capture([] { G_header_printf(""); }), std::string(kHead) + "<BODY BACKGROUND=\"\" >\n");
}

TEST_F(PageTest, HeadWithTheCallersBodyLine) {
    EXPECT_EQ(capture([] { G_header_printf(" "); }), std::string(kHead) + " \n");
    EXPECT_EQ(capture([] { G_header_printf("<BODY BGCOLOR=\"#FFFFFF\">"); }),
              std::string(kHead) + "<BODY BGCOLOR=\"#FFFFFF\">\n");
    // A "%" in the body line is printed, never taken as a format.
    EXPECT_EQ(capture([] { G_header_printf("<BODY x=\"%s%d\">"); }), std::string(kHead) + "<BODY x=\"%s%d\">\n");
}

TEST_F(PageTest, HeadWithAnEmptyTable) {
    std::memset(&STRDEF, 0, sizeof STRDEF);
    EXPECT_EQ(capture([] { G_header_printf(""); }),
              "Content-type: text/html\nPragma: no-cache\n\n<HTML>\n<HEAD>\n</HEAD>\n<!---->\n"
              "<BODY BACKGROUND=\"/cg/bg.gif\" >\n");
}

TEST_F(PageTest, ErrorPage) {
    EXPECT_EQ(capture([] { G_ErrMessage("zepa.ini", "read failure(file not open)"); }),
              err_page("zepa.ini", "read failure(file not open)"));
    // An empty title still prints its bold element; "%" is text.
    EXPECT_EQ(capture([] { G_ErrMessage("", "100%s"); }), err_page("", "100%s"));
}

TEST_F(PageTest, SessionErrorPage) {
    EXPECT_EQ(capture([] { G_IDerr(); }),
              std::string(kHead) +
                  "<BODY BACKGROUND=\"/cg/bg.gif\" >\n<CENTER>\n<BR><FONT SIZE=\"5\"><B>bad key \x95\x5C</B></FONT>\n"
                  "<P><BR><HR><P><BR>\n</CENTER>\n</BODY>\n</HTML>\n");
}

TEST_F(PageTest, ResponseAfterAFailedPost) {
    EXPECT_EQ(capture([] { velt_cwrite_response(-1); }), err_page("", "no write"));
    EXPECT_EQ(capture([] { velt_cwrite_response(-2); }), err_page("", "no file"));
    EXPECT_EQ(capture([] { velt_cwrite_response(-9); }), err_page("", "<I>locked</I>"));
    EXPECT_EQ(capture([] { velt_cwrite_response(-3); }), "");
    EXPECT_EQ(capture([] { velt_cwrite_response(7); }), "");
}

}  // namespace
