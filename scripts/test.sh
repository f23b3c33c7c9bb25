#!/usr/bin/env bash
# Builds and runs every test twice: a normal build in build/ and a build with
# AddressSanitizer and UBSan in build-asan/ (unit, end-to-end and browser
# tests; both builds take warnings as errors; a failed browser run leaves its
# screenshots in the build directory's browser-failures/). Exits non-zero
# when anything fails to build or any test fails. VELT_BUILD names another
# build directory (its sanitized twin gets "-asan" appended); JOBS sets the
# parallel jobs.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh || { echo "test.sh: installing the dependencies failed" >&2; exit 1; }
# Playwright for the browser tests, exactly as the lock file has it.
(cd tests/browser && npm ci --no-audit --no-fund) || { echo "test.sh: npm ci for the browser tests failed" >&2; exit 1; }

build=${VELT_BUILD:-build}
jobs=${JOBS:-2}
status=0

run_suite() {
  local dir=$1; shift
  echo "== $dir"
  if ! cmake -S . -B "$dir" "$@" >/dev/null; then
    echo "test.sh: configuring $dir failed" >&2
    return 1
  fi
  if ! cmake --build "$dir" -j"$jobs"; then
    echo "test.sh: building $dir failed" >&2
    return 1
  fi
  (cd "$dir" && ctest --output-on-failure)
}

# Both builds take every warning, -Wformat=2 and -Wshadow included, as an error.
run_suite "$build" -DVELT_WERROR=ON || status=1
run_suite "$build-asan" -DVELT_SANITIZE=ON -DVELT_WERROR=ON || status=1

if [ $status -eq 0 ]; then
  echo "test.sh: all tests passed (normal and sanitized builds)"
else
  echo "test.sh: FAILED" >&2
fi
exit $status
