// Filling the live view's page: each {{NAME}} place of live.html gets the
// caller's value for NAME, escaped as HTML text.
#pragma once
#include <cstddef>
#include <string>

// One value for the page: name without braces, value UTF-8 text (null is
// empty).
struct LIVE_FIELD {
    const char* name;
    const char* value;
};

// Every name the live view fills; the page uses no other.
extern const char* const LIVE_PLACEHOLDERS[];
extern const int LIVE_PLACEHOLDER_COUNT;

// The page text tmpl (length bytes) with each place {{NAME}} (NAME of A-Z,
// 0-9 and '_') replaced by the value of the first field of that name, with
// & < > " ' escaped (&amp; &lt; &gt; &quot; &#39;): the same for a name
// ending in _URL, whose value the caller has percent-encoded where an
// address needs it. A place whose name no field gives is left empty. Braces
// that do not form a place pass as they are.
std::string live_fill(const char* tmpl, std::size_t length, const LIVE_FIELD* fields, int count);

// Escapes text for HTML text and attribute values as above. Every & is
// escaped: the values are UTF-8 text in which a character reference means
// nothing (unlike the Shift_JIS texts of the classic pages, where one stands
// for a character the encoding lacks and is kept).
std::string live_html(const char* text);
