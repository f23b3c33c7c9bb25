// The title frame (job FRM221): the top frame of a room's page.
#include "chat/frm221.h"
#include <cstring>
#include <string>
#include "chat/chat_page.h"
#include "page/escape.h"
#include "page/form.h"
#include "page/page.h"
#include "page/script.h"
#include "page/context.h"
#include "page/reply.h"
#include "roomconf/dir_cnf.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/text.h"

// Job FRM221: the title frame (room name, title picture, information text,
// and the settings button). Reads no parameter beyond the request context.
// Level: LEVEL_OPEN.
void b_FRM221() {
    G_header_printf(chat_body_tag(ctx.room.BACKPIC1, 1).c_str());
    const std::string exe = G_html(ctx.JOB_EXE);

    // The settings button lets its first click through and refuses the
    // others, so a slow answer does not send the form twice.
    G_script_print(SCRIPT_TITLE_GUARD);

    // The font colour and the room name are written by the room's
    // administrators through the settings form, and so are escaped: a name is
    // text, shown to every member.
    const std::string color = G_html(ctx.room.FONTCOLOR1);
    const bool has_color = ctx.room.FONTCOLOR1[0] != '\0';
    out("<TABLE>\n");
    out("<TR>\n");
    out("<TD NOWRAP>\n");
    out("<FONT SIZE=\"5\"");
    if (has_color) out_fmt(" COLOR=\"#%s\"", color.c_str());
    out_fmt("><B>%s</B></FONT>\n", G_html(ctx.folder.NAME).c_str());
    out("</TD>\n");

    // The settings button is shown to those who may open the settings form:
    // the level of the SET_CONFIG job.
    if (ctx.access_level >= LEVEL_SETTINGS) {
        out("<TD>\n");
        // The settings form replaces the whole room page in the suite's frame.
        out_fmt("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST  TARGET=\"FRM22%s\">\n",
                exe.c_str(), G_html(ctx.config.SITE_ID).c_str());
        G_hidden_credentials();
        G_hidden("JOB", "SET_CONFIG");
        G_hidden_int("FOLDER_NO", ctx.query.FOLDER_NO);
        out_fmt("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"%s\" >\n", G_msg(MSG_SETTINGS_BUTTON),
                G_handler(HANDLER_POSTCHECK).c_str());
        out("</FORM>\n");
        out("</TD>\n");
    }
    out("</TR>\n");
    out("</TABLE>\n");

    if (ctx.room.TITLEPIC[0] != '\0') {
        out_fmt("<IMG SRC=\"%s?JOB=BG4_DL&%s&FOLDER_NO=%d\" ><BR>\n", exe.c_str(), G_key_query().c_str(),
                ctx.query.FOLDER_NO);
    }

    if (ctx.room.INFO[0] != '\0') {
        if (has_color) out_fmt("<FONT COLOR=\"#%s\">", color.c_str());
        // The information text is meant to carry the administrators' own
        // markup; only its line ends become line breaks. Each CR grows by four
        // bytes, so a 251-byte text needs at most 1,255 of the 4,002.
        char text[4002];
        std::memset(text, 0, sizeof text);
        G_set(text, sizeof text, ctx.room.INFO);
        G_CrLf_to_BR(text);
        out(text);
        if (has_color) out("</FONT>\n");
    }
    out("</BODY>\n");
    out("</HTML>\n");
}
