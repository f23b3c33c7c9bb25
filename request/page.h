// The page frame every HTML response starts with, and the two fixed error
// pages. Everything goes to standard output with "\n" line ends.
#pragma once

// Prints the CGI header and the page head. bg empty: the site's default BODY
// tag (CG_FILE_WEB_PATH and BACK_GIF joined directly); otherwise bg is printed
// in the body line's place, followed by "\n". Messages 1 and 2 of the loaded
// table fill the head and its comment.
void G_header_printf(const char* bg);

// Prints a whole error page: syori as the bold title (may be empty), buff in red
// below it, and an OK button that goes back in the browser's history.
void G_ErrMessage(const char* syori, const char* buff);

// Prints the whole error page for a refused session key (message 7 as title).
void G_IDerr();
