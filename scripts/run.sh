#!/usr/bin/env bash
# The main job: installs what is missing, builds, creates the demo world's
# database when absent, starts the travel service on a free loopback port and
# runs the plug-in in the reference host against it. On a terminal the host
# is interactive; otherwise it runs the demo script and prints a readable
# transcript. The service stops when the host exits, however it exits.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build >&2

bin=build/bin
db=build/demo-world.db
# Imported every time (it takes a moment): a database written by an older
# import may be one the service no longer reads.
"$bin/marlgate-travel-service" import --db "$db" data/demo-world >&2

work=$(mktemp -d)
service_pid=""
stop_service() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=""
  fi
  rm -rf "$work"
}
trap stop_service EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

"$bin/marlgate-travel-service" serve --db "$db" --host 127.0.0.1 --port 0 \
  >"$work/service.out" 2>"$work/service.log" &
service_pid=$!

port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$work/service.out")
  [ -n "$port" ] && break
  if ! kill -0 "$service_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "run.sh: the travel service did not start:" >&2
  cat "$work/service.log" >&2
  exit 1
fi
echo "Travel service listening on 127.0.0.1:$port" >&2

host_args=(--connect-to "travel.marlgate.test:80:127.0.0.1:$port")
if [ -t 0 ] && [ -t 1 ] && "$bin/marlgate-host" --help 2>/dev/null | grep -q -- '--interactive'; then
  "$bin/marlgate-host" "${host_args[@]}"
else
  "$bin/marlgate-host" "${host_args[@]}" --format text --script demo/lookup.script
fi
