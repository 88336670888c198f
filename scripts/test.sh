#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the normal build, the
# fuzz targets built with clang, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the Windows build under Wine. Locally, MARLGATE_SKIP_SANITIZE=1 and
# MARLGATE_SKIP_WINDOWS=1 skip the last two; in CI they always run.
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
exit $status
