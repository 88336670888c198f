#!/usr/bin/env bash
# Runs the README's main-job command in its non-terminal mode and checks that
# the transcript holds a search result, a route, a note and a shared line.
set -euo pipefail
cd "$(dirname "$0")/../.."

out=$(mktemp)
trap 'rm -f "$out"' EXIT
scripts/run.sh </dev/null >"$out" 2>/dev/null

fail=0
expect() {
  if ! grep -qF -- "$1" "$out"; then
    echo "missing from the transcript: $1" >&2
    fail=1
  fi
}
expect '0. "Sunken Vault"  [icon]'
expect '1. "Follow the stone path to Ringstone Circle (1.2 km)"  [icon]'
expect 'Levels (label): "Levels: 20-35"'
expect '"The lower halls flood at high tide; go in before noon."  [icon]'
expect 'to chat      > /f Follow the stone path to Ringstone Circle (1.2 km)'
if grep -q '^host error' "$out"; then
  echo "the transcript has host errors" >&2
  fail=1
fi
# The service stopped with the host: nothing of ours listens any more.
if pgrep -f 'marlgate-travel-service serve --db build/demo-world.db' >/dev/null; then
  echo "the travel service outlived the host" >&2
  fail=1
fi
[ $fail -eq 0 ] || { cat "$out" >&2; exit 1; }
echo "main job transcript: search, route, notes and sharing present"
