// Shift_JIS text as a browser reads it, written out in UTF-8: a browser hashes
// the UTF-8 form of a page's script, whatever the page's own charset.
#pragma once
#include <string>

// Decodes Shift_JIS (the Windows form, CP932) the way browsers do: ASCII and
// 0x80 as they are, 0xA1-0xDF as half-width katakana, a lead byte with its
// trail as one character; a pair that names no character becomes U+FFFD, and
// its trail byte is read again when it is ASCII, as is a lone byte 0xA0 or
// 0xFD-0xFF or a lead byte at the end. Returns the characters in UTF-8.
std::string G_sjis_to_utf8(const std::string& sjis);
