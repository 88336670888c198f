#!/usr/bin/env bash
# Load test of the travel service with wrk (figures, not a test): the
# generated 100 000-place world (made once, kept in build/bench-world/),
# searches of apps/travel-service/bench/search.lua in two mixes, at 8 and
# then 64 keep-alive connections, each run with the load average beside it,
# and a summary of all runs side by side at the end:
#   prefix    the searches players type, found by the prefix search
#   misspelt  misspelt words, found only as close matches
# The machine's other work counts against the figures: run it when it is
# quiet.
# Usage: scripts/bench-service.sh [seconds per run, default 10]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-10}"
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
for _ in $(seq 100); do grep -q listening "$out" && break; sleep 0.05; done
url="http://$(sed -n 's/^listening on //p' "$out")"

for connections in 8 64; do
  for mix in prefix misspelt; do
    load=$(cut -d' ' -f1-3 /proc/loadavg)
    echo "== $mix searches, $connections connections; load average before: $load"
    result=$(WRK_MIX=$mix wrk -t1 -c"$connections" -d"${seconds}s" --latency \
               -s apps/travel-service/bench/search.lua "$url")
    echo "$result" | grep -v '^unexpected reply'
    echo "   load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
    rate=$(echo "$result" | awk '/^Requests\/sec/ {print $2}')
    p50=$(echo "$result" | awk '$1 == "50%" {print $2}')
    p99=$(echo "$result" | awk '$1 == "99%" {print $2}')
    bad=$(echo "$result" | grep -c '^unexpected reply' || true)
    timeouts=$(echo "$result" | sed -n 's/.*timeout \([0-9]*\).*/\1/p')
    printf '%-9s %5s %12s %9s %9s %8s %9s   %s\n' "$mix" "$connections" "$rate" "$p50" "$p99" \
      "$bad" "${timeouts:-0}" "$load" >>"$runs"
  done
done

echo
echo "== summary (goals: prefix >= 15000 searches/s; misspelt >= 2000/s with p99 <= 10 ms, at 8)"
printf '%-9s %5s %12s %9s %9s %8s %9s   %s\n' mix conns searches/s p50 p99 "bad" timeouts \
  "load average before"
cat "$runs"
echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
