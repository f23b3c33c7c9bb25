// The program's own inline scripts and event handlers, in one table: the pages
// print them from it, and the Content-Security-Policy of every page names the
// hash of each, so a script that changes is allowed as it changes and no other
// script in a page (in the room's information text, say) can run. The table
// itself is here, so that the build can compute the policy's hashes for the
// shipped message file (tools/gen_csp_table.cpp) with the very texts the pages
// print.
#pragma once
#include <string>

#include "page/digest.h"
#include "settings/strdef.h"
#include "store/sjis.h"

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

// One entry: its text, in which each "%s" in turn takes the message of
// `message` (up to two; 0 ends the list), and whether it is a handler.
struct PAGE_SCRIPT {
    const char* text;
    int message[2];
    bool handler;
};

inline constexpr PAGE_SCRIPT PAGE_SCRIPTS[PAGE_SCRIPT_COUNT] = {
    // SCRIPT_TITLE_GUARD: the first click on a guarded button is let through,
    // every later one refused, so a slow answer does not send a form twice.
    {"\n<!--\nvar count=0;\nfunction postcheck(){\ncount++;\n"
     "if ( count < 2 ){ return true; }\nelse { return false; }\n}\n// -->\n",
     {0, 0}, false},
    // SCRIPT_ENTRY_CHECK: an empty chat name is refused with an alert; the
    // button's label changes while the entry is sent.
    {"\n<!--\nvar count=0;\nfunction postcheck(){\nif ( document.INPUT.CHAT_NAME.value==\"\" ) {\n"
     "window.alert( \"%s\" );\nreturn false; }\ncount++;\ndocument.INPUT.SUB.value=\"%s\";\n"
     "if ( count < 2 ){ return true; }\nelse { return false; }\n}\n// -->\n",
     {MSG_CHAT_NAME_MISSING, MSG_ENTERING}, false},
    // SCRIPT_TALK
    {"\n<!--\nfunction onLoad(){\ndocument.INPUT.CTALK.focus();\n}\nvar count=0;\nfunction autoclear(){\n"
     "document.INPUT.CTALK.value=\"\";\ndocument.INPUT.CTALK.focus();\n}\n// -->\n",
     {0, 0}, false},
    // SCRIPT_SETTINGS_CHECK
    {"\n<!--\nfunction title_chk(){\nif ( document.INPUT.NAME.value==\"\" ) {\n"
     "window.alert( \"%s\" );\nreturn false }\n}\n// -->\n",
     {MSG_ROOM_NAME_MISSING, 0}, false},
    {"history.back()", {0, 0}, true},                 // HANDLER_BACK
    {"return postcheck()", {0, 0}, true},             // HANDLER_POSTCHECK
    {"return title_chk()", {0, 0}, true},             // HANDLER_TITLE_CHK
    {"setTimeout(\"autoclear()\",10)", {0, 0}, true},  // HANDLER_AUTOCLEAR
};

// The text of script or handler `id` with the messages of table `messages`
// (Shift_JIS): a script's content between its tags, a handler's value before
// HTML escaping. Empty for an unknown id.
inline std::string G_script_text_in(int id, const STRDEF_REC& messages) {
    if (id < 0 || id >= PAGE_SCRIPT_COUNT) return std::string();
    const PAGE_SCRIPT& s = PAGE_SCRIPTS[id];
    std::string out;
    int used = 0;
    const char* run = s.text;  // the template's bytes not yet copied
    for (const char* p = s.text; *p; ++p) {
        if (p[0] == '%' && p[1] == 's' && used < 2 && s.message[used] != 0) {
            out.append(run, static_cast<std::size_t>(p - run));
            out += strdef_text(messages, s.message[used++]);
            run = ++p + 1;
        }
    }
    return out + run;
}

// The texts of the (at most two) messages that script or handler `id`
// (a known id) takes from table `messages`, "" where it takes none: what its
// text depends on, and so the key of a source made at build time.
inline void G_script_messages(int id, const STRDEF_REC& messages, const char** m0, const char** m1) {
    const PAGE_SCRIPT& s = PAGE_SCRIPTS[id];
    *m0 = s.message[0] != 0 ? strdef_text(messages, s.message[0]) : "";
    *m1 = s.message[0] != 0 && s.message[1] != 0 ? strdef_text(messages, s.message[1]) : "";
}

// The same with the loaded message table: what the pages print.
std::string G_script_text(int id);

// The source a policy names for a script or handler of text `text`:
// 'sha256-<base64 of the SHA-256 of its UTF-8 reading>', quotes included.
// Computed afresh; the policy itself takes the sources of the shipped
// message file's texts from a table made at build time.
inline std::string G_csp_source(const std::string& text) {
    return "'sha256-" + G_base64(G_sha256(G_sjis_to_utf8(text))) + "'";
}

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
