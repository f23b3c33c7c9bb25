// The life of one request: the request state every page reads, the start-up
// sequence in its fixed order, the version page and the job dispatch.
#include "request/velt.h"

#include <cstdio>
#include <cstring>

#include "cgi/cgilib61.h"
#include "request/dispatch.h"
#include "request/page.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/groval.h"

char cgi_uid[22];
char cgi_upw[22];
char cgi_JOB[128];
char cgi_SUB[256];
char cgi_SKEY1[22];
char cgi_SKEY2[22];
char cgi_help[22];
int32_t cgi_FOLDER_NO;
char JOB_EXE[128];
TREE_DATA G_TREE_DATA;
USER_MST G_USER_MST;
int32_t ACL_LEVEL;
DIR_CONFIG G_DIR_CONFIG;

namespace {

// Step 1: every request field starts empty.
void clear_request_state() {
    std::memset(JOB_EXE, 0, sizeof JOB_EXE);
    std::memset(cgi_uid, 0, sizeof cgi_uid);
    std::memset(cgi_upw, 0, sizeof cgi_upw);
    std::memset(cgi_JOB, 0, sizeof cgi_JOB);
    std::memset(cgi_SUB, 0, sizeof cgi_SUB);
    std::memset(cgi_SKEY1, 0, sizeof cgi_SKEY1);
    std::memset(cgi_SKEY2, 0, sizeof cgi_SKEY2);
    std::memset(cgi_help, 0, sizeof cgi_help);
    cgi_FOLDER_NO = 0;
}

// Steps 2-3: the site configuration, then the messages of the site's
// language. false when either file is missing; its error page is printed
// (before any message is loaded, so with an empty head).
bool load_settings() {
    if (SysFileOpen("zepa.ini") == -1) {
        G_ErrMessage("zepa.ini", "read failure(file not open)");
        return false;
    }
    if (StrdefFileOpen("velt.lng", SYSINFO.LANGUAGE) == -1) {
        G_ErrMessage(".lng", "read failure(file not open)");
        return false;
    }
    return true;
}

// Steps 4-6: reads the request and takes the first value of each fixed
// parameter, cut to its field.
void read_parameters() {
    cgi_get(static_cast<uint32_t>(SYSINFO.ATTACHED_FILE_LIMIT));
    char buff[40];
    cgi_getvalue("uid", 0, cgi_uid, sizeof cgi_uid);
    cgi_getvalue("upw", 0, cgi_upw, sizeof cgi_upw);
    cgi_getvalue("JOB", 0, cgi_JOB, sizeof cgi_JOB);
    cgi_getvalue("SUB", 0, cgi_SUB, sizeof cgi_SUB);
    cgi_getvalue("SKEY1", 0, cgi_SKEY1, sizeof cgi_SKEY1);
    cgi_getvalue("SKEY2", 0, cgi_SKEY2, sizeof cgi_SKEY2);
    cgi_getvalue("help", 0, cgi_help, sizeof cgi_help);
    cgi_getvalue("FOLDER_NO", 0, buff, sizeof buff);
    cgi_FOLDER_NO = G_atoi(buff);
}

// Step 7: needs neither a login nor a folder.
void print_version_page() {
    G_header_printf("");
    std::printf("ZEPA CHAT-PlugIn version:[%s], OS:[%s]\n", "Ver3.11", "WWW ServerOS Linux(x86)");
    std::fputs("</BODY>\n", stdout);
    std::fputs("</HTML>\n", stdout);
}

// True when the requested job is exactly `name`.
bool job_is(const char* name) { return std::strcmp(cgi_JOB, name) == 0; }

}  // namespace

void velt_cwrite_response(int r) {
    switch (r) {
        case 0:
            // b_FRM223(): the message list frame (wired with the list frame).
            break;
        case -1:
            G_ErrMessage("", STRDEF.Message[11]);
            break;
        case -2:
            G_ErrMessage("", STRDEF.Message[12]);
            break;
        case -9:
            G_ErrMessage("", STRDEF.Message[19]);
            break;
        default:
            break;
    }
}

void velt_dispatch() {
    // Each name is compared on its own, in this order; no handler changes
    // cgi_JOB, so at most one row acts. The handlers are wired in as their
    // pages land; until then a row prints nothing.
    if (job_is("BG1_DL")) { /* b_BG_DL(1): background picture of frame 1 */ }
    if (job_is("BG2_DL")) { /* b_BG_DL(2): background picture of frame 2 */ }
    if (job_is("BG3_DL")) { /* b_BG_DL(3): background picture of frame 3 */ }
    if (job_is("BG4_DL")) { /* b_BG_DL(4): title picture */ }
    if (job_is("ROOM")) { /* b_ROOM(): the three-frame page */ }
    if (job_is("ROOM_IN")) { /* b_ROOM(): enter the room, then the frames */ }
    if (job_is("ROOM_OUT")) { /* b_ROOM(): leave the room, then the frames */ }
    if (job_is("FRM221")) { /* b_FRM221(): title frame */ }
    if (job_is("FRM222")) { /* b_FRM222(): input frame */ }
    if (job_is("FRM223")) { /* b_FRM223(): message list frame */ }
    if (job_is("COLOR_SELECT")) { /* b_COLOR_SELECT(): colour palette */ }
    if (job_is("SET_CONFIG")) { /* b_SET_CONFIG(): settings form */ }
    if (job_is("SET_CONFIGWR")) {
        /* b_SET_CONFIGWR(); b_SET_DIR_CONFIG(cgi_FOLDER_NO); b_SET_CONFIG():
           store, reload the settings just written, show the form again */
    }
    if (job_is("CWRITE")) {
        /* velt_cwrite_response(b_CWRITE()): post a line of talk, then the
           list frame or the error page its result names */
    }
}

int velt_main() {
    clear_request_state();                  // 1
    if (!load_settings()) return 0;         // 2-3: nothing parsed, nothing to free
    read_parameters();                      // 4-6

    if (std::strcmp(cgi_help, "ver") == 0) {  // 7
        print_version_page();
    } else {
        // 8-10: Fio_TREE_DATA(cgi_FOLDER_NO, 1, 1) into G_TREE_DATA, JOB_EXE
        //       from its CGI_NAME cut at "?"; when unreadable, return 0 at
        //       once (nothing written, no cgi_free).
        // 11:   login gate; a refusal has printed its page: go to the end.
        // 12:   Fio_USER_MST(cgi_uid, 1) into G_USER_MST.
        // 13:   ACL_LEVEL = G_chk_ACL(cgi_FOLDER_NO); below 1, return 0 at
        //       once (nothing written, no cgi_free).
        // 14:   the user's own language, when set and not the site's.
        // 15:   Fio_CHAT_TIMEOUT_TXT(cgi_FOLDER_NO): presence sweep.
        // 16:   login logging after a password login, when LOG_DATE >= 1.
        // 17:   b_SET_DIR_CONFIG(cgi_FOLDER_NO): room settings.
        velt_dispatch();                    // 18
    }

    cgi_free();                             // 19
    return 0;
}
