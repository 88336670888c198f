#!/usr/bin/env bash
# The Windows build and its tests. Cross-compiles with mingw-w64, for x86-64
# (everything: the plug-in, the reference host with its components DLL, the
# tests) and for 32-bit x86 (the plug-in DLL players install, the host, the
# tests). The 32-bit code runs in an emulated guest with 32-bit Wine
# (scripts/test-windows-i686.sh, the next suite of scripts/test.sh); here the
# i686 DLL's build is checked: a PE32 DLL, importing system DLLs only,
# exporting only the COM entry points, its type library of automation types
# only (read as data by the x86-64 tests). Then, in a fresh Wine prefix: the
# x86-64 DLLs registered with regsvr32, the Windows unit tests, every script
# case of both reference hosts through the Windows host (once as it is, once
# with MSXML 4.0 disabled so that 6.0 serves), a VBScript client of
# httpHandler under Wine's cscript, and unregistration leaving no key behind.
# The unit tests and the end-to-end cases run under Wine's heap check, with
# the system's string cache off (OANOCACHE=1), so that a string or block
# freed twice or written past its end shows: any heap warning of Wine's in
# a run fails it. Installs what is missing (mingw-w64, Wine, ...) with
# apt-get.
#
# Usage: scripts/test-windows.sh
# Environment: MARLGATE_SKIP_WINDOWS=1 skips all of it on a developer's
# machine; in CI (CI=true) it is ignored. The last line says
# "windows: N passed, N failed, N skipped"; the exit status is non-zero on
# any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "${MARLGATE_SKIP_WINDOWS:-0}" = 1 ]; then
  if [ -n "${CI:-}" ]; then
    echo "test-windows.sh: MARLGATE_SKIP_WINDOWS is ignored in CI" >&2
  else
    echo "test-windows.sh: skipped (MARLGATE_SKIP_WINDOWS=1)"
    exit 0
  fi
fi
build=$root/build-windows
build32=$root/build-windows-i686

# --- packages ---------------------------------------------------------------
scripts/deps.sh build test windows

