// Request fields and page pieces shared by the room's own pages: the frameset,
// the input frame and the message list frame.
#pragma once
#include <string>

#include "chat/records.h"

// Capacities of the page fields a room's forms and addresses carry: those that
// are stored take the capacity of the record field that holds them.
enum {
    CHAT_NAME_CAP = sizeof(CHAT_USER_IDX::USER_NAME),  // CHAT_NAME: the chat name under which a user is in the room
    CHAT_COLOR_CAP = sizeof(CHAT_USER_IDX::COLOR),     // COLOR: colour of the user's name
    CHAT_CTALK_CAP = sizeof(CHAT_DATA_DAT::CTALK),     // CTALK: one line of talk
    CHAT_NUM_CAP = 100,   // DISP_LINE, RELOAD_TIME as sent, before conversion
};

// The body line of a frame whose room has a background picture: when backpic is
// not empty, <BODY
// BACKGROUND="JOB_EXE?JOB=BGn_DL&SKEY1=..&SKEY2=..&uid=..&FOLDER_NO=n" >
// followed by "\n", with the credentials percent-encoded; otherwise empty text,
// which gives the site's default background.
std::string chat_body_tag(const char* backpic, int picture_no);

// Puts one line of the current user (ctx.user) under chat_name, with colour
// color (empty reads back as CHAT_DEFAULT_COLOR), time stamp stamp and text, in
// front of the room's message file. Returns the message store's result: 0, -2
// or -9.
int chat_post_line(const char* chat_name, const char* color, const char* stamp, const char* text);

// The presence lookup: clears *member, keys it on the current room
// (ctx.query.FOLDER_NO), the current user and chat_name, and runs
// Fio_CHAT_USER_IDX(op) on it (STORE_READ fills the member's record,
// STORE_DELETE removes it). Returns that result.
int chat_presence(int op, const char* chat_name, CHAT_USER_IDX* member);
