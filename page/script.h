// The program's own inline scripts and event handlers, in one table: the pages
// print them from it, and the Content-Security-Policy of every page names the
// hash of each, so a script that changes is allowed as it changes and no other
// script in a page (in the room's information text, say) can run.
#pragma once
#include <string>

enum {
    SCRIPT_TITLE_GUARD,     // title frame: lets the settings button's first click through
    SCRIPT_ENTRY_CHECK,     // entry form: refuses an empty chat name, guards the button
    SCRIPT_TALK,            // talk form: focuses and clears the talk line
    SCRIPT_SETTINGS_CHECK,  // settings form: refuses an empty room name
    HANDLER_BACK,           // error pages, refused settings: back in the history
    HANDLER_POSTCHECK,      // the buttons guarded by postcheck()
    HANDLER_TITLE_CHK,      // the settings form's submit button
    HANDLER_AUTOCLEAR,      // talk form: clears the line 10 ms after sending it
    PAGE_SCRIPT_COUNT
};

// The text of script or handler `id` as the page prints it (Shift_JIS): a
// script's content between its tags, a handler's value before HTML escaping.
// Scripts that show a message take it from the loaded message table.
std::string G_script_text(int id);

// Writes script `id` whole: <SCRIPT Language="JavaScript">, its text,
// </SCRIPT> and a line feed.
void G_script_print(int id);

// The value of handler `id` as it goes between the attribute's double quotes.
std::string G_handler(int id);

// The value of the Content-Security-Policy header: the hashes of every entry
// of the table as a browser takes them (over the UTF-8 reading of the text),
// 'unsafe-hashes' so that the handlers among them run, 'unsafe-eval' only when
// `string_timer` is set (the talk form hands setTimeout a text, which browsers
// count as eval), object-src 'none', base-uri 'none', form-action 'self' and
// frame-ancestors 'self' followed by the origins named in the web server's
// environment variable VELT_FRAME_ANCESTORS (blank-separated; a word that is
// no plain origin or scheme is left out).
std::string G_csp_policy(bool string_timer);

// The policy's frame-ancestors directive alone, as G_csp_policy ends: 'self'
// and the origins of VELT_FRAME_ANCESTORS (for the pages with a policy of
// their own, which are framed as the others are).
std::string G_csp_frame_ancestors();
