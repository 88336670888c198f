#!/usr/bin/env bash
# Builds and runs the benchmarks (Google Benchmark; not tests): the reply
# path of a large search and a small lookup end to end over loopback, each
# against its floor, and the resident size of marlgate-host with the plug-in
# over 10 000 lookups. Prints the ratios, their targets, the machine and its
# load average at the end.
# Usage: scripts/bench.sh [benchmark options, e.g. --benchmark_filter=Lookup]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build test bench
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target bench
exec build/bin/bench "$@"
