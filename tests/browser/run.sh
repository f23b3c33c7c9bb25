#!/usr/bin/env bash
# Runs the browser tests: makes a temporary site with velt-admin (room 100
# with taro the Japanese-reading administrator and hanako for the classic
# frames, room 101 with kenji and mika for the live view), serves it with
# lighttpd on a free loopback port, runs chat.test.mjs and live.test.mjs
# (Playwright driving the distribution's Chromium) and removes the site again.
#   tests/browser/run.sh [BUILD_DIR]      (default: build)
# A failed run leaves its screenshots and console logs in
# BUILD_DIR/browser-failures/ (emptied at the start of every run).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
for need in "$build/velt.cgi" "$build/velt-admin" "$build/velt.lng"; do
    [ -e "$need" ] || { echo "browser tests: missing $need (build first)" >&2; exit 1; }
done
if [ ! -d "$here/node_modules/playwright-core" ]; then
    (cd "$here" && npm ci --no-audit --no-fund)
fi

artifacts="$build/browser-failures"
rm -rf "$artifacts"
site=$(mktemp -d /tmp/velt-browser-XXXXXX)
server=""
cleanup() {
    if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
    rm -rf "$site"
}
trap cleanup EXIT

admin="$build/velt-admin"
"$admin" create-site "$site/cgi-bin" --data "$site/data/" --site-id demo --language english >/dev/null
cp "$build/velt.cgi" "$site/cgi-bin/velt.cgi"
cp "$repo/site/mimemap.txt" "$site/data/mimemap.txt"
"$admin" add-room "$site/cgi-bin" 100 --name "Browser room" --cgi /cgi-bin/velt.cgi --access-level 1 --write-level 1 >/dev/null
"$admin" add-user "$site/cgi-bin" taro --password taro123 --name "Taro Yamada" --level 100 --language japanese >/dev/null
"$admin" add-user "$site/cgi-bin" hanako --password hanako123 --name "Hanako Sato" --level 5 >/dev/null
# The live view's tests (live.test.mjs) have a room and members of their own:
# room 101 with an information text and a title picture, kenji and mika.
"$admin" add-room "$site/cgi-bin" 101 --name "Live room" --cgi /cgi-bin/velt.cgi --access-level 1 --write-level 1 >/dev/null
"$admin" add-user "$site/cgi-bin" kenji --password kenji123 --name "Kenji Mori" --level 5 --color DarkGreen >/dev/null
"$admin" add-user "$site/cgi-bin" mika --password mika123 --name "Mika Ito" --level 5 >/dev/null
printf '<b>Welcome</b> to the live room &amp; its <i>tests</i>.\r\nSecond line.' > "$site/data/101/info.txt"
mkdir -p "$site/data/101/fcg"
# A 24x12 grey PNG.
base64 -d > "$site/data/101/fcg/title.png" <<'PNG'
iVBORw0KGgoAAAANSUhEUgAAABgAAAAMCAIAAAD3UuoiAAAAFUlEQVR4nGNooBJgGDVo1KBRg/ABAE65sBDHRR6WAAAAAElFTkSuQmCC
PNG
printf 'TITLEPIC,title.png,\n' >> "$site/data/101/dir.cnf"
mkdir -p "$site/www"
for room in 100 101; do
    portal=portal.html
    [ $room = 101 ] && portal=portal-live.html
    sed -e "s|@CGI@|/cgi-bin/velt.cgi|g" -e "s|@SITE_ID@|demo|g" -e "s|@FOLDER_NO@|$room|g" -e "s|@LOGINS@||g" \
        "$repo/site/portal.html" > "$site/www/$portal"
done
cp "$repo/site/welcome.html" "$site/www/welcome.html"

# A free loopback port: the first from a per-run start that nobody answers on.
port=""
start=$((20000 + $$ % 20000))
for candidate in $(seq "$start" $((start + 200))); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then port=$candidate; break; fi
done
[ -n "$port" ] || { echo "browser tests: no free port" >&2; exit 1; }
"$repo/scripts/serve.sh" "$site" "$port" &
server=$!
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    kill -0 "$server" 2>/dev/null || { echo "browser tests: lighttpd did not start" >&2; exit 1; }
    sleep 0.1
done

cd "$here"
status=0
# One file at a time: the machine's cores are shared with the server.
VELT_BASE_URL="http://127.0.0.1:$port" VELT_BROWSER_ARTIFACTS="$artifacts" \
    node --test --test-concurrency=1 chat.test.mjs live.test.mjs || status=$?
if [ $status -ne 0 ]; then
    echo "browser tests: FAILED; screenshots and console logs in $artifacts" >&2
    [ -s "$site/lighttpd-error.log" ] && { echo "--- lighttpd error log"; cat "$site/lighttpd-error.log"; } >&2
fi
exit $status
