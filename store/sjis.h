// The one Shift_JIS (CP932) <-> UTF-8 codec: texts are stored in Shift_JIS as
// the suite's classic forms submit them, and read and written in UTF-8 by the
// pages' script hashes, velt-admin and the JSON view. Both directions do what
// a browser does with a Shift_JIS page, from tables made at build time
// (tools/gen_sjis_table.cpp); nothing here needs iconv.
#pragma once
#include <cstddef>
#include <string>

// --- Shift_JIS to UTF-8 -----------------------------------------------------

// Appends code point cp (at most U+10FFFF, not a surrogate: the caller's
// check) to out in UTF-8.
void G_put_utf8(std::string& out, unsigned long cp);

// Decodes Shift_JIS (the Windows form, CP932) the way browsers do: ASCII and
// 0x80 as they are, 0xA1-0xDF as half-width katakana, a lead byte (0x81-0x9F,
// 0xE0-0xFC) with its trail as one character; a pair that names no character
// becomes U+FFFD, and its trail byte is read again when it is ASCII, as is a
// lone byte 0xA0 or 0xFD-0xFF or a lead byte at the end. Returns the
// characters in UTF-8.
std::string G_sjis_to_utf8(const std::string& sjis);

// G_sjis_to_utf8 for a view that shows stored text as characters (JSON): also
// turns each numeric character reference that G_html passes as a printable
// character (see G_char_reference_length) into that character, so that
// "&#128512;", which a browser sends for an emoji, shows as the emoji. Every
// other '&' stays as it stands ("&amp;", "&#65;", "&#x202E;", a bare '&').
std::string G_sjis_to_utf8_resolving_refs(const std::string& sjis);

// Offset of the first byte of sjis that is not part of a CP932 character, or
// std::string::npos when all of it is. Not a character: 0x80, 0xA0,
// 0xFD-0xFF, a lead byte whose pair names no character (the lead's offset), a
// lead byte at the end. (Browsers read 0x80 as U+0080, but CP932 has no such
// character and the suite's walk takes 0x80 for a lead byte.)
std::size_t G_sjis_invalid_at(const std::string& sjis);

// --- Numeric character references ---------------------------------------------

// A browser sends a character its page's Shift_JIS cannot hold as a numeric
// character reference, and the stores keep it so. Length of the reference at
// p ("&#" decimal digits ";" or "&#x" hex digits ";", x in either case, p
// zero-terminated) when it names a printable character, with the code point
// in *cp (when cp is not null); 0 otherwise. Printable: U+00A0 or above and
// none of the surrogates, noncharacters, or bidirectional embeddings,
// overrides and isolates (which would turn the rest of a line around). ASCII
// is never sent as a reference, and keeping ASCII references as text also
// keeps "javascript&#58;" from turning into syntax in an address. All the
// bytes of a reference are single-byte characters, so a Shift_JIS second
// byte is never taken for a digit.
std::size_t G_char_reference_length(const char* p, unsigned long* cp = nullptr);

// --- UTF-8 to Shift_JIS -----------------------------------------------------

// Encodes UTF-8 text exactly as a browser submits a Shift_JIS form:
// U+0000-U+0080 as the byte, U+00A5 as 0x5C, U+203E as 0x7E, U+FF61-U+FF9F as
// 0xA1-0xDF, U+2212 as U+FF0D (0x817C); any other character as the first
// double-byte pair that reads as it, leaving out leads 0xED and 0xEE (the
// NEC-selected copies of the IBM characters; the IBM ones at 0xFA-0xFC are
// written) and 0xF0-0xF9 (the user-defined area). A character with no such
// form (an emoji, U+301C wave dash, a private-use character, ...) becomes the
// reference "&#<decimal>;". A malformed UTF-8 sequence (overlong, a
// surrogate, beyond U+10FFFF, a byte that starts nothing, a sequence cut
// short) is read as U+FFFD, one for each maximal part of a sequence, as
// browsers read it, and so becomes "&#65533;".
std::string G_utf8_to_sjis(const std::string& utf8);

// Encodes utf8 as G_utf8_to_sjis into a field of cap bytes (cap >= 1), cut to
// at most cap-1 bytes and zero-terminated. The cut falls only between
// characters: a double-byte character or a reference that does not fit
// whole is left out whole, with everything after it (a zero byte, U+0000,
// also ends the text). Returns true when the whole text went in, false when
// anything was cut, so that a caller may refuse rather than store a cut text.
bool G_set_utf8(char* field, std::size_t cap, const std::string& utf8);
template <std::size_t N> inline bool G_set_utf8(char (&field)[N], const std::string& utf8) {
    return G_set_utf8(field, N, utf8);
}

// Length in bytes of G_utf8_to_sjis(utf8), references included.
std::size_t G_sjis_length(const std::string& utf8);

// Offset of the first malformed sequence of utf8 (see G_utf8_to_sjis), or
// std::string::npos when it is all well-formed UTF-8.
std::size_t G_utf8_invalid_at(const std::string& utf8);

// For a caller that must refuse what Shift_JIS cannot hold rather than write
// a reference: offset of the first character of utf8 that G_utf8_to_sjis does
// not write as Shift_JIS bytes of its own (it writes a reference; malformed
// sequences included), or that it writes as the byte 0x80 (U+0080, no CP932
// character); std::string::npos when there is none.
std::size_t G_sjis_unencodable_at(const std::string& utf8);
