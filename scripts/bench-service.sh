#!/usr/bin/env bash
# Load test of the travel service with wrk (a figure, not a test): the
# generated 100 000-place world (made once, kept in build/bench-world/),
# searches of apps/travel-service/bench/search.lua at 8 and then 64
# keep-alive connections, each run with the load average beside it. The
# machine's other work counts against the figures: run it when it is quiet.
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
"$bin" serve --db "$world/w100k.db" --port 0 >"$out" 2>"$world/requests.log" &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -f "$out"' EXIT
for _ in $(seq 100); do grep -q listening "$out" && break; sleep 0.05; done
url="http://$(sed -n 's/^listening on //p' "$out")"

for connections in 8 64; do
  echo "== $connections connections; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
  wrk -t1 -c"$connections" -d"${seconds}s" --latency -s apps/travel-service/bench/search.lua "$url" |
    grep -v '^unexpected reply'
  echo "   load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
done
