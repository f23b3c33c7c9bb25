#!/usr/bin/env bash
# Installs the build into a temporary prefix (cmake --install) and checks
# every file it must put there, then makes a site with the installed tool
# alone and asks the installed program for its version page.
#   tests/install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
prefix=$(mktemp -d /tmp/velt-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null

status=0
for f in bin/velt-admin libexec/velt/velt.cgi share/velt/velt.lng \
         share/velt/site/zepa.ini share/velt/site/mimemap.txt share/velt/site/portal.html \
         share/velt/site/welcome.html share/velt/site/apache.conf share/velt/site/lighttpd.conf \
         share/velt/site/nginx.conf share/doc/velt/README.md share/doc/velt/operating.md \
         share/doc/velt/velt-admin.md share/doc/velt/live.md; do
  if [ ! -s "$prefix/$f" ]; then
    echo "install_test: $f is missing or empty" >&2
    status=1
  fi
done
for f in bin/velt-admin libexec/velt/velt.cgi; do
  [ -x "$prefix/$f" ] || { echo "install_test: $f is not executable" >&2; status=1; }
done
cmp -s "$build/velt.lng" "$prefix/share/velt/velt.lng" || { echo "install_test: velt.lng differs" >&2; status=1; }
[ $status -eq 0 ] || exit 1

# The installed tool finds the installed message file by itself.
site="$prefix/site"
"$prefix/bin/velt-admin" create-site "$site/cgi-bin" --data "$site/data" >/dev/null
cp "$prefix/libexec/velt/velt.cgi" "$site/cgi-bin/"
page=$(cd "$site/cgi-bin" && QUERY_STRING=help=ver REQUEST_METHOD=GET ./velt.cgi)
case "$page" in
  *"ZEPA CHAT-PlugIn version:[Ver3.11]"*) ;;
  *) echo "install_test: the installed program gave no version page: $page" >&2; exit 1 ;;
esac
echo "install_test: every file in place; the installed tool and program work"
