// Internals of the multipart reader, open to tests: a body held in memory
// instead of standard input, and the part readers one by one.
#pragma once
#include <cstdint>

#include "cgi/cgilib61.h"

enum {
    MP_NAME_CAP = 1000,      // field name and browser file name: 999 bytes
    MP_TEMP_CAP = 4002,      // temporary file path: 4001 bytes
    MP_BOUNDARY_CAP = 100,   // "--" and at most 97 bytes of the parameter
    MP_VALUE_CAP = 100002,   // one text field's value (cgi_mp_get_str's out_buff)
};

// Reads a multipart body held in memory instead of standard input, as the
// request reader does with the real body: p's content_length becomes
// declared_length, the boundary comes from content_type, pairs are appended to
// p's list and uploads go to p's data_dir. A body shorter than declared_length
// behaves like a request cut off by the client. Returns as cgi_get_multipart.
int cgi_multipart_mem(CGI_PARAMS* p, const char* content_type, uint32_t declared_length,
                      const void* body, uint32_t body_len, int result, int store_files);

// Points the byte reader at a body in memory (and resets p's input_byte to 0)
// without reading anything, so that the part readers can be called alone.
// The part readers below read the body of p up to its content_length.
void cgi_mp_input_mem(CGI_PARAMS* p, const void* body, uint32_t body_len);

// The boundary "--" + the boundary parameter of content_type (up to its end or
// a ']'; quotes, blanks and semicolons belong to it), or "--" alone when there
// is none. out has MP_BOUNDARY_CAP bytes.
void cgi_mp_boundary(const char* content_type, char* out);

// Reads the next byte of the body: 0-255, or -1 once the body has ended
// (content_length consumed, or the input ran dry).
int cgi_mp_getc(CGI_PARAMS* p);

// Skips up to and including the first boundary; 0 when a part follows, -1 at
// the final boundary or the end of the body.
int cgi_mp_wait_boundary(CGI_PARAMS* p, const char* boundary);
// Reads a part's field name (out_buff of MP_NAME_CAP bytes) from its header;
// header lines without "name=" are passed over. 0, or -1 when the body ended
// before a name was found.
int cgi_mp_get_name(CGI_PARAMS* p, char* out_buff);
// Reads the browser's file name from the rest of the same header line (out_buff
// of MP_NAME_CAP bytes). 0 when the line has one, -1 otherwise.
int cgi_mp_get_filename(CGI_PARAMS* p, char* out_buff);
// Skips up to and including the next line feed, or to the end of the body.
void cgi_mp_get_0x0a(CGI_PARAMS* p);
// Reads a text field's value up to the next boundary into out_buff
// (MP_VALUE_CAP bytes; the line break before the boundary is dropped; at most
// 99998 bytes of a longer value are kept). 0 when another part follows, -1 at
// the final boundary or the end of the body.
int cgi_mp_get_str(CGI_PARAMS* p, char* out_buff, const char* boundary);
// Copies a file field's content up to the next boundary, byte for byte and
// without the line break before the boundary, into tempfilename (a file this
// request created); an empty name drops the content. Results as get_str. A
// file that cannot be opened, written or closed is removed and no longer
// counts as this request's upload, and the reading answers CGI_NOT_STORED.
int cgi_mp_get_bindata(CGI_PARAMS* p, const char* tempfilename, const char* boundary);
