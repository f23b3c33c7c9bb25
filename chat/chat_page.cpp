// Request fields and page pieces shared by the room's pages (see chat_page.h).
#include "chat/chat_page.h"

#include <cstring>

#include "cgi/cgilib61.h"
#include "chat/chatdata.h"
#include "chat/chatuser.h"
#include "page/escape.h"
#include "page/form.h"
#include "page/context.h"
#include "store/text.h"

std::string chat_body_tag(const char* backpic, int picture_no) {
    if (backpic[0] == '\0') return std::string();
    std::string tag = "<BODY BACKGROUND=\"";
    tag += G_html(ctx.JOB_EXE);
    tag += "?JOB=BG" + std::to_string(picture_no) + "_DL";
    tag += "&" + G_key_query();
    tag += "&FOLDER_NO=" + std::to_string(ctx.query.FOLDER_NO);
    tag += "\" >\n";
    return tag;
}

int chat_post_line(const char* chat_name, const char* color, const char* stamp, const char* text) {
    return Fio_CHAT_DATA_post(ctx.query.FOLDER_NO, ctx.user.MODE, ctx.user.USER_ID, chat_name, stamp, color, text);
}

int chat_presence(int op, const char* chat_name, CHAT_USER_IDX* member) {
    std::memset(member, 0, sizeof *member);
    member->FOLDER_NO = ctx.query.FOLDER_NO;
    G_set(member->USER_ID, ctx.user.USER_ID);
    G_set(member->USER_NAME, chat_name);
    return Fio_CHAT_USER_IDX(op, member);
}
