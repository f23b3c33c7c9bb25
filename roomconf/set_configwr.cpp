// The settings update of a room (see set_configwr.h). The picture part (the
// room's four pictures in dir.cnf, the folder's picture and name in tree.mst)
// runs under the room settings lock, so that no other update changes which
// pictures are named while this one decides which files go; the information
// text, font colours and frame sizes follow, each store call taking its own
// lock.
#include "roomconf/set_configwr.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "page/context.h"
#include "store/text_line.h"
#include "access/tree_mst.h"
#include "cgi/cgilib61.h"
#include "roomconf/dir_cnf.h"
#include "roomconf/info_txt.h"
#include "store/cust.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

enum {
    NAME_CAP = sizeof(TREE_DATA::NAME),  // the room name, as in tree.mst
    INFO_CAP = 4002,     // the information text as sent
    INFO_KEEP = 4000,    // ... of which at most 3999 bytes are stored
    UPLOAD_CAP = 4002,   // a file field: browser name, comma, temporary path
    DEL_CAP = 10,        // a delete box
    VALUE_CAP = sizeof(DIR_CONFIG::FONTCOLOR1),  // a font colour or frame size
    PIC_CAP = sizeof(DIR_CONFIG::TITLEPIC),      // a picture name in dir.cnf and tree.mst
    PIC_PATH_CAP = 1400, // data directory (1001) + folder + "\fcg\" + a picture name
};
// One capacity serves the fields that hold the same kind of value.
static_assert(sizeof(TREE_DATA::PIC_FILENAME) == PIC_CAP, "picture names fit both stores alike");
static_assert(sizeof(DIR_CONFIG::FRAMESET1) == VALUE_CAP, "frame sizes and font colours alike");

// The room's pictures in the order the update handles them; the first four
// are keys of dir.cnf, the last is the folder's picture in tree.mst.
enum { PIC_TITLE, PIC_BACK1, PIC_BACK2, PIC_BACK3, PIC_FOLDER, PIC_COUNT };
const char* const PIC_FIELD[PIC_COUNT] = {"TITLEPIC", "BACKPIC1", "BACKPIC2", "BACKPIC3", "PIC_FILENAME"};
const char* const PIC_DEL_FIELD[PIC_COUNT] = {"TITLEPIC_DEL", "BACKPIC1_DEL", "BACKPIC2_DEL", "BACKPIC3_DEL",
                                              "PIC_FILENAME_DEL"};
const char* const FONTCOLOR_KEY[3] = {"FONTCOLOR1", "FONTCOLOR2", "FONTCOLOR3"};
const char* const FRAMESET_KEY[3] = {"FRAMESET1", "FRAMESET2", "FRAMESET3"};

// What the form sent, each field cut to its capacity.
struct SETTINGS_FORM {
    char NAME[NAME_CAP];
    char INFO[INFO_CAP];
    char PIC[PIC_COUNT][UPLOAD_CAP];
    char PIC_DEL[PIC_COUNT][DEL_CAP];
    char FONTCOLOR[3][VALUE_CAP];
    char FRAMESET[3][VALUE_CAP];
};

// The working state of one update: the form, the room's current picture
// names (as read under the lock, then as this update changes them), the
// temporary files already used, and the pictures that may have lost their
// last setting (one a picture at most: the name it replaced, or the new name
// a refused store did not take).
struct SETTINGS_UPDATE {
    SETTINGS_FORM form;
    char names[PIC_COUNT][PIC_CAP];
    char used_temp[PIC_COUNT][UPLOAD_CAP];
    int used_count;
    char candidate[PIC_COUNT][PIC_CAP];
    int candidate_count;
};

// True when the request holds a parameter of that name, whatever its value.
bool param_present(const char* name) { return cgi_has(&ctx.params, name); }

