// The room page: the three-frame page of a chat room, and entering and leaving
// the room under a chat name (jobs ROOM, ROOM_IN, ROOM_OUT).
#pragma once

// The jobs of the room page (the job table in request/velt.cpp holds their
// levels): each writes the frameset of the requested room (title, input and
// list frame), ROOM_IN and ROOM_OUT after entering or leaving the presence
// index under the chat name CHAT_NAME (a refused change gets the busy or the
// error page instead). Entering posts the entry notice (and remembers a given
// COLOR in the personal settings of an ordinary account); leaving posts the
// leave notice when a record was removed and drops the chat name from the
// frames.
void b_ROOM();
void b_ROOM_IN();
void b_ROOM_OUT();
// ROOM_OUT's answer below its level: the frameset without the chat name.
void b_ROOM_without_name();
