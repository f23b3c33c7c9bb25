// The live view's JSON jobs (docs/live.md): entering, leaving, the long poll,
// posting and the history of a room, and the JSON form of every refusal.
// Requests are URL-encoded POST bodies with UTF-8 values; every answer is a
// JSON object in UTF-8 with Cache-Control: no-store and a status that means
// what it says. Each job works on the current request's room and user (ctx)
// and is dispatched at LEVEL_WRITE.
#pragma once

// The refusals a JSON request can meet, each with its status, its code and
// its message (the user's language).
enum LIVE_REFUSAL {
    LIVE_R_BAD_REQUEST,   // 400 bad_request: a malformed cursor or parameter
    LIVE_R_TOO_LONG,      // 400 too_long: a line over 250 bytes in Shift_JIS
    LIVE_R_NO_CHAT_NAME,  // 400 no_chat_name: an empty chat name
    LIVE_R_CUT,           // 400 bad_request: a body that arrived incomplete
    LIVE_R_SESSION,       // 401 session: no valid session key (or no user id)
    LIVE_R_NO_ACCESS,     // 403 no_access: no access to the room
    LIVE_R_NO_RIGHT,      // 403 no_right: may not write in the room
    LIVE_R_NO_ROOM,       // 404 no_room: no such room
    LIVE_R_NOT_POST,      // 405 bad_request: not a POST (Allow: POST)
    LIVE_R_NOT_IN_ROOM,   // 409 not_in_room: the chat name is not in the room
    LIVE_R_TOO_LARGE,     // 413 too_large: a body larger than the chat accepts
    LIVE_R_STORAGE,       // 500 storage: a file of the room cannot be opened
    LIVE_R_BUSY,          // 503 busy: the room's (or the suite's) files stayed locked
};

// Answers refusal r: its status, {"error": code, "message": text}. It
// replaces whatever the reply held.
void live_refuse(int r);

// LIVE_ENTER: CHAT_NAME, COLOR -> the member entered as in the classic
// frames (presence record, colour, entry notice) and the newest lines.
void live_job_enter();
// LIVE_LEAVE: CHAT_NAME, COLOR -> {"left": true}.
void live_job_leave();
// LIVE_POLL: CHAT_NAME (empty: a visitor, who gets the members only),
// CURSOR, MEMBERS, WAIT -> the lines past the cursor and the members when
// their tag differs; with WAIT 1 and nothing new, held until the room's
// message file changes or the hold ends. A member's poll is his sign of life.
void live_job_poll();
// LIVE_POST: CHAT_NAME, COLOR, CTALK, CURSOR -> the line posted as CWRITE
// posts it, and the answer of a poll that does not wait.
void live_job_post();
// LIVE_HISTORY: CHAT_NAME, BEFORE, COUNT -> the lines before the page's oldest.
void live_job_history();
// The answer of every JSON job below LEVEL_WRITE: LIVE_R_NO_RIGHT.
void live_job_no_right();
