// The request parameters: an ordered list of name/value pairs read from the
// query string, a URL-encoded body or a multipart body (uploads land in
// temporary files), looked up by name. Every function works on the CGI_PARAMS
// record it is given; the request context holds the request's own.
#pragma once
#include <cstdint>

#include "settings/sysinfo.h"

struct CGI_PAIR {
    char* name;
    char* value;
    CGI_PAIR* next;
};

// One upload temporary file made by a request (cgi/multipart.cpp).
struct CGI_UPLOAD;

// The parameters of one request. All zero is an empty list: the state before
// cgi_get, and the state cgi_free leaves (but for the lengths and data_dir).
struct CGI_PARAMS {
    CGI_PAIR list;            // head node (not allocated)
    CGI_PAIR* cur;            // node the next pair fills; null: the head
    uint32_t content_length;  // CONTENT_LENGTH of a POST
    uint32_t input_byte;      // bytes of the body read
    CGI_UPLOAD* uploads;      // the upload files this request made
    bool multipart_read;      // the body was read as multipart form data
    char data_dir[sizeof(SYSINFO_REC::DATA_FILE_PATH)];  // where uploads go (DATA_FILE_PATH)
};

// Results of cgi_get.
enum {
    CGI_OK = 0,
    CGI_NO_MEMORY = -1,    // the work buffers could not be had
    CGI_BAD_LENGTH = -2,   // a POST without a positive CONTENT_LENGTH (nothing
                           // read), or one above the upload limit (read all
                           // the same; uploads not stored)
    CGI_TOO_LARGE = -3,    // more than the form can need: not read at all, or
                           // no further once its fields passed CGI_FIELDS_LIMIT
    CGI_CUT = -4,          // the body ended before its CONTENT_LENGTH (the
                           // client went away): what came is not to be used
    CGI_NOT_STORED = -5,   // read whole, but an upload could not be stored (the
                           // file system refused its file, which is gone): the
                           // request is not to be acted on
};

// What the fields of one request may hold, 64 KiB: a URL-encoded body may be
// that long, a multipart body that much beside the upload limit; the
// parameter list of a multipart body holds no more than that of names and
// values (each pair counted with the bookkeeping of its node). So no request
// holds more than a few megabytes, whatever it is sent; the forms of the chat
// need a few kilobytes.
constexpr uint32_t CGI_FIELDS_LIMIT = 65536;

// Reads the request into p (whose list must be empty); max_length is the upload
// limit, data_dir the data directory where uploads go (kept in p). A POST body
// is bounded before any of it is read: URL-encoded (exactly that CONTENT_TYPE)
// up to CGI_FIELDS_LIMIT, any other up to max_length + CGI_FIELDS_LIMIT; above
// that CGI_TOO_LARGE. Returns CGI_OK read (or nothing to read), or one of the
// results above; after CGI_CUT and CGI_TOO_LARGE the list holds at most what
// came before, and after CGI_NOT_STORED it lacks an upload; none of them may
// be acted on (uploads already made are removed by cgi_free, as always).
int cgi_get(CGI_PARAMS* p, uint32_t max_length, const char* data_dir);

// The whole value of the (in_count+1)-th pair named name, or null when p has
// no such pair. It lives as long as p's list.
const char* cgi_value(const CGI_PARAMS* p, const char* name, int in_count);

// Copies the value of the (in_count+1)-th pair named name into out_buff
// (in_size bytes, cut to in_size-1); empty text when there is none.
void cgi_getvalue(const CGI_PARAMS* p, const char* name, int in_count, char* out_buff, int in_size);

// True when p holds a pair named name, whatever its value (an empty value is
// a field sent empty, as a file field without a file is).
bool cgi_has(const CGI_PARAMS* p, const char* name);

// Adds one pair "name=value"; mode 1 URL-decodes both, mode 2 takes bytes as
// they are.
void cgi_setdata(CGI_PARAMS* p, const char* input_buffer, int mode);

// URL-decodes in place.
void cgi_decode(char* in_data);

// Releases p's parameter list, removes this request's upload temporary files
// that are still in place (no handler moved them), and, in a request whose
// body was multipart form data (the only kind that uploads), removes upload
// temporary files of the data directory older than an hour (left by requests
// that were killed). Every request calls it before it ends, whatever its
// outcome.
void cgi_free(CGI_PARAMS* p);

// Multipart reading of the body (the reader of multipart form data). Appends
// to the list; returns `result` unchanged, 0 when no opening boundary is
// found, CGI_TOO_LARGE as soon as the fields pass CGI_FIELDS_LIMIT (the
// reading stops there), CGI_CUT when the input ran dry before
// content_length (a body that closes with its final boundary earlier is
// whole: nothing after it is read), or CGI_NOT_STORED when an upload could
// not be stored (its field then names no upload of this request). Uploads
// are stored only when store_files is 1.
int cgi_get_multipart(CGI_PARAMS* p, int result, int store_files);

// True when path is the temporary file of an upload made by the request of p.
bool cgi_is_own_upload(const CGI_PARAMS* p, const char* path);
