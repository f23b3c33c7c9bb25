// Output escaping for every text that comes from a request or a user: HTML
// text and attribute values, and query-parameter values inside addresses (the
// reply's out_html writes the first straight into the page).
#pragma once
#include <cstddef>
#include <string>

// & < > " ' become &amp; &lt; &gt; &quot; &#39;; every other byte passes
// unchanged (a Shift_JIS second byte is never below 0x40, so a byte-wise pass
// cannot break a character). Also right for the content of a TEXTAREA.
// A well-formed numeric character reference (&#128512; or &#x1F600;) of a
// printable character beyond ASCII passes whole: that is how a browser sends a
// character that Shift_JIS cannot hold, and it displays as that character (and
// a TEXTAREA or hidden field sends it back the same way); which references
// count is G_char_reference_length's rule (store/sjis.h), the one the JSON
// view resolves by. Any other & is escaped.
std::string G_html(const char* text);
// The same, handed piece by piece to put (with arg), for writers that keep
// their own buffer.
void G_html_pieces(const char* text, void (*put)(const char* bytes, std::size_t n, void* arg), void* arg);

// Percent-encodes a query-parameter value: every byte but A-Z a-z 0-9 - . _ ~
// becomes %XX (upper-case hex), which the parameter reader decodes back to the
// same bytes.
std::string G_url(const char* text);
