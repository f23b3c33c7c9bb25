// The entry sequence of one request: it empties and fills the request context
// (page/context.h), passes the login gate and the access check, dispatches,
// and sends the reply (page/reply.h), the request's one answer.
#pragma once
#include <cstdint>

// The login gate on the request's fields; a refusal writes its page (the
// session error page for a bad key, MSG_NO_UID_TITLE and MSG_NO_UID without a
// uid, MSG_LOGIN_FAILED_TITLE and MSG_LOGIN_FAILED for a refused login, the
// busy page when a file the gate needed stayed locked or could not be read or
// written). Returns true passed (*password_login as the gate sets it), false
// refused.
bool velt_gate(int* password_login);

// The current user's (ctx.user) access level on folder_no, reading the
// room's shared-account switch when the check needs it (see G_chk_ACL).
// *read_result (when given) gets 0, or the -9 / -2 of a file the check could
// not read (the switch, a list, the folder tree); the level is then 0 and
// means nothing.
int32_t velt_access_level(int32_t folder_no, int* read_result = nullptr);

// Handles a request from the environment and standard input, starting from
// an empty context; its reply goes to standard output. Returns 0 always.
int velt_main();
