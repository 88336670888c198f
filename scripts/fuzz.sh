#!/usr/bin/env bash
# Fuzzes the ways input enters the system with libFuzzer: builds the fuzz
# targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# build-fuzz, and runs each for the given time, starting from the inputs
# kept in fuzz/corpus/<target>/.
#
# Usage: scripts/fuzz.sh [-t SECONDS] [--merge] [--check] [TARGET...]
#   -t SECONDS  how long each target runs (default 60)
#   --merge     afterwards, adds to fuzz/corpus/<target>/ the new inputs
#               that reach code the kept ones do not (to be committed)
#   --check     builds the targets and runs each once over its kept corpus,
#               fuzzing nothing: the test command's proof that they build
#   TARGET      reply, url_encode, view_file, script_line, search_cost
#               (default: all)
#
# New inputs go to build-fuzz/corpus/<target>/, findings (the input that
# broke something, and libFuzzer's log) to build-fuzz/findings/<target>/.
# Prints one line per target; exit status 1 when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
merge=0
check=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    -t) seconds="$2"; shift 2 ;;
    --merge) merge=1; shift ;;
    --check) check=1; shift ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
[ ${#targets[@]} -eq 0 ] && targets=(reply url_encode view_file script_line search_cost)

scripts/deps.sh build test
# clang, and its runtime with libFuzzer and the sanitizers.
missing=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DMARLGATE_SANITIZE=ON -DMARLGATE_FUZZ=ON >/dev/null
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

if [ "$check" -eq 1 ]; then
  status=0
  for t in "${targets[@]}"; do
    log="$build/check-$t.log"
    if "$build/bin/fuzz_$t" -runs=0 "fuzz/corpus/$t" >"$log" 2>&1; then
      echo "fuzz_$t: built; its $(find "fuzz/corpus/$t" -type f | wc -l) kept inputs run clean"
    else
      status=1
      echo "fuzz_$t: FAILED on its kept inputs (log: $log)"
      tail -20 "$log"
    fi
  done
  exit "$status"
fi

found=0
printf '\n%-12s %8s %12s %10s %8s %s\n' target seconds executions "execs/s" corpus findings
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  findings="$build/findings/$t"
  mkdir -p "$work" "$findings"
  dict=()
  [ -f "fuzz/dict/$t.dict" ] && dict=(-dict="fuzz/dict/$t.dict")
  log="$findings/fuzz.log"
  # A search runs in well under a millisecond: one that takes a second is a
  # finding, whatever its counted cost.
  timeout=10
  [ "$t" = search_cost ] && timeout=1
  status=0
  # Inputs stay small enough for many runs a second; the few larger kept
  # inputs (a reply past the row limit) run whole in the corpus replay.
  "$build/bin/fuzz_$t" "${dict[@]}" -max_total_time="$seconds" -max_len=8192 -timeout="$timeout" -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$work" "fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  final_stat() { sed -n "s/^stat::$1: *//p" "$log" | tail -1; }
  artifacts=$(find "$findings" -maxdepth 1 -type f ! -name fuzz.log | wc -l)
  if [ "$status" -ne 0 ] || [ "$artifacts" -gt 0 ]; then
    found=1
    result="FOUND (exit $status; see $findings/)"
  else
    result="none"
  fi
  corpus=$(find "$work" "fuzz/corpus/$t" -type f | wc -l)
  printf '%-12s %8s %12s %10s %8s %s\n' "$t" "$seconds" "$(final_stat number_of_executed_units)" \
    "$(final_stat average_exec_per_sec)" "$corpus" "$result"
  if [ "$merge" -eq 1 ] && [ "$status" -eq 0 ]; then
    "$build/bin/fuzz_$t" -merge=1 "fuzz/corpus/$t" "$work" >>"$log" 2>&1
  fi
done
exit "$found"
