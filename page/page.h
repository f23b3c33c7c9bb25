// The page frame every HTML response starts with, the two fixed error pages,
// the busy answer and the plain status answer. Everything goes into the reply
// (page/reply.h) with "\n" line ends.
#pragma once

// Gives the reply its header lines (Content-type: text/html, Pragma: no-cache,
// the policies below) and writes the page head. bg empty: the site's default
// BODY tag (CG_FILE_WEB_PATH and BACK_GIF joined directly); otherwise bg is
// written in the body line's place, followed by "\n". MSG_PAGE_HEAD and
// MSG_PAGE_COMMENT of the loaded table fill the head and its comment. The
// header carries the page's Content-Security-Policy (only the program's own
// scripts run; see script.h) and Referrer-Policy: no-referrer, so that no
// address with session keys in it leaves the site as a referrer (a picture in
// the information text may point anywhere).
void G_header_printf(const char* bg);

// The same for the talk form, whose own script hands setTimeout a text: its
// policy also allows that (browsers count it as eval).
void G_header_printf_timer(const char* bg);

// Writes a whole error page: title in bold (may be empty), message in red
// below it, and an OK button that goes back in the browser's history.
void G_ErrMessage(const char* title, const char* message);

// Writes the whole error page for a refused session key (MSG_SESSION_INVALID
// as title).
void G_IDerr();

// The busy answer, the same wherever a file stayed locked (or could not be
// read or written) and nothing was done: "Status: 503 Service Unavailable"
// as the first header line, then the error page of MSG_BUSY with an empty
// title, byte for byte as G_ErrMessage writes it. It replaces whatever the
// reply held.
void G_busy_page();

// A store's refusal as its page: the busy answer for a file that stayed
// locked (FIO_LOCKED), the error page of MSG_NO_CHAT_DATA for one that could
// not be opened or written (FIO_NO_FILE). True when r is such a refusal and
// its page is written; nothing is written for any other r.
bool G_store_refusal_page(int r);

// A request that gets no page still gets a whole CGI response: a status for
// the web server (which would otherwise log a malformed answer and send an
// internal error) and one line of plain text for whoever asked, e.g.
// "404 Not Found" and "No such chat room." give
// "Status: 404 Not Found\nContent-Type: text/plain\n\nNo such chat room.\n".
// Bots, probes and bare requests of the program end here. It replaces
// whatever the reply held.
void G_answer_without_page(const char* status, const char* text);
