// The message list frame of a room (job FRM223): the members present, or the
// newest lines of talk for a member inside the room.
#pragma once

// Without CHAT_NAME: the member list in blocks of 20 with its total, reloaded
// every 10 seconds; a complete list without members removes the room's message
// file. A refused block read ends the list there: the members read so far are
// shown, with no total, and the file stays. With CHAT_NAME: renews the member's
// sign of life and writes the newest lines (at most DISP_LINE, at least one,
// never more than 100), reloading after RELOAD_TIME seconds (1 to 998); a name
// not in the room gets MSG_NOT_IN_ROOM with the presence read's result.
void b_FRM223();
// Its answer below its level: the page head alone.
void b_FRM223_head();
