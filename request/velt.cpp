// The life of one request: the start-up sequence in its fixed order, the
// version page, the gate's refusal pages and the job dispatch.
#include "request/velt.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "access/acl.h"
#include "access/login.h"
#include "access/personal_mst.h"
#include "access/system_log.h"
#include "access/tree_mst.h"
#include "access/user_mst.h"
#include "cgi/cgilib61.h"
#include "chat/chatuser.h"
#include "chat/color.h"
#include "chat/frm221.h"
#include "chat/frm222.h"
#include "chat/frm223.h"
#include "chat/room.h"
#include "live/jobs.h"
#include "live/page.h"
#include "page/context.h"
#include "page/page.h"
#include "page/reply.h"
#include "request/dispatch.h"
#include "roomconf/bg_dl.h"
#include "roomconf/dir_cnf.h"
#include "roomconf/set_config.h"
#include "roomconf/set_configwr.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/datetime.h"
#include "store/fileio.h"
#include "store/text.h"

namespace {

// What a job answers, and so how the entry answers its refusals.
enum JOB_KIND {
    KIND_PAGE,     // an HTML page: the classic error pages and status answers
    KIND_JSON,     // a JSON job of the live view: every refusal in JSON
    KIND_PICTURE,  // the live page's title picture: its own gate, refusals as status answers
};

// The refusals of the entry sequence, each answered in the job's kind.
enum ENTRY_REFUSAL {
    REFUSE_NO_ROOM,       // the folder is not in the tree
    REFUSE_TREE_BUSY,     // the folder tree is being rewritten, or cannot be read
    REFUSE_BAD_KEY,       // the session key (or the picture's token) is not the stored one
    REFUSE_NO_UID,        // no session key and no user id
    REFUSE_LOGIN_FAILED,  // a password login refused
    REFUSE_BUSY,          // a file of the suite stayed locked or could not be read
    REFUSE_NO_ACCESS,     // no access to the room
    REFUSE_TOO_LARGE,     // a body larger than the chat accepts
    REFUSE_CUT,           // a body that ended before its length
};

// Answers refusal r in the kind of the job asked for.
void refuse(int kind, int r) {
    if (kind == KIND_JSON) {
        static const int JSON_OF[] = {LIVE_R_NO_ROOM, LIVE_R_BUSY,      LIVE_R_SESSION,   LIVE_R_SESSION, LIVE_R_SESSION,
                                      LIVE_R_BUSY,    LIVE_R_NO_ACCESS, LIVE_R_TOO_LARGE, LIVE_R_CUT};
        static_assert(std::size(JSON_OF) == REFUSE_CUT + 1, "one JSON refusal each");
        live_refuse(JSON_OF[r]);
        return;
    }
    switch (r) {
        case REFUSE_NO_ROOM:
            G_answer_without_page("404 Not Found", "No such chat room.");
            return;
        case REFUSE_TREE_BUSY:
            G_answer_without_page("503 Service Unavailable", "The chat's folder list is busy; please try again.");
            return;
        case REFUSE_NO_ACCESS:
            G_answer_without_page("403 Forbidden", "You have no access to this chat room.");
            return;
        case REFUSE_TOO_LARGE:
            G_answer_without_page("413 Payload Too Large", "The request is larger than this chat accepts.");
            return;
        case REFUSE_CUT:
            G_answer_without_page("400 Bad Request", "The request arrived incomplete; nothing was stored.");
            return;
        default:
            break;
    }
    if (kind == KIND_PICTURE) {
        if (r == REFUSE_BUSY) {
            G_answer_without_page("503 Service Unavailable", "The chat is busy; please try again.");
        } else {
            G_answer_without_page("401 Unauthorized", "This picture address is no longer valid.");
        }
        return;
    }
    switch (r) {
        case REFUSE_BAD_KEY:
            G_IDerr();
            return;
        case REFUSE_NO_UID:
            G_ErrMessage(G_msg(MSG_NO_UID_TITLE), G_msg(MSG_NO_UID));
            return;
        case REFUSE_LOGIN_FAILED:
            G_ErrMessage(G_msg(MSG_LOGIN_FAILED_TITLE), G_msg(MSG_LOGIN_FAILED));
            return;
        default:
            G_busy_page();
            return;
    }
}

// A body refusal comes before the job is known (the job is in the body):
// it is answered in JSON to a client that accepts JSON (the JSON jobs'
// clients say so in their Accept header), else as a status answer.
int body_refusal_kind() {
    const char* accept = std::getenv("HTTP_ACCEPT");
    return accept != nullptr && std::strstr(accept, "application/json") != nullptr ? KIND_JSON : KIND_PAGE;
}

// Steps 2-3: the site configuration, then the messages of the site's
// language. false when either file is missing; its error page is written
// (before any message is loaded, so with an empty head).
bool load_settings() {
    if (SysFileOpen("zepa.ini", &ctx.config) != 0) {
        G_ErrMessage("zepa.ini", "read failure(file not open)");
        return false;
    }
    if (StrdefFileOpen("velt.lng", ctx.config.LANGUAGE, &ctx.messages) != 0) {
        G_ErrMessage(".lng", "read failure(file not open)");
        return false;
    }
    return true;
}

// Steps 4-6: reads the request and takes the first value of each fixed
// parameter, cut to its field. The one place where the body is bounded and
// checked: a body larger than the forms can need is answered before any of
// it is read, and one that arrived cut off (the client went away) is not
// taken for a request at all, so that no half form is stored, whatever job
// it names; nor is one whose upload the disk refused. false when the answer
// is written.
bool read_parameters() {
    const int r = cgi_get(&ctx.params, static_cast<uint32_t>(ctx.config.ATTACHED_FILE_LIMIT),
                          ctx.config.DATA_FILE_PATH);
    if (r == CGI_TOO_LARGE || r == CGI_CUT) {
        refuse(body_refusal_kind(), r == CGI_TOO_LARGE ? REFUSE_TOO_LARGE : REFUSE_CUT);
        return false;
    }
    if (r == CGI_NOT_STORED) {
        // The disk refused an upload: the store's refusal, whatever the job.
        G_ErrMessage("", G_msg(MSG_NO_CHAT_DATA));
        return false;
    }
    REQUEST_FIELDS& q = ctx.query;
    char buff[40];
    G_param("uid", q.uid);
    G_param("upw", q.upw);
    G_param("JOB", q.JOB);
    G_param("SUB", q.SUB);
    G_param("SKEY1", q.SKEY1);
    G_param("SKEY2", q.SKEY2);
    G_param("help", q.help);
    G_param("FOLDER_NO", buff);
    q.FOLDER_NO = G_atoi(buff);
    return true;
}

// Step 7: needs neither a login nor a folder.
void print_version_page() {
    G_header_printf("");
    out_fmt("ZEPA CHAT-PlugIn version:[%s], OS:[%s]\n", "Ver3.11", "WWW ServerOS Linux(x86)");
    out("</BODY>\n");
    out("</HTML>\n");
}

// Steps 8-10: the requested folder into ctx.folder and the script address
// into ctx.JOB_EXE (CGI_NAME up to its first "?", unless the "?" comes first).
// false when the folder record cannot be read; the answer (in the job's
// kind) is then written:
// a folder that is not in the tree is not found, a tree that is being
// rewritten (or cannot be opened) is worth asking again.
bool load_folder(int kind) {
    const int r = Fio_TREE_DATA(ctx.query.FOLDER_NO, STORE_READ, 1, &ctx.folder);
    if (r == FIO_NOT_FOUND) {
        refuse(kind, REFUSE_NO_ROOM);
        return false;
    }
    if (r != FIO_OK) {
        refuse(kind, REFUSE_TREE_BUSY);
        return false;
    }
    // The folder record keeps its address uncut.
    char address[sizeof ctx.folder.CGI_NAME];
    G_set(address, ctx.folder.CGI_NAME);
    const int q = G_StrFind(address, "?");
    if (q >= 1) address[q] = '\0';
    G_set(ctx.JOB_EXE, address);
    return true;
}

// Step 16: a password login is recorded in the system log and in the user's
// login date and count. A lost record never stops the request; a count that
// cannot be read is not counted on (from nothing it would start again at 1).
void log_login() {
    SYSTEM_LOG entry;
    std::memset(&entry, 0, sizeof entry);
    Tm_set_date(entry.LOG_DATE);
    G_set(entry.USER_ID, ctx.user.USER_ID);
    G_set(entry.USER_NAME, ctx.user.USER_NAME);
    G_set(entry.ACTION, "login");
    const char* addr = std::getenv("REMOTE_ADDR");
    const char* agent = std::getenv("HTTP_USER_AGENT");
    G_set(entry.REMOTE_ADDR, addr ? addr : "");
    G_set(entry.USER_AGENT, agent ? agent : "");
    Fio_SYSTEM_LOG(0, STORE_ADD, &entry);

    char buff[40];
    Tm_set_date(buff);
    Fio_PERSONAL_MST_put(ctx.user.USER_ID, "LAST_LOGIN_DATE", buff);

    std::memset(buff, 0, sizeof buff);
    const int r = Fio_PERSONAL_MST(ctx.user.USER_ID, STORE_READ, "TOTAL_LOGIN_COUNT", buff);
    if (r != FIO_OK && r != FIO_NOT_FOUND) return;
    // The count wraps as the suite's 32-bit counter would, never overflowing.
    std::snprintf(buff, sizeof buff, "%d", static_cast<int32_t>(static_cast<uint32_t>(G_atoi(buff)) + 1u));
    Fio_PERSONAL_MST_put(ctx.user.USER_ID, "TOTAL_LOGIN_COUNT", buff);
}

// Step 12: the user into ctx.user. A user who is no longer in the user
// list but still holds a key file is refused with the session error page:
// otherwise a deleted account would go on reading and posting with the
// folder's default levels. A user list or personal file that stayed locked
// or cannot be read (-9, -2) gets the busy page: the request cannot know
// who is asking, and must neither store under an empty user nor judge his
// access by a level it never read. false when the answer (in the job's kind)
// is written.
bool load_user(int kind) {
    const int r = Fio_USER_MST(ctx.query.uid, STORE_READ, &ctx.user);
    if (r == FIO_OK) return true;
    refuse(kind, r == FIO_NOT_FOUND ? REFUSE_BAD_KEY : REFUSE_BUSY);
    return false;
}

// The room's SHARE_USER_PERMIT as a number (0 when unset) into *value; the
// read's result: 0, or -9 / -2 when the room's settings cannot be read.
int share_switch(int32_t folder_no, int32_t* value) {
    char text[100];
    std::memset(text, 0, sizeof text);
    const int r = Fio_DIR_CONFIG(folder_no, STORE_READ, "SHARE_USER_PERMIT", text);
    *value = G_atoi(text);
    return Fio_refused(r) ? r : FIO_OK;
}

// True when the requested job is exactly `name`.
bool job_is(const char* name) { return std::strcmp(ctx.query.JOB, name) == 0; }

}  // namespace

