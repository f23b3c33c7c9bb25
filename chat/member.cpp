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

namespace {

// An ordinary account keeps the colour it chose (if any) as the personal
// setting COLOR, offered again by the next entry form; a colour the setting
// holds already is stored durably already and is not written again (most
// entries keep their colour: one flush to disk less). A colour that cannot be
// stored costs only that offer.
void remember_colour(char (&chosen)[CHAT_COLOR_CAP]) {
    if (ctx.user.MODE != 1 || chosen[0] == '\0') return;
    char stored[CHAT_COLOR_CAP] = {};
    const bool kept = Fio_PERSONAL_MST(ctx.user.USER_ID, STORE_READ, "COLOR", stored) == FIO_OK &&
                      std::strcmp(stored, chosen) == 0;
    if (!kept) Fio_PERSONAL_MST_put(ctx.user.USER_ID, "COLOR", chosen);
}

}  // namespace

int chat_enter(const char* chat_name, char (&color)[CHAT_COLOR_CAP], int disp_line, int reload_time) {
    char stamp[20] = {};
    Tm_set_date(stamp);

    char chosen[CHAT_COLOR_CAP];
    G_set(chosen, color);
    if (chat_name[0] == '\0') {
        remember_colour(chosen);
        return FIO_OK;
    }
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
    remember_colour(chosen);
    return FIO_OK;
}

int chat_leave(const char* chat_name, const char* color) {
    if (chat_name[0] == '\0') return FIO_OK;

    CHAT_USER_IDX member;
    const int r = chat_presence(STORE_DELETE, chat_name, &member);
    if (r == FIO_OK) chat_post(chat_name, color, G_msg(MSG_HAS_LEFT));
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
