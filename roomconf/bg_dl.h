// Delivery of a room's pictures (title picture and frame backgrounds) from its
// picture directory, under the content type that the site's mimemap.txt gives.
#pragma once
#include <cstdio>

// Capacities of the type lookup: a map line is read in pieces of at most 999
// bytes, the extension of a picture is held in 100 bytes (99 characters).
enum { MIME_LINE_CAP = 1000, MIME_EXT_CAP = 100, MIME_TYPE_CAP = 1000 };

// Results of the picture delivery and its type lookup.
enum {
    MIME_OK = 0,
    MIME_NO_PICTURE = -1,  // no picture named, or no such regular file
    MIME_NO_TYPE = -2,     // no extension, no readable map, or no type in it
};

// Delivers picture flg of the current room: 1 BACKPIC1, 2 BACKPIC2, 3 BACKPIC3,
// 4 TITLEPIC; any other flg names no picture. Returns the result of
// Fio_MimeDownload, or MIME_NO_PICTURE when no picture is set, its name holds
// a directory separator, or its path does not fit. On every failure it answers
// "Status: 404 Not Found" with a line of plain text instead of a picture.
int b_BG_DL(int flg);

// Makes the file in_filename the whole reply: "Content-type: TYPE" and
// "X-Content-Type-Options: nosniff", then the file's bytes unchanged (the
// reply reads them when it is sent), TYPE looked up in the map mime_filename
// by the file's extension. Both paths are converted in place by the file
// layer. The file is the last entry of in_filename, opened in its directory
// without following a symbolic link at the directory or the file, and only a
// regular file counts. Returns MIME_OK delivered; MIME_NO_PICTURE in_filename
// empty or no such regular file; MIME_NO_TYPE no extension (or one longer
// than 99 bytes), the map cannot be opened, or it gives no type. Nothing is
// written unless MIME_OK.
int Fio_MimeDownload(char* in_filename, char* mime_filename);

// The extension of a path: the text after its last "." found at position 1 or
// later (byte-wise from the end; the whole path counts, directories included).
// Copies it into ext (cap bytes) and returns MIME_OK; returns MIME_NO_TYPE and
// leaves ext empty when there is no such dot or the text does not fit in
// cap-1 bytes.
int Fio_mime_ext(const char* path, char* ext, int cap);

// One line (or line piece) of the type map against an extension. The line is
// "extension,type," with anything after the second comma ignored; commas are
// found character-wise (Shift_JIS). An empty extension field matches every
// extension; otherwise the field must equal ext byte for byte. Returns 1 when
// the line decides (matches and has a second comma): type (cap bytes) then
// holds the text between the commas, cut to cap-1 bytes, possibly empty.
// Returns 0 when the line is passed over (type left as it was).
int Fio_mime_line(const char* line, const char* ext, char* type, int cap);

// Reads the map from its current position in the pieces of a MIME_LINE_CAP
// line buffer; the first deciding piece sets type. Returns MIME_OK with a
// non-empty type, MIME_NO_TYPE when no piece decides or the deciding type is
// empty (type empty).
int Fio_mime_find(FILE* map, const char* ext, char* type, int cap);
