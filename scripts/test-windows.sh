#!/usr/bin/env bash
# The Windows build and its tests: cross-compiles the plug-in (a COM server),
# the reference host and the Windows tests with mingw-w64, makes a fresh Wine
# prefix under the build folder, registers marlgate_travels.dll with
# regsvr32, runs the Windows unit tests and the script-mode end-to-end tests
# under Wine, unregisters the DLL and checks that none of its keys is left.
# Installs what is missing (mingw-w64, Wine, ...) with apt-get.
#
# Usage: scripts/test-windows.sh
# Environment: MARLGATE_SKIP_WINDOWS=1 skips all of it on a developer's
# machine; in CI (CI=true) it is ignored. The last line says
# "windows: N passed, N failed, N skipped"; the exit status is non-zero on
# any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-windows

if [ "${MARLGATE_SKIP_WINDOWS:-}" = "1" ]; then
  if [ "${CI:-}" = "true" ]; then
    echo "test-windows.sh: MARLGATE_SKIP_WINDOWS is ignored in CI" >&2
  else
    echo "test-windows.sh: skipped (MARLGATE_SKIP_WINDOWS=1)"
    exit 0
  fi
fi

# --- packages ---------------------------------------------------------------
packages=(cmake ninja-build g++ pkg-config
          g++-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev wine wine64
          libgtest-dev libgmock-dev nlohmann-json3-dev libcli11-dev libcpp-httplib-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "Installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

# --- build ------------------------------------------------------------------
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2
# The end-to-end driver runs on Linux: it starts the loopback service and
# runs the Windows host under Wine.
cmake -S tests/windows/e2e -B "$build/e2e-driver" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/e2e-driver" -j2

# --- a fresh Wine prefix ------------------------------------------------------
export WINEPREFIX=$build/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES=winemenubuilder.exe=d
wineserver -k 2>/dev/null || true  # one left running on an old prefix of this path
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
# One wine server for every run below, stopped (and the registry saved) at
# the end whatever happens.
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
echo "Making the Wine prefix $WINEPREFIX" >&2
wineboot -i >"$build/wineboot.log" 2>&1 || { cat "$build/wineboot.log" >&2; exit 1; }

passed=0
failed=0
skipped=0
logs=$build/test-logs
rm -rf "$logs"
mkdir -p "$logs"

# check NAME COMMAND...: one check that passes when COMMAND succeeds.
check() {
  local name=$1
  shift
  if "$@" >"$logs/$name.log" 2>&1; then
    passed=$((passed + 1))
    echo "ok      $name"
  else
    failed=$((failed + 1))
    echo "FAILED  $name (log: $logs/$name.log)"
    tail -20 "$logs/$name.log"
  fi
}

# gtest NAME COMMAND...: runs a GoogleTest program and counts its tests; a
# program that ends without its summary (a crash) counts as one failure.
gtest() {
  local name=$1
  shift
  local log=$logs/$name.log
  local status=0
  "$@" 2>&1 | tr -d '\r' >"$log" || status=$?
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
}

dll="Z:$(echo "$build/bin/marlgate_travels.dll" | tr / '\\')"
clsid_main='{DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06}'
clsid_handler='{1EBCD13B-85FC-4996-8320-D47D04860361}'
keys=("CLSID\\$clsid_main" "CLSID\\$clsid_handler" "marlgate_travels.Main"
      "marlgate_travels.httpHandler" "TypeLib\\{4E4BBEFA-1818-4437-8FFE-DC6EEFA8C259}"
      "Interface\\{B0E2A9A4-3A77-4C51-9E0B-6D0C2F6F2A01}"
      "Interface\\{5C3B7E21-4D8A-4F0E-9B61-27A40CE3957D}"
      "Interface\\{14D0B042-6F3F-497A-A54C-1D25C42834B2}")

registered() {
  wine regsvr32 "$dll" &&
    wine reg query "HKCR\\CLSID\\$clsid_main\\InprocServer32" | grep -q -F "marlgate_travels.dll" &&
    for key in "${keys[@]}"; do wine reg query "HKCR\\$key" >/dev/null || return 1; done
}

# Keys left behind are looked for in the saved registry too, so that a key
# of ours under any other name would be found.
unregistered() {
  wine regsvr32 /u "$dll" || return 1
  for key in "${keys[@]}"; do
    if wine reg query "HKCR\\$key" >/dev/null 2>&1; then
      echo "still registered: HKCR\\$key"
      return 1
    fi
  done
  # Stopping the server saves the registry to the prefix's files.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if grep -i -n -E 'DA1DF1DA-18A6|1EBCD13B-85FC|4E4BBEFA-1818|B0E2A9A4-3A77|5C3B7E21-4D8A|14D0B042-6F3F|marlgate_travels\.' \
       "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg"; then
    echo "keys of the component are left in the registry"
    return 1
  fi
}

check regsvr32 registered
gtest windows_platform_test wine "$build/bin/windows_platform_test.exe"
gtest windows_component_test wine "$build/bin/windows_component_test.exe"
gtest windows_e2e_test env MARLGATE_WINDOWS_BIN_DIR="$build/bin" "$build/e2e-driver/windows_e2e_test"
check regsvr32-unregister unregistered

echo "windows: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
