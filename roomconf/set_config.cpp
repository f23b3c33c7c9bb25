// The settings form of a room (see set_config.h). Every value that came from
// a request or a user is HTML-escaped, the room name in the heading too.
#include "roomconf/set_config.h"

#include <cstdio>

#include "page/escape.h"
#include "page/form.h"
#include "page/page.h"
#include "page/script.h"
#include "page/context.h"
#include "page/reply.h"
#include "roomconf/dir_cnf.h"
#include "roomconf/info_txt.h"
#include "settings/strdef.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

const char* const LABEL_BG = "#E0FFFF";
const char* const VALUE_BG = "#FFFFFF";


void label_cell(int message) {
    out_fmt("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s</TD>\n", LABEL_BG, G_msg(message));
}

void value_cell_open() { out_fmt("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", VALUE_BG); }

// A picture cell: the current name, the delete box only when a picture is set
// (there is nothing to delete otherwise), and the file field.
void picture_cell(const char* current, const char* field) {
    out_fmt("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%s", VALUE_BG, G_html(current).c_str());
    if (current[0] != '\0')
        out_fmt("<INPUT TYPE=\"checkbox\" NAME=\"%s_DEL\" VALUE=\"DEL\">%s", field, G_msg(MSG_DELETE));
    out("<BR>\n");
    out_fmt("%s<INPUT TYPE=\"FILE\" NAME=\"%s\">\n", G_msg(MSG_FILE), field);
    out("</TD>\n");
}

// The three rows of frame k: background picture, font colour, frame size.
void frame_rows(int k, int group_message, const char* backpic, const char* fontcolor,
                const char* frameset) {
    char field[16];
    out("<TR>\n");
    out_fmt("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\" ROWSPAN=\"3\">%s</TD>\n", LABEL_BG,
            G_msg(group_message));
    label_cell(MSG_BACKGROUND_PICTURE);
    std::snprintf(field, sizeof field, "BACKPIC%d", k);
    picture_cell(backpic, field);
    out("</TR>\n");

    out("<TR>\n");
    label_cell(MSG_COLOUR);
    value_cell_open();
    out_fmt("<INPUT TYPE=\"text\" NAME=\"FONTCOLOR%d\" VALUE=\"%s\" SIZE=\"10\" MAXLENGTH=\"6\"> %s</TD>\n",
            k, G_html(fontcolor).c_str(), G_msg(MSG_FONT_COLOUR_HINT));
    out("</TR>\n");

    out("<TR>\n");
    label_cell(MSG_FRAME_HEIGHT);
    value_cell_open();
    out_fmt("<INPUT TYPE=\"text\" NAME=\"FRAMESET%d\" VALUE=\"%s\" SIZE=\"10\" MAXLENGTH=\"6\"></TD>\n",
            k, G_html(frameset).c_str());
    out("</TR>\n");
}

void print_form() {
    // The information text as stored, up to the longest text an update
    // stores. The room's settings record holds only its first 251 bytes, and
    // a form that showed just those would cut the stored text at the next
    // save.
    char info[4002];
    if (Fio_INFO_TXT(ctx.query.FOLDER_NO, STORE_READ, info) != FIO_OK) G_set(info, ctx.room.INFO);
    out_fmt("<FONT SIZE=\"5\"><B>(%s) %s</B></FONT>\n", G_html(ctx.folder.NAME).c_str(),
            G_msg(MSG_ROOM_SETTINGS));
    out_fmt("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
            G_html(ctx.JOB_EXE).c_str());
    G_hidden_fields("SET_CONFIGWR");

    out("<TABLE BORDER>\n");
    out("<TR>\n");
    label_cell(MSG_FOLDER_NO);
    out_fmt("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">%d</TD>\n", VALUE_BG, ctx.query.FOLDER_NO);
    out("</TR>\n");

    out("<TR>\n");
    label_cell(MSG_ROOM_NAME);
    value_cell_open();
    out_fmt("<INPUT TYPE=\"text\" NAME=\"NAME\" VALUE=\"%s\" SIZE=\"40\" MAXLENGTH=\"80\"></TD>\n",
            G_html(ctx.folder.NAME).c_str());
    out("</TR>\n");

    out("<TR>\n");
    label_cell(MSG_INFORMATION);
    value_cell_open();
    out_fmt("<TEXTAREA NAME=\"INFO\" COLS=\"40\" ROWS=\"5\" MAXLENGTH=\"250\">%s</TEXTAREA></TD>\n",
            G_html(info).c_str());
    out("</TR>\n");

    out("<TR>\n");
    label_cell(MSG_TITLE_PICTURE);
    picture_cell(ctx.room.TITLEPIC, "TITLEPIC");
    out("</TR>\n");

    out("<TR>\n");
    label_cell(MSG_FOLDER_PICTURE);
    picture_cell(ctx.folder.PIC_FILENAME, "PIC_FILENAME");
    out("</TR>\n");
    out("</TABLE>\n");

    out("<TABLE BORDER>\n");
    frame_rows(1, MSG_FRAME1, ctx.room.BACKPIC1, ctx.room.FONTCOLOR1, ctx.room.FRAMESET1);
    frame_rows(2, MSG_FRAME2, ctx.room.BACKPIC2, ctx.room.FONTCOLOR2, ctx.room.FRAMESET2);
    frame_rows(3, MSG_FRAME3, ctx.room.BACKPIC3, ctx.room.FONTCOLOR3, ctx.room.FRAMESET3);
    out("</TABLE>\n");

    out("<P>\n<TABLE>\n<TR>\n<TD>\n");
    out_fmt("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"%s\">\n", G_msg(MSG_SAVE),
            G_handler(HANDLER_TITLE_CHK).c_str());
    out("</TD>\n</TR>\n</TABLE>\n");
}

// The head of the form's page; its script stops a submission whose room name
// is empty.
void print_page_head() {
    G_header_printf("");
    G_script_print(SCRIPT_SETTINGS_CHECK);
}

}  // namespace

// Job SET_CONFIG, and the answer to SET_CONFIGWR: the room settings form.
// Reads no parameter beyond the request context. Level: LEVEL_SETTINGS (below
// it: b_SET_CONFIG_refused).
void b_SET_CONFIG() {
    print_page_head();
    print_form();
    out("</FORM>\n</BODY>\n</HTML>\n");
}

// The answer of SET_CONFIG and SET_CONFIGWR below LEVEL_SETTINGS: the form's
// page with MSG_NO_RIGHT_TO_CHANGE and a back button instead of the form.
void b_SET_CONFIG_refused() {
    print_page_head();
    out_fmt("%s\n", G_msg(MSG_NO_RIGHT_TO_CHANGE));
    out("<FORM>\n");
    out_fmt("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"%s\">\n", G_msg(MSG_BACK),
            G_handler(HANDLER_BACK).c_str());
    out("</FORM>\n</BODY>\n</HTML>\n");
}
