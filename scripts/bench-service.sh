#!/usr/bin/env bash
# Load test of the travel service with wrk (figures, not a test), on the
# generated 100 000-place world (made once, kept in build/bench-world/),
# with the searches of apps/travel-service/bench/search.lua. Every run
# measures 8 connections (unless named otherwise) for the given time, with
# the load average beside it:
#   floor       nginx serving one reply of the same size as a static file:
#               the most HTTP gives on this machine; every other figure is
#               also printed as a ratio to it
#   zipf        20 000 distinct texts made from the world's own names, asked
#               with a Zipf-like popularity (search.lua), after a warm-up run
#               of the same mix, as a running service has seen them before
#   prefix      the searches players type, found by the prefix search
#   misspelt    misspelt words, found only as close matches
#   costly      the costliest text found ($costly below), alone
#   beside      while 8 connections send the costly text: one client's
#               ordinary search, and /healthz on the admin listener (also
#               on the copy without the cache, where the workers answer it)
#   ... off     the same mixes on a second copy with no reply cache
#   ... base    with --baseline BIN, the same mixes on that build of the
#               service (an older one, say), at its defaults
# The service runs at its defaults. The machine's other work counts against
# the figures: run it when it is quiet.
#
# Usage: scripts/bench-service.sh [-r ROUNDS] [--baseline BIN] [SECONDS]
#   SECONDS  per run (default 10); ROUNDS: the whole set again (default 1)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=10
rounds=1
baseline=""
while [ $# -gt 0 ]; do
  case "$1" in
    -r) rounds="$2"; shift 2 ;;
    --baseline) baseline="$(realpath "$2")"; shift 2 ;;
    -h|--help) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) seconds="$1"; shift ;;
  esac
done

# Five one-letter words (long lists of names each) and three words with
# some 80 close words each, on this world.
costly="m%20b%20h%20s%20g%20marefell%20maranfell%20morafell"
normal="kar%20crypt"
scripts/deps.sh build test bench
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target marlgate-travel-service

bin=build/bin/marlgate-travel-service
world=build/bench-world
if [ ! -f "$world/w100k.db" ]; then
  mkdir -p "$world"
  "$bin" generate --places 100000 --out "$world/w100k" --seed 7 >/dev/null
  "$bin" import --db "$world/w100k.db" "$world/w100k" >/dev/null
fi
export WRK_NAMES="$world/w100k/places.csv"

work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done; rm -rf "$work"' EXIT

# start NAME BIN [OPTION...]: a copy of the service; sets url_NAME and
# admin_NAME.
start() {
  local name=$1 program=$2 out="$work/$1.out"
  shift 2
  "$program" serve --db "$world/w100k.db" --port 0 "$@" >"$out" 2>"$world/requests-$name.log" &
  pids+=($!)
  for _ in $(seq 200); do grep -q "^admin listening" "$out" && break; sleep 0.05; done
  printf -v "url_$name" 'http://%s' "$(sed -n 's/^listening on //p' "$out")"
  printf -v "admin_$name" 'http://%s' "$(sed -n 's/^admin listening on //p' "$out")"
}
start cached "$bin"
start off "$bin" --cache-bytes 0
[ -n "$baseline" ] && start base "$baseline"

# The floor: nginx (one worker, as one process) serving a reply of the
# service's, byte for byte, as a static file, set up for its best here: the
# file's descriptor kept open, read rather than sent with sendfile (which
# measured 25-30% slower for a file this small).
mkdir -p "$work/nginx/www"
curl -s -d "&travel_action=search&Value=kar&currentcharacter=Ann%20Lee&random= .5" \
  "$url_off/marlgate_travels/travel.php" >"$work/nginx/www/reply.xml"
n="$work/nginx"
# A free port: nginx ends at once when its port is taken; another is tried.
for _ in 1 2 3 4 5; do
  floor_port=$((20000 + RANDOM % 30000))
  cat >"$n/nginx.conf" <<EOF
daemon off; master_process off; worker_processes 1;
pid $n/nginx.pid; lock_file $n/nginx.lock; error_log $n/error.log notice;
events { worker_connections 1024; }
http {
  access_log off; open_file_cache max=16;
  client_body_temp_path $n/body; proxy_temp_path $n/proxy; fastcgi_temp_path $n/fastcgi;
  uwsgi_temp_path $n/uwsgi; scgi_temp_path $n/scgi;
  server { listen 127.0.0.1:$floor_port; root $n/www; default_type text/xml; }
}
EOF
  /usr/sbin/nginx -p "$n/" -c "$n/nginx.conf" -e "$n/error.log" &
  nginx_pid=$!
  for _ in $(seq 100); do
    curl -sf "http://127.0.0.1:$floor_port/reply.xml" >/dev/null && break
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -0 "$nginx_pid" 2>/dev/null && break
done
pids+=("$nginx_pid")
floor_url="http://127.0.0.1:$floor_port/reply.xml"
echo "floor: nginx serving a $(wc -c <"$n/www/reply.xml")-byte reply of the service's as a static file"

runs="$work/runs"
floor_rate=""

