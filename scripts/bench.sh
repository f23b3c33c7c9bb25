#!/usr/bin/env bash
# Measures what a request of the chat costs against the cost of starting a
# process: a benchmark, never a test (nothing here fails on speed).
#   scripts/bench.sh [--runs N] [--parts LIST] [--duration S] [--connections N]
#                    [--sizes LIST] [--members LIST] [--keep] [--cgi PATH]
#                    [--anyway] [--no-profile] [--poll] [--compare PATH]
#
#   --runs N          rounds of the spawn measurement (default 101); every
#                     round starts each program once, interleaved (the posts
#                     into 10,000 records and more, and their floor, only
#                     every 4th round), and the table shows medians
#   --parts LIST      comma-separated, any of: requests (reloads and room
#                     entry), posts (posts and the bare-rewrite floor), http
#                     (lighttpd + wrk throughput), live (the live view's long
#                     polls through lighttpd, about 4 minutes); default
#                     requests,posts,http.
#                     The static hello is measured in every spawn round.
#   --duration S      seconds of each wrk run (default 10)
#   --connections N   wrk connections (default 32)
#   --sizes LIST      records in the rooms posted into (default 100,1000,10000,100000)
#   --members LIST    members in the presence index for the reloads (default 20,200,2000)
#   --keep            keep the temporary site (its path is printed)
#   --cgi PATH        measure this build of velt.cgi (an earlier commit's, to
#                     compare) instead of the one built here
#   --anyway          measure even when the load average is above 1.0 (the
#                     table is then marked: loaded machine, figures not
#                     comparable); without it such a machine gets no verdict
#   --no-profile      skip the run of every request under callgrind (the
#                     instruction counts)
#   --poll            also the live view's poll (JOB=LIVE_POLL) that answers
#                     lines; it is measured anyway when the program answers it
#   --compare PATH    also measures the velt.cgi at PATH (an earlier build) on
#                     the same rooms in the same interleaved rounds, each of
#                     its rows marked "(compared build)": before and after
#                     from one run, whatever the machine's load does meanwhile
#
# For every request the table gives the median wall time, the median CPU time
# (user and system, from wait4) and page faults (minor and major) of the
# program's runs, and the instructions of one run under valgrind's callgrind
# (which no other load disturbs; with --keep the profiles stay in the site's
# work/profiles for callgrind_annotate), each beside the hello's.
#
# Builds (in VELT_BUILD_DIR, default build/, with -DVELT_BENCH=ON) velt.cgi,
# velt-admin and the benchmark's programs in bench/: a static hello CGI, the
# bare-rewrite floor and the spawn harness velt-bench. Makes a temporary site
# under /tmp with velt-admin, logs a member in once with a password, enters
# and posts for real, and makes the large room files by copying the real
# records. Installs lighttpd, wrk and valgrind from the distribution when
# missing.
# Everything is served on 127.0.0.1 only. Takes 2 to 3 minutes with the
# defaults on a 2-core machine (plus the first build).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${VELT_BUILD_DIR:-$repo/build}

runs=101
parts=requests,posts,http
duration=10
connections=32
sizes=100,1000,10000,100000
members=20,200,2000
keep=0
cgi_program=""
anyway=0
profile=1
poll=0
compare_program=""
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=$2; shift 2 ;;
        --parts) parts=$2; shift 2 ;;
        --duration) duration=$2; shift 2 ;;
        --connections) connections=$2; shift 2 ;;
        --sizes) sizes=$2; shift 2 ;;
        --members) members=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        --cgi) cgi_program=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
        --anyway) anyway=1; shift ;;
        --no-profile) profile=0; shift ;;
        --poll) poll=1; shift ;;
        --compare) compare_program=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
        -h|--help) awk 'NR > 1 && !/^#/ {exit} NR > 1 {sub(/^# ?/, ""); print}' "$0"; exit 0 ;;
        *) echo "bench.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done
for n in "$runs" "$duration" "$connections" ${sizes//,/ } ${members//,/ }; do
    case "$n" in
        ''|*[!0-9]*) echo "bench.sh: not a number: $n" >&2; exit 2 ;;
    esac
done
has_part() { case ",$parts," in *",$1,"*) return 0 ;; *) return 1 ;; esac; }
for p in ${parts//,/ }; do
    case "$p" in requests|posts|http|live) ;; *) echo "bench.sh: unknown part $p" >&2; exit 2 ;; esac
done

started=$(date +%s)

# A loaded machine stretches every process start, the hello's too, and the
# ratios with it: above a load of 1.0 the figures are not comparable with a
# quiet machine's, and the benchmark gives no verdict unless asked to.
loaded() { awk -v l="$1" 'BEGIN { exit !(l > 1.0) }'; }
load_start=$(cut -d' ' -f1 /proc/loadavg)
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
if loaded "$load_start" && [ "$anyway" = 0 ]; then
    echo "bench.sh: loaded machine, figures not comparable (load $load_start above 1.0); --anyway measures all the same" >&2
    exit 3
fi

# --- tools and build ---------------------------------------------------------
if ! command -v cmake >/dev/null 2>&1 || ! command -v g++ >/dev/null 2>&1 ||
   { ! command -v lighttpd >/dev/null 2>&1 && [ ! -x /usr/sbin/lighttpd ]; }; then
    echo "Installing the build tools and lighttpd ..."
    "$repo/scripts/install-deps.sh"
