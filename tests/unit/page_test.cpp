// The page frame, the error pages and the response after a post, captured
// from the reply byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "page/context.h"
#include "page/page.h"
#include "page/script.h"
#include "request/dispatch.h"
#include "store/fileio.h"
#include "store/text.h"
#include "tests/unit/reply_capture.h"

namespace {

using reply_test::capture;

void set_message(int k, const char* text) { strdef_set(&ctx.messages, k, text, std::strlen(text)); }

class PageTest : public ::testing::Test {
protected:
    void SetUp() override {
        context_clear();
        set_message(1, "<TITLE>T</TITLE>\n");
        set_message(2, "c&2");
        set_message(7, "bad key \x95\x5C");
        set_message(11, "no write");
        set_message(12, "no file");
        set_message(19, "<I>locked</I>");
        // Messages inside the scripts: Shift_JIS, hashed as a browser reads it.
        set_message(200, "\x95\x5C");
        set_message(306,
                    "\x83n\x83\x93\x83h\x83\x8b\x96\xbc\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x82\xad"
                    "\x82\xbe\x82\xb3\x82\xa2\x81\x42");
        set_message(308, "Entering...");
        std::snprintf(ctx.config.CG_FILE_WEB_PATH, sizeof ctx.config.CG_FILE_WEB_PATH, "/cg/");
        std::snprintf(ctx.config.BACK_GIF, sizeof ctx.config.BACK_GIF, "bg.gif");
    }
    void TearDown() override { context_clear(); }
};

// The policy names the hashes of the program's four scripts and four handlers
// (taken with another SHA-256 over their UTF-8 text) and nothing else may run.
const char kPolicy[] =
    "script-src 'unsafe-hashes' 'sha256-JmVET9mkhGwYftlVR7b4YXISVuwvf+K/NCkXgYtuhdA=' "
    "'sha256-DHYPE5XLfSpjEe470R/RM6T9v8z0aI0kKImHe4oowdU=' 'sha256-ccl4XGk2TwM//mtyED0i8w8XWcnQNRMWWKwubFiNz4U=' "
    "'sha256-SQ9ch/onlt6hLfiquznElhg2t1Ij1zbwK+ACMHcSn0s=' 'sha256-LdlORHyUW/rwezK0l13nW+IwcZmi78eWOCBjewMWRr4=' "
    "'sha256-4f9N86bYltY9WL20fUmDvhl+FtzwCYv/4rPydrG358s=' 'sha256-tgtj2rWUzMuhWiKIuONuh6GtFZ5fDeXm7jHYLIw1vMk=' "
    "'sha256-2gpiN+B/OX8J68UrutfqO/1tuflK7mEm2+5u+m1d1/M='";
const std::string kRest = "; object-src 'none'; base-uri 'none'; form-action 'self'; frame-ancestors 'self'";

const std::string kHead = std::string("Content-type: text/html\nPragma: no-cache\nContent-Security-Policy: ") +
                          kPolicy + kRest +
                          "\nReferrer-Policy: no-referrer\n\n<HTML>\n<HEAD>\n<TITLE>T</TITLE>\n</HEAD>\n<!--c&2-->\n";

std::string err_page(const std::string& title, const std::string& text) {
    return kHead + "<BODY BACKGROUND=\"/cg/bg.gif\" >\n<CENTER>\n<BR><FONT SIZE=\"5\"><B>" + title +
           "</B></FONT>\n<P><BR><HR><P><BR>\n<FONT COLOR=\"RED\"><B>" + text +
           "</B></FONT>\n<FORM METHOD=POST >\n<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n"
           "</FORM>\n</CENTER>\n</BODY>\n</HTML>\n";
}

TEST_F(PageTest, HeadWithTheSiteBackground) {
    EXPECT_EQ(capture([] { G_header_printf(""); }), kHead + "<BODY BACKGROUND=\"/cg/bg.gif\" >\n");
    ctx.config.CG_FILE_WEB_PATH[0] = '\0';
    ctx.config.BACK_GIF[0] = '\0';
    EXPECT_EQ(capture([] { G_header_printf(""); }), kHead + "<BODY BACKGROUND=\"\" >\n");
}

TEST_F(PageTest, HeadWithTheCallersBodyLine) {
    EXPECT_EQ(capture([] { G_header_printf(" "); }), kHead + " \n");
    EXPECT_EQ(capture([] { G_header_printf("<BODY BGCOLOR=\"#FFFFFF\">"); }),
              kHead + "<BODY BGCOLOR=\"#FFFFFF\">\n");
    // A "%" in the body line is printed, never taken as a format.
    EXPECT_EQ(capture([] { G_header_printf("<BODY x=\"%s%d\">"); }), kHead + "<BODY x=\"%s%d\">\n");
}

TEST_F(PageTest, HeadWithAnEmptyTable) {
    std::memset(&ctx.messages, 0, sizeof ctx.messages);
    const std::string out = capture([] { G_header_printf(""); });
    // The scripts that show messages show empty ones: their hashes change.
    EXPECT_EQ(out.find(kPolicy), std::string::npos);
    EXPECT_EQ(out.substr(out.find(kRest)), kRest + "\nReferrer-Policy: no-referrer\n\n<HTML>\n<HEAD>\n</HEAD>\n<!---->\n"
                                                  "<BODY BACKGROUND=\"/cg/bg.gif\" >\n");
}

// The policy takes the sources of the shipped message file's texts from a
// table made at build time: in every section of that file, each source it
// names is the one computed afresh from the text the page prints, and it
// names no other.
TEST_F(PageTest, PolicyOfTheShippedMessagesNamesTheComputedSources) {
    const std::string lng = std::string(VELT_BINARY_DIR) + "/velt.lng";
    for (const char* language : {"english", "japanese"}) {
        ASSERT_EQ(StrdefFileOpen(lng.c_str(), language, &ctx.messages), 0);
        ASSERT_NE(G_msg(MSG_CHAT_NAME_MISSING)[0], '\0') << language;
        std::set<std::string> sources;
        for (int id = 0; id < PAGE_SCRIPT_COUNT; ++id) sources.insert(G_csp_source(G_script_text(id)));
        const std::string policy = G_csp_policy(false);
        for (const std::string& s : sources) {
            EXPECT_TRUE(policy.find(" " + s + " ") != std::string::npos ||
                        policy.find(" " + s + ";") != std::string::npos)
                << language << ": " << s;
        }
        std::size_t named = 0;
        for (std::size_t at = policy.find("'sha256-"); at != std::string::npos; at = policy.find("'sha256-", at + 1))
            ++named;
        EXPECT_EQ(named, sources.size()) << language;
    }
}

TEST_F(PageTest, TalkFormAndFramingOrigins) {
    EXPECT_EQ(capture([] { G_header_printf_timer(" "); }),
              kHead.substr(0, kHead.find(kRest)) + " 'unsafe-eval'" + kHead.substr(kHead.find(kRest)) + " \n");
    // Origins from the web server's environment; words that could end the
    // directive or name a keyword are left out.
    setenv("VELT_FRAME_ANCESTORS", " https://portal.example.com\t'unsafe-inline' a;b x,y\n https://*.example.org:8443 ", 1);
    const std::string out = capture([] { G_header_printf(""); });
    unsetenv("VELT_FRAME_ANCESTORS");
    EXPECT_NE(out.find("; frame-ancestors 'self' https://portal.example.com https://*.example.org:8443\n"),
              std::string::npos);
}

TEST_F(PageTest, ErrorPage) {
    EXPECT_EQ(capture([] { G_ErrMessage("zepa.ini", "read failure(file not open)"); }),
              err_page("zepa.ini", "read failure(file not open)"));
    // An empty title still prints its bold element; "%" is text.
    EXPECT_EQ(capture([] { G_ErrMessage("", "100%s"); }), err_page("", "100%s"));
}

TEST_F(PageTest, SessionErrorPage) {
    EXPECT_EQ(capture([] { G_IDerr(); }),
              kHead +
                  "<BODY BACKGROUND=\"/cg/bg.gif\" >\n<CENTER>\n<BR><FONT SIZE=\"5\"><B>bad key \x95\x5C</B></FONT>\n"
                  "<P><BR><HR><P><BR>\n</CENTER>\n</BODY>\n</HTML>\n");
}

TEST_F(PageTest, ResponseAfterAFailedPost) {
    // A post below the level of writing is answered by the job table.
    ctx.access_level = LEVEL_WRITE - 1;
    G_set(ctx.query.JOB, "CWRITE");
    EXPECT_EQ(capture([] { velt_dispatch(); }), err_page("", "no write"));
    EXPECT_EQ(capture([] { velt_cwrite_response(FIO_NO_FILE); }), err_page("", "no file"));
    // A refused write is the busy answer: its status, then the error page.
    EXPECT_EQ(capture([] { velt_cwrite_response(FIO_LOCKED); }),
              "Status: 503 Service Unavailable\n" + err_page("", "<I>locked</I>"));
    EXPECT_EQ(capture([] { G_busy_page(); }), "Status: 503 Service Unavailable\n" + err_page("", "<I>locked</I>"));
    EXPECT_EQ(capture([] { velt_cwrite_response(FIO_NOT_FOUND); }), "");
    EXPECT_EQ(capture([] { velt_cwrite_response(FIO_EXISTS); }), "");
    EXPECT_EQ(capture([] { velt_cwrite_response(7); }), "");
}

TEST_F(PageTest, TheJobTableAnswersUnknownJobsAndSilencesJobsBelowTheirLevel) {
    ctx.access_level = 0;
    for (const char* job : {"ROOM", "ROOM_IN", "ROOM_OUT", "BG1_DL", "FRM221"}) {
        G_set(ctx.query.JOB, job);
        EXPECT_EQ(capture([] { velt_dispatch(); }), "") << job;
    }
    for (const char* job : {"", "room", "ROOM ", "FRM22"}) {
        G_set(ctx.query.JOB, job);
        EXPECT_EQ(capture([] { velt_dispatch(); }),
                  "Status: 404 Not Found\nContent-Type: text/plain\n\nNo such page of the chat.\n")
            << job;
    }
}

}  // namespace
