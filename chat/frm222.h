// The input frame of a room (job FRM222) and the posting of a line of talk
// (job CWRITE).
#pragma once

// Writes the input frame: outside the room (no CHAT_NAME) the entry form with
// the proposed chat name, colour, lines and reload interval; inside, the talk
// form with the leave and member-list buttons.
void b_FRM222();
// Its answer below its level: the page head alone.
void b_FRM222_head();

// Posts CTALK under CHAT_NAME and COLOR into the room's message file.
// Returns 0 (FIO_OK) when stored or when the line is empty (nothing stored),
// else the message store's failure (FIO_NO_FILE a file cannot be opened,
// FIO_LOCKED the store is locked); the request entry turns it into the
// response.
int b_CWRITE();