fi
if has_part http && ! command -v wrk >/dev/null 2>&1; then
    echo "Installing wrk ..."
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq wrk >/dev/null
fi
if [ "$profile" = 1 ] && ! command -v valgrind >/dev/null 2>&1; then
    echo "Installing valgrind ..."
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq valgrind >/dev/null
fi

echo "Building in $build ..."
cmake -S "$repo" -B "$build" -DVELT_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target velt_cgi velt_admin velt_lng velt_bench_all >/dev/null
build=$(cd "$build" && pwd)  # the programs are started from other directories
bench_bin=$build/bench
harness=$bench_bin/velt-bench

# --- the site ----------------------------------------------------------------
site=$(mktemp -d /tmp/velt-bench-XXXXXX)
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    if [ "$keep" = 1 ]; then echo "The site stays in $site"; else rm -rf "$site"; fi
}
trap cleanup EXIT

cgi=$site/cgi-bin
data=$site/data
tpl=$site/templates
work=$site/work
mkdir -p "$site/www" "$tpl" "$work" "$site/floor"
admin=$build/velt-admin
"$admin" create-site "$cgi" --data "$data/" --site-id bench --language english >/dev/null
cp "${cgi_program:-$build/velt.cgi}" "$cgi/velt.cgi"
[ -n "$compare_program" ] && cp "$compare_program" "$cgi/velt-compared.cgi"
cp "$bench_bin/hello.cgi" "$cgi/hello.cgi"
cp "$repo/site/mimemap.txt" "$data/mimemap.txt"
echo "<HTML><BODY>velt benchmark</BODY></HTML>" > "$site/www/portal.html"
# An ordinary member (not an administrator), who may read and write.
"$admin" add-user "$cgi" bench --password bench-pw1 --name "Bench Member" --level 5 --color Navy >/dev/null

