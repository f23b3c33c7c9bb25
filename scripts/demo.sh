#!/usr/bin/env bash
# Starts the chat for real: builds the program, creates a fresh demo site with
# one room and two users, and serves it through lighttpd on 127.0.0.1 with a
# small portal page that stands in for the groupware suite (it opens the room
# in the classic frames or in the live view).
#   scripts/demo.sh
# VELT_BUILD_DIR (default build), VELT_DEMO_DIR (default build/demo) and
# VELT_DEMO_PORT (default: the first free port from 8080) override the build
# directory, the site directory and the port.
# Stop it with Ctrl-C.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${VELT_BUILD_DIR:-$repo/build}
demo=${VELT_DEMO_DIR:-$build/demo}
site_id=demo
folder=100

if ! command -v lighttpd >/dev/null 2>&1 && [ ! -x /usr/sbin/lighttpd ] ||
   ! command -v cmake >/dev/null 2>&1 || ! command -v g++ >/dev/null 2>&1; then
    echo "Installing the build tools and lighttpd ..."
    "$repo/scripts/install-deps.sh"
fi

echo "Building ..."
cmake -S "$repo" -B "$build" >/dev/null
cmake --build "$build" -j2 --target velt_cgi velt_admin velt_lng >/dev/null

admin="$build/velt-admin"
echo "Creating the demo site in $demo ..."
rm -rf "$demo"
mkdir -p "$demo/www"
"$admin" create-site "$demo/cgi-bin" --data "$demo/data/" --site-id "$site_id" --language english
cp "$build/velt.cgi" "$demo/cgi-bin/velt.cgi"
# The content types of the room's pictures (title and backgrounds).
cp "$repo/site/mimemap.txt" "$demo/data/mimemap.txt"
"$admin" add-room "$demo/cgi-bin" "$folder" --name "Demo room" --cgi /cgi-bin/velt.cgi \
    --access-level 1 --write-level 1
# taro is a system administrator (level 100): he also gets the room settings.
"$admin" add-user "$demo/cgi-bin" taro --password taro123 --name "Taro Yamada" --level 100 --color Navy
"$admin" add-user "$demo/cgi-bin" hanako --password hanako123 --name "Hanako Sato" --level 5 --color DarkRed

logins="taro / taro123<br>hanako / hanako123"
sed -e "s|@CGI@|/cgi-bin/velt.cgi|g" -e "s|@SITE_ID@|$site_id|g" -e "s|@FOLDER_NO@|$folder|g" \
    -e "s|@LOGINS@|$logins|g" "$repo/site/portal.html" > "$demo/www/portal.html"
# The chat frame's first page: an error page's OK button goes back to it.
cp "$repo/site/welcome.html" "$demo/www/welcome.html"

# A free port on the loopback address: the first one nobody answers on.
port=${VELT_DEMO_PORT:-}
if [ -z "$port" ]; then
    for candidate in $(seq 8080 8180); do
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
            port=$candidate
            break
        fi
    done
fi
if [ -z "$port" ]; then
    echo "demo.sh: no free port between 8080 and 8180 (set VELT_DEMO_PORT)" >&2
    exit 1
fi

cat <<INFO

The chat is served at   http://127.0.0.1:$port/
Demo logins (user id / password):
    taro   / taro123     (may also change the room's settings)
    hanako / hanako123
Log in on the portal page, with "Open the room" for the classic frames or
"Open the live view" for the room's live view (docs/live.md); open a second
browser (or a private window) for the other user, in either view. Stop the
server with Ctrl-C.

INFO
exec "$repo/scripts/serve.sh" "$demo" "$port"
