#!/usr/bin/env bash
# Installs the packages the build and the tests need, and only those missing:
# the compiler, CMake, GoogleTest, faketime (shifted clocks in end-to-end
# tests), the three web servers the HTTP tests serve the chat through
# (lighttpd, which the demo uses too; Apache; nginx with fcgiwrap), and for the
# browser tests Node.js, Chromium and a Japanese font (readable screenshots);
# nlohmann-json (header-only) for the JSON answers of the live view.
# iconv comes with libc-bin.
# Runs as root (no sudo needed) or as a user with sudo. When another program
# holds the package manager's lock, it waits for it, up to ten minutes.
set -euo pipefail

wanted=(g++ cmake libgtest-dev nlohmann-json3-dev faketime lighttpd apache2 nginx fcgiwrap libc-bin nodejs chromium fonts-ipafont-gothic)
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
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "install-deps: not root and no sudo; install as root: apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo)
fi

# How long to wait for another package manager (an unattended upgrade, a
# second developer's install) to let go of its lock.
lock_wait=${VELT_APT_LOCK_WAIT:-600}
deadline=$((SECONDS + lock_wait))
locks=(/var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock /var/cache/apt/archives/lock)

# Waits while some process holds one of the package manager's locks (fuser
# tells that a file is open; where psmisc is missing, the retries below wait
# instead). False when the deadline passes first.
wait_for_locks() {
  command -v fuser >/dev/null 2>&1 || return 0
  local said=0
  while "${as_root[@]}" fuser "${locks[@]}" >/dev/null 2>&1; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "install-deps: the package manager is still busy after ${lock_wait}s; giving up" >&2
      return 1
    fi
    [ "$said" -eq 1 ] || echo "install-deps: waiting for another package manager to finish ..."
    said=1
    sleep 5
  done
}

# One apt-get step. apt-get waits for the dpkg lock itself
# (DPkg::Lock::Timeout), but "apt-get update" does not wait for the lists
# lock: a step that failed on a lock is tried again until the deadline; any
# other failure ends the script.
apt() {
  local err
  err=$(mktemp)
  while :; do
    wait_for_locks || break
    if "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get -o DPkg::Lock::Timeout="$((deadline > SECONDS ? deadline - SECONDS : 0))" "$@" 2> >(tee "$err" >&2); then
      rm -f "$err"
      return 0
    fi
    sleep 1  # lets tee finish writing $err
    if ! grep -qi "lock" "$err" || [ "$SECONDS" -ge "$deadline" ]; then
      break
    fi
    echo "install-deps: apt-get $1 met a held lock; trying again"
    sleep 5
  done
  rm -f "$err"
  echo "install-deps: apt-get $1 failed" >&2
  return 1
}

# The web servers are installed for the tests, which start their own on
# free ports: their packages must not start the system services (on port 80,
# where one of them may fail and fail the install). Where the machine has no
# policy of its own, one that denies every service start is in place for the
# install and removed after it.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\n# Placed by install-deps.sh for the time of its install.\nexit 101\n' |
    "${as_root[@]}" tee "$policy" >/dev/null
  "${as_root[@]}" chmod 0755 "$policy"
  trap '"${as_root[@]}" rm -f "$policy"' EXIT
fi

apt update
apt install -y "${missing[@]}"