# Rooms: 101.. reloads (one per member count), 150 the room entry, 200 an
# empty room to post into, 201.. posts (one per size).
reload_rooms=()
i=0
for m in ${members//,/ }; do
    reload_rooms+=("$((101 + i)):$m")
    i=$((i + 1))
done
post_rooms=()
i=0
for s in ${sizes//,/ }; do
    post_rooms+=("$((201 + i)):$s")
    i=$((i + 1))
done
entry_room=150
empty_room=200
all_rooms="$entry_room $empty_room"
for r in "${reload_rooms[@]}" "${post_rooms[@]}"; do all_rooms="$all_rooms ${r%%:*}"; done
for f in $all_rooms; do
    "$admin" add-room "$cgi" "$f" --name "Room $f" --cgi /cgi-bin/velt.cgi --access-level 1 --write-level 1 >/dev/null
done

# One request to velt.cgi as a web server makes it: run_cgi METHOD QUERY BODYFILE [CONTENT_TYPE]
run_cgi() {
    (cd "$cgi" && env -i PATH=/usr/bin:/bin GATEWAY_INTERFACE=CGI/1.1 SERVER_PROTOCOL=HTTP/1.1 \
        REMOTE_ADDR=127.0.0.1 SCRIPT_NAME=/cgi-bin/velt.cgi REQUEST_METHOD="$1" QUERY_STRING="$2" \
        CONTENT_TYPE="${4:-application/x-www-form-urlencoded}" CONTENT_LENGTH="$(stat -c %s "$3")" \
        ./velt.cgi < "$3")
}

# A multipart/form-data body as the room's forms send it: mp_body FILE NAME=VALUE...
boundary=----veltBenchBoundary7MA4YWxk
mp_type="multipart/form-data; boundary=$boundary"
mp_body() {
    local out=$1 kv
    shift
    : > "$out"
    for kv in "$@"; do
        printf -- '--%s\r\nContent-Disposition: form-data; name="%s"\r\n\r\n%s\r\n' \
            "$boundary" "${kv%%=*}" "${kv#*=}" >> "$out"
    done
    printf -- '--%s--\r\n' "$boundary" >> "$out"
}

# The password login of the portal: its frameset carries the session key.
printf 'uid=bench&upw=bench-pw1&FOLDER_NO=101&JOB=ROOM' > "$work/login.body"
login_page=$(run_cgi POST "" "$work/login.body")
skey1=$(printf '%s' "$login_page" | grep -o 'SKEY1=[0-9]*' | head -n1 | cut -d= -f2)
skey2=$(printf '%s' "$login_page" | grep -o 'SKEY2=[0-9]*' | head -n1 | cut -d= -f2)
if [ -z "$skey1" ] || [ -z "$skey2" ]; then
    echo "bench.sh: the password login gave no session key:" >&2
    printf '%s\n' "$login_page" | head -n 20 >&2
    exit 1
fi
creds="uid=bench&SKEY1=$skey1&SKEY2=$skey2"
chat_name=Bench
line_text="Good morning everyone, the build is green again"
post_text="A new line posted by the benchmark"

# Enter room 101 and post one line for real: the records every large file is
# made of come from the program itself.
mp_body "$work/enter.body" "SKEY1=$skey1" "SKEY2=$skey2" uid=bench FOLDER_NO=101 JOB=ROOM_IN \
    "CHAT_NAME=$chat_name" COLOR=Navy DISP_LINE=100 RELOAD_TIME=10 SUB=Enter
run_cgi POST "" "$work/enter.body" "$mp_type" > "$work/enter.out"
mp_body "$work/first-post.body" "SKEY1=$skey1" "SKEY2=$skey2" uid=bench FOLDER_NO=101 JOB=CWRITE \
    "CHAT_NAME=$chat_name" COLOR=Navy "CTALK=$line_text" SUB=Send
run_cgi POST "" "$work/first-post.body" "$mp_type" > "$work/first-post.out"
if ! grep -q "$line_text" "$work/first-post.out" || [ ! -s "$data/101/chatuser.idx" ]; then
    echo "bench.sh: entering and posting for real failed; see $work (use --keep)" >&2
    keep=1
    exit 1
fi
cp "$data/101/chatdata.dat" "$tpl/real-messages"
cp "$data/101/chatuser.idx" "$tpl/real-member"

# Templates: message files of every size, presence indexes of every count.
: > "$tpl/msgs-0"
for s in 100 ${sizes//,/ }; do
    [ -e "$tpl/msgs-$s" ] || "$harness" fill-messages "$tpl/real-messages" "$s" "$tpl/msgs-$s"
done
for m in 20 ${members//,/ }; do
    [ -e "$tpl/members-$m" ] || "$harness" fill-members "$tpl/real-member" "$m" "$tpl/members-$m"
done
# The room entry: 20 others present, the entering member not yet.
"$harness" fill-members "$tpl/real-member" 21 "$tpl/members-21"
head -c $((20 * 164)) "$tpl/members-21" > "$tpl/others-20"

# Room contents that the requests leave as they are (a reload renews one
# stamp; a post's answer too): set once.
for r in "${reload_rooms[@]}"; do
    cp "$tpl/msgs-100" "$data/${r%%:*}/chatdata.dat"
    cp "$tpl/members-${r#*:}" "$data/${r%%:*}/chatuser.idx"
done
for f in $empty_room $(for r in "${post_rooms[@]}"; do echo "${r%%:*}"; done); do
    cp "$tpl/members-20" "$data/$f/chatuser.idx"
done

# --- the spawn measurement ---------------------------------------------------
cases=$work/cases.txt
add_case() {  # add_case NAME: the directives follow on standard input
    local body
    body=$(cat)
    { echo "case $1"; printf '%s\n' "$body"; } >> "$cases"
    # The compared build answers the same requests (the live poll only where
    # this build does: it is measured for this build alone).
    if [ -n "$compare_program" ] && [ "$1" != poll ] && printf '%s\n' "$body" | grep -qx "exe $cgi/velt.cgi"; then
        { echo "case $1@compared"; printf '%s\n' "$body" | sed "s#^exe $cgi/velt.cgi\$#exe $cgi/velt-compared.cgi#"; } >> "$cases"
    fi
}
velt_case() {  # velt_case NAME METHOD QUERY [BODYFILE [CONTENT_TYPE]]: directives for velt.cgi
    echo "exe $cgi/velt.cgi"
    echo "dir $cgi"
    echo "method $2"
    echo "query $3"
    if [ -n "${4:-}" ]; then
        echo "content-type ${5:-$mp_type}"
        echo "stdin $4"
    fi
}
: > "$cases"
add_case hello <<EOF
exe $cgi/hello.cgi
dir $cgi
expect hello
EOF
if has_part requests; then
    for r in "${reload_rooms[@]}"; do
        f=${r%%:*}
        { velt_case "reload-${r#*:}" GET "$creds&JOB=FRM223&FOLDER_NO=$f&CHAT_NAME=$chat_name"
          echo "restamp $data/$f/chatuser.idx"
          echo "expect $line_text"; echo "expect </HTML>"; } | add_case "reload-${r#*:}"
    done
    mp_body "$work/entry.body" "SKEY1=$skey1" "SKEY2=$skey2" uid=bench FOLDER_NO=$entry_room JOB=ROOM_IN \
        "CHAT_NAME=$chat_name" COLOR=Navy DISP_LINE=30 RELOAD_TIME=10 SUB=Enter
    { velt_case entry POST "" "$work/entry.body"
      echo "reset $tpl/others-20 $data/$entry_room/chatuser.idx"
      echo "reset $tpl/msgs-100 $data/$entry_room/chatdata.dat"
      echo "restamp $data/$entry_room/chatuser.idx"
      echo "expect JOB=FRM223&FOLDER_NO=$entry_room&CHAT_NAME=$chat_name"
      echo "size $data/$entry_room/chatdata.dat $((101 * 408))"; } | add_case entry

    # The live view's poll that answers lines: a page whose newest line is
    # the sixth newest of the first reload room asks what is new and gets
    # five lines (the poll answers at once, WAIT=0). Its cursor comes from a
    # first poll without one; every record of the room is the same, so the
    # cursor of a line five records older differs only in its count. The
    # page holds the member list already (the tag of the probe's list), as
    # a page that polls on does.
    poll_fields="SKEY1=$skey1&SKEY2=$skey2&uid=bench&FOLDER_NO=${reload_rooms[0]%%:*}&JOB=LIVE_POLL&CHAT_NAME=$chat_name&WAIT=0"
    printf '%s&CURSOR=' "$poll_fields" > "$work/poll-probe.body"
    run_cgi POST "" "$work/poll-probe.body" > "$work/poll-probe.out" || true
    newest=$(grep -o '"cursor" *: *"[0-9]*\.[0-9a-f]*"' "$work/poll-probe.out" | head -n1 | sed 's/.*"\([0-9]*\.[0-9a-f]*\)"$/\1/' || true)
    members_tag=$(grep -o '"members_tag" *: *"[0-9a-f]*"' "$work/poll-probe.out" | head -n1 | sed 's/.*"\([0-9a-f]*\)"$/\1/' || true)
    if [ -n "$newest" ] && [ "${newest%%.*}" -gt 5 ]; then
        printf '%s&MEMBERS=%s&CURSOR=%s.%s' "$poll_fields" "$members_tag" "$((${newest%%.*} - 5))" "${newest#*.}" > "$work/poll.body"
        { velt_case poll POST "" "$work/poll.body" application/x-www-form-urlencoded
          echo "restamp $data/${reload_rooms[0]%%:*}/chatuser.idx"
          echo "expect $line_text"; } | add_case poll
    elif [ "$poll" = 1 ]; then
        echo "bench.sh: the program gave no cursor to a live poll (see $work/poll-probe.out with --keep)" >&2
        exit 1
    else
        echo "No live poll measured: the program gave no cursor to a live poll (see $work/poll-probe.out with --keep)."
    fi
fi
if has_part posts; then
    post_rooms_all=("$empty_room:0" "${post_rooms[@]}")
    for r in "${post_rooms_all[@]}"; do
        f=${r%%:*}
        s=${r#*:}
        mp_body "$work/post-$s.body" "SKEY1=$skey1" "SKEY2=$skey2" uid=bench FOLDER_NO=$f JOB=CWRITE \
            "CHAT_NAME=$chat_name" COLOR=Navy "CTALK=$post_text" SUB=Send
        { velt_case "post-$s" POST "" "$work/post-$s.body"
          echo "reset $tpl/msgs-$s $data/$f/chatdata.dat"
          echo "restamp $data/$f/chatuser.idx"
          echo "expect $post_text"
          echo "size $data/$f/chatdata.dat $(((s + 1) * 408))"
          if [ "$s" -ge 10000 ]; then echo "every 4"; fi; } | add_case "post-$s"
        if [ "$s" -gt 0 ]; then
            add_case "floor-$s" <<EOF
exe $bench_bin/velt-bench-floor
arg $site/floor/chatdata-$s.dat
dir $site/floor
reset $tpl/msgs-$s $site/floor/chatdata-$s.dat
self-timed
size $site/floor/chatdata-$s.dat $(((s + 1) * 408))
$(if [ "$s" -ge 10000 ]; then echo "every 4"; fi)
EOF
        fi
    done
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
results=$work/results.tsv
: > "$results"
profiles=$work/profiles.tsv
: > "$profiles"
if has_part requests || has_part posts; then
    echo "Measuring $(grep -c '^case ' "$cases") programs, $runs interleaved rounds ..."
    "$harness" run --runs "$runs" "$cases" > "$results"
    if [ "$profile" = 1 ]; then
        echo "Counting instructions under callgrind, one run each ..."
        mkdir -p "$work/profiles"
        "$harness" profile --valgrind "$(command -v valgrind)" "$cases" "$work/profiles" > "$profiles"
    fi
fi

# --- throughput through lighttpd ----------------------------------------------
http_results=$work/http.tsv
: > "$http_results"
if has_part http; then
    port=""
    for candidate in $(seq 18080 18180); do
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then port=$candidate; break; fi
    done
    [ -n "$port" ] || { echo "bench.sh: no free port between 18080 and 18180" >&2; exit 1; }
    "$repo/scripts/serve.sh" "$site" "$port" > "$site/lighttpd.out" 2>&1 &
    server_pid=$!
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
        sleep 0.1
    done
    # Counts the answers that are the page asked for (a locked store answers
    # 200 with an error page), keeps the first wrong one of each thread, and
    # reports the counts when wrk ends.
    cat > "$work/check.lua" <<'EOF'
local threads = {}
local n = 0
function setup(thread) n = n + 1; thread:set("id", n); table.insert(threads, thread) end
function init(args) expect = args[1]; sample = args[2]; good = 0; wrong = 0 end
function response(status, headers, body)
  if status == 200 and body and string.find(body, expect, 1, true) then good = good + 1; return end
  wrong = wrong + 1
  if wrong == 1 then
    local f = io.open(sample .. "-" .. id .. ".txt", "w")
    if f then f:write(status, "\n", body or "", "\n"); f:close() end
  end
end
function done(summary, latency, requests)
  local g, w = 0, 0
  for _, t in ipairs(threads) do g = g + t:get("good"); w = w + t:get("wrong") end
  io.write(string.format("checked good=%d wrong=%d\n", g, w))
end
EOF
    base=http://127.0.0.1:$port/cgi-bin
    # The reload of the first reload room (20 members by default).
    http_members=${reload_rooms[0]#*:}
    reload_url="$base/velt.cgi?SKEY1=$skey1&SKEY2=$skey2&uid=bench&JOB=FRM223&FOLDER_NO=101&CHAT_NAME=$chat_name"
    for target in "hello|$base/hello.cgi|hello" "reload|$reload_url|$line_text"; do
        IFS='|' read -r name url expect <<<"$target"
        echo "wrk: $name, $connections connections, ${duration}s ..."
        out=$(wrk -t2 -c"$connections" -d"${duration}s" --latency -s "$work/check.lua" "$url" -- "$expect" "$work/wrong-$name")
        printf '%s\n' "$out" > "$work/wrk-$name.txt"
        rps=$(printf '%s\n' "$out" | awk '/^Requests\/sec:/ {print $2}')
        p50=$(printf '%s\n' "$out" | awk '$1 == "50%" {print $2}')
        p99=$(printf '%s\n' "$out" | awk '$1 == "99%" {print $2}')
        timeouts=$(printf '%s\n' "$out" | awk '/Socket errors:/ {gsub(",", ""); print $NF}')
        sockerr=$(printf '%s\n' "$out" | awk '/Socket errors:/ {gsub(",", ""); print $4 + $6 + $8}')
        non2xx=$(printf '%s\n' "$out" | awk '/Non-2xx/ {print $NF}')
        good=$(printf '%s\n' "$out" | sed -n 's/^checked good=\([0-9]*\) wrong=.*/\1/p')
        wrong=$(printf '%s\n' "$out" | sed -n 's/^checked good=[0-9]* wrong=\([0-9]*\)/\1/p')
        printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "${rps:-0}" "${p50:--}" "${p99:--}" \
            "${timeouts:-0}" "${sockerr:-0}" "${non2xx:-0}" "${good:-0}" "${wrong:-0}" >> "$http_results"
    done
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
fi
# --- the live view (--parts live) ---------------------------------------------
# What the live view's long polls cost, through lighttpd (scripts/serve.sh)
# on a room of its own (300, 100 lines): the memory (PSS, from
# /proc/PID/smaps_rollup) and the wake-ups (voluntary context switches over
# 20 s of the hold, /proc/PID/status) of 50 waiting polls; the requests of one
# idle tab in Chromium (Playwright, tests/browser's modules) over 2 minutes,
# counted by the page and in lighttpd's access log; the time from a post's
# answer to each waiting poll's answer with 1, 10 and 50 waiting polls (20
# posts each); and what one poll costs against a classic reload. Its table
# goes to $work/live.md, printed with the others.
live_results=$work/live.md
# The processes of the program running in the site's program directory.
live_programs() {
    local p
    for p in /proc/[0-9]*; do
        [ "$(cat "$p/comm" 2>/dev/null)" = velt.cgi ] || continue
        [ "$(readlink "$p/cwd" 2>/dev/null)" = "$cgi" ] || continue
        echo "${p#/proc/}"
    done
}
live_bench() {
    local room=300 lport="" lserver="" t0 t1
    "$admin" add-room "$cgi" $room --name "Live room" --cgi /cgi-bin/velt.cgi --access-level 1 --write-level 1 >/dev/null
    cp "$tpl/msgs-100" "$data/$room/chatdata.dat"
    if [ ! -d "$repo/tests/browser/node_modules/playwright-core" ]; then
        (cd "$repo/tests/browser" && npm ci --no-audit --no-fund >/dev/null)
    fi
    for candidate in $(seq 18181 18280); do
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then lport=$candidate; break; fi
    done
    [ -n "$lport" ] || { echo "bench.sh: no free port between 18181 and 18280" >&2; exit 1; }
    "$repo/scripts/serve.sh" "$site" "$lport" > "$site/lighttpd-live.out" 2>&1 &
    lserver=$!
    server_pid=$lserver
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$lport") 2>/dev/null && break
        sleep 0.1
    done
    local base="http://127.0.0.1:$lport"
    local keys="FOLDER_NO=$room&uid=bench&SKEY1=$skey1&SKEY2=$skey2"
    local access_log=$site/lighttpd/velt-access.log
    local hold=25

    cat > "$work/live-bench.mjs" <<'NODE'
// The live part of scripts/bench.sh: node live-bench.mjs MODE ... (see there).
import http from 'node:http';
import { performance } from 'node:perf_hooks';

const [, , mode, base, keys, ...rest] = process.argv;
const exe = new URL('/cgi-bin/velt.cgi', base);

// One JSON job, on a connection of its own: {status, body, at} (at: the
// moment its answer was whole, in ms of performance.now()).
function job(name, fields) {
  const body = `JOB=${name}&${keys}&` + new URLSearchParams(fields).toString();
  return new Promise((resolve) => {
    const req = http.request(exe, { method: 'POST', agent: false, headers: {
      'Content-Type': 'application/x-www-form-urlencoded', 'Content-Length': Buffer.byteLength(body) } }, (res) => {
      let text = '';
      res.setEncoding('utf8');
      res.on('data', (c) => { text += c; });
      res.on('end', () => {
        let data = null;
        try { data = JSON.parse(text); } catch (e) { data = null; }
        resolve({ status: res.statusCode, body: data, at: performance.now() });
      });
    });
    req.on('error', () => resolve({ status: 0, body: null, at: performance.now() }));
    req.end(body);
  });
}
function get(query) {
  return new Promise((resolve) => {
    http.get(new URL(`/cgi-bin/velt.cgi?${query}`, base), { agent: false }, (res) => {
      res.resume();
      res.on('end', () => resolve(res.statusCode));
    }).on('error', () => resolve(0));
  });
}
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const pct = (xs, p) => { const s = [...xs].sort((a, b) => a - b); return s[Math.min(s.length - 1, Math.floor(p * s.length))]; };

// Members named prefix0.. entered, each with its cursor and member tag.
async function enter(prefix, n) {
  const out = [];
  for (let i = 0; i < n; i++) {
    const r = await job('LIVE_ENTER', { CHAT_NAME: `${prefix}${i}`, COLOR: 'Navy' });
    if (r.status !== 200) throw new Error(`entering ${prefix}${i}: ${r.status}`);
    out.push({ name: `${prefix}${i}`, cursor: r.body.cursor, tag: r.body.members_tag });
  }
  // The last entry changed every earlier member's list: one poll each brings
  // them up to date, so that the next one waits.
  for (const m of out) {
    const r = await job('LIVE_POLL', { CHAT_NAME: m.name, CURSOR: m.cursor, MEMBERS: m.tag, WAIT: '0' });
    m.cursor = r.body.cursor;
    if (r.body.members_tag) m.tag = r.body.members_tag;
  }
  return out;
}
const poll = (m) => job('LIVE_POLL', { CHAT_NAME: m.name, CURSOR: m.cursor, MEMBERS: m.tag, WAIT: '1' });
const leave = async (members) => { for (const m of members) await job('LIVE_LEAVE', { CHAT_NAME: m.name }); };

if (mode === 'hold') {
  // n polls that wait out their hold, nothing being posted.
  const members = await enter('H', Number(rest[0]));
  console.log('waiting');
  const answers = await Promise.all(members.map(poll));
  console.log(`answered ${answers.filter((a) => a.status === 200 && a.body.lines.length === 0).length}`);
  await leave(members);
} else if (mode === 'latency') {
  // n waiting polls; `posts` posts, each after all n wait again; from each
  // post's answer to each poll's answer that brought it.
  const [n, posts] = rest.map(Number);
  const poster = (await enter(`P${n}-`, 1))[0];  // first: an entry changes the others' member list
  const members = await enter(`L${n}-`, n);
  const samples = [];
  let missed = 0;
  for (let k = 0; k < posts; k++) {
    const text = `latency ${n} ${k}`;
    const waits = members.map((m) => poll(m).then((a) => {
      if (a.status !== 200 || !a.body.lines.some((l) => l.text === text)) missed++;
      else { m.cursor = a.body.cursor; if (a.body.members_tag) m.tag = a.body.members_tag; }
      return a.at;
    }));
    await sleep(n >= 50 ? 1500 : 500);  // every poll held by the program
    const posted = await job('LIVE_POST', { CHAT_NAME: poster.name, COLOR: 'Navy', CTALK: text, CURSOR: poster.cursor });
    if (posted.status !== 200) { missed += n; continue; }
    poster.cursor = posted.body.cursor;
    for (const at of await Promise.all(waits)) samples.push(at - posted.at);
  }
  await leave([poster, ...members]);
  const f = (x) => x.toFixed(0);
  console.log(`${n}\t${samples.length}\t${missed}\t${f(pct(samples, 0.5))}\t${f(pct(samples, 0.95))}\t${f(Math.max(...samples))}`);
} else if (mode === 'cost') {
  // Medians of a classic reload (FRM223 of a member showing 100 lines) and
  // of polls that answer at once: one new line, and the newest lines afresh
  // (a reset, 50 lines); 20 members present, as in the reloads measured
  // above.
  const [classic, rounds] = [rest[0], Number(rest[1])];
  const others = await enter('M', 19);
  await get(`${classic}&JOB=ROOM_IN&CHAT_NAME=R0&COLOR=Navy&DISP_LINE=100&RELOAD_TIME=10`);
  const [reader] = await enter('R', 1);
  const behind = reader.cursor;
  await job('LIVE_POST', { CHAT_NAME: reader.name, COLOR: 'Navy', CTALK: 'one new line', CURSOR: behind });
  const t = { reload: [], line: [], reset: [] };
  for (let k = 0; k < rounds; k++) {
    let s = performance.now();
    await get(`${classic}&JOB=FRM223&CHAT_NAME=${reader.name}`);
    t.reload.push(performance.now() - s);
    s = performance.now();
    await job('LIVE_POLL', { CHAT_NAME: reader.name, CURSOR: behind, WAIT: '0', MEMBERS: reader.tag });
    t.line.push(performance.now() - s);
    s = performance.now();
    await job('LIVE_POLL', { CHAT_NAME: reader.name, CURSOR: '', WAIT: '0', MEMBERS: reader.tag });
    t.reset.push(performance.now() - s);
  }
  await leave([reader, ...others]);
  console.log(['reload', 'line', 'reset'].map((k) => pct(t[k], 0.5).toFixed(1)).join('\t'));
} else if (mode === 'idle') {
  // One tab entered in an idle room for `seconds`: the page's own requests.
  const { chromium } = await import(rest[0]);
  const seconds = Number(rest[1]);
  const browser = await chromium.launch({ executablePath: process.env.VELT_CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'] });
  const page = await browser.newPage();
  await page.goto(`${exe}?${keys}&JOB=LIVE`);
  await page.fill('#chat-name', 'Idle tab');
  await page.click('#enter');
  await page.locator('#message').waitFor();
  await sleep(1000);
  let count = 0;
  page.on('request', (r) => { if (r.url().startsWith(exe.href)) count++; });
  console.log('idle');
  await sleep(seconds * 1000);
  console.log(`requests ${count}`);
  await browser.close();
}
NODE
    local node_run=(node "$work/live-bench.mjs")

    echo "Live view: 50 polls waiting out their hold ($hold s) ..."
    "${node_run[@]}" hold "$base" "$keys" 50 > "$work/live-hold.out" 2>&1 &
    local holder=$!
    local pids=""
    # (Entering the 50 members comes first: up to a minute on a busy machine.)
    for _ in $(seq 600); do
        pids=$(live_programs)
        [ "$(printf '%s\n' "$pids" | grep -c .)" -ge 50 ] && break
        sleep 0.1
    done
    sleep 1
    : > "$work/live-proc0.txt"
    for p in $pids; do
        printf '%s %s %s %s %s\n' "$p" \
            "$(awk '/^Pss:/ {print $2}' "/proc/$p/smaps_rollup" 2>/dev/null)" \
            "$(awk '/^Rss:/ {print $2}' "/proc/$p/smaps_rollup" 2>/dev/null)" \
            "$(awk '/^Private_(Clean|Dirty):/ {s += $2} END {print s}' "/proc/$p/smaps_rollup" 2>/dev/null)" \
            "$(awk '/^voluntary_ctxt_switches:/ {print $2}' "/proc/$p/status" 2>/dev/null)" >> "$work/live-proc0.txt"
    done
    t0=$(date +%s%N)
    sleep 20
    t1=$(date +%s%N)
    : > "$work/live-proc1.txt"
    for p in $pids; do
        printf '%s %s %s\n' "$p" "$(awk '/^voluntary_ctxt_switches:/ {print $2}' "/proc/$p/status" 2>/dev/null)" \
            "$(awk '/^nonvoluntary_ctxt_switches:/ {print $2}' "/proc/$p/status" 2>/dev/null)" >> "$work/live-proc1.txt"
    done
    wait "$holder" || true
    local mem wake
    mem=$(awk 'NF >= 4 && $2 != "" {n++; pss += $2; rss += $3; priv += $4} END {if (n) printf "%d\t%.0f\t%.0f\t%.0f", n, pss / n, rss / n, priv / n}' "$work/live-proc0.txt")
    wake=$(awk -v secs="$(( (t1 - t0) / 1000000 ))" 'NR == FNR {v0[$1] = $5; next}
        ($1 in v0) && $2 != "" {n++; d += $2 - v0[$1]} END {if (n) printf "%d\t%.2f\t%.1f", n, d / n / (secs / 1000), secs / 1000}' \
        "$work/live-proc0.txt" "$work/live-proc1.txt")

    echo "Live view: one idle tab in Chromium for 120 s ..."
    local log_before log_after idle gaps
    "${node_run[@]}" idle "$base" "$keys" "$repo/tests/browser/node_modules/playwright-core/index.mjs" 120 \
        > "$work/live-idle.out" 2>&1 &
    local idler=$!
    for _ in $(seq 300); do grep -q '^idle' "$work/live-idle.out" && break; sleep 0.1; done
    log_before=$(grep -c 'POST /cgi-bin/velt.cgi' "$access_log" 2>/dev/null || true)
    wait "$idler" || true
    log_after=$(grep -c 'POST /cgi-bin/velt.cgi' "$access_log" 2>/dev/null || true)
    idle=$(sed -n 's/^requests \([0-9]*\)/\1/p' "$work/live-idle.out")
    # The seconds between the answers the access log has for the run (by its
    # %t): the hold, but for the entry and the browser closing at the end.
    gaps=$(grep 'POST /cgi-bin/velt.cgi' "$access_log" | sed -n "$((log_before + 1)),$((log_after))p" |
        sed -n 's/.*:\([0-9][0-9]\):\([0-9][0-9]\):\([0-9][0-9]\) .*/\1 \2 \3/p' |
        awk '{t = $1 * 3600 + $2 * 60 + $3; if (NR > 1) printf "%s%d", (NR > 2 ? " " : ""), t - last; last = t}')

    echo "Live view: from a post's answer to the waiting polls' answers ..."
    : > "$work/live-latency.tsv"
    for n in 1 10 50; do
        "${node_run[@]}" latency "$base" "$keys" "$n" 20 >> "$work/live-latency.tsv" 2>>"$work/live-latency.err"
    done

    echo "Live view: a poll's cost against a classic reload ..."
    local cost
    cost=$("${node_run[@]}" cost "$base" "$keys" "$creds&FOLDER_NO=$room" 201 2>>"$work/live-cost.err")

    kill "$lserver" 2>/dev/null || true
    wait "$lserver" 2>/dev/null || true
    server_pid=""

    {
        echo "The live view through lighttpd (mod_cgi), hold $hold s, room of 100 lines:"
        echo
        echo "| measure | figure |"
        echo "|---|---|"
        IFS=$'\t' read -r n pss rss priv <<<"$mem"
        echo "| memory per waiting poll (${n:-no} processes waiting) | PSS ${pss:--} KB (RSS ${rss:--} KB, private ${priv:--} KB) |"
        IFS=$'\t' read -r n rate secs <<<"$wake"
        echo "| wake-ups per waiting poll | ${rate:--} voluntary context switches a second (mean of ${n:-no} processes waiting throughout, over ${secs:--} s) |"
        echo "| requests per idle tab per minute | $(awk -v c="${idle:-0}" 'BEGIN {printf "%.1f", c / 2}') (${idle:-0} requests of the page in 2 min); seconds between its answers in the access log: ${gaps:--} |"
        while IFS=$'\t' read -r n count missed p50 p95 max; do
            echo "| post's answer to poll's answer, $n waiting | p50 ${p50} ms, p95 ${p95} ms, max ${max} ms ($count answers, $missed missed) |"
        done < "$work/live-latency.tsv"
        IFS=$'\t' read -r reload line reset <<<"$cost"
        echo "| one request through lighttpd, 20 members present, median of 201 | classic reload (FRM223, 100 lines) ${reload} ms; poll answering 1 line ${line} ms; poll answering 50 lines afresh ${reset} ms |"
        echo
    } > "$live_results"
}
if has_part live; then live_bench; fi

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# --- the table ---------------------------------------------------------------
echo
echo "velt benchmark, $(date '+%Y-%m-%d %H:%M'), $(nproc) cores, $(uname -r)"
echo "load average before: $load_before, after: $load_after; $runs interleaved rounds; times in microseconds"
if loaded "$(echo "$load_before" | cut -d' ' -f1)" || loaded "$(echo "$load_after" | cut -d' ' -f1)"; then
    echo
    echo "LOADED MACHINE, FIGURES NOT COMPARABLE: the load average was above 1.0 (measured with --anyway);"
    echo "only the instructions (callgrind) and the page faults mean what they would on a quiet machine."
fi
echo
if [ -s "$results" ]; then
    awk -F'\t' '
        FILENAME == ARGV[1] { ir[$1] = $3; irbad[$1] = $2; next }
        { name[FNR] = $1; runs[$1] = $2; bad[$1] = $3; med[$1] = $4; p25[$1] = $5; p75[$1] = $6; self[$1] = $8
          cpu[$1] = $9; flt[$1] = $10; order[FNR] = $1; n_rows = FNR }
        function label(n,   s) {
            if (n ~ /@compared$/) { s = n; sub(/@compared$/, "", s); return label(s) " (compared build)" }
            if (n == "hello") return "static C++ hello CGI"
            if (n ~ /^reload-/) { s = substr(n, 8); return "reload (FRM223), 100 lines, " s " members" }
            if (n == "entry") return "room entry (ROOM_IN), 100 lines, 20 members"
            if (n == "poll") return "live poll (LIVE_POLL) answering 5 lines, 20 members"
            if (n == "post-0") return "post (CWRITE) into an empty room"
            if (n ~ /^post-/) { s = substr(n, 6); return "post (CWRITE) into " s " records" }
            return n
        }
        function ratio(a, b) { return (b > 0 && a != "" && a >= 0) ? sprintf("%.2fx", a / b) : "-" }
        END {
            h = med["hello"]
            printf "| request | median us | p25-p75 us | x hello | CPU us | x hello | page faults | instructions | x hello |\n"
            printf "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n"
            for (i = 1; i <= n_rows; i++) {
                n = order[i]
                if (n ~ /^floor-/) continue
                ins = (n in ir && ir[n] >= 0) ? ir[n] (irbad[n] ? " (bad run)" : "") : "-"
                printf "| %s | %d | %d-%d | %.2fx | %d | %s | %d | %s | %s |\n", label(n), med[n], p25[n], p75[n],
                    med[n] / h, cpu[n], ratio(cpu[n], cpu["hello"]), flt[n], ins, (n in ir) ? ratio(ir[n], ir["hello"]) : "-"
            }
            printf "\n"
            printf "| request | floor us | floor x hello | (post - empty) / floor | runs | bad runs |\n"
            printf "|---|---:|---:|---:|---:|---:|\n"
            for (i = 1; i <= n_rows; i++) {
                n = order[i]
                if (n ~ /^floor-/) continue
                fl = "-"; flx = "-"; over = "-"
                suffix = n ~ /@compared$/ ? "@compared" : ""
                base = n; sub(/@compared$/, "", base)
                if (base ~ /^post-/ && base != "post-0") {
                    f = "floor-" substr(base, 6)
                    empty = "post-0" suffix
                    if (f in self && self[f] != "-") {
                        fl = self[f]
                        flx = sprintf("%.1fx", self[f] / h)
                        if (empty in med && self[f] > 0) over = sprintf("%.2f", (med[n] - med[empty]) / self[f])
                    }
                }
                printf "| %s | %s | %s | %s | %d | %d |\n", label(n), fl, flx, over, runs[n], bad[n]
            }
        }' "$profiles" "$results"
    echo
    if grep -q '^floor-' "$results"; then
        echo "floor: the bare rewrite alone (new file, one 408-byte record, in-kernel copy of the old"
        echo "records, fsync, rename), timed inside its program, without a process start."
        echo
    fi
fi
if [ -s "$http_results" ]; then
    echo "Through lighttpd (mod_cgi), wrk -t2 -c$connections -d${duration}s on 127.0.0.1 (wrk's timeout: 2 s):"
    echo
    awk -F'\t' -v members="$http_members" '
        { n[NR] = $1; rps[$1] = $2; line[NR] = $0 }
        END {
            printf "| program | requests/s | of hello | latency p50 | latency p99 | timeouts | socket errors | non-2xx | right pages | wrong pages |\n"
            printf "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n"
            for (i = 1; i <= NR; i++) {
                split(line[i], f, "\t")
                of = rps["hello"] > 0 ? sprintf("%.0f %%", 100 * f[2] / rps["hello"]) : "-"
                printf "| %s | %.0f | %s | %s | %s | %s | %s | %s | %s | %s |\n", f[1] == "reload" ? "reload (FRM223), 100 lines, " members " members" : "static C++ hello CGI", f[2], of, f[3], f[4], f[5], f[6], f[7], f[8], f[9]
            }
        }' "$http_results"
    echo
    echo "wrong pages: answered, but not the page asked for (an error page, for one)."
fi
[ -s "$live_results" ] && cat "$live_results"
echo "Took $(( $(date +%s) - started )) s."
