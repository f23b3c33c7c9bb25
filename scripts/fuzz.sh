#!/usr/bin/env bash
# Fuzzes every parser for a while: configures build-fuzz/ with clang and
# VELT_FUZZ=ON, builds the libFuzzer targets of tests/fuzz and runs each for
# the given seconds (default 60) on its seed corpus. New inputs go to a
# scratch directory, never into the tree; a crash leaves its input in
# build-fuzz/fuzz/artifacts/. Prints one line per target and always exits 0:
# it informs, it is no gate (the test command only replays the corpora).
# FUZZ_JOBS sets the build's parallel jobs (default 2).
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
jobs=${FUZZ_JOBS:-2}
dir=build-fuzz

need=()
command -v clang++ >/dev/null 2>&1 || need+=(clang libclang-rt-dev)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
# libFuzzer's runtime comes with clang's compiler-rt package: probe a link.
if command -v clang++ >/dev/null 2>&1 &&
   ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
     clang++ -x c++ -fsanitize=fuzzer - -o /dev/null >/dev/null 2>&1; then
  need+=(libclang-rt-dev)
fi
if [ ${#need[@]} -gt 0 ]; then
  echo "fuzz.sh: installing ${need[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  { $sudo apt-get update && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${need[@]}"; } >/dev/null ||
    { echo "fuzz.sh: could not install ${need[*]}; nothing fuzzed"; exit 0; }
fi

if ! CXX=clang++ cmake -S . -B "$dir" -DVELT_FUZZ=ON -DVELT_TESTS=OFF >/dev/null ||
   ! cmake --build "$dir" --target velt_fuzzers -j"$jobs" >/dev/null; then
  echo "fuzz.sh: the fuzz build failed; nothing fuzzed"
  exit 0
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/velt-fuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# The targets' own scratch files (uploads, read files) go there too, so that
# a target that stops on a fault leaves nothing behind in the system's /tmp.
export TMPDIR="$scratch"
mkdir -p "$dir/fuzz/artifacts"
found=0
for fuzzer in "$dir"/fuzz/*_fuzz; do
  name=$(basename "$fuzzer" _fuzz)
  mkdir -p "$scratch/$name"
  log="$dir/fuzz/$name.log"
  # The scratch directory first: libFuzzer writes new inputs into the first
  # corpus directory it is given and only reads the others.
  "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$dir/fuzz/artifacts/${name}-" \
    "$scratch/$name" "tests/fuzz/corpus/$name" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  new=$(find "$scratch/$name" -type f | wc -l)
  if [ $rc -eq 0 ]; then
    echo "fuzz.sh: $name: ok, ${runs:-?} runs in ${seconds}s, ${cov:-cov: ?}, $new new inputs"
  else
    found=1
    crash=$(ls -t "$dir/fuzz/artifacts/${name}-"* 2>/dev/null | head -1)
    echo "fuzz.sh: $name: FAULT (exit $rc) after ${runs:-?} runs; input ${crash:-none}; log $log"
  fi
done
[ $found -eq 0 ] && echo "fuzz.sh: no fault found" || echo "fuzz.sh: faults found (see above)"
exit 0
