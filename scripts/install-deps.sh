#!/usr/bin/env bash
# Installs the packages the build and the tests need, and only those missing:
# the compiler, CMake, GoogleTest, faketime (shifted clocks in end-to-end
# tests), lighttpd (the demo web server), and for the browser tests Node.js,
# Chromium and a Japanese font (readable screenshots). iconv comes with libc-bin.
set -euo pipefail

wanted=(g++ cmake libgtest-dev faketime lighttpd libc-bin nodejs chromium fonts-ipafont-gothic)
missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