// True when the request holds every field the settings form always sends
// (the delete boxes come only when ticked). A post cut short, or not made by
// the form, would otherwise store its missing fields as empty.
bool form_complete() {
    bool all = param_present("NAME") && param_present("INFO");
    for (const char* field : PIC_FIELD) all = all && param_present(field);
    for (const char* key : FONTCOLOR_KEY) all = all && param_present(key);
    for (const char* key : FRAMESET_KEY) all = all && param_present(key);
    return all;
}

void read_form(SETTINGS_FORM& f) {
    G_param("NAME", f.NAME);
    G_param("INFO", f.INFO);
    for (int i = 0; i < PIC_COUNT; ++i) {
        G_param(PIC_FIELD[i], f.PIC[i]);
        G_param(PIC_DEL_FIELD[i], f.PIC_DEL[i]);
    }
    for (int k = 0; k < 3; ++k) G_param(FONTCOLOR_KEY[k], f.FONTCOLOR[k]);
    for (int k = 0; k < 3; ++k) G_param(FRAMESET_KEY[k], f.FRAMESET[k]);
}

// The name a picture is stored under: the browser's bare name written as
// the comma-separated stores write a field (no comma, line break or dangling
// lead byte), so that the file and the stored setting carry the same name.
void stored_pic_name(char* name) {
    std::string field;
    line_field_append(field, name, PIC_CAP, true);
    G_set(name, PIC_CAP, field.c_str());
}

// The room's picture directory "<data>\<n>\fcg" (name null) or a picture in
// it "<data>\<n>\fcg\<name>"; false when the path cannot be built.
bool pic_path(char* out, const char* name) {
    char room[FIO_PATH_MAX];
    out[0] = '\0';
    if (Fio_dir_room(room, ctx.query.FOLDER_NO) != 0) return false;
    const int len = name ? std::snprintf(out, PIC_PATH_CAP, "%sfcg\\%s", room, name)
                         : std::snprintf(out, PIC_PATH_CAP, "%sfcg", room);
    if (len <= 0 || len >= PIC_PATH_CAP) {
        out[0] = '\0';
        return false;
    }
    return true;
}

// True when temp is a file that the multipart reader of this request wrote
// (whole: one it could not store counts as none) and that no earlier field of
// this update has taken. Any other path (a text field posing as an upload, a
// path named twice) is not touched. The file is not looked at here: a file
// system that fails to show it then fails its move, which refuses the update,
// rather than passing for a field without a file.
bool fresh_upload(const SETTINGS_UPDATE& u, const char* temp) {
    if (temp[0] == '\0' || !cgi_is_own_upload(&ctx.params, temp)) return false;
    for (int i = 0; i < u.used_count; ++i)
        if (std::strcmp(u.used_temp[i], temp) == 0) return false;
    return true;
}

void drop_temp(const char* temp) {
    char path[UPLOAD_CAP];
    G_set(path, temp);
    Cu_remove(path);
}

// What apply_picture did: a new value to store, nothing, or an upload that
// could not be put in place (the update is refused there, as for a store that
// failed: the form would show a picture that was never stored).
enum { PICTURE_NEW, PICTURE_AS_BEFORE, PICTURE_NOT_STORED };

