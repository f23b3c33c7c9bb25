// The room page (see room.h): presence changes of ROOM_IN and ROOM_OUT and the
// frameset that carries the chat name on to the input and list frames.
#include "chat/room.h"

#include "chat/chat_page.h"
#include "chat/chatuser.h"
#include "chat/member.h"
#include "page/escape.h"
#include "page/form.h"
#include "page/page.h"
#include "page/context.h"
#include "page/reply.h"
#include "roomconf/dir_cnf.h"
#include "settings/strdef.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

// One frame: the address of job with the credentials, the folder and the
// further parameters `more` ("&NAME=value..." or empty), the frame named
// after the job and the folder.
void print_frame(const char* job, const std::string& more) {
    out_fmt("\t<FRAME SRC = \"%s?%s&JOB=%s&FOLDER_NO=%d%s\" NAME=\"%sSEL%d\">\n", G_html(ctx.JOB_EXE).c_str(),
            G_key_query(UID_FIRST).c_str(), job, ctx.query.FOLDER_NO, more.c_str(), job, ctx.query.FOLDER_NO);
}

// The three frames; every request or user text in the addresses is
// percent-encoded, the frame sizes are HTML-escaped.
void print_frameset(const char* chat_name, const char* color) {
    const std::string name = "&CHAT_NAME=" + G_url(chat_name);
    G_header_printf(" ");
    out_fmt("<FRAMESET ROWS=\"%s,%s,%s\" >\n", G_html(ctx.room.FRAMESET1).c_str(),
            G_html(ctx.room.FRAMESET2).c_str(), G_html(ctx.room.FRAMESET3).c_str());
    print_frame("FRM221", "");
    print_frame("FRM222", name + "&COLOR=" + G_url(color));
    print_frame("FRM223", name);
    out("</FRAMESET>\n");
    out("</HTML>\n");
}


}  // namespace

// Job ROOM: the room's frameset, carrying a given chat name and colour on to
// the input and list frames. Parameters: CHAT_NAME, COLOR. Level: LEVEL_OPEN.
// Also ROOM_IN's answer below LEVEL_WRITE: the room shown, nothing entered.
void b_ROOM() {
    char chat_name[CHAT_NAME_CAP];
    char color[CHAT_COLOR_CAP];
    G_param("CHAT_NAME", chat_name);
    G_param("COLOR", color);
    print_frameset(chat_name, color);
}

// Job ROOM_IN: enters the user under the chat name (entering writes into the
// room: a presence record and a notice), then the frameset with the name.
// Parameters: CHAT_NAME, COLOR, DISP_LINE, RELOAD_TIME. Level: LEVEL_WRITE
// (below it: b_ROOM).
void b_ROOM_IN() {
    char chat_name[CHAT_NAME_CAP];
    char color[CHAT_COLOR_CAP];
    char disp_line[CHAT_NUM_CAP];
    char reload_time[CHAT_NUM_CAP];
    G_param("CHAT_NAME", chat_name);
    G_param("COLOR", color);
    G_param("DISP_LINE", disp_line);
    G_param("RELOAD_TIME", reload_time);
    // A refused entry gets the error page: the frameset would claim an entry
    // that did not happen.
    if (G_store_refusal_page(chat_enter(chat_name, color, G_atoi(disp_line), G_atoi(reload_time)))) return;
    print_frameset(chat_name, color);
}

// Job ROOM_OUT: the user leaves under the chat name, then the frameset
// without it. Parameters: CHAT_NAME, COLOR. Level: LEVEL_WRITE (below it:
// b_ROOM_without_name, nobody leaves).
void b_ROOM_OUT() {
    char chat_name[CHAT_NAME_CAP];
    char color[CHAT_COLOR_CAP];
    G_param("CHAT_NAME", chat_name);
    G_param("COLOR", color);
    if (G_store_refusal_page(chat_leave(chat_name, color))) return;
    print_frameset("", color);
}

// The frameset without a chat name: ROOM_OUT's answer below LEVEL_WRITE.
// Parameter: COLOR.
void b_ROOM_without_name() {
    char color[CHAT_COLOR_CAP];
    G_param("COLOR", color);
    print_frameset("", color);
}
