// Output escaping for every text that comes from a request or a user: HTML
// text and attribute values, and query-parameter values inside addresses.
#pragma once
#include <string>

// & < > " ' become &amp; &lt; &gt; &quot; &#39;; every other byte passes
// unchanged (a Shift_JIS second byte is never below 0x40, so a byte-wise pass
// cannot break a character). Also right for the content of a TEXTAREA.
std::string G_html(const char* text);

// Percent-encodes a query-parameter value: every byte but A-Z a-z 0-9 - . _ ~
// becomes %XX (upper-case hex), which the parameter reader decodes back to the
// same bytes.
std::string G_url(const char* text);
