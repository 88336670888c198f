#!/bin/bash
# Runs inside the 32-bit guest (scripts/test-windows-i686.sh), from the
# payload disk mounted at /payload: the 32-bit Windows build under 32-bit
# Wine. Each step has its own time limit; its output goes to
# /payload/results/<step>.log, its exit status to <step>.status and its
# seconds to <step>.seconds, and one line per step to the console. The host
# reads the results from the disk once the guest has powered off.
#
# The payload: bin/ (the i686 build's binaries, the unit tests among them),
# driver (the end-to-end driver, a Linux x86-64 program that starts the
# loopback service and runs the host under Wine) and lib/ (its libraries),
# marlgate_host.tlb (the host contract's type library), setup.exe (the x86
# installer), src/ (the sources the driver reads) and run.sh.
set -u
payload=/payload
bin=$payload/bin
results=$payload/results
mkdir -p "$results"

export HOME=/root
export WINEDEBUG=-all
export WINEDLLOVERRIDES=winemenubuilder.exe=d
export TMPDIR=/var/tmp
export MARLGATE_SOURCE_DIR=$payload/src

say() { echo "guest: $*" >/dev/console; }

# step NAME LIMIT COMMAND...: COMMAND (a program or an exported function)
# with LIMIT seconds of time.
step() {
  local name=$1 limit=$2
  shift 2
  local start end status
  start=$(cut -d' ' -f1 /proc/uptime)
  timeout -k 10 "$limit" bash -c '"$@"' step "$@" >"$results/$name.log" 2>&1
  status=$?
  end=$(cut -d' ' -f1 /proc/uptime)
  echo "$status" >"$results/$name.status"
  local seconds
  seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.0f", b - a }')
  echo "$seconds" >"$results/$name.seconds"
  [ "$status" -eq 124 ] || [ "$status" -eq 137 ] && echo "(stopped at its limit of $limit s)" >>"$results/$name.log"
  say "$name: status $status in $seconds s"
  sync
}

winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
# The end-to-end driver with the libraries it was linked with, given to it
# alone (not to the Wine processes it starts).
driver=(/lib64/ld-linux-x86-64.so.2 --library-path "$payload/lib" "$payload/driver")
export payload bin
export -f winpath

say "up after $(cut -d' ' -f1 /proc/uptime) s"
echo "$(cut -d' ' -f1 /proc/uptime)" >"$results/boot.seconds"

# --- a 32-bit prefix: the unit tests, every script case, registration -----
export WINEPREFIX=/var/tmp/prefix32
export WINEARCH=win32
mkdir -p "$WINEPREFIX"
# One wine server for the whole prefix: each Wine start is slow here.
wineserver -p
step prefix32 240 wineboot -i

# Registered: both DLLs through regsvr32, the plug-in's class found. (The
# component test checks every key a registration writes; each Wine start
# costs seconds here, so this looks once.)
registered() {
  wine regsvr32 "$(winpath "$bin/marlgate_host.dll")" &&
    wine regsvr32 "$(winpath "$bin/marlgate_travels.dll")" &&
    wine reg query 'HKCR\CLSID\{DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06}\InprocServer32' |
      grep -F "marlgate_travels.dll"
}
# Unregistered: no key of ours under any name in the registry the server
# saves when it stops.
unregistered() {
  wine regsvr32 /u "$(winpath "$bin/marlgate_travels.dll")" || return 1
  wine regsvr32 /u "$(winpath "$bin/marlgate_host.dll")" || return 1
  wineserver -k
  wineserver -w
  if grep -i -n -E 'DA1DF1DA-18A6|1EBCD13B-85FC|4E4BBEFA-1818|5C3B7E21-4D8A|14D0B042-6F3F|C1F0E221-767D|D19D8DF6-F883|780D804F-D974|marlgate_travels\.|marlgate_host' \
       "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg"; then
    echo "keys of the components are left in the registry"
    return 1
  fi
}
export -f registered unregistered
step regsvr32 120 registered

step windows_platform_test 180 wine "$bin/windows_platform_test.exe"
step windows_component_test 180 env MARLGATE_I686_DLL="$(winpath "$bin/marlgate_travels.dll")" \
  MARLGATE_HOST_CONTRACT_TLB="$(winpath "$payload/marlgate_host.tlb")" \
  wine "$bin/windows_component_test.exe"
step windows_host_contract_test 180 wine "$bin/windows_host_contract_test.exe"

step windows_e2e_test 600 env MARLGATE_WINDOWS_BIN_DIR="$bin" "${driver[@]}" \
  --gtest_filter=-WindowsInstaller.*
step regsvr32-unregister 120 unregistered

# --- the players' path: the x86 installer in a 64-bit prefix ---------------
# The test makes the 64-bit prefix itself.
step windows_installer_test 600 env MARLGATE_WINDOWS_BIN_DIR="$bin" \
  MARLGATE_INSTALLER="$payload/setup.exe" MARLGATE_INSTALLER_VIEW=/reg:32 \
  "${driver[@]}" --gtest_filter=WindowsInstaller.InstallsForTheUserLooksUpAndUninstallsCleanly

say "done"
