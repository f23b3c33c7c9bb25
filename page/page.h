// The page frame every HTML response starts with, the two fixed error pages
// and the busy answer. Everything goes to standard output with "\n" line ends.
#pragma once

// Prints the CGI header and the page head. bg empty: the site's default BODY
// tag (CG_FILE_WEB_PATH and BACK_GIF joined directly); otherwise bg is printed
// in the body line's place, followed by "\n". MSG_PAGE_HEAD and
// MSG_PAGE_COMMENT of the loaded table fill the head and its comment. The header carries the page's
// Content-Security-Policy (only the program's own scripts run; see script.h)
// and Referrer-Policy: no-referrer, so that no address with session keys in it
// leaves the site as a referrer (a picture in the information text may point
// anywhere).
void G_header_printf(const char* bg);

// The same for the talk form, whose own script hands setTimeout a text: its
// policy also allows that (browsers count it as eval).
void G_header_printf_timer(const char* bg);

// Prints a whole error page: title in bold (may be empty), message in red
// below it, and an OK button that goes back in the browser's history.
void G_ErrMessage(const char* title, const char* message);

// Prints the whole error page for a refused session key (MSG_SESSION_INVALID
// as title).
void G_IDerr();

// The busy answer, the same wherever a file stayed locked (or could not be
// read or written) and nothing was done: "Status: 503 Service Unavailable"
// as the first header line, then the error page of MSG_BUSY with an empty
// title, byte for byte as G_ErrMessage prints it.
void G_busy_page();
