# Sourced by the Windows test scripts: counts one GoogleTest program's run.
#
# count_gtest NAME LOG STATUS: adds the program's passed, failed and skipped
# tests (from the summary at the end of LOG, carriage returns already
# removed) to the caller's $passed, $failed and $skipped, and prints them.
# A program that ended without its summary (a crash, its time limit) counts
# as one failure, and so does one that ended with a status other than 0
# while its summary lists no failure. Skipped tests are listed by name.
count_gtest() {
  local name=$1 log=$2 status=$3
  local p f s
  p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$log" | tail -1)
  f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:$/\1/p' "$log" | tail -1)
  s=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:$/\1/p' "$log" | tail -1)
  if [ -z "$p" ] && [ -z "$f" ]; then
    failed=$((failed + 1))
    echo "FAILED  $name ended without its summary (status $status; log: $log)"
    tail -30 "$log"
    return
  fi
  passed=$((passed + ${p:-0}))
  failed=$((failed + ${f:-0}))
  skipped=$((skipped + ${s:-0}))
  echo "$name: ${p:-0} passed, ${f:-0} failed, ${s:-0} skipped"
  if [ -n "$f" ] || [ "$status" -ne 0 ]; then
    grep -E '^\[  FAILED  \]|Failure$' "$log" | head -20 || true
    [ -n "$f" ] || failed=$((failed + 1))
  fi
  grep -E '^\[  SKIPPED \] [A-Za-z][^ ]*$' "$log" || true
}
