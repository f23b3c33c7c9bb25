// The room page: the three-frame page of a chat room, and entering and leaving
// the room under a chat name (jobs ROOM, ROOM_IN, ROOM_OUT).
#pragma once

// Prints the frameset of the requested room (title, input and list frame).
// ROOM_IN first enters the user into the presence index under CHAT_NAME and
// posts the entry notice (and remembers a given COLOR in the personal settings
// of an ordinary account); ROOM_OUT first removes the user's chat name from
// the index, posts the leave notice when a record was removed, and drops the
// chat name from the frames. The dispatch calls it from access level 1 on.
void b_ROOM();
