#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the normal build, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the
# Windows build under Wine, and the 32-bit Windows build under 32-bit Wine
# in an emulated guest. Locally, MARLGATE_SKIP_SANITIZE=1 skips the
# sanitizer suite and MARLGATE_SKIP_WINDOWS=1 both Windows suites; in CI
# they always run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build

status=0
ctest --test-dir build --output-on-failure -j2 || status=1
scripts/test-sanitize.sh || status=1
scripts/test-windows.sh || status=1
scripts/test-windows-i686.sh || status=1
exit $status
