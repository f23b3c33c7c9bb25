// Hidden fields of the program's forms (see form.h).
#include "page/form.h"

#include "page/context.h"
#include "page/escape.h"
#include "page/reply.h"

void G_hidden(const char* name, const char* value) {
    out_fmt("<INPUT TYPE=\"hidden\" name=\"%s\" value=\"", name);
    out_html(value);
    out("\">\n");
}

void G_hidden_int(const char* name, int value) {
    out_fmt("<INPUT TYPE=\"hidden\" name=\"%s\" value=\"%d\">\n", name, value);
}

void G_hidden_credentials() {
    G_hidden("SKEY1", ctx.query.SKEY1);
    G_hidden("SKEY2", ctx.query.SKEY2);
    G_hidden("uid", ctx.query.uid);
}

void G_hidden_fields(const char* job) {
    G_hidden_credentials();
    G_hidden_int("FOLDER_NO", ctx.query.FOLDER_NO);
    G_hidden("JOB", job);
}

std::string G_key_query(KEY_ORDER order) {
    const std::string keys = "SKEY1=" + G_url(ctx.query.SKEY1) + "&SKEY2=" + G_url(ctx.query.SKEY2);
    const std::string uid = "uid=" + G_url(ctx.query.uid);
    return order == UID_FIRST ? uid + "&" + keys : keys + "&" + uid;
}
