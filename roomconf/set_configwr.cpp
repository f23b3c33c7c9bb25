// The settings update of a room (see set_configwr.h). Settings are stored one
// by one, each store call taking its own lock, in this order: title picture,
// three backgrounds, folder picture and room name, information text, font
// colours, frame sizes.
#include "roomconf/set_configwr.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "page/state.h"
#include "store/text_line.h"
#include "access/tree_mst.h"
#include "cgi/cgilib61.h"
#include "roomconf/dir_cnf.h"
#include "roomconf/info_txt.h"
#include "store/cust.h"
#include "store/fileio.h"
#include "store/groval.h"

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
// names (kept up to date as pictures change, so that a file still named by
// another setting is never removed), and the temporary files already used.
struct SETTINGS_UPDATE {
    SETTINGS_FORM form;
    char names[PIC_COUNT][PIC_CAP];
    char used_temp[PIC_COUNT][UPLOAD_CAP];
    int used_count;
};
SETTINGS_UPDATE sUPDATE;

void read_form(SETTINGS_FORM& f) {
    cgi_getvalue("NAME", 0, f.NAME, sizeof f.NAME);
    cgi_getvalue("INFO", 0, f.INFO, sizeof f.INFO);
    for (int i = 0; i < PIC_COUNT; ++i) {
        cgi_getvalue(PIC_FIELD[i], 0, f.PIC[i], sizeof f.PIC[i]);
        cgi_getvalue(PIC_DEL_FIELD[i], 0, f.PIC_DEL[i], sizeof f.PIC_DEL[i]);
    }
    for (int k = 0; k < 3; ++k) cgi_getvalue(FONTCOLOR_KEY[k], 0, f.FONTCOLOR[k], sizeof f.FONTCOLOR[k]);
    for (int k = 0; k < 3; ++k) cgi_getvalue(FRAMESET_KEY[k], 0, f.FRAMESET[k], sizeof f.FRAMESET[k]);
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
    if (Fio_dir_room(room, cgi_FOLDER_NO) != 0) return false;
    const int len = name ? std::snprintf(out, PIC_PATH_CAP, "%sfcg\\%s", room, name)
                         : std::snprintf(out, PIC_PATH_CAP, "%sfcg", room);
    if (len <= 0 || len >= PIC_PATH_CAP) {
        out[0] = '\0';
        return false;
    }
    return true;
}

// True when temp is a file that the multipart reader of this request wrote
// and that no earlier field of this update has taken. Any other path (a text
// field posing as an upload, a path named twice) is not touched.
bool fresh_upload(const char* temp) {
    if (temp[0] == '\0' || !cgi_is_own_upload(temp)) return false;
    for (int i = 0; i < sUPDATE.used_count; ++i)
        if (std::strcmp(sUPDATE.used_temp[i], temp) == 0) return false;
    char probe[UPLOAD_CAP];
    G_set(probe, temp);
    return Cu_get_filelength(probe) >= 0;
}

void drop_temp(const char* temp) {
    char path[UPLOAD_CAP];
    G_set(path, temp);
    Cu_remove(path);
}

// Removes picture `name` unless another picture setting of the room (other
// than `self`) still names the same file, or the name could lead out of the
// picture directory.
void remove_picture(int self, const char* name) {
    if (!Fio_safe_name(name)) return;
    for (int i = 0; i < PIC_COUNT; ++i)
        if (i != self && std::strcmp(sUPDATE.names[i], name) == 0) return;
    char path[PIC_PATH_CAP];
    if (pic_path(path, name)) Cu_remove(path);
}

// Carries out on disk what picture field i asks for: a fresh upload is moved
// into the picture directory under its bare name (and wins over a ticked
// delete box); otherwise a ticked delete box empties the setting. Returns true
// when names[i] now holds a new value to store, with the previous name in
// old_name (PIC_CAP bytes); false when the setting stays as it was (no
// upload, or the upload could not be put in place).
bool apply_picture(int i, char* old_name) {
    const SETTINGS_FORM& f = sUPDATE.form;
    char bare[PIC_CAP] = "";
    char temp[UPLOAD_CAP] = "";
    bool upload = false;
    if (f.PIC[i][0] != '\0') {
        G_cut_filename(f.PIC[i], bare, temp);
        upload = fresh_upload(temp);
    }
    if (!upload && f.PIC_DEL[i][0] == '\0') return false;

    char new_name[PIC_CAP] = "";
    if (upload) {
        G_set(sUPDATE.used_temp[sUPDATE.used_count++], temp);
        stored_pic_name(bare);
        if (Fio_safe_name(bare)) {
            char dir[PIC_PATH_CAP];
            char dest[PIC_PATH_CAP];
            if (!pic_path(dir, nullptr) || !pic_path(dest, bare)) {
                drop_temp(temp);
                return false;
            }
            Cu_mkdir(dir);
            // The move comes before the old picture goes: when it fails, the
            // room keeps its old picture and name instead of naming a file
            // that is not there.
            if (Fio_filemove(temp, dest) != 0) {
                drop_temp(temp);
                return false;
            }
            G_set(new_name, bare);
        } else {
            // A browser name that is only directories (or "." / "..") names
            // no file: the setting is emptied as by its delete box.
            drop_temp(temp);
        }
    }
    G_set(old_name, PIC_CAP, sUPDATE.names[i]);
    G_set(sUPDATE.names[i], new_name);
    return true;
}

