// The input frame and posting (see frm222.h). Every request or user text is
// HTML-escaped on the page; the forms' hidden fields carry it back unchanged.
#include "chat/frm222.h"

#include <cstring>

#include "chat/chat_page.h"
#include "chat/chatuser.h"
#include "chat/member.h"
#include "page/escape.h"
#include "page/form.h"
#include "page/page.h"
#include "page/script.h"
#include "page/context.h"
#include "page/reply.h"
#include "roomconf/dir_cnf.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

// A form of one button (labelled with message `label`) that opens job in the
// room's list frame.
void print_list_frame_button(const char* job, int label) {
    out_fmt("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST  TARGET=\"FRM223SEL%d\">\n",
            G_html(ctx.JOB_EXE).c_str(), ctx.query.FOLDER_NO);
    G_hidden_fields(job);
    out_fmt("<INPUT TYPE=\"submit\" VALUE=\"%s\" >\n", G_msg(label));
    out("</FORM>\n");
}

// Entry form: what the user is proposed comes from the presence record under
// the registered name, else the personal colour; a colour in the request (a
// choice from the palette) wins over both.
void print_entry_form(const char* param_color) {
    G_script_print(SCRIPT_ENTRY_CHECK);

    const std::string exe = G_html(ctx.JOB_EXE);
    out_fmt("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST  TARGET=\"FRM22%s\">\n",
            exe.c_str(), G_html(ctx.config.SITE_ID).c_str());
    G_hidden_fields("ROOM_IN");

    // A refused read leaves the cleared record: zero lines and reload, which
    // become 30 and "no reload" below.
    CHAT_USER_IDX member;
    char color[CHAT_COLOR_CAP];
    chat_entry_presets(&member, color);
    if (param_color[0] != '\0') G_set(color, param_color);
    int disp_line = member.DISP_LINE;
    int reload_time = member.RELOAD_TIME;
    if (disp_line == 0) disp_line = 30;
    if (reload_time == 0) reload_time = 999;

    out(G_msg(MSG_CHAT_NAME));
    out_fmt("<INPUT TYPE=\"text\" NAME=\"CHAT_NAME\" SIZE=\"40\" VALUE=\"%s\" MAXLENGTH=\"80\"><BR>\n",
            G_html(ctx.user.USER_NAME).c_str());
    out(G_msg(MSG_COLOUR));
    out_fmt("<INPUT TYPE=\"text\" NAME=\"COLOR\" SIZE=\"20\" VALUE=\"%s\" MAXLENGTH=\"20\"><BR>\n",
            G_html(color).c_str());

    out(G_msg(MSG_LINES_SHOWN));
    out("<SELECT NAME=\"DISP_LINE\" >\n");
    out_fmt("<OPTION VALUE=\"%d\">%d\n", disp_line, disp_line);
    for (int v : {10, 20, 30, 40, 50}) out_fmt("<OPTION VALUE=\"%d\">%d\n", v, v);
    out("</SELECT><BR>\n");

    out(G_msg(MSG_RELOAD_EVERY));
    out("<SELECT NAME=\"RELOAD_TIME\" >\n");
    if (reload_time == 999) {
        out_fmt("<OPTION VALUE=\"999\">%s\n", G_msg(MSG_NO_AUTO_RELOAD));
    } else {
        out_fmt("<OPTION VALUE=\"%d\">%d\n", reload_time, reload_time);
    }
    for (int v : {10, 20, 30, 60, 120, 180}) out_fmt("<OPTION VALUE=\"%d\">%d\n", v, v);
    out_fmt("<OPTION VALUE=\"999\">%s\n", G_msg(MSG_NO_AUTO_RELOAD));
    out("</SELECT><BR>\n");

    out_fmt("<INPUT TYPE=\"submit\" name=\"SUB\" VALUE=\"%s\" onClick=\"%s\" >\n", G_msg(MSG_ENTER),
            G_handler(HANDLER_POSTCHECK).c_str());
    out("</FORM>\n");
    out("<P>\n");

    print_list_frame_button("COLOR_SELECT", MSG_COLOUR_PALETTE);
}

