// The colour palette page (job COLOR_SELECT), opened in the room's list frame
// from the entry form.
#include "chat/color.h"
#include <string>
#include "chat/chat_page.h"
#include "page/escape.h"
#include "page/form.h"
#include "page/page.h"
#include "page/context.h"
#include "page/reply.h"
#include "roomconf/dir_cnf.h"
#include "settings/sysinfo.h"

const char COLOUR_PALETTE[COLOUR_PALETTE_COUNT][COLOUR_PALETTE_WIDTH] = {
    "Black", "Navy", "Darkblue", "Mediumblue",
    "Blue", "Darkgreen", "Green", "Teal",
    "Darkcyan", "Deepskyblue", "Darkturquoise", "Mediumspringgreen",
    "Lime", "Springgreen", "Aqua", "Cyan",
    "Midnightblue", "Dodgerblue", "Lightseagreen", "Forestgreen",
    "Seagreen", "Darkslategray", "Limegreen", "Mediumseagreen",
    "Turquoise", "Royalblue", "Steelblue", "Darkslateblue",
    "Mediumturquoise", "Indigo", "Darkolivegreen", "Cadetblue",
    "Cornflowerblue", "Mediumaquamarine", "Dimgray", "Slateblue",
    "Olivedrab", "Slategray", "Lightslategray", "Mediumslateblue",
    "Lawngreen", "Chartreuse", "Aquamarine", "Maroon",
    "Purple", "Olive", "Gray", "Skyblue",
    "Lightskyblue", "Blueviolet", "Darkred", "Darkmagenta",
    "Saddlebrown", "Darkseagreen", "Lightgreen", "Mediumpurple",
    "Darkviolet", "Palegreen", "Darkorchid", "Yellowgreen",
    "Sienna", "Brown", "Darkgray", "Lightblue",
    "Greenyellow", "Paleturquoise", "Lightsteelblue", "Powderblue",
    "Firebrick", "Darkgoldenrod", "Mediumorchid", "Rosybrown",
    "Darkkhaki", "Silver", "Mediumvioletred", "Indianred",
    "Peru", "Chocolate", "Tan", "Lightgrey",
    "Thistle", "Orchid", "Goldenrod", "Palevioletred",
    "Crimson", "Gainsboro", "Plum", "Burlywood",
    "Lightcyan", "Lavender", "Darksalmon", "Violet",
    "Palegoldenrod", "Lightcoral", "Khaki", "Aliceblue",
    "Honeydew", "Azure", "Sandybrown", "Wheat",
    "Beige", "Whitesmoke", "Mintcream", "Ghostwhite",
    "Salmon", "Linen", "Lightgoldenrodyellow", "Antiquewhite",
    "Oldlace", "Red", "Fuchsia", "Magenta",
    "Deeppink", "Orangered", "Tomato", "Hotpink",
    "Coral", "Darkorange", "Lightsalmon", "Orange",
    "Lightpink", "Pink", "Gold", "Peachpuff",
    "Navajowhite", "Moccasin", "Bisque", "Mistyrose",
    "Blanchedalmond", "Papayawhip", "Lavenderblush", "Seashell",
    "Cornsilk", "Lemonchiffon", "Floralwhite", "Snow",
    "Yellow", "Lightyellow", "Ivory", "White",
};

// Job COLOR_SELECT: the colour palette page. Reads no parameter beyond the
// request context. Level: LEVEL_OPEN.
void b_COLOR_SELECT() {
    // The page opens in the list frame, so it wears that frame's background.
    G_header_printf(chat_body_tag(ctx.room.BACKPIC3, 3).c_str());

    const std::string exe = G_html(ctx.JOB_EXE);
    const std::string site_id = G_html(ctx.config.SITE_ID);
    const std::string keys = G_key_query();
    out("<TABLE BORDER>\n");
    for (int r = 0; r < COLOUR_PALETTE_ROWS; ++r) {
        out("<TR>\n");
        for (int k = 0; k < COLOUR_PALETTE_COLS; ++k) {
            const char* name = COLOUR_PALETTE[r * COLOUR_PALETTE_COLS + k];
            out_fmt("\t<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"CENTER\">&nbsp;&nbsp;<BR></TD>", name);
            out_fmt("<TD NOWRAP BGCOLOR=\"%s\" ALIGN=\"LEFT\">", "#FFFFFF");
            out_fmt("<A HREF=\"%s?%s&JOB=ROOM&FOLDER_NO=%d&COLOR=%s\" TARGET=\"FRM22%s\">", exe.c_str(), keys.c_str(),
                    ctx.query.FOLDER_NO, G_url(name).c_str(), site_id.c_str());
            out(name);
            out("</A></TD>\n");
        }
        out("</TR>\n");
    }
    out("</TABLE>\n");
    out("</BODY>\n");
    out("</HTML>\n");
}
