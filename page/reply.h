// The reply: the one answer of this process (a page, a picture or a status
// answer), built in memory and written to standard output once, whole, by
// reply_send. Nothing else in the program writes to standard output, so the
// header lines can be given in any order of the work (a status found late
// still comes first) and a refusal found late can replace what was written.
#pragma once
#include <cstddef>

// Appends text to the body.
void out(const char* text);
// Appends n bytes to the body.
void out_bytes(const void* bytes, std::size_t n);
// Appends printf-formatted text to the body.
void out_fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Appends text HTML-escaped (as G_html escapes it).
void out_html(const char* text);

// The status, e.g. "503 Service Unavailable": sent as the first header line
// "Status: 503 Service Unavailable". Without one the web server answers 200.
void reply_status(const char* status);
// The content-type header line exactly as it is sent, e.g.
// "Content-type: text/html" or "Content-Type: text/plain"; it follows the
// status line. A second call replaces the first.
void reply_type(const char* line);
// A further header line (without its line end), sent after the content-type
// line in the order of the calls.
void reply_header(const char* line);
// Drops everything written so far, headers and body (and a file given): a
// refusal found late answers instead of the half page.
void reply_discard_body();
// The bytes of the open file fd follow the body (a picture); the reply owns
// fd from now on and closes it once sent or discarded.
void reply_file(int fd);

// Writes the reply to descriptor fd: the status line, the content-type line
// and the header lines, each ending in "\n", an empty line when any of them
// was given, then the body and the file. Once: later calls write nothing
// until reply_reset. Write errors (a client gone) are not reported: there is
// nobody left to tell.
void reply_send(int fd = 1);

// Forgets the reply (and whether it was sent): the state of a fresh process.
void reply_reset();