// Ends the change of picture i once its store has answered. Stored: the old
// picture goes, unless it is the new one or another setting still names it.
// Not stored (the file was locked): the setting still names the old picture,
// which therefore stays, and a new picture that nothing names goes.
void settle_picture(int i, const char* old_name, bool stored) {
    if (!stored) {
        char unnamed[PIC_CAP];
        G_set(unnamed, sUPDATE.names[i]);
        G_set(sUPDATE.names[i], old_name);
        if (unnamed[0] != '\0' && std::strcmp(unnamed, old_name) != 0) remove_picture(i, unnamed);
        return;
    }
    if (old_name[0] != '\0' && std::strcmp(old_name, sUPDATE.names[i]) != 0) remove_picture(i, old_name);
}

// One dir.cnf setting: update, and add when the key is not there yet.
// Returns the store's result: 0 stored, -9 or -2 refused.
int store_setting(const char* key, const char* value) {
    char v[PIC_CAP];
    G_set(v, value);
    return Fio_DIR_CONFIG_put(cgi_FOLDER_NO, key, v, static_cast<int>(sizeof v));
}

// A store's answer as the update's: -1 (a key not there) counts as done.
bool refused(int r) { return r == FIO_LOCKED || r == FIO_NO_FILE; }

}  // namespace

// Job SET_CONFIGWR: stores the room settings. Parameters: NAME, INFO,
// TITLEPIC, BACKPIC1-3, PIC_FILENAME and their *_DEL switches, FONTCOLOR1-3,
// FRAMESET1-3. Below level 8 it stores nothing and the form answers with
// MSG_NO_RIGHT_TO_CHANGE, so that level is checked here.
int b_SET_CONFIGWR() {
    // The form is offered to room administrators only; the update asks the
    // same, since anyone can post to it.
    if (ACL_LEVEL <= 7) return 0;

    std::memset(&sUPDATE, 0, sizeof sUPDATE);
    SETTINGS_FORM& f = sUPDATE.form;
    read_form(f);
    G_setStrlength(f.INFO, INFO_KEEP);

    for (int i = PIC_TITLE; i <= PIC_BACK3; ++i) Fio_DIR_CONFIG(cgi_FOLDER_NO, SQL_READ, PIC_FIELD[i], sUPDATE.names[i]);
    G_set(sUPDATE.names[PIC_FOLDER], G_TREE_DATA.PIC_FILENAME);

    char old_name[PIC_CAP];
    int r = 0;
    for (int i = PIC_TITLE; i <= PIC_BACK3; ++i) {
        if (!apply_picture(i, old_name)) continue;
        r = store_setting(PIC_FIELD[i], sUPDATE.names[i]);
        settle_picture(i, old_name, r == 0);
        if (refused(r)) return r;
    }

    const bool folder_pic = apply_picture(PIC_FOLDER, old_name);
    if (folder_pic) G_set(G_TREE_DATA.PIC_FILENAME, sUPDATE.names[PIC_FOLDER]);
    G_set(G_TREE_DATA.NAME, f.NAME);
    sTREE_DATA = G_TREE_DATA;
    r = Fio_TREE_DATA(cgi_FOLDER_NO, SQL_UPDATE, 1);
    if (folder_pic) settle_picture(PIC_FOLDER, old_name, r == 0);
    if (refused(r)) return r;
    // The form printed next shows the folder as the store holds it.
    if (Fio_TREE_DATA(cgi_FOLDER_NO, SQL_READ, 1) == 0) G_TREE_DATA = sTREE_DATA;

    r = Fio_INFO_TXT(cgi_FOLDER_NO, SQL_UPDATE, f.INFO);
    if (r == FIO_NOT_FOUND) r = Fio_INFO_TXT(cgi_FOLDER_NO, SQL_ADD, f.INFO);
    if (refused(r)) return r;

    for (int k = 0; k < 3; ++k)
        if (refused(r = store_setting(FONTCOLOR_KEY[k], f.FONTCOLOR[k]))) return r;
    for (int k = 0; k < 3; ++k)
        if (refused(r = store_setting(FRAMESET_KEY[k], f.FRAMESET[k]))) return r;
    return 0;
}
