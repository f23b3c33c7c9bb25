// What a member does in a room, whichever view he uses (the classic frames or
// the live view): entering under a chat name, leaving, giving a sign of life,
// posting a line. Each works on the current request's room and user (ctx).
#pragma once

#include "chat/chat_page.h"
#include "chat/records.h"

// Entering. With a chat name the member is added to the presence index (or,
// present already under that name, updated with the new stamp and display
// settings) and the entry notice is posted. The notice follows only a
// presence record actually written: a room must not announce a member the
// index does not hold; and a notice that cannot be posted takes the presence
// change back (the record the member had, or none), so that a refused entry
// leaves the room as it was. Once entered (or with no chat name), an
// ordinary account keeps a given colour as its personal setting COLOR,
// offered again by the next entry form. color may become CHAT_DEFAULT_COLOR.
// Returns the presence write's or the notice's refusal, else 0 (also when
// there was nothing to write: no chat name).
int chat_enter(const char* chat_name, char (&color)[CHAT_COLOR_CAP], int disp_line, int reload_time);

// Leaving. Removes the member's record; the leave notice is posted only when
// a record was removed, so a member dropped by the time-out (who had a notice
// then) or one who left already gets no second one. The colour goes into the
// notice as given: an empty one reads back as CHAT_DEFAULT_COLOR. Returns 0
// when the member is out of the index (left now or before, or no chat name),
// else the refusal (-9, -2).
int chat_leave(const char* chat_name, const char* color);

// A sign of life of the member under chat_name: reads his presence record
// into *member and, unless he gave one in this minute already, renews its
// LAST_DATE in the index, which keeps him from the time-out. Stamps have
// minutes only: within the minute of the last renewal the index is left as
// it is, so most reloads and polls write nothing; a renewal refused after
// the wait costs nothing either (the next one renews). *member then carries
// the current stamp and the room asked for. Returns the presence read's
// result: 0 present, -1 not in the room, -2 the index cannot be opened.
int chat_sign_of_life(const char* chat_name, CHAT_USER_IDX* member);

// Posts a line of talk under chat_name and color, stamped now, in front of
// the room's message file. Returns the message store's result: 0, -2 or -9.
int chat_post(const char* chat_name, const char* color, const char* text);

// What an entry form proposes to the current user: *member gets his presence
// record under his registered name (a refused or fruitless read leaves the
// cleared record of the read: no colour, zero or default lines and reload),
// and color the colour of that record, else his personal colour (empty
// when he has none).
void chat_entry_presets(CHAT_USER_IDX* member, char (&color)[CHAT_COLOR_CAP]);
