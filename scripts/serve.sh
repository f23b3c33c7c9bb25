#!/usr/bin/env bash
# Serves a chat site on 127.0.0.1 in the foreground through one of the three
# web servers whose configurations the tree keeps (site/lighttpd.conf,
# site/apache.conf, site/nginx.conf with fcgiwrap), each used as it stands
# with /srv/zepa replaced by the site and port 80 by PORT:
#   scripts/serve.sh [--server lighttpd|apache|nginx] SITE_ROOT PORT
# SITE_ROOT holds www/ (the static pages) and cgi-bin/ (velt.cgi with its
# zepa.ini and velt.lng), and gets the server's own files (configuration,
# pid, logs) in SITE_ROOT/<server>/. Nothing outside SITE_ROOT is written and
# no privileges are needed. Run as root, the servers (and so the program)
# run as www-data, which is given the site, as on a real installation.
# fcgiwrap gets VELT_FCGIWRAP_CHILDREN children (default 64): each waiting
# poll of the live view holds one.
# Stops its server with SIGTERM or Ctrl-C; exits non-zero when the server
# cannot be started.
set -euo pipefail

server=lighttpd
if [ "${1:-}" = "--server" ]; then
    server=${2:-}
    shift 2
fi
if [ $# -ne 2 ]; then
    echo "usage: $0 [--server lighttpd|apache|nginx] SITE_ROOT PORT" >&2
    exit 2
fi
repo=$(cd "$(dirname "$0")/.." && pwd)
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

# A server program by name, also where /usr/sbin is not on the PATH.
find_bin() {
    command -v "$1" 2>/dev/null || { [ -x "/usr/sbin/$1" ] && echo "/usr/sbin/$1"; } || true
}
need_bin() {
    local bin
    bin=$(find_bin "$1")
    if [ -z "$bin" ]; then
        echo "serve.sh: $1 is not installed (scripts/install-deps.sh installs it)" >&2
        exit 1
    fi
    echo "$bin"
}

run_dir="$root/$server"
mkdir -p "$run_dir"
user=""
[ "$(id -u)" -eq 0 ] && user=www-data

# The tree's configuration for this site: the site's paths, the port, and the
# server's log and socket paths inside the site.
site_conf() {
    sed -e "s|/srv/zepa|$root|g" -e "s|\*:80>|*:$port>|" -e "s|listen 80;|listen 127.0.0.1:$port;|" \
        -e "s|/var/log/nginx|$run_dir|g" -e "s|/var/log/lighttpd|$run_dir|g" \
        -e "s|unix:/run/fcgiwrap.socket|unix:$run_dir/fcgiwrap.socket|" "$repo/site/$1"
}

cmd=()
helper=()
case "$server" in
lighttpd)
    bin=$(need_bin lighttpd)
    site_conf lighttpd.conf > "$run_dir/velt.conf"
    cat > "$run_dir/lighttpd.conf" <<CONF
server.modules = ( "mod_access", "mod_alias" )
server.bind = "127.0.0.1"
server.port = $port
server.document-root = "$root/www"
server.errorlog = "$run_dir/error.log"
server.pid-file = "$run_dir/lighttpd.pid"
${user:+server.username = \"$user\"}
${user:+server.groupname = \"$user\"}
index-file.names = ( "portal.html" )
mimetype.assign = ( ".html" => "text/html", ".css" => "text/css", ".gif" => "image/gif", ".png" => "image/png", ".jpg" => "image/jpeg" )
include "$run_dir/velt.conf"
CONF
    cmd=("$bin" -D -f "$run_dir/lighttpd.conf")
    ;;
apache)
    bin=$(need_bin apache2)
    mods=/usr/lib/apache2/modules
    site_conf apache.conf > "$run_dir/velt.conf"
    cat > "$run_dir/apache2.conf" <<CONF
ServerRoot "$run_dir"
DefaultRuntimeDir "$run_dir"
PidFile "$run_dir/apache2.pid"
ErrorLog "$run_dir/error.log"
ServerName 127.0.0.1
Listen 127.0.0.1:$port
${user:+User $user}
${user:+Group $user}
LoadModule mpm_event_module $mods/mod_mpm_event.so
LoadModule authz_core_module $mods/mod_authz_core.so
LoadModule alias_module $mods/mod_alias.so
LoadModule cgid_module $mods/mod_cgid.so
LoadModule dir_module $mods/mod_dir.so
LoadModule mime_module $mods/mod_mime.so
ScriptSock "$run_dir/cgid.sock"
TypesConfig /dev/null
AddType text/html .html
Define APACHE_LOG_DIR "$run_dir"
Include "$run_dir/velt.conf"
CONF
    cmd=("$bin" -f "$run_dir/apache2.conf" -DFOREGROUND)
    ;;
nginx)
    bin=$(need_bin nginx)
    fcgiwrap=$(need_bin fcgiwrap)
    site_conf nginx.conf > "$run_dir/velt.conf"
    cat > "$run_dir/nginx.conf" <<CONF
daemon off;
pid $run_dir/nginx.pid;
error_log $run_dir/error.log;
${user:+user $user;}
events { worker_connections 512; }
http {
    include /etc/nginx/mime.types;
    default_type application/octet-stream;
    client_body_temp_path $run_dir/body;
    fastcgi_temp_path $run_dir/fastcgi;
    proxy_temp_path $run_dir/proxy;
    uwsgi_temp_path $run_dir/uwsgi;
    scgi_temp_path $run_dir/scgi;
    include $run_dir/velt.conf;
}
CONF
    # The site's "include fastcgi_params" finds the installed one beside it.
    cp /etc/nginx/fastcgi_params "$run_dir/fastcgi_params"
    rm -f "$run_dir/fcgiwrap.socket"
    # Each waiting poll of the live view holds one fcgiwrap child.
    children=(-c "${VELT_FCGIWRAP_CHILDREN:-64}")
    if [ -n "$user" ]; then
        helper=(setpriv --reuid="$user" --regid="$user" --clear-groups "$fcgiwrap" "${children[@]}" -s "unix:$run_dir/fcgiwrap.socket")
    else
        helper=("$fcgiwrap" "${children[@]}" -s "unix:$run_dir/fcgiwrap.socket")
    fi
    cmd=("$bin" -e "$run_dir/error.log" -p "$run_dir/" -c "$run_dir/nginx.conf")
    ;;
*)
    echo "serve.sh: unknown server $server (lighttpd, apache or nginx)" >&2
    exit 2
    ;;
esac

# The program runs as the server's user, which must own the data it writes.
[ -n "$user" ] && chown -R "$user:$user" "$root"

pids=()
stop() {
    trap - TERM INT EXIT
    [ ${#pids[@]} -gt 0 ] && kill "${pids[@]}" 2>/dev/null
    wait 2>/dev/null
}
trap 'stop; exit 0' TERM INT
trap stop EXIT
if [ ${#helper[@]} -gt 0 ]; then
    "${helper[@]}" &
    pids+=($!)
fi
"${cmd[@]}" &
pids+=($!)
wait "${pids[-1]}"
