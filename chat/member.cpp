// What a member does in a room, for both views (see member.h).
#include "chat/member.h"

#include <cstring>

#include "access/personal_mst.h"
#include "chat/chatuser.h"
#include "page/context.h"
#include "settings/strdef.h"
#include "store/datetime.h"
#include "store/fileio.h"
#include "store/text.h"

int chat_enter(const char* chat_name, char (&color)[CHAT_COLOR_CAP], int disp_line, int reload_time) {
    char stamp[20] = {};
    Tm_set_date(stamp);

    if (ctx.user.MODE == 1 && color[0] != '\0') {
        char value[CHAT_COLOR_CAP];
        G_set(value, color);
        Fio_PERSONAL_MST_put(ctx.user.USER_ID, "COLOR", value);
    }
    if (chat_name[0] == '\0') return FIO_OK;
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
    if (r == FIO_EXISTS) {
        rec = member;
        r = Fio_CHAT_USER_IDX(STORE_UPDATE, &rec);
    }
    if (r == FIO_OK) chat_post_line(chat_name, color, stamp, G_msg(MSG_HAS_ENTERED));
    return r;
}

int chat_leave(const char* chat_name, const char* color) {
    char stamp[20] = {};
    Tm_set_date(stamp);
    if (chat_name[0] == '\0') return FIO_OK;

    CHAT_USER_IDX member;
    const int r = chat_presence(STORE_DELETE, chat_name, &member);
    if (r == FIO_OK) chat_post_line(chat_name, color, stamp, G_msg(MSG_HAS_LEFT));
    return r == FIO_NOT_FOUND ? FIO_OK : r;
}

int chat_sign_of_life(const char* chat_name, CHAT_USER_IDX* member) {
    const int r = chat_presence(STORE_READ, chat_name, member);
    if (r != FIO_OK) return r;
    char now[sizeof member->LAST_DATE] = {};
    Tm_set_date(now);
    const bool renew = std::strncmp(now, member->LAST_DATE, sizeof now) != 0;
    G_set(member->LAST_DATE, now);
    member->FOLDER_NO = ctx.query.FOLDER_NO;  // the room asked for, whatever the record says
    if (renew) Fio_CHAT_USER_IDX_touch(*member);
    return FIO_OK;
}

int chat_post(const char* chat_name, const char* color, const char* text) {
    char stamp[20] = {};
    Tm_set_date(stamp);
    return chat_post_line(chat_name, color, stamp, text);
}

void chat_entry_presets(CHAT_USER_IDX* member, char (&color)[CHAT_COLOR_CAP]) {
    chat_presence(STORE_READ, ctx.user.USER_NAME, member);
    G_set(color, member->COLOR);
    if (color[0] == '\0') {
        char personal[CHAT_COLOR_CAP] = {};
        Fio_PERSONAL_MST(ctx.user.USER_ID, STORE_READ, "COLOR", personal);
        G_set(color, personal);
    }
}