// Carries out on disk what picture field i asks for: a fresh upload is moved
// into the picture directory under its bare name (and wins over a ticked
// delete box); otherwise a ticked delete box empties the setting. Returns
// PICTURE_NEW when names[i] now holds a new value to store, with the previous
// name in old_name (PIC_CAP bytes); PICTURE_AS_BEFORE when the setting stays
// as it was (no upload); PICTURE_NOT_STORED when the upload could not be put
// in place (the upload is gone, the setting and its picture stay).
int apply_picture(SETTINGS_UPDATE& u, int i, char* old_name) {
    const SETTINGS_FORM& f = u.form;
    char bare[PIC_CAP] = "";
    char temp[UPLOAD_CAP] = "";
    bool upload = false;
    if (f.PIC[i][0] != '\0') {
        G_cut_filename(f.PIC[i], bare, temp);
        upload = fresh_upload(u, temp);
    }
    if (!upload && f.PIC_DEL[i][0] == '\0') return PICTURE_AS_BEFORE;

    char new_name[PIC_CAP] = "";
    if (upload) {
        G_set(u.used_temp[u.used_count++], temp);
        stored_pic_name(bare);
        if (Fio_safe_name(bare)) {
            char dir[PIC_PATH_CAP];
            char dest[PIC_PATH_CAP];
            if (!pic_path(dir, nullptr) || !pic_path(dest, bare)) {
                drop_temp(temp);
                return PICTURE_NOT_STORED;
            }
            Cu_mkdir(dir);
            // The move comes before the old picture goes: when it fails, the
            // room keeps its old picture and name instead of naming a file
            // that is not there.
            if (Fio_filemove(temp, dest) != 0) {
                drop_temp(temp);
                return PICTURE_NOT_STORED;
            }
            G_set(new_name, bare);
        } else {
            // A browser name that is only directories (or "." / "..") names
            // no file: the setting is emptied as by its delete box.
            drop_temp(temp);
        }
    }
    G_set(old_name, PIC_CAP, u.names[i]);
    G_set(u.names[i], new_name);
    return PICTURE_NEW;
}

// Notes the picture that may have lost its last setting once the store of
// picture i has answered: stored, the name it replaced; not stored, the new
// name, which the setting never took. Whether it goes is decided at the end.
void settle_picture(SETTINGS_UPDATE& u, int i, const char* old_name, bool stored) {
    const char* name = stored ? old_name : u.names[i];
    if (name[0] == '\0' || u.candidate_count >= PIC_COUNT) return;
    G_set(u.candidate[u.candidate_count++], name);
}

// One dir.cnf setting: update, and add when the key is not there yet.
// Returns the store's result: 0 stored, -9 or -2 refused.
int store_setting(const char* key, const char* value) {
    char v[PIC_CAP];
    G_set(v, value);
    return Fio_DIR_CONFIG_put(ctx.query.FOLDER_NO, key, v, static_cast<int>(sizeof v));
}

// The picture part of the update; its caller holds the room settings lock.
// Reads the current picture names (dir.cnf, and the folder's record afresh
// from tree.mst), moves each fresh upload into place, stores the four picture
// keys and the folder's record (its picture and the room name). Returns 0, or
// the refusal (-9, -2) that ended it (-2 also for an upload that could not be
// put in place).
int store_pictures(SETTINGS_UPDATE& u) {
    const int n = ctx.query.FOLDER_NO;
    int r;
    for (int i = PIC_TITLE; i <= PIC_BACK3; ++i)
        if (Fio_refused(r = Fio_DIR_CONFIG(n, STORE_READ, PIC_FIELD[i], u.names[i]))) return r;
    // The record as it stands now, not as the request read it at its start:
    // another update may have changed the folder's picture meanwhile.
    TREE_DATA folder = ctx.folder;
    r = Fio_TREE_DATA(n, STORE_READ, 1, &folder);
    if (Fio_refused(r)) return r;
    G_set(u.names[PIC_FOLDER], folder.PIC_FILENAME);

    char old_name[PIC_CAP];
    for (int i = PIC_TITLE; i <= PIC_BACK3; ++i) {
        const int a = apply_picture(u, i, old_name);
        if (a == PICTURE_NOT_STORED) return FIO_NO_FILE;
        if (a == PICTURE_AS_BEFORE) continue;
        r = store_setting(PIC_FIELD[i], u.names[i]);
        settle_picture(u, i, old_name, r == FIO_OK);
        if (Fio_refused(r)) return r;
    }

    const int a = apply_picture(u, PIC_FOLDER, old_name);
    if (a == PICTURE_NOT_STORED) return FIO_NO_FILE;
    const bool folder_pic = a == PICTURE_NEW;
    if (folder_pic) G_set(folder.PIC_FILENAME, u.names[PIC_FOLDER]);
    G_set(folder.NAME, u.form.NAME);
    r = Fio_TREE_DATA(n, STORE_UPDATE, 1, &folder);
    if (folder_pic) settle_picture(u, PIC_FOLDER, old_name, r == FIO_OK);
    if (Fio_refused(r)) return r;
    // The form printed next shows the folder as the store holds it (a read
    // that fails leaves the record as the request read it).
    Fio_TREE_DATA(n, STORE_READ, 1, &ctx.folder);
    return FIO_OK;
}

