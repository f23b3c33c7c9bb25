// The page frame and the error pages (see page.h). Texts are printed as they
// stand: message texts belong to the site and may carry markup.
#include "page/page.h"

#include <cstdio>

#include "page/context.h"
#include "page/script.h"

namespace {

void print_head(const char* bg, bool string_timer) {
    std::fputs("Content-type: text/html\n", stdout);
    std::fputs("Pragma: no-cache\n", stdout);
    std::printf("Content-Security-Policy: %s\n", G_csp_policy(string_timer).c_str());
    std::fputs("Referrer-Policy: no-referrer\n", stdout);
    std::fputs("\n", stdout);
    std::fputs("<HTML>\n", stdout);
    std::fputs("<HEAD>\n", stdout);
    // MSG_PAGE_HEAD carries the title and meta elements; nothing is added after it.
    std::printf("%s", G_msg(MSG_PAGE_HEAD));
    std::fputs("</HEAD>\n", stdout);
    std::printf("<!--%s-->\n", G_msg(MSG_PAGE_COMMENT));
    if (bg[0] == '\0') {
        std::printf("<BODY BACKGROUND=\"%s%s\" >\n", ctx.config.CG_FILE_WEB_PATH, ctx.config.BACK_GIF);
    } else {
        std::printf("%s\n", bg);
    }
}

}  // namespace

void G_header_printf(const char* bg) { print_head(bg, false); }

void G_header_printf_timer(const char* bg) { print_head(bg, true); }

void G_ErrMessage(const char* title, const char* message) {
    G_header_printf("");
    std::fputs("<CENTER>\n", stdout);
    std::fputs("<BR>", stdout);
    std::printf("<FONT SIZE=\"5\"><B>%s</B></FONT>\n", title);
    std::fputs("<P><BR><HR><P><BR>\n", stdout);
    std::printf("<FONT COLOR=\"RED\"><B>%s</B></FONT>\n", message);
    std::fputs("<FORM METHOD=POST >\n", stdout);
    std::printf("<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"%s\">\n", G_handler(HANDLER_BACK).c_str());
    std::fputs("</FORM>\n", stdout);
    std::fputs("</CENTER>\n", stdout);
    std::fputs("</BODY>\n", stdout);
    std::fputs("</HTML>\n", stdout);
}

void G_IDerr() {
    G_header_printf("");
    std::fputs("<CENTER>\n", stdout);
    std::fputs("<BR>", stdout);
    std::printf("<FONT SIZE=\"5\"><B>%s</B></FONT>\n", G_msg(MSG_SESSION_INVALID));
    std::fputs("<P><BR><HR><P><BR>\n", stdout);
    std::fputs("</CENTER>\n", stdout);
    std::fputs("</BODY>\n", stdout);
    std::fputs("</HTML>\n", stdout);
}

void G_busy_page() {
    // A status of its own, so that the web server's log and any client that
    // looks at statuses see the failure a 200 page would hide.
    std::fputs("Status: 503 Service Unavailable\n", stdout);
    G_ErrMessage("", G_msg(MSG_BUSY));
}