# summarize NAME CONNECTIONS LOAD WRK_OUTPUT: one line of the summary.
summarize() {
  local rate p50 p99 bad timeouts ratio
  rate=$(echo "$4" | awk '/^Requests\/sec/ {print $2}')
  p50=$(echo "$4" | awk '$1 == "50%" {print $2}')
  p99=$(echo "$4" | awk '$1 == "99%" {print $2}')
  bad=$(echo "$4" | grep -c '^unexpected reply' || true)
  timeouts=$(echo "$4" | sed -n 's/.*timeout \([0-9]*\).*/\1/p')
  ratio=$(awk -v r="${rate:-0}" -v f="${floor_rate:-0}" 'BEGIN { if (f > 0) printf "%.2f", r / f; else print "-" }')
  printf '%-20s %5s %12s %6s %9s %9s %6s %8s   %s\n' "$1" "$2" "$rate" "$ratio" "$p50" "$p99" \
    "$bad" "${timeouts:-0}" "$3" >>"$runs"
}

# run NAME CONNECTIONS URL [VAR=VALUE...]: one wrk run of search.lua.
run() {
  local name=$1 connections=$2 url=$3 load result
  shift 3
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  echo "== $name, $connections connections; load average before: $load"
  result=$(env "$@" wrk -t1 -c"$connections" -d"${seconds}s" --latency \
             -s apps/travel-service/bench/search.lua "$url")
  echo "$result" | grep -v '^unexpected reply' | grep -E 'Requests/sec|Latency|99%|Socket' || true
  summarize "$name" "$connections" "$load" "$result"
}

# beside URL ADMIN [SUFFIX]: the costly text from 8 connections, and beside
# it one client searching and one asking the admin listener for /healthz,
# all at once. On the copy without the cache ("off") every costly search is
# worked by the database workers, as a flood of distinct costly texts is.
beside() {
  local url=$1 admin=$2 suffix=${3:-} load flood normal_out health_out flood_pid normal_pid
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  echo "== costly${suffix} at 8 connections, beside it one ordinary search and /healthz on the admin listener; load average before: $load"
  flood="$work/flood" normal_out="$work/normal" health_out="$work/health"
  WRK_SEARCH="$costly" wrk -t1 -c8 -d"$((seconds + 2))s" --latency \
    -s apps/travel-service/bench/search.lua "$url" >"$flood" &
  flood_pid=$!
  sleep 1
  WRK_SEARCH="$normal" wrk -t1 -c1 -d"${seconds}s" --latency \
    -s apps/travel-service/bench/search.lua "$url" >"$normal_out" &
  normal_pid=$!
  wrk -t1 -c1 -d"${seconds}s" --latency "$admin/healthz" >"$health_out"
  wait "$normal_pid" "$flood_pid"
  summarize "costly (beside)$suffix" 8 "$load" "$(cat "$flood")"
  summarize "search beside$suffix" 1 "$load" "$(cat "$normal_out")"
  summarize "admin /healthz$suffix" 1 "$load" "$(cat "$health_out")"
}

for round in $(seq "$rounds"); do
  echo "######## round $round of $rounds"
  : >"$runs"
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  floor_result=$(wrk -t1 -c8 -d"${seconds}s" --latency "$floor_url")
  floor_rate=$(echo "$floor_result" | awk '/^Requests\/sec/ {print $2}')
  summarize "floor (nginx)" 8 "$load" "$floor_result"

  run "zipf (warm-up)" 8 "$url_cached" WRK_MIX=zipf
  run zipf 8 "$url_cached" WRK_MIX=zipf
  run prefix 8 "$url_cached" WRK_MIX=prefix
  run misspelt 8 "$url_cached" WRK_MIX=misspelt
  run costly 8 "$url_cached" WRK_SEARCH="$costly"
  beside "$url_cached" "$admin_cached"
  run "prefix" 64 "$url_cached" WRK_MIX=prefix
  run "misspelt" 64 "$url_cached" WRK_MIX=misspelt

  # Misses: a copy that keeps no reply works every search from the database.
  run "zipf off" 8 "$url_off" WRK_MIX=zipf
  run "prefix off" 8 "$url_off" WRK_MIX=prefix
  run "misspelt off" 8 "$url_off" WRK_MIX=misspelt
  run "costly off" 8 "$url_off" WRK_SEARCH="$costly"
  beside "$url_off" "$admin_off" " off"
  if [ -n "$baseline" ]; then
    run "zipf base" 8 "$url_base" WRK_MIX=zipf
    run "prefix base" 8 "$url_base" WRK_MIX=prefix
    run "misspelt base" 8 "$url_base" WRK_MIX=misspelt
    run "costly base" 8 "$url_base" WRK_SEARCH="$costly"
  fi

  echo
  echo "== summary of round $round (goals at 8 connections: zipf >= 0.5 x floor with p99 <= 1 ms;"
  echo "   prefix >= 30000/s; misspelt >= 20000/s; costly >= 2000/s; beside the costly flood,"
  echo "   the ordinary search's and /healthz's p99 <= 10 ms; no mix slower off than base)"
  printf '%-20s %5s %12s %6s %9s %9s %6s %8s   %s\n' run conns requests/s floor p50 p99 bad \
    timeouts "load average before"
  cat "$runs"
  if awk '$(NF-4) > 0 {bad = 1} END {exit !bad}' "$runs"; then
    echo "WARNING: some replies were not what the run asks for (column \"bad\"): its figures say nothing"
  fi
done
echo "reply cache of the cached copy after all rounds:"
curl -s "$admin_cached/metrics" | grep '^marlgate_reply_cache' || true
echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
