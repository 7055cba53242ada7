#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Load test of the block page daemon against nginx serving the same page with the same head, both on
# loopback, one new connection per request (the daemon closes every connection after its answer).
#
#   bench/blockpage/run.sh [BUILD_DIR]
#
# BUILD_DIR holds mivra-blockpage (default: build/release, else build/dev). As root with port 80 free
# the real daemon is measured on 127.0.0.1:80; otherwise the same server code is run on a free port
# through blockpage_serve (serve.cpp here, built with the tests into tests/blockpage).
#
# Settings (environment): DURATION seconds per run (5); ROUNDS (3), each a run of the daemon, of
# nginx, and of each again while IDLE (1000) silent connections are held; CONNECTIONS wrk keeps busy
# (50); WRK_THREADS (1); NGINX_WORKERS (auto). Medians over the rounds are reported, as the figures of
# a shared machine wander. Then a flood: SILENT (6000) connections that send nothing, more than the
# daemon holds, kept up for FLOOD_SECONDS (20) while a browser-like client connects every 20 ms
# (silent_flood.py); its p50/p90/p99 from connect to the end of the page are reported. Needs wrk,
# nginx and python3 (Debian: wrk, nginx-light, python3). Every run is bounded (the idle runs by 6 s);
# the whole script takes about ROUNDS × (4 × DURATION + 6) + FLOOD_SECONDS + 10 seconds.

set -euo pipefail

DURATION=${DURATION:-5}
ROUNDS=${ROUNDS:-3}
CONNECTIONS=${CONNECTIONS:-50}
WRK_THREADS=${WRK_THREADS:-1}
IDLE=${IDLE:-1000}
NGINX_WORKERS=${NGINX_WORKERS:-auto}
SILENT=${SILENT:-6000}
FLOOD_SECONDS=${FLOOD_SECONDS:-20}

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-}
if [[ -z $build ]]; then
    for b in "$root/build/release" "$root/build/dev"; do
        [[ -x $b/mivra-blockpage ]] && { build=$b; break; }
    done
fi
[[ -n $build && -x $build/mivra-blockpage ]] || { echo "no mivra-blockpage in '${build:-build/release}'" >&2; exit 2; }
command -v wrk >/dev/null || { echo "wrk is missing (apt-get install wrk)" >&2; exit 2; }
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
[[ -x $NGINX ]] || { echo "nginx is missing (apt-get install nginx-light)" >&2; exit 2; }
command -v python3 >/dev/null || { echo "python3 is missing (apt-get install python3)" >&2; exit 2; }

# Idle and silent connections and wrk's sockets need descriptors.
fds=$(( IDLE * 2 > SILENT ? IDLE * 2 : SILENT ))
ulimit -n "$(( fds + 1024 ))" 2>/dev/null || ulimit -n "$(ulimit -Hn)"

port_busy() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
    local p
    for p in $(seq "$1" $(( $1 + 200 ))); do port_busy "$p" || { echo "$p"; return; }; done
    echo "no free port from $1" >&2; exit 2
}

