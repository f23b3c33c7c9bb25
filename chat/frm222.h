// The input frame of a room (job FRM222) and the posting of a line of talk
// (job CWRITE).
#pragma once

// Prints the input frame: outside the room (no CHAT_NAME) the entry form with
// the proposed chat name, colour, lines and reload interval; inside, the talk
// form with the leave and member-list buttons. Below access level 2 only the
// page head is printed.
void b_FRM222();

// Posts CTALK under CHAT_NAME and COLOR into the room's message file.
// Returns 0 when stored or when the line is empty (nothing stored), -1 when the
// access level is below 2, else the message store's failure (-2 a file cannot
// be opened, -9 the store is locked); the request entry turns it into the
// response.
int b_CWRITE();
