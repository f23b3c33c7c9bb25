// The room page (see room.h): presence changes of ROOM_IN and ROOM_OUT and the
// frameset that carries the chat name on to the input and list frames.
#include "chat/room.h"

#include <cstring>

#include "access/personal_mst.h"
#include "chat/chat_page.h"
#include "chat/chatuser.h"
#include "page/escape.h"
#include "page/form.h"
#include "page/page.h"
#include "page/context.h"
#include "page/reply.h"
#include "roomconf/dir_cnf.h"
#include "settings/strdef.h"
#include "store/datetime.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

// An ordinary account keeps the colour it chose (if any) as the personal
// setting COLOR, offered again by the next entry form; a colour the setting
// holds already is stored durably already and is not written again (most
// entries keep their colour: one flush to disk less). Returns 0: a colour
// that cannot be stored costs only that offer.
int remember_colour(char (&chosen)[CHAT_COLOR_CAP]) {
    if (ctx.user.MODE != 1 || chosen[0] == '\0') return FIO_OK;
    char stored[CHAT_COLOR_CAP] = {};
    const bool kept = Fio_PERSONAL_MST(ctx.user.USER_ID, STORE_READ, "COLOR", stored) == FIO_OK &&
                      std::strcmp(stored, chosen) == 0;
    if (!kept) Fio_PERSONAL_MST_put(ctx.user.USER_ID, "COLOR", chosen);
    return FIO_OK;
}

// ROOM_IN. With a chat name the member is added to the presence index (or,
// present already under that name, updated with the new stamp and display
// settings) and the entry notice is posted. The notice follows only a
// presence record actually written: a room must not announce a member the
// index does not hold; and a notice that cannot be posted takes the presence
// change back (the record the member had, or none), so that a refused entry
// leaves the room, and the remembered colour, as they were. color may become
// CHAT_DEFAULT_COLOR.
// Returns the presence write's or the notice's refusal, else 0 (also when
// there was nothing to write).
int enter_room(const char* chat_name, char (&color)[CHAT_COLOR_CAP], int disp_line, int reload_time) {
    char stamp[20] = {};
    Tm_set_date(stamp);

    char chosen[CHAT_COLOR_CAP];
    G_set(chosen, color);
    if (chat_name[0] == '\0') return remember_colour(chosen);
    chat_color_or_default(color);

    CHAT_USER_IDX member;
    std::memset(&member, 0, sizeof member);
    member.FOLDER_NO = ctx.query.FOLDER_NO;
    member.MODE = ctx.user.MODE;
    G_set(member.USER_ID, ctx.user.USER_ID);
    G_set(member.USER_NAME, chat_name);
    G_set(member.LAST_DATE, stamp);
    G_set(member.COLOR, color);
    member.DISP_LINE = disp_line;
    member.RELOAD_TIME = reload_time;

    CHAT_USER_IDX rec = member;
    int r = Fio_CHAT_USER_IDX(STORE_ADD, &rec);
    // What taking the entry back needs: nothing for a new member, the record
    // as it was for one present (the index is only this program's, so a
    // record read back is written again byte for byte).
    CHAT_USER_IDX before = member;
    bool undoable = r == FIO_OK;
    bool was_present = false;
    if (r == FIO_EXISTS) {
        undoable = was_present = Fio_CHAT_USER_IDX(STORE_READ, &before) == FIO_OK;
        rec = member;
        r = Fio_CHAT_USER_IDX(STORE_UPDATE, &rec);
    }
    if (r != FIO_OK) return r;
    r = chat_post_line(chat_name, color, stamp, G_msg(MSG_HAS_ENTERED));
    if (r != FIO_OK) {
        if (undoable) Fio_CHAT_USER_IDX(was_present ? STORE_UPDATE : STORE_DELETE, &before);
        return r;
    }
    return remember_colour(chosen);
}

// ROOM_OUT. Removes the member's record; the leave notice is posted only when a
// record was removed, so a member dropped by the time-out (who had a notice
// then) or one who left already gets no second one. The colour goes into the
// notice as given: an empty one reads back as CHAT_DEFAULT_COLOR. Returns 0
// when the member is out of the index (left now or before), else the refusal
// (-9, -2).
int leave_room(const char* chat_name, const char* color) {
    char stamp[20] = {};
    Tm_set_date(stamp);
    if (chat_name[0] == '\0') return FIO_OK;

    CHAT_USER_IDX member;
    const int r = chat_presence(STORE_DELETE, chat_name, &member);
    if (r == FIO_OK) chat_post_line(chat_name, color, stamp, G_msg(MSG_HAS_LEFT));
    return r == FIO_NOT_FOUND ? FIO_OK : r;
}

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

// A presence change refused (the index still locked after the wait, or not
// writable) gets the error page: the frameset would claim an entry or a leave
// that did not happen. True when r is such a refusal and its page is written.
bool refusal_answered(int r) {
    if (r == FIO_LOCKED) {
        G_busy_page();
        return true;
    }
    if (r == FIO_NO_FILE) {
        G_ErrMessage("", G_msg(MSG_NO_CHAT_DATA));
        return true;
    }
    return false;
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
    if (refusal_answered(enter_room(chat_name, color, G_atoi(disp_line), G_atoi(reload_time)))) return;
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
    if (refusal_answered(leave_room(chat_name, color))) return;
    print_frameset("", color);
}

// The frameset without a chat name: ROOM_OUT's answer below LEVEL_WRITE.
// Parameter: COLOR.
void b_ROOM_without_name() {
    char color[CHAT_COLOR_CAP];
    G_param("COLOR", color);
    print_frameset("", color);
}
