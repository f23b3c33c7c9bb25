// The message list frame (see frm223.h). Names, colours and lines are
// HTML-escaped; the values in the refresh address are percent-encoded.
#include "chat/frm223.h"

#include "chat/chat_page.h"
#include "chat/chatdata.h"
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

enum { MEMBER_BLOCK = 20, NEWEST_LINES = 100, LIST_RELOAD_SECONDS = 10, NO_RELOAD_FROM = 999 };

// The refresh address of this frame: credentials, folder and, for a member
// inside the room, the chat name.
std::string refresh_url(const char* chat_name) {
    std::string url =
        G_html(ctx.JOB_EXE) + "?" + G_key_query() + "&JOB=FRM223&FOLDER_NO=" + std::to_string(ctx.query.FOLDER_NO);
    if (chat_name != nullptr) url += "&CHAT_NAME=" + G_url(chat_name);
    return url;
}

// One member of the list, numbered from 1 in its block of 20; *shown counts
// them. false (the end of the list) for a record not in use.
bool print_member(const CHAT_USER_IDX& m, void* shown) {
    if (m.FOLDER_NO == 0) return false;
    int& count = *static_cast<int*>(shown);
    out(std::to_string(count % MEMBER_BLOCK + 1).c_str());
    out(":<B><FONT COLOR=\"");
    out_html(m.COLOR);
    out("\">");
    out_html(m.USER_NAME);
    out("</FONT></B>");
    if (m.MODE == 1 || m.MODE == 2) {
        out("[");
        out(G_msg(m.MODE == 1 ? MSG_MODE_USER : MSG_MODE_SHARED));
        out("]");
    }
    out("<BR>");
    ++count;
    return true;
}

// Members in order of entry, numbered from 1 in every block of 20, read in
// one pass over the index. Only a list read to its end counts: the total is
// printed, and an empty room loses its message file, only when the read was
// not refused. A refused read (the index not openable, or a read that failed
// part way) names the cause instead of a total, after the members it gave,
// and the frame reloads as usual.
void print_member_list() {
    out_fmt("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"%d;URL=%s\">\n", LIST_RELOAD_SECONDS,
            refresh_url(nullptr).c_str());
    out_fmt("%s<P>", G_msg(MSG_MEMBERS_HERE));

    int shown = 0;
    const int r = Fio_CHAT_USER_IDX_each(ctx.query.FOLDER_NO, print_member, &shown);
    if (r != FIO_OK) {
        out_fmt("%s<P>", G_msg(r == FIO_LOCKED ? MSG_BUSY : MSG_NO_CHAT_DATA));
        return;
    }
    out_fmt("total:[%d]<P>", shown);
    if (shown == 0) Fio_CHAT_DATA_DAT_DEL(ctx.query.FOLDER_NO);
}

// One line of the list; false (the end of the list) for a record not in use.
// Written piece by piece: a reload writes up to a hundred of these.
bool print_line(const CHAT_DATA_DAT& line, void*) {
    if (line.MODE == 0) return false;
    out("<B><FONT COLOR=\"");
    out_html(line.COLOR);
    out("\">");
    out_html(line.USER_NAME);
    out("</FONT></B>&nbsp;>&nbsp;");
    out_html(line.CTALK);
    out("<BR>\n");
    return true;
}

// The newest lines for a member inside the room. Showing them is the member's
// sign of life: LAST_DATE is renewed in the presence index, which keeps the
// member from the time-out.
void print_messages(const char* chat_name) {
    CHAT_USER_IDX member;
    const int r = chat_sign_of_life(chat_name, &member);
    if (r != FIO_OK) {
        // Not in the room (or the index unreadable): no reload, the frame
        // stays until the user acts.
        out_fmt("%s[%d]<P>", G_msg(MSG_NOT_IN_ROOM), r);
        return;
    }

    if (member.RELOAD_TIME >= 1 && member.RELOAD_TIME < NO_RELOAD_FROM) {
        out_fmt("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"%d;URL=%s\">\n", member.RELOAD_TIME,
                refresh_url(chat_name).c_str());
    }

    if (ctx.room.FONTCOLOR3[0] != '\0') {
        out_fmt("<FONT COLOR=\"#%s\">", G_html(ctx.room.FONTCOLOR3).c_str());
    }
    // The newest lines as they are read, at least the newest one whatever
    // DISP_LINE holds; a line with MODE 0 ends the list. A refused read shows
    // no lines this time (one that fails midway, those before it); the next
    // reload shows them.
    const int shown = member.DISP_LINE < 1 ? 1 : member.DISP_LINE < NEWEST_LINES ? member.DISP_LINE : NEWEST_LINES;
    Fio_CHAT_DATA_newest(ctx.query.FOLDER_NO, shown, print_line, nullptr);
}

}  // namespace

// Job FRM223, and the answer to CWRITE: the member list, or the messages once
// a chat name is given. Parameter: CHAT_NAME. Level: LEVEL_WRITE (below it:
// b_FRM223_head).
void b_FRM223() {
    char chat_name[CHAT_NAME_CAP];
    G_param("CHAT_NAME", chat_name);

    b_FRM223_head();
    if (chat_name[0] == '\0') {
        print_member_list();
    } else {
        print_messages(chat_name);
    }
    out("</BODY>\n");
    out("</HTML>\n");
}

// FRM223's answer below LEVEL_WRITE: the frame's head alone, with its
// background.
void b_FRM223_head() { G_header_printf(chat_body_tag(ctx.room.BACKPIC3, 3).c_str()); }
