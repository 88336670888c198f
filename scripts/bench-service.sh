#!/usr/bin/env bash
# Load test of the travel service with wrk (figures, not a test): the
# generated 100 000-place world (made once, kept in build/bench-world/),
# searches of apps/travel-service/bench/search.lua, each run with the load
# average beside it, and a summary of all runs side by side at the end:
#   prefix    the searches players type, found by the prefix search
#   misspelt  misspelt words, found only as close matches
#   costly    the costliest text found ($costly below), alone
#   beside    while 8 connections send the costly text: one client's
#             ordinary search, and /healthz on the admin listener
# The machine's other work counts against the figures: run it when it is
# quiet.
# Usage: scripts/bench-service.sh [seconds per run, default 10]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-10}"
# Five one-letter words (long lists of names each) and three words with
# some 80 close words each, on this world.
costly="m%20b%20h%20s%20g%20marefell%20maranfell%20morafell"
normal="kar%20crypt"
scripts/deps.sh build bench
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target marlgate-travel-service

bin=build/bin/marlgate-travel-service
world=build/bench-world
if [ ! -f "$world/w100k.db" ]; then
  mkdir -p "$world"
  "$bin" generate --places 100000 --out "$world/w100k" --seed 7 >/dev/null
  "$bin" import --db "$world/w100k.db" "$world/w100k" >/dev/null
fi

out=$(mktemp)
runs=$(mktemp)
"$bin" serve --db "$world/w100k.db" --port 0 >"$out" 2>"$world/requests.log" &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -f "$out" "$runs"' EXIT
for _ in $(seq 100); do grep -q "^admin listening" "$out" && break; sleep 0.05; done
url="http://$(sed -n 's/^listening on //p' "$out")"
admin="http://$(sed -n 's/^admin listening on //p' "$out")"

# summarize NAME CONNECTIONS LOAD WRK_OUTPUT: one line of the summary.
summarize() {
  local rate p50 p99 bad timeouts
  rate=$(echo "$4" | awk '/^Requests\/sec/ {print $2}')
  p50=$(echo "$4" | awk '$1 == "50%" {print $2}')
  p99=$(echo "$4" | awk '$1 == "99%" {print $2}')
  bad=$(echo "$4" | grep -c '^unexpected reply' || true)
  timeouts=$(echo "$4" | sed -n 's/.*timeout \([0-9]*\).*/\1/p')
  printf '%-16s %5s %12s %9s %9s %8s %9s   %s\n' "$1" "$2" "$rate" "$p50" "$p99" "$bad" \
    "${timeouts:-0}" "$3" >>"$runs"
}

# search NAME CONNECTIONS [VAR=VALUE...]: one wrk run of search.lua.
search() {
  local name=$1 connections=$2 load result
  shift 2
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  echo "== $name, $connections connections; load average before: $load"
  result=$(env "$@" wrk -t1 -c"$connections" -d"${seconds}s" --latency \
             -s apps/travel-service/bench/search.lua "$url")
  echo "$result" | grep -v '^unexpected reply'
  echo "   load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
  summarize "$name" "$connections" "$load" "$result"
}

search prefix 8 WRK_MIX=prefix
search misspelt 8 WRK_MIX=misspelt
search costly 8 WRK_SEARCH="$costly"

# The costly text from 8 connections, and beside it one client searching
# and one asking the admin listener for /healthz, all at once.
load=$(cut -d' ' -f1-3 /proc/loadavg)
echo "== costly at 8 connections, beside it one ordinary search and /healthz on the admin listener; load average before: $load"
flood=$(mktemp)
normal_out=$(mktemp)
health_out=$(mktemp)
WRK_SEARCH="$costly" wrk -t1 -c8 -d"$((seconds + 2))s" --latency \
  -s apps/travel-service/bench/search.lua "$url" >"$flood" &
flood_pid=$!
sleep 1
WRK_SEARCH="$normal" wrk -t1 -c1 -d"${seconds}s" --latency \
  -s apps/travel-service/bench/search.lua "$url" >"$normal_out" &
normal_pid=$!
wrk -t1 -c1 -d"${seconds}s" --latency "$admin/healthz" >"$health_out"
wait "$normal_pid" "$flood_pid"
for f in "$flood" "$normal_out" "$health_out"; do grep -v '^unexpected reply' "$f"; done
echo "   load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
summarize "costly (beside)" 8 "$load" "$(cat "$flood")"
summarize "search beside" 1 "$load" "$(cat "$normal_out")"
summarize "admin /healthz" 1 "$load" "$(cat "$health_out")"
rm -f "$flood" "$normal_out" "$health_out"

search prefix 64 WRK_MIX=prefix
search misspelt 64 WRK_MIX=misspelt

echo
echo "== summary (goals at 8 connections: prefix >= 18000 searches/s; costly >= 2000/s;"
echo "   beside the costly flood, the ordinary search's and /healthz's p99 <= 10 ms)"
printf '%-16s %5s %12s %9s %9s %8s %9s   %s\n' run conns requests/s p50 p99 "bad" timeouts \
  "load average before"
cat "$runs"
if awk '$(NF-4) > 0 {bad = 1} END {exit !bad}' "$runs" 2>/dev/null; then
  echo "WARNING: some replies were not what the run asks for (column \"bad\"): its figures say nothing"
fi
echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