namespace {

// Step 11 in the job's kind. A JSON job passes by its session key alone: a
// password login would make a new key and so end the user's other pages.
// The live page's title picture passes by its token (see live_picture_token),
// checked against the key the user holds now.
bool gate(int kind, int* password_login) {
    REQUEST_FIELDS& q = ctx.query;
    *password_login = 0;
    if (kind == KIND_PICTURE) {
        char token[LIVE_TOKEN_CAP + 1];
        G_param("T", token);
        MST_SKEY key = {};
        // The key check reads the stored pair whatever it is given; no pair
        // is given here, only the token that names one.
        const int r = q.uid[0] == '\0' ? FIO_NOT_FOUND : G_SkeyChk(q.uid, "", "", &key);
        if (Fio_refused(r)) {
            refuse(kind, REFUSE_BUSY);
            return false;
        }
        char stored[LIVE_TOKEN_CAP] = {};
        if (q.uid[0] != '\0' && key.USER_ID[0] != '\0')
            live_picture_token(key.SKEY1, key.SKEY2, q.FOLDER_NO, stored);
        if (stored[0] == '\0' || std::strcmp(stored, token) != 0) {
            refuse(kind, REFUSE_BAD_KEY);
            return false;
        }
        return true;
    }
    if (kind == KIND_JSON && (q.uid[0] == '\0' || q.SKEY1[0] == '\0' || q.SKEY2[0] == '\0')) {
        refuse(kind, REFUSE_BAD_KEY);
        return false;
    }
    // A password login leaves the user it read in ctx.user; step 12 reads
    // him again either way.
    switch (G_login_gate(q.uid, q.upw, q.SKEY1, q.SKEY2, password_login, &ctx.user)) {
        case LOGIN_PASSED:
            return true;
        case LOGIN_BAD_KEY:
            refuse(kind, REFUSE_BAD_KEY);
            return false;
        case LOGIN_NO_UID:
            refuse(kind, REFUSE_NO_UID);
            return false;
        case LOGIN_BUSY:
            refuse(kind, REFUSE_BUSY);
            return false;
        default:
            refuse(kind, REFUSE_LOGIN_FAILED);
            return false;
    }
}

}  // namespace