// Talk form: posts go to the list frame; the settings line shows the member's
// presence record (the read's presets when the name is not in the room).
void print_talk_form(const char* chat_name, const char* color) {
    G_script_print(SCRIPT_TALK);

    const std::string exe = G_html(ctx.JOB_EXE);
    out_fmt("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST "
            "onSubmit=\"%s\" TARGET=\"FRM223SEL%d\">\n",
            exe.c_str(), G_handler(HANDLER_AUTOCLEAR).c_str(), ctx.query.FOLDER_NO);
    G_hidden_fields("CWRITE");
    G_hidden("CHAT_NAME", chat_name);
    G_hidden("COLOR", color);

    CHAT_USER_IDX member;
    chat_presence(STORE_READ, chat_name, &member);

    out_fmt("%s:", G_msg(MSG_CHAT_NAME));
    out_fmt("[%s]&nbsp;&nbsp;", G_html(chat_name).c_str());
    out(G_msg(MSG_COLOUR));
    out_fmt("[%s]&nbsp;&nbsp;", G_html(color).c_str());
    out(G_msg(MSG_LINES_SHOWN));
    out_fmt("[%d]&nbsp;&nbsp;", member.DISP_LINE);
    out(G_msg(MSG_RELOAD_EVERY));
    out_fmt("[%d]<P>\n", member.RELOAD_TIME);

    out_fmt("%s:", G_msg(MSG_TALK));
    out("<INPUT TYPE=\"text\" NAME=\"CTALK\" SIZE=\"60\" MAXLENGTH=\"250\"><BR>\n");
    out("<TABLE>\n");
    out("<TR>\n");
    out("<TD>\n");
    out_fmt("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n", G_msg(MSG_POST));
    out("</FORM>\n");
    out("</TD>\n");

    out("<TD>\n");
    out_fmt("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST  TARGET=\"FRM22%s\">\n", exe.c_str(),
            G_html(ctx.config.SITE_ID).c_str());
    G_hidden_fields("ROOM_OUT");
    G_hidden("CHAT_NAME", chat_name);
    G_hidden("COLOR", color);
    out_fmt("<INPUT TYPE=\"submit\" VALUE=\"%s\" >\n", G_msg(MSG_LEAVE));
    out("</FORM>\n");
    out("</TD>\n");

    out("<TD>\n");
    print_list_frame_button("FRM223", MSG_MEMBERS);
    out("</TD>\n");
    out("</TR>\n");
    out("</TABLE>\n");
}

}  // namespace

// Job FRM222: the input frame, the entry form or, once a chat name is given,
// the talk form. Parameters: CHAT_NAME, COLOR. Level: LEVEL_WRITE (below it:
// b_FRM222_head).
void b_FRM222() {
    char chat_name[CHAT_NAME_CAP];
    char color[CHAT_COLOR_CAP];
    G_param("CHAT_NAME", chat_name);
    G_param("COLOR", color);

    if (chat_name[0] == '\0') {
        b_FRM222_head();
        print_entry_form(color);
    } else {
        // Only the talk form's policy lets its timer text run.
        G_header_printf_timer(chat_body_tag(ctx.room.BACKPIC2, 2).c_str());
        print_talk_form(chat_name, color);
    }
    out("</BODY>\n");
    out("</HTML>\n");
}

// FRM222's answer below LEVEL_WRITE: the frame's head alone, with its
// background.
void b_FRM222_head() { G_header_printf(chat_body_tag(ctx.room.BACKPIC2, 2).c_str()); }

// Job CWRITE: posts a line of talk. Parameters: CHAT_NAME, COLOR, CTALK.
// Level: LEVEL_WRITE (below it: the error page of MSG_NO_RIGHT_TO_WRITE).
int b_CWRITE() {
    char chat_name[CHAT_NAME_CAP];
    char color[CHAT_COLOR_CAP];
    char ctalk[CHAT_CTALK_CAP];
    G_param("CHAT_NAME", chat_name);
    G_param("COLOR", color);
    G_param("CTALK", ctalk);
    if (ctalk[0] == '\0') return FIO_OK;
    return chat_post(chat_name, color, ctalk);
}
