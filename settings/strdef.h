// The message table: every text a page shows, loaded from one language
// section of the message file "velt.lng".
#pragma once
#include <cstddef>
#include <cstdint>

// Messages are numbered 1 to 999; a text holds at most STRDEF_WIDTH-1 bytes.
enum { STRDEF_COUNT = 1000, STRDEF_WIDTH = 202 };

// The texts packed one after the other: message k is the zero-terminated text
// at byte at[k] of text. Offset 0 is the empty text (text[0] is never written),
// so an all-zero record, a process's first, is an empty table. Only the bytes
// of the texts loaded are ever touched; the room is there for every message at
// its full width.
struct STRDEF_REC {
    uint32_t at[STRDEF_COUNT];
    uint32_t used;                           // bytes of text in use (0: none yet)
    char text[STRDEF_COUNT * STRDEF_WIDTH];
};

// Message k of the table (the empty text for an unset or unknown k).
inline const char* strdef_text(const STRDEF_REC& t, int k) {
    return k >= 0 && k < STRDEF_COUNT ? t.text + t.at[k] : t.text;
}

// Empties the table.
void strdef_clear(STRDEF_REC* t);

// Sets message k (1 .. STRDEF_COUNT-1; any other k changes nothing) to the
// first len bytes of text, cut at a zero byte and to STRDEF_WIDTH-1 bytes.
// The text a message had before is left unused.
void strdef_set(STRDEF_REC* t, int k, const char* text, std::size_t len);

// The numbers of the messages the program shows, as the message file numbers
// them; each comment gives the English text or what the message is for.
// Pages print them through G_msg (page/context.h); the numbers must not
// change.
enum MESSAGE_NO {
    // page head and error pages
    MSG_PAGE_HEAD = 1,                // the head of every page: title and character set
    MSG_PAGE_COMMENT = 2,             // the program's name, in an HTML comment in the head
    MSG_NO_UID_TITLE = 3,             // title of the page for a login without a user ID ("Login error")
    MSG_NO_UID = 4,                   // "Please enter your user ID."
    MSG_LOGIN_FAILED_TITLE = 5,       // title of the page for a refused login ("Login error")
    MSG_LOGIN_FAILED = 6,             // "The user ID or the password is not correct."
    MSG_SESSION_INVALID = 7,          // "Your session is no longer valid. Please log in again."
    MSG_NO_RIGHT_TO_WRITE = 11,       // "You may not write in this room."
    MSG_NO_CHAT_DATA = 12,            // "The chat data could not be opened. ..."
    MSG_BUSY = 19,                    // "The room is busy just now. Please try again in a moment."
    // settings form
    MSG_NO_RIGHT_TO_CHANGE = 8,       // "You may not change the settings of this room."
    MSG_FILE = 9,                     // label of a picture's file field ("File:")
    MSG_BACK = 21,                    // the back button ("Back")
    MSG_ROOM_NAME_MISSING = 200,      // alert for an empty room name; inside a JavaScript string
    MSG_ROOM_SETTINGS = 201,          // heading of the form ("Room settings")
    MSG_FOLDER_NO = 202,              // "Folder No."
    MSG_ROOM_NAME = 203,              // "Room name"
    MSG_FOLDER_PICTURE = 204,         // the picture of the folder in the suite's folder list
    MSG_SAVE = 205,                   // the submit button ("Save")
    MSG_INFORMATION = 207,            // the information text shown in the title frame
    MSG_TITLE_PICTURE = 212,          // the picture shown in the title frame
    MSG_FRAME1 = 213,                 // "Frame 1 (title)"
    MSG_FRAME2 = 214,                 // "Frame 2 (input)"
    MSG_FRAME3 = 215,                 // "Frame 3 (messages)"
    MSG_COLOUR = 216,                 // "Colour" (also the colour choice of the room pages)
    MSG_FONT_COLOUR_HINT = 217,       // how to write a frame's text colour (RRGGBB or RGB)
    MSG_DELETE = 219,                 // the box that deletes a picture ("Delete")
    MSG_BACKGROUND_PICTURE = 220,     // "Background picture of this frame"
    MSG_FRAME_HEIGHT = 221,           // "Frame height (e.g. 40%, 120 pixels or *)"
    // title frame
    MSG_SETTINGS_BUTTON = 102,        // the button to the settings form ("Settings")
    // room pages
    MSG_MEMBERS_HERE = 300,           // heading of the member list ("Members in this room")
    MSG_CHAT_NAME = 301,              // "Chat name"
    MSG_ENTER = 302,                  // the entry button ("Enter")
    MSG_LINES_SHOWN = 303,            // "Lines shown"
    MSG_RELOAD_EVERY = 304,           // "Reload every (seconds)"
    MSG_NO_AUTO_RELOAD = 305,         // "No automatic reload"
    MSG_CHAT_NAME_MISSING = 306,      // alert for an empty chat name; inside a JavaScript string
    MSG_COLOUR_PALETTE = 307,         // the button to the colour palette ("Colour palette")
    MSG_ENTERING = 308,               // the entry button while it is sent; inside a JavaScript string
    MSG_TALK = 309,                   // "Talk"
    MSG_POST = 310,                   // the button that posts a line ("Post")
    MSG_LEAVE = 311,                  // the button that leaves the room ("Leave")
    MSG_HAS_ENTERED = 312,            // notice posted when a member enters ("has entered the room.")
    MSG_HAS_LEFT = 313,               // notice posted when a member leaves ("has left the room.")
    MSG_NOT_IN_ROOM = 314,            // "You are not in this room. Please enter it again."
    MSG_DROPPED = 315,                // notice posted when a silent member is dropped
    MSG_MEMBERS = 316,                // the button to the member list ("Members")
    MSG_MODE_USER = 317,              // a member in user mode ("user")
    MSG_MODE_SHARED = 318,            // a member in shared mode ("shared")
    // the live view (a site whose message file lacks them gets the English
    // texts built into the live view)
    MSG_LIVE_MESSAGE = 400,           // label of the message field ("Message")
    MSG_LIVE_SEND = 401,              // the button that sends a line ("Send")
    MSG_LIVE_EARLIER = 402,           // the button that shows earlier lines ("Earlier lines")
    MSG_LIVE_RECONNECTING = 403,      // "Reconnecting"
    MSG_LIVE_CONNECTED_AGAIN = 404,   // "Connected again"
    MSG_LIVE_NO_EARLIER = 405,        // "No earlier lines"
    MSG_LIVE_EARLIER_SHOWN = 406,     // after a count: "earlier lines shown"
    MSG_LIVE_CONVERSATION = 407,      // accessible name of the lines ("Conversation")
    MSG_LIVE_TOO_LONG = 408,          // "The line is too long."
    MSG_LIVE_CLASSIC_VIEW = 409,      // the link to the classic frames ("Classic view")
    MSG_LIVE_NO_ACCESS = 410,         // "You have no access to this chat room."
    MSG_LIVE_NO_ROOM = 411,           // "There is no such chat room."
    MSG_LIVE_BAD_REQUEST = 412,       // "The request was not understood."
};

// Replaces the whole table *out by section `language` of `filename`. -1 when
// the file cannot be opened (the table is left empty), 0 otherwise (also when
// the section is missing: the table is then empty). The file is read whole,
// in one read, and parsed in memory.
int StrdefFileOpen(const char* filename, const char* language, STRDEF_REC* out);