bool velt_gate(int* password_login) { return gate(KIND_PAGE, password_login); }

int32_t velt_access_level(int32_t folder_no, int* read_result) {
    int32_t share = 0;
    int r = G_acl_needs_share_switch(ctx.user) ? share_switch(folder_no, &share) : FIO_OK;
    int32_t level = 0;
    // The folder record the entry read is not read again.
    const TREE_DATA* folder = folder_no == ctx.folder.FOLDER_NO && folder_no != 0 ? &ctx.folder : nullptr;
    if (r == FIO_OK) level = G_chk_ACL(ctx.user, folder_no, folder, share, &r);
    if (read_result != nullptr) *read_result = r;
    return r == FIO_OK ? level : 0;
}

void velt_cwrite_response(int r) {
    if (r == FIO_OK) {
        b_FRM223();
    } else {
        G_store_refusal_page(r);
    }
}

namespace {

// The jobs whose handlers take an argument or answer through the dispatch.
void job_bg1() { b_BG_DL(1); }
void job_bg2() { b_BG_DL(2); }
void job_bg3() { b_BG_DL(3); }
void job_bg4() { b_BG_DL(4); }

// The answer to a settings update is the form itself, showing the values just
// stored; a refused store gets the error page instead.
void job_set_configwr() {
    const int r = b_SET_CONFIGWR();
    if (r == SET_CONFIGWR_INCOMPLETE) {
        G_answer_without_page("400 Bad Request", "The settings form arrived incomplete; nothing was stored.");
    } else if (!G_store_refusal_page(r)) {
        b_SET_DIR_CONFIG(ctx.query.FOLDER_NO, &ctx.room);
        b_SET_CONFIG();
    }
}

void job_cwrite() { velt_cwrite_response(b_CWRITE()); }

// A post below the level of writing: nothing is stored.
void job_cwrite_refused() { G_ErrMessage("", G_msg(MSG_NO_RIGHT_TO_WRITE)); }

// One row per job: its whole, case-sensitive name, its handler, the access
// level the job asks for, the answer from LEVEL_OPEN up to that level
// (null: none needed), and its kind, in which the entry answers its
// refusals. Below LEVEL_OPEN no job answers at all: the entry has refused
// such a user before the dispatch. The dispatch checks the level, once; no
// handler checks it again. (LIVE_ASSET, the live page's script and
// stylesheet, is answered before the folder and the gate, as the version
// page is.)
struct JOB_ROW {
    const char* name;
    void (*handler)();
    int32_t min_level;
    void (*below)();
    int kind;
};
const JOB_ROW kJobs[] = {
    {"BG1_DL", job_bg1, LEVEL_OPEN, nullptr, KIND_PAGE},
    {"BG2_DL", job_bg2, LEVEL_OPEN, nullptr, KIND_PAGE},
    {"BG3_DL", job_bg3, LEVEL_OPEN, nullptr, KIND_PAGE},
    {"BG4_DL", job_bg4, LEVEL_OPEN, nullptr, KIND_PAGE},
    {"ROOM", b_ROOM, LEVEL_OPEN, nullptr, KIND_PAGE},
    {"ROOM_IN", b_ROOM_IN, LEVEL_WRITE, b_ROOM, KIND_PAGE},                  // the room, nothing entered
    {"ROOM_OUT", b_ROOM_OUT, LEVEL_WRITE, b_ROOM_without_name, KIND_PAGE},   // the room, nobody left
    {"FRM221", b_FRM221, LEVEL_OPEN, nullptr, KIND_PAGE},
    {"FRM222", b_FRM222, LEVEL_WRITE, b_FRM222_head, KIND_PAGE},             // the frame's head alone
    {"FRM223", b_FRM223, LEVEL_WRITE, b_FRM223_head, KIND_PAGE},             // the frame's head alone
    {"COLOR_SELECT", b_COLOR_SELECT, LEVEL_OPEN, nullptr, KIND_PAGE},
    {"SET_CONFIG", b_SET_CONFIG, LEVEL_SETTINGS, b_SET_CONFIG_refused, KIND_PAGE},
    {"SET_CONFIGWR", job_set_configwr, LEVEL_SETTINGS, b_SET_CONFIG_refused, KIND_PAGE},  // nothing stored
    {"CWRITE", job_cwrite, LEVEL_WRITE, job_cwrite_refused, KIND_PAGE},
    {"LIVE", live_job_page, LEVEL_OPEN, nullptr, KIND_PAGE},                 // without the entry form below writing
    {"LIVE_PICTURE", job_bg4, LEVEL_OPEN, nullptr, KIND_PICTURE},
    {"LIVE_ENTER", live_job_enter, LEVEL_WRITE, live_job_no_right, KIND_JSON},
    {"LIVE_LEAVE", live_job_leave, LEVEL_WRITE, live_job_no_right, KIND_JSON},
    {"LIVE_POLL", live_job_poll, LEVEL_WRITE, live_job_no_right, KIND_JSON},
    {"LIVE_POST", live_job_post, LEVEL_WRITE, live_job_no_right, KIND_JSON},
    {"LIVE_HISTORY", live_job_history, LEVEL_WRITE, live_job_no_right, KIND_JSON},
};

// The row of the requested job, or null.
const JOB_ROW* requested_row() {
    for (const JOB_ROW& row : kJobs)
        if (job_is(row.name)) return &row;
    return nullptr;
}

// Runs the job of row (null: no such job) at the request's level.
void dispatch(const JOB_ROW* row) {
    if (row == nullptr) {
        G_answer_without_page("404 Not Found", "No such page of the chat.");
        return;
    }
    if (ctx.access_level >= row->min_level) {
        row->handler();
    } else if (ctx.access_level >= LEVEL_OPEN && row->below != nullptr) {
        row->below();
    }
}

}  // namespace

