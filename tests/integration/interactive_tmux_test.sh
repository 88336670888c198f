#!/usr/bin/env bash
# Uses marlgate-host's interactive mode as a player would: in a detached
# tmux session, against the travel service with the demo world, it types a
# search, presses the search button, picks the result, reads the route,
# shares a step with the fellowship, drops a step with a mouse click on its
# icon, gets the notes, shrinks and restores
# the terminal and leaves with F10 (and, in a second run, Ctrl-C), reading
# the screen with capture-pane. Exits 77 (skipped) only when tmux is
# missing.
#
# Usage: interactive_tmux_test.sh BIN_DIR SOURCE_DIR
set -euo pipefail
# Character counts below are screen columns (the frame is one cell a glyph).
export LC_ALL=C.UTF-8
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)

if ! command -v tmux >/dev/null 2>&1; then
  echo "SKIPPED: tmux is not installed (scripts/deps.sh test installs it)"
  exit 77
fi

work=$(mktemp -d)
service_pid=""
# A tmux server of our own, without the user's configuration.
tmux_() { tmux -u -f /dev/null -S "$work/tmux.sock" "$@"; }
cleanup() {
  tmux_ kill-server 2>/dev/null || true
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# The service; `timeout` makes sure it stops even if this script is killed.
"$bin/marlgate-travel-service" import --db "$work/world.db" "$src/data/demo-world" >/dev/null
timeout 300 "$bin/marlgate-travel-service" serve --db "$work/world.db" --host 127.0.0.1 \
  --port 0 >"$work/service.out" 2>"$work/service.log" &
service_pid=$!
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$work/service.out")
  [ -n "$port" ] && break
  kill -0 "$service_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$port" ] || fail "the travel service did not start: $(cat "$work/service.log")"

# Starts the host in session $1 of a 120x40 terminal. No --script and a
# terminal on both ends: the host goes interactive by itself. The exit
# status lands in $work/$1.status; the pane then lingers briefly.
start_host() {
  local command
  command=$(printf 'env LC_ALL=C.UTF-8 timeout --foreground 300 %q --connect-to %q --character Tester 2>%q; echo $? >%q; sleep 30' \
    "$bin/marlgate-host" "travel.marlgate.test:80:127.0.0.1:$port" "$work/$1.err" \
    "$work/$1.status")
  tmux_ new-session -d -s "$1" -x 120 -y 40 "$command"
}

session=play
screen() { tmux_ capture-pane -p -t "$session"; }
keys() { tmux_ send-keys -t "$session" "$@"; }
# Waits, at most 10 s, until the screen shows the fixed text $1.
wait_for() {
  for _ in $(seq 1 100); do
    if screen | grep -qF -- "$1"; then return 0; fi
    sleep 0.1
  done
  screen >&2
  fail "the screen never showed: $1"
}
# Waits, at most 10 s, until the screen no longer shows the fixed text $1.
wait_gone() {
  for _ in $(seq 1 100); do
    if ! screen | grep -qF -- "$1"; then return 0; fi
    sleep 0.1
  done
  screen >&2
  fail "the screen still shows: $1"
}
# Clicks the left button on the first cell of $2 in the first screen row
# that shows $1, as the terminal reports a click: a press and a release in
# the X10 mouse reports of the tmux terminal type (columns below 95 keep
# them in ASCII).
click() {
  local row=0 line prefix at
  while IFS= read -r line; do
    if [[ $line == *"$1"* && $line == *"$2"* ]]; then
      prefix=${line%%"$2"*}
      at=$(printf '\\0%03o\\0%03o' $((33 + ${#prefix})) $((33 + row)))
      keys -l "$(printf '%b' "\033[M ${at}\033[M#${at}")"
      return 0
    fi
    row=$((row + 1))
  done < <(screen)
  fail "nothing to click: $2 on the row of $1"
}
# Waits, at most 10 s, for the host of the session to end; prints its status.
wait_exit() {
  for _ in $(seq 1 100); do
    if [ -s "$work/$session.status" ]; then
      cat "$work/$session.status"
      return 0
    fi
    sleep 0.1
  done
  screen >&2
  fail "the host did not leave"
}

start_host "$session"
wait_for "[Search]"
wait_for "Destination: ["

# Search: type into SearchText, Tab to SearchButton, press it.
keys -l sunken
keys Tab Enter
wait_for "Sunken Vault"
# Pick the result (SearchList is next), then look at the Route page.
keys Tab Enter F2
wait_for "Use the portal to Sunken Vault"
wait_for "34.8N, 13.6E"
wait_for "Follow the stone path to Ringstone Circle (1.2 km)"
echo "The screen after the route lookup:"
screen

# Share the second step with the fellowship: Tab to RouteList, on to the
# Fellowship box, tick it, back to the list, down a row, Enter.
keys Tab Tab Tab Tab Space BTab BTab BTab Down Enter
wait_for "[Fellowship] Follow the stone path"

# A click on a step's icon column clicks the icon: the plug-in drops the row.
click "Start in the town of Eastmere" "×"
wait_gone "Start in the town of Eastmere"
wait_for "Use the portal to Sunken Vault"

# The notes: a click on their tab, Tab to the button, Enter.
click "Search" "Notes"
wait_for "[Notes]"
keys Tab Enter
wait_for "Levels: 20-35"
wait_for "go in before noon."

# Too small, then large again: the panel comes back as it was.
tmux_ resize-window -t "$session" -x 40 -y 10
wait_for "too small"
tmux_ resize-window -t "$session" -x 120 -y 40
wait_for "Levels: 20-35"

keys F10
status=$(wait_exit)
[ "$status" = 0 ] || fail "F10: the host ended with status $status"
if screen | grep -qF "Marlgate Travels"; then
  fail "the terminal still shows the panel after the host left"
fi
[ ! -s "$work/$session.err" ] || fail "the host wrote to standard error: $(cat "$work/$session.err")"

# Ctrl-C leaves as cleanly.
session=again
start_host "$session"
wait_for "[Search]"
keys C-c
status=$(wait_exit)
[ "$status" = 0 ] || fail "Ctrl-C: the host ended with status $status"

echo "interactive mode: search, route, sharing, notes, resize and leaving work in tmux"
