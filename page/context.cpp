// The request context's storage and its clearing (see context.h).
#include "page/context.h"

#include <cstring>

#include "page/reply.h"

// The one request of this process: filled by the entry sequence, read by the
// handlers, cleared by context_clear.
REQUEST_CONTEXT ctx;

void context_clear() {
    cgi_free(&ctx.params);
    // The message table is large: only its index is cleared, its texts'
    // room is left as it is (its loader replaces the table whole).
    strdef_clear(&ctx.messages);
    std::memset(&ctx.config, 0, sizeof ctx.config);
    std::memset(&ctx.params, 0, sizeof ctx.params);
    std::memset(&ctx.query, 0, sizeof ctx.query);
    std::memset(ctx.JOB_EXE, 0, sizeof ctx.JOB_EXE);
    std::memset(&ctx.folder, 0, sizeof ctx.folder);
    std::memset(&ctx.user, 0, sizeof ctx.user);
    ctx.access_level = 0;
    std::memset(&ctx.room, 0, sizeof ctx.room);
    reply_reset();
}

void G_param(const char* name, char* out, int cap) { cgi_getvalue(&ctx.params, name, 0, out, cap); }
