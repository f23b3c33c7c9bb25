#!/usr/bin/env bash
# Serves a chat site with lighttpd on 127.0.0.1 in the foreground:
#   scripts/serve.sh SITE_ROOT PORT
# SITE_ROOT holds www/ (the static pages) and cgi-bin/ (velt.cgi with its
# zepa.ini and velt.lng); the CGI is reached as /cgi-bin/velt.cgi and runs in
# cgi-bin/, where it finds its configuration. The generated configuration is
# SITE_ROOT/lighttpd.conf; the server's own log is SITE_ROOT/lighttpd-error.log.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 SITE_ROOT PORT" >&2
    exit 2
fi
root=$(cd "$1" && pwd)
port=$2
case "$port" in
    ''|*[!0-9]*) echo "serve.sh: port must be a number: $port" >&2; exit 2 ;;
esac
for need in "$root/www" "$root/cgi-bin/velt.cgi" "$root/cgi-bin/zepa.ini" "$root/cgi-bin/velt.lng"; do
    if [ ! -e "$need" ]; then
        echo "serve.sh: missing $need" >&2
        exit 1
    fi
done

lighttpd_bin=$(command -v lighttpd || true)
[ -z "$lighttpd_bin" ] && [ -x /usr/sbin/lighttpd ] && lighttpd_bin=/usr/sbin/lighttpd
if [ -z "$lighttpd_bin" ]; then
    echo "serve.sh: lighttpd is not installed (scripts/install-deps.sh installs it)" >&2
    exit 1
fi

conf="$root/lighttpd.conf"
cat > "$conf.tmp" <<CONF
server.modules = ( "mod_access", "mod_alias", "mod_cgi" )
server.bind = "127.0.0.1"
server.port = $port
server.document-root = "$root/www"
server.errorlog = "$root/lighttpd-error.log"
index-file.names = ( "portal.html" )
mimetype.assign = ( ".html" => "text/html", ".css" => "text/css", ".gif" => "image/gif", ".png" => "image/png", ".jpg" => "image/jpeg" )
alias.url = ( "/cgi-bin/" => "$root/cgi-bin/" )
\$HTTP["url"] =~ "^/cgi-bin/" {
    cgi.assign = ( ".cgi" => "" )
    # Only the program itself is served from here: its configuration names the
    # data directory and must not be readable over the web.
    url.access-deny = ( ".ini", ".lng", ".txt", "~" )
}
CONF
mv "$conf.tmp" "$conf"
exec "$lighttpd_bin" -D -f "$conf"