// Removes each noted picture that no setting names, judged against the
// settings as committed: dir.cnf read under the held lock, and the folder's
// picture read afresh from tree.mst. When either cannot be read nothing is
// removed: a picture left over can be found and removed later (velt-admin
// check), a named one removed is lost.
void remove_unnamed_pictures(const SETTINGS_UPDATE& u) {
    if (u.candidate_count == 0) return;
    char named[PIC_COUNT][PIC_CAP];
    std::memset(named, 0, sizeof named);
    for (int i = PIC_TITLE; i <= PIC_BACK3; ++i) {
        const int r = Fio_DIR_CONFIG(ctx.query.FOLDER_NO, STORE_READ, PIC_FIELD[i], named[i]);
        if (r != FIO_OK && r != FIO_NOT_FOUND) return;
    }
    TREE_DATA folder;
    const int r = Fio_TREE_DATA(ctx.query.FOLDER_NO, STORE_READ, 1, &folder);
    if (r != FIO_OK && r != FIO_NOT_FOUND) return;
    if (r == FIO_OK) G_set(named[PIC_FOLDER], folder.PIC_FILENAME);

    for (int c = 0; c < u.candidate_count; ++c) {
        const char* name = u.candidate[c];
        bool in_use = !Fio_safe_name(name);  // could lead out of the picture directory
        for (int i = 0; i < PIC_COUNT; ++i) in_use = in_use || std::strcmp(named[i], name) == 0;
        char path[PIC_PATH_CAP];
        if (!in_use && pic_path(path, name)) Cu_remove(path);
    }
}

// True when room n has a directory (a missing one cannot hold a lock file,
// and an update of it is no matter of waiting).
bool room_exists(int n) {
    char dir[FIO_PATH_MAX];
    return Fio_dir_room(dir, n) == 0 && Cu_get_filelength(dir) >= 0;
}

}  // namespace

// Job SET_CONFIGWR: stores the room settings. Parameters: NAME, INFO,
// TITLEPIC, BACKPIC1-3, PIC_FILENAME and their *_DEL switches, FONTCOLOR1-3,
// FRAMESET1-3. Level: LEVEL_SETTINGS, as the form's (anyone can post to the
// update; below it: b_SET_CONFIG_refused, nothing stored, whether the form is
// complete or not).
int b_SET_CONFIGWR() {
    if (!form_complete()) return SET_CONFIGWR_INCOMPLETE;

    SETTINGS_UPDATE u;
    std::memset(&u, 0, sizeof u);
    SETTINGS_FORM& f = u.form;
    read_form(f);
    G_setStrlength(f.INFO, INFO_KEEP);

    const int32_t n = ctx.query.FOLDER_NO;
    if (Fio_DIR_CONFIG_lock(n, 1) != 0) return room_exists(n) ? FIO_LOCKED : FIO_NO_FILE;
    int r = store_pictures(u);
    remove_unnamed_pictures(u);
    Fio_DIR_CONFIG_lock(n, 2);
    if (Fio_refused(r)) return r;

    r = Fio_INFO_TXT(n, STORE_UPDATE, f.INFO);
    if (r == FIO_NOT_FOUND) r = Fio_INFO_TXT(n, STORE_ADD, f.INFO);
    if (Fio_refused(r)) return r;

    for (int k = 0; k < 3; ++k)
        if (Fio_refused(r = store_setting(FONTCOLOR_KEY[k], f.FONTCOLOR[k]))) return r;
    for (int k = 0; k < 3; ++k)
        if (Fio_refused(r = store_setting(FRAMESET_KEY[k], f.FRAMESET[k]))) return r;
    return FIO_OK;
}