# --- build ------------------------------------------------------------------
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2
cmake -S . -B "$build32" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLGATE_BUILD_TESTS=ON >/dev/null
cmake --build "$build32" -j2
# The players' packages of both builds, and a newer build of the 64-bit
# installer for the upgrade test (the same files under a higher version).
cmake --build "$build" --target package
cmake --build "$build32" --target package
version=$(sed -n 's/^project(MarlgateTravels VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
newer="${version%.*}.$(( ${version##*.} + 1 ))"
makensis -V2 -DARCH=x64 -DVERSION="$newer" -DFILE_VERSION="${newer%.*}.0.${newer##*.}" \
  -DDLL="$build/packages/stage-x64/marlgate_travels.dll" \
  -DVIEW="$build/packages/stage-x64/Marlgate_Travels.xml" \
  -DOUT_FILE="$build/packages/upgrade-x64-setup.exe" packaging/windows/marlgate_travels.nsi
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

# Wine's heap check: free and tail checking of every heap, and its warnings
# (and errors) on standard error; nothing else of Wine's debugging output.
heap_check=(env OANOCACHE=1 WINEDEBUG=-all,err+heap,warn+heap)

# Each test program's time limit, in seconds, with room for a loaded 2-core
# machine: the whole suite, both end-to-end runs included, took 28 minutes
# at a load average of 12-14.
program_limit=1500

# shellcheck source=scripts/lib/gtest-summary.sh
source scripts/lib/gtest-summary.sh

# gtest NAME COMMAND...: runs a GoogleTest program and counts its tests; a
# program that ends without its summary (a crash) counts as one failure, and
# so does a run with heap warnings of Wine's, in the program's output or in
# what the programs it runs under Wine wrote to standard error (the e2e
# driver's harness appends that to $MARLGATE_WINE_STDERR_LOG).
gtest() {
  local name=$1
  shift
  local log=$logs/$name.log
  local wine_stderr=$logs/$name.wine-stderr.log
  local status=0
  : >"$wine_stderr"
  # A program that hangs (a test waiting on an event that never comes) is
  # stopped and counted as a failure instead of holding the run.
  MARLGATE_WINE_STDERR_LOG=$wine_stderr timeout -k 10 "$program_limit" "$@" 2>&1 |
    tr -d '\r' >"$log" || status=$?
  local heap
  heap=$(cat "$log" "$wine_stderr" | grep -c -E ':(warn|err):heap:' || true)
  if [ "$heap" -gt 0 ]; then
    failed=$((failed + 1))
    echo "FAILED  $name: $heap heap warnings of Wine's (logs: $log, $wine_stderr)"
    cat "$log" "$wine_stderr" | grep -E ':(warn|err):heap:' | sort | uniq -c | sort -rn | head -10
  fi
  count_gtest "$name" "$log" "$status"
}

# --- the 32-bit plug-in's build, checked (the guest suite runs it) -----------
# system DLLs every Windows has; nothing of the compiler's runtime (libstdc++,
# libgcc, winpthread) and no platform DLL of ours may be imported.
system_dlls='^(KERNEL32|USER32|ADVAPI32|ole32|OLEAUT32|WS2_32|msvcrt)\.dll$'
entry_points='DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer'

# self_contained DLL OBJDUMP FILE-PATTERN
self_contained() {
  local dll=$1 objdump=$2 pattern=$3
  file "$dll"
  file "$dll" | grep -q -E "$pattern" || { echo "not a $pattern"; return 1; }
  local imports exports
  imports=$("$objdump" -p "$dll" | sed -n 's/^\s*DLL Name: //p')
  echo "imports: $(echo $imports)"
  local import
  for import in $imports; do
    echo "$import" | grep -q -E "$system_dlls" || { echo "imports $import"; return 1; }
  done
  exports=$("$objdump" -p "$dll" | sed -n 's/^\s*\[ *[0-9]*\] \([A-Za-z_][A-Za-z0-9_@]*\)$/\1/p' | sort | tr '\n' ' ')
  echo "exports: $exports"
  [ "$exports" = "$entry_points " ] || { echo "exports are not the COM entry points"; return 1; }
}
check i686-dll-self-contained self_contained "$build32/bin/marlgate_travels.dll" i686-w64-mingw32-objdump \
  'PE32 executable \(DLL\).*Intel 80386'
check x86-64-dll-self-contained self_contained "$build/bin/marlgate_travels.dll" x86_64-w64-mingw32-objdump \
  'PE32\+ executable \(DLL\).*x86-64'

# The 32-bit installer's contents: a 32-bit program that carries exactly the
# 32-bit DLL and the view file (the guest suite installs with it).
installer_contents() {
  local setup=$1 stage=$2 pattern=$3 list
  file "$setup"
  file "$setup" | grep -q -E "$pattern" || { echo "not a $pattern"; return 1; }
  list=$(7z l -slt "$setup" | sed -n 's/^Path = //p' | grep -v -E '^\$PLUGINSDIR|setup\.exe$' | sort | tr '\n' ' ')
  echo "files: $list"
  [ "$list" = "Marlgate_Travels.xml marlgate_travels.dll uninstall.exe " ] || { echo "unexpected files"; return 1; }
  local out
  out=$(mktemp -d)
  7z e -y -o"$out" "$setup" marlgate_travels.dll Marlgate_Travels.xml >/dev/null
  cmp "$out/marlgate_travels.dll" "$stage/marlgate_travels.dll" &&
    cmp "$out/Marlgate_Travels.xml" "$stage/Marlgate_Travels.xml" &&
    file "$out/marlgate_travels.dll" | grep -q 'PE32 executable (DLL).*Intel 80386\|PE32+ executable (DLL).*x86-64'
  local status=$?
  rm -rf "$out"
  return $status
}
check i686-installer-contents installer_contents "$build32/packages/Marlgate_Travels-$version-setup.exe" \
  "$build32/packages/stage" 'PE32 executable.*Intel 80386'

winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
dll=$(winpath "$build/bin/marlgate_travels.dll")
host_dll=$(winpath "$build/bin/marlgate_host.dll")
clsid_main='{DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06}'
clsid_handler='{1EBCD13B-85FC-4996-8320-D47D04860361}'
clsid_timer='{C1F0E221-767D-4CCA-802B-BAF556068E27}'
keys=("CLSID\\$clsid_main" "CLSID\\$clsid_handler" "marlgate_travels.Main"
      "marlgate_travels.httpHandler" "TypeLib\\{4E4BBEFA-1818-4437-8FFE-DC6EEFA8C259}"
      "Interface\\{5C3B7E21-4D8A-4F0E-9B61-27A40CE3957D}"
      "Interface\\{14D0B042-6F3F-497A-A54C-1D25C42834B2}")
host_keys=("CLSID\\$clsid_timer" "TypeLib\\{D19D8DF6-F883-4CC0-A741-B20554E887F9}"
           "Interface\\{780D804F-D974-4E37-9EFB-F47BBB9DD7E3}")

# The host's components first (the host contract's type library, which the
# plug-in's imports, and the timer class a script host needs), then the
# plug-in.
registered() {
  wine regsvr32 "$host_dll" && wine regsvr32 "$dll" &&
    wine reg query "HKCR\\CLSID\\$clsid_main\\InprocServer32" | grep -q -F "marlgate_travels.dll" &&
    for key in "${keys[@]}" "${host_keys[@]}"; do wine reg query "HKCR\\$key" >/dev/null || return 1; done
}

# Keys left behind are looked for in the saved registry too, so that a key
# of ours under any other name would be found.
unregistered() {
  wine regsvr32 /u "$dll" || return 1
  wine regsvr32 /u "$host_dll" || return 1
  for key in "${keys[@]}" "${host_keys[@]}"; do
    if wine reg query "HKCR\\$key" >/dev/null 2>&1; then
      echo "still registered: HKCR\\$key"
      return 1
    fi
  done
  # Stopping the server saves the registry to the prefix's files.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if grep -i -n -E 'DA1DF1DA-18A6|1EBCD13B-85FC|4E4BBEFA-1818|5C3B7E21-4D8A|14D0B042-6F3F|C1F0E221-767D|D19D8DF6-F883|780D804F-D974|marlgate_travels\.|marlgate_host' \
       "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg"; then
    echo "keys of the components are left in the registry"
    return 1
  fi
}

# The VBScript client: late-bound through IDispatch, by ProgID, as a script
# host uses the plug-in's httpHandler (tests/windows/script/).
check regsvr32 registered
gtest windows_platform_test "${heap_check[@]}" wine "$build/bin/windows_platform_test.exe"
gtest windows_component_test "${heap_check[@]}" MARLGATE_I686_DLL="$(winpath "$build32/bin/marlgate_travels.dll")" \
  MARLGATE_HOST_CONTRACT_TLB="$(winpath "$build/idl/marlgate_host.tlb")" \
  wine "$build/bin/windows_component_test.exe"
gtest windows_host_contract_test "${heap_check[@]}" wine "$build/bin/windows_host_contract_test.exe"
e2e=("${heap_check[@]}" MARLGATE_WINDOWS_BIN_DIR="$build/bin" "$build/e2e-driver/windows_e2e_test")
gtest windows_e2e_test env MARLGATE_INSTALLER="$build/packages/Marlgate_Travels-$version-x64-setup.exe" \
  MARLGATE_UPGRADE_INSTALLER="$build/packages/upgrade-x64-setup.exe" "${e2e[@]}"
# A fresh Windows has MSXML 3.0 and 6.0 only: the same cases with 4.0's
# DLL refused, so that every request and reply goes through 6.0.
gtest windows_e2e_test_msxml6 env WINEDLLOVERRIDES="$WINEDLLOVERRIDES;msxml4=d" "${e2e[@]}" \
  --gtest_filter=-WindowsInstaller.*
check regsvr32-unregister unregistered

echo "windows: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
