#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing.
# Usage: scripts/deps.sh [group...]
#   groups: build (default), test, bench, windows (the cross-compiled
#   Windows build, Wine, the installer's tools), guest (the emulated
#   machine the 32-bit Windows build runs in: QEMU, a kernel with its
#   initrd in /boot, and what builds the guest's disk)
set -euo pipefail

groups=("$@")
[ ${#groups[@]} -eq 0 ] && groups=(build)

packages=(cmake ninja-build g++ pkg-config libcurl4-openssl-dev libpugixml-dev
          libsqlite3-dev libboost-dev libcpp-httplib-dev nlohmann-json3-dev libcli11-dev
          libncurses-dev libgtest-dev libgmock-dev libicu-dev)
for g in "${groups[@]}"; do
  case "$g" in
    build) ;;
    # nginx: the balancer test runs Debian's nginx as its own process, on
    # loopback ports; the system's nginx service is not used.
    test) packages+=(tmux nginx) ;;
    bench) packages+=(libbenchmark-dev wrk curl) ;;
    windows) packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
                        libwine-dev wine wine64 file binutils nsis p7zip-full) ;;
    guest) packages+=(qemu-system-x86 debootstrap linux-image-amd64 e2fsprogs) ;;
    *) echo "deps.sh: unknown group $g" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
