// Field helpers of the comma-separated text stores (tree.mst, personal.mst,
// system.log, dir.cnf): cutting a field out of a line, and writing a text so
// that it can never split or break the line it goes into.
#pragma once
#include <cstddef>
#include <string>

// Copies len bytes of src (no terminating zero needed) into a field of cap
// bytes, cut byte-wise to cap-1 bytes as the suite cuts its fields.
void line_field_copy(char* field, std::size_t cap, const char* src, std::size_t len);

// The same, but the cut falls on a character boundary: a double-byte
// character that would straddle the capacity is dropped whole.
void line_field_copy_chars(char* field, std::size_t cap, const char* src, std::size_t len);

// Appends the text of a field of cap bytes (read up to its zero or its
// capacity) to a line being built. Bytes that would end or split the line
// are replaced by '_': every CR and LF, and, when comma_splits is true, every
// comma that is a character of its own (a comma that is the second byte of a
// double-byte character does not split, so it stays). A lead byte left
// dangling at the end of the text is dropped: written in front of the
// separator that follows, it would swallow that separator on reading.
void line_field_append(std::string& line, const char* text, std::size_t cap, bool comma_splits);

