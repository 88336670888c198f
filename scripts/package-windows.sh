#!/usr/bin/env bash
# Makes what a player gets on Windows: for the 32-bit build (the one players
# use) and the 64-bit build, the installer and the archive for an install
# by hand, into build-windows-i686/packages and build-windows/packages.
# Installs what is missing (mingw-w64, NSIS, ...) with apt-get.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build windows

for arch in i686 x86-64; do
  # The same settings as scripts/test-windows.sh, so the folders serve both.
  if [ "$arch" = i686 ]; then
    build=build-windows-i686 options=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DMARLGATE_BUILD_TESTS=OFF)
  else
    build=build-windows options=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake)
  fi
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
  cmake --build "$build" --target package
  ls -l "$build"/packages/*.exe "$build"/packages/*.zip
done