tmp=$(mktemp -d)
chmod 755 "$tmp" # nginx workers run as nobody when started by root
daemon_pid=
nginx_pid=
cleanup() {
    set +e # a killed child's status must not end the clean-up half-way
    [[ -n $daemon_pid ]] && kill "$daemon_pid" 2>/dev/null && wait "$daemon_pid" 2>/dev/null
    [[ -n $nginx_pid ]] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    [[ -n ${holder_pid:-} ]] && kill "$holder_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

wait_for_port() {
    local i
    for i in $(seq 100); do port_busy "$1" && return 0; sleep 0.05; done
    echo "nothing listens on port $1" >&2; exit 1
}

# --- The daemon --------------------------------------------------------------------------------------
if [[ $(id -u) == 0 ]] && ! port_busy 80; then
    daemon_port=80
    daemon_label="mivra-blockpage :80"
    "$build/mivra-blockpage" >/dev/null 2>"$tmp/daemon.err" &
else
    serve=$build/tests/blockpage/blockpage_serve
    [[ -x $serve ]] || { echo "not root or port 80 busy, and no $serve to run instead" >&2; exit 2; }
    daemon_port=$(free_port 18080)
    daemon_label="blockpage_serve :$daemon_port"
    "$serve" "$daemon_port" >/dev/null 2>"$tmp/daemon.err" &
fi
daemon_pid=$!
wait_for_port "$daemon_port"

# The page bytes as the daemon sends them, for nginx to serve.
exec 3<>"/dev/tcp/127.0.0.1/$daemon_port"
printf 'GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n' >&3
cat <&3 >"$tmp/response"
exec 3<&-
length=$(grep -a -m1 '^Content-Length:' "$tmp/response" | tr -dc 0-9)
tail -c "$length" "$tmp/response" >"$tmp/page.html"
chmod 644 "$tmp/page.html"

# --- nginx, same page and head (plus the Server and Date lines nginx always adds) --------------------
nginx_port=$(free_port 18180)
cat >"$tmp/nginx.conf" <<CONF
worker_processes $NGINX_WORKERS;
pid $tmp/nginx.pid;
error_log $tmp/nginx-error.log warn;
events { worker_connections $(( IDLE + CONNECTIONS + 512 )); }
http {
    access_log off;
    server_tokens off;
    client_body_temp_path $tmp/body;
    proxy_temp_path $tmp/proxy;
    fastcgi_temp_path $tmp/fastcgi;
    uwsgi_temp_path $tmp/uwsgi;
    scgi_temp_path $tmp/scgi;
    open_file_cache max=16;
    sendfile on;
    tcp_nopush on;
    keepalive_timeout 0;
    etag off;
    types { }
    default_type text/html;
    charset utf-8;
    server {
        listen 127.0.0.1:$nginx_port reuseport;
        root $tmp;
        location / {
            add_header Cache-Control no-store;
            try_files /page.html =404;
        }
    }
}
CONF
"$NGINX" -e "$tmp/nginx-error.log" -p "$tmp" -c "$tmp/nginx.conf" -g 'daemon off;' >/dev/null 2>&1 &
nginx_pid=$!
wait_for_port "$nginx_port"

# --- Load ---------------------------------------------------------------------------------------------
to_ms() { # wrk prints 812.00us, 1.23ms, 1.02s
    awk -v v="$1" 'BEGIN {
        n = v + 0
        if (v ~ /us$/) n /= 1000; else if (v ~ /ms$/) n += 0; else if (v ~ /s$/) n *= 1000
        printf "%.2f", n }'
}

# Sums one figure over a process and its children: $1 the pid, $2 the /proc file, $3 an awk program.
sum_over_tree() {
    local total=0 p n
    for p in "$1" $(pgrep -P "$1" || true); do
        n=$(awk "$3" "/proc/$p/$2" 2>/dev/null || echo 0)
        total=$(( total + ${n:-0} ))
    done
    echo "$total"
}
rss_kb() { sum_over_tree "$1" status '/^VmRSS:/ { print $2 }'; }       # resident memory, kB
cpu_ticks() { sum_over_tree "$1" stat '{ print $14 + $15 }'; }         # user + system, clock ticks
tick_us=$(( 1000000 / $(getconf CLK_TCK) ))

# One wrk run against a server; prints "req/s p50 p99 cpu-us-per-request errors".
load() {
    local port=$1 pid=$2 seconds=$3 out before after
    before=$(cpu_ticks "$pid")
    out=$(timeout $(( seconds + 15 )) wrk -t"$WRK_THREADS" -c"$CONNECTIONS" -d"${seconds}s" --latency \
        -H 'Connection: close' "http://127.0.0.1:$port/" 2>&1) || true
    after=$(cpu_ticks "$pid")
    local rps p50 p99 errors cpu
    rps=$(awk '/^Requests\/sec:/ { printf "%d", $2 }' <<<"$out")
    p50=$(to_ms "$(awk '$1 == "50%" { print $2 }' <<<"$out")")
    p99=$(to_ms "$(awk '$1 == "99%" { print $2 }' <<<"$out")")
    cpu=$(awk -v t=$(( (after - before) * tick_us )) -v r="${rps:-0}" -v s="$seconds" \
        'BEGIN { printf "%.1f", (r > 0 ? t / (r * s) : 0) }')
    errors=$(awk '/Socket errors|Non-2xx/ { sub(/^ +/, ""); gsub(/ /, ""); printf "%s;", $0 }' <<<"$out")
    echo "${rps:-0} $p50 $p99 $cpu ${errors:-none}"
}

# A background shell holding n connections that send nothing (wrk must not inherit them: its event
# loop only takes descriptors below a small bound).
holder_pid=
hold_idle() {
    # shellcheck disable=SC2034 # the descriptors only have to stay open
    ( for (( i = 0; i < $2; i++ )); do exec {fd}<>"/dev/tcp/127.0.0.1/$1" || exit 1; done; exec sleep 120 ) &
    holder_pid=$!
}
release_idle() { kill "$holder_pid" 2>/dev/null; wait "$holder_pid" 2>/dev/null || true; holder_pid=; }
held() { ss -Htn state established "( sport = :$1 )" 2>/dev/null | wc -l; }

