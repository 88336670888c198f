#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the normal build, the
# fuzz targets built with clang, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows build under Wine, and the 32-bit
# Windows build under 32-bit Wine in an emulated guest. Locally,
# MARLGATE_SKIP_SANITIZE=1 skips the sanitizer suite and
# MARLGATE_SKIP_WINDOWS=1 both Windows suites; in CI they always run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build

status=0
ctest --test-dir build --output-on-failure -j2 || status=1
# The fuzz targets build with clang only, which nothing else here uses: build
# them, so that a change which breaks them fails here and not in a later
# fuzzing session.
scripts/fuzz.sh --check || status=1
scripts/test-sanitize.sh || status=1
scripts/test-windows.sh || status=1
scripts/test-windows-i686.sh || status=1
exit $status