void velt_dispatch() { dispatch(requested_row()); }

namespace {

// Steps 7 to 18, once the parameters are read; every way out of here is
// followed by the end step.
void serve_request() {
    if (std::strcmp(ctx.query.help, "ver") == 0) {  // 7
        print_version_page();
        return;
    }

    // The live page's script and stylesheet are the same for everybody.
    if (job_is("LIVE_ASSET")) {
        live_job_asset();
        return;
    }
    const JOB_ROW* row = requested_row();
    const int kind = row != nullptr ? row->kind : KIND_PAGE;
    // The JSON jobs take their fields (the session key among them) from a
    // POST body only, never from an address.
    const char* method = std::getenv("REQUEST_METHOD");
    if (kind == KIND_JSON && (method == nullptr || std::strcmp(method, "POST") != 0)) {
        live_refuse(LIVE_R_NOT_POST);
        return;
    }

    // 8-10: an unreadable folder ends the run with its status answer, before
    // the login, the presence index or the log are touched.
    if (!load_folder(kind)) return;

    int password_login = 0;
    if (!gate(kind, &password_login) || !load_user(kind)) return;  // 11-12: a refusal wrote its page
    int lists = FIO_OK;
    ctx.access_level = velt_access_level(ctx.query.FOLDER_NO, &lists);  // 13: no access, no page
    if (lists != FIO_OK) {
        // The level is unknown: neither "no access" nor the room.
        refuse(kind, REFUSE_BUSY);
        return;
    }
    if (ctx.access_level < LEVEL_OPEN) {
        refuse(kind, REFUSE_NO_ACCESS);
        return;
    }

    if (ctx.user.LANGUAGE[0] != '\0' &&  // 14
        std::strcmp(ctx.user.LANGUAGE, ctx.config.LANGUAGE) != 0)
        StrdefFileOpen("velt.lng", ctx.user.LANGUAGE, &ctx.messages);

    Fio_CHAT_TIMEOUT_TXT(ctx.query.FOLDER_NO, G_msg(MSG_DROPPED));  // 15

    if (G_atoi(ctx.config.LOG_DATE) >= 1 && password_login == 1) log_login();  // 16

    b_SET_DIR_CONFIG(ctx.query.FOLDER_NO, &ctx.room);  // 17
    dispatch(row);                                     // 18
}

}  // namespace

int velt_main() {
    context_clear();  // 1
    // 2-3, 4-6, 7-18: a missing settings file and a refused body are answered.
    if (load_settings() && read_parameters()) serve_request();
    cgi_free(&ctx.params);  // 19: whatever the outcome, uploads go too
    reply_send();           // the one answer, whole
    return 0;
}