median() { tr ' ' '\n' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Per label: the figures of each round, "rps p50 p99 cpu errors" separated by "|".
declare -A runs
labels=()
measure() { # label port pid seconds
    [[ -n ${runs[$1]+set} ]] || labels+=("$1")
    runs[$1]+="$(load "$2" "$3" "$4")|"
}
column() { # label, field number: the median of that field over the rounds
    tr '|' '\n' <<<"${runs[$1]}" | awk -v f="$2" 'NF { print $f }' | tr '\n' ' ' | median
}

echo "warming up..." >&2
load "$daemon_port" "$daemon_pid" 1 >/dev/null
load "$nginx_port" "$nginx_pid" 1 >/dev/null

# The daemon answers a silent connection 10 s after it was made, and the kernel hands a silent
# connection over only after a second or so: the idle runs wait 3 s for the hand-over, then load for
# 6 s at most.
idle_seconds=$(( DURATION < 6 ? DURATION : 6 ))
d_label=$daemon_label
n_label="nginx :$nginx_port ($NGINX_WORKERS workers)"
di_label="$daemon_label + $IDLE idle"
ni_label="nginx + $IDLE idle"
declare -A rss held_count
idle_run() { # label port pid
    hold_idle "$2" "$IDLE"
    sleep 3
    measure "$1" "$2" "$3" "$idle_seconds"
    held_count[$1]=$(held "$2")
    rss[$1]=$(rss_kb "$3")
    release_idle
}

echo "loading $daemon_label and nginx :$nginx_port in turn, $ROUNDS rounds of ${DURATION}s," \
    "$CONNECTIONS connections, then again with $IDLE silent connections held..." >&2
for (( round = 0; round < ROUNDS; round++ )); do
    measure "$d_label" "$daemon_port" "$daemon_pid" "$DURATION"
    rss[$d_label]=$(rss_kb "$daemon_pid")
    measure "$n_label" "$nginx_port" "$nginx_pid" "$DURATION"
    rss[$n_label]=$(rss_kb "$nginx_pid")
    idle_run "$di_label" "$daemon_port" "$daemon_pid"
    idle_run "$ni_label" "$nginx_port" "$nginx_pid"
done

echo "flooding $daemon_label with $SILENT silent connections for ${FLOOD_SECONDS}s..." >&2
# p50 p90 p99 max failed served, in ms
read -r f_p50 f_p90 f_p99 f_max f_failed f_served \
    < <(timeout $(( FLOOD_SECONDS + 60 )) python3 "$here/silent_flood.py" "$daemon_port" "$SILENT" 100000 \
        "$FLOOD_SECONDS" || echo "nan nan nan nan all 0")

daemon_hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$daemon_pid/status")

# --- Report -------------------------------------------------------------------------------------------
echo
echo "medians over the rounds; CPU = the server's user + system time per request"
printf '%-40s %9s %8s %8s %8s %8s\n' "server" "req/s" "p50 ms" "p99 ms" "CPU us" "RSS kB"
for label in "${labels[@]}"; do
    printf '%-40s %9s %8s %8s %8s %8s\n' "$label" "$(column "$label" 1)" "$(column "$label" 2)" \
        "$(column "$label" 3)" "$(column "$label" 4)" "${rss[$label]}"
done
echo
echo "each run (req/s p50 p99 cpu errors):"
for label in "${labels[@]}"; do echo "  $label: ${runs[$label]}"; done
echo "daemon peak RSS: $daemon_hwm kB; silent connections held at the end of the last idle runs:" \
    "daemon ${held_count[$di_label]}, nginx ${held_count[$ni_label]} (of $IDLE)"

d_rps=$(column "$d_label" 1); n_rps=$(column "$n_label" 1); i_rps=$(column "$di_label" 1)
d_p99=$(column "$d_label" 3); n_p99=$(column "$n_label" 3)
verdict() { if awk "BEGIN { exit !($2) }"; then echo "  met     $1"; else echo "  MISSED  $1"; fi; }
echo "browser-like client under $SILENT silent connections: p50 $f_p50 ms, p90 $f_p90 ms," \
    "p99 $f_p99 ms, max $f_max ms ($f_served served, $f_failed failed)"
echo "targets:"
verdict "req/s at least nginx's ($d_rps vs $n_rps)" "$d_rps >= $n_rps"
verdict "p99 no worse than nginx's ($d_p99 vs $n_p99 ms)" "$d_p99 <= $n_p99"
verdict "under 4 MB resident (peak $daemon_hwm kB)" "$daemon_hwm < 4096"
verdict "within 10 % with $IDLE idle connections ($i_rps vs $d_rps)" "$i_rps >= 0.9 * $d_rps"
verdict "served within 50 ms under $SILENT silent connections (p99 $f_p99 ms, $f_failed failed)" \
    "\"$f_failed\" == \"0\" && $f_p99 < 50"
