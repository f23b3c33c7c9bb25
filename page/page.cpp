// The page frame and the error pages (see page.h). Texts are printed as they
// stand: message texts belong to the site and may carry markup.
#include "page/page.h"

#include <string>

#include "page/context.h"
#include "page/reply.h"
#include "page/script.h"
#include "store/fileio.h"

namespace {

void print_head(const char* bg, bool string_timer) {
    reply_type("Content-type: text/html");
    reply_header("Pragma: no-cache");
    reply_header(("Content-Security-Policy: " + G_csp_policy(string_timer)).c_str());
    reply_header("Referrer-Policy: no-referrer");
    out("<HTML>\n");
    out("<HEAD>\n");
    // MSG_PAGE_HEAD carries the title and meta elements; nothing is added after it.
    out(G_msg(MSG_PAGE_HEAD));
    out("</HEAD>\n");
    out_fmt("<!--%s-->\n", G_msg(MSG_PAGE_COMMENT));
    if (bg[0] == '\0') {
        out_fmt("<BODY BACKGROUND=\"%s%s\" >\n", ctx.config.CG_FILE_WEB_PATH, ctx.config.BACK_GIF);
    } else {
        out_fmt("%s\n", bg);
    }
}

}  // namespace

void G_header_printf(const char* bg) { print_head(bg, false); }

void G_header_printf_timer(const char* bg) { print_head(bg, true); }

void G_ErrMessage(const char* title, const char* message) {
    G_header_printf("");
    out("<CENTER>\n");
    out("<BR>");
    out_fmt("<FONT SIZE=\"5\"><B>%s</B></FONT>\n", title);
    out("<P><BR><HR><P><BR>\n");
    out_fmt("<FONT COLOR=\"RED\"><B>%s</B></FONT>\n", message);
    out("<FORM METHOD=POST >\n");
    out_fmt("<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"%s\">\n", G_handler(HANDLER_BACK).c_str());
    out("</FORM>\n");
    out("</CENTER>\n");
    out("</BODY>\n");
    out("</HTML>\n");
}

void G_IDerr() {
    G_header_printf("");
    out("<CENTER>\n");
    out("<BR>");
    out_fmt("<FONT SIZE=\"5\"><B>%s</B></FONT>\n", G_msg(MSG_SESSION_INVALID));
    out("<P><BR><HR><P><BR>\n");
    out("</CENTER>\n");
    out("</BODY>\n");
    out("</HTML>\n");
}

void G_busy_page() {
    // Whatever a handler wrote before it met the refusal is no answer.
    reply_discard_body();
    // A status of its own, so that the web server's log and any client that
    // looks at statuses see the failure a 200 page would hide.
    reply_status("503 Service Unavailable");
    G_ErrMessage("", G_msg(MSG_BUSY));
}

bool G_store_refusal_page(int r) {
    if (r == FIO_LOCKED) {
        G_busy_page();
        return true;
    }
    if (r == FIO_NO_FILE) {
        G_ErrMessage("", G_msg(MSG_NO_CHAT_DATA));
        return true;
    }
    return false;
}

void G_answer_without_page(const char* status, const char* text) {
    reply_discard_body();
    reply_status(status);
    reply_type("Content-Type: text/plain");
    out(text);
    out("\n");
}
