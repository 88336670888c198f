#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan and runs every test there; prints ctest's summary (and the
# output of any test that failed). Any report of either sanitizer fails the
# test it happens in.
#
# On a developer's machine MARLGATE_SKIP_SANITIZE=1 skips it; in CI (when
# CI is set) it always runs.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${MARLGATE_SKIP_SANITIZE:-0}" = 1 ]; then
  if [ -n "${CI:-}" ]; then
    echo "test-sanitize.sh: MARLGATE_SKIP_SANITIZE is ignored in CI" >&2
  else
    echo "test-sanitize.sh: skipped (MARLGATE_SKIP_SANITIZE=1)"
    exit 0
  fi
fi

scripts/deps.sh build test
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLGATE_SANITIZE=ON >/dev/null
cmake --build build-asan

# Leaks count as failures; the first report ends the process.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
log=build-asan/ctest.log
status=0
ctest --test-dir build-asan --output-on-failure -j2 >"$log" 2>&1 || status=$?
# All of it when something failed (with the failing tests' own output and
# the sanitizers' reports); only the summary when all passed.
if [ "$status" -ne 0 ]; then
  cat "$log"
else
  sed -n '/tests passed/,$p' "$log"
fi
exit "$status"
