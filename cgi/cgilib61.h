// The request parameters: an ordered list of name/value pairs read from the
// query string, a URL-encoded body or a multipart body (uploads land in
// temporary files), looked up by name.
#pragma once
#include <cstdint>

struct CGI_PAIR {
    char* name;
    char* value;
    CGI_PAIR* next;
};

extern CGI_PAIR cgi_list;   // head node (not allocated)
extern CGI_PAIR* cgi_cur;   // node the next pair fills
extern uint32_t cgi_content_length;
extern uint32_t cgi_input_byte;

// Reads the request. 0 read (or nothing to read), -1 no memory, -2 a POST
// without a positive CONTENT_LENGTH, or one larger than max_length (the body
// is read all the same; uploads are then not stored).
int cgi_get(uint32_t max_length);

// Copies the value of the (in_count+1)-th pair named serch_name into out_buff
// (in_size bytes, cut to in_size-1); empty text when there is none.
void cgi_getvalue(const char* serch_name, int in_count, char* out_buff, int in_size);

// Adds one pair "name=value"; mode 1 URL-decodes both, mode 2 takes bytes as
// they are.
void cgi_setdata(const char* input_buffer, int mode);

// URL-decodes in place.
void cgi_decode(char* in_data);


// Releases the parameter list, removes this request's upload temporary files
// that are still in place (no handler moved them), and, in a request whose
// body was multipart form data (the only kind that uploads), removes upload
// temporary files of the data directory older than an hour (left by requests
// that were killed). Every request calls it before it ends, whatever its
// outcome.
void cgi_free();

// Multipart reading of the body (the reader of multipart form data). Appends
// to the list; returns `result` unchanged, or 0 when no opening boundary is
// found. Uploads are stored only when store_files is 1.
int cgi_get_multipart(int result, int store_files);

// True when path is the temporary file of an upload made by this request.
bool cgi_is_own_upload(const char* path);
