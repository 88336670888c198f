#!/usr/bin/env bash
# The 32-bit Windows build, run: the plug-in DLL players install and the
# 32-bit host, under 32-bit Wine in an emulated x86-64 machine (QEMU's TCG;
# these machines' kernel refuses 32-bit code, and a stock kernel does not
# boot under KVM here). Inside the guest (tests/windows/guest/run.sh), each
# step with its own time limit:
#   1. the Windows unit tests built for i686 (COM objects and dispatch,
#      registration, the message loop and timers, text and time) and every
#      script case of the end-to-end driver through the i686 host and DLL,
#      in a 32-bit prefix where both DLLs are registered with regsvr32 (and
#      unregistered at the end);
#   2. the players' path in a 64-bit prefix with 32-bit support: the x86
#      installer silently, the class in the 32-bit view of HKCU, the i686
#      host searching through the installed DLL, the quiet uninstall
#      leaving only errors.txt and no key in either view.
#
# The guest's disk (Debian bookworm, minbase, with Wine for both
# architectures) is built on first use from the mirror this machine's apt
# uses, and kept in a cache folder outside the clone
# (MARLGATE_GUEST_CACHE, default /var/cache/marlgate-i686-guest) under a
# name derived from everything that went into it, so a change to its
# recipe below makes a new one. Each run boots it copy-on-write (the cached
# disk never changes) with a second small disk holding this run's payload;
# the guest writes its results there and powers off. The kernel skips its
# timer check (no_timer_check), which a busy host makes fail under
# emulation ("IO-APIC + timer doesn't work"). The whole guest run
# has a hard limit (MARLGATE_GUEST_LIMIT, default 900 s): a guest that does
# not boot or hangs fails the suite.
#
# Usage: scripts/test-windows-i686.sh
# Environment: MARLGATE_SKIP_WINDOWS=1 skips it on a developer's machine; in
# CI (CI set) it always runs. The last line says
# "windows-i686: N passed, N failed, N skipped"; the exit status is non-zero
# on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build32=$root/build-windows-i686

if [ "${MARLGATE_SKIP_WINDOWS:-0}" = 1 ]; then
  if [ -n "${CI:-}" ]; then
    echo "test-windows-i686.sh: MARLGATE_SKIP_WINDOWS is ignored in CI" >&2
  else
    echo "test-windows-i686.sh: skipped (MARLGATE_SKIP_WINDOWS=1)"
    exit 0
  fi
fi

passed=0
failed=0
skipped=0
summary() { echo "windows-i686: $passed passed, $failed failed, $skipped skipped"; }
# A failure before the guest ran anything: the suite fails as one.
trap 'status=$?; if [ $status -ne 0 ] && [ -z "${guest_ran:-}" ]; then failed=$((failed + 1)); summary; fi' EXIT

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
seconds_since() { echo $(( $(date +%s) - $1 )); }

# --- packages and the build --------------------------------------------------
scripts/deps.sh build test windows guest

# The i686 build with its Windows unit tests, and its installer.
cmake -S . -B "$build32" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLGATE_BUILD_TESTS=ON >/dev/null
cmake --build "$build32" -j2
cmake --build "$build32" --target package
version=$(sed -n 's/^project(MarlgateTravels VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# The end-to-end driver (a Linux program: the loopback service, and the
# host run under Wine) runs inside the guest, with the libraries it links
# (the guest is the same Debian release) but the C library carried along.
cmake -S tests/windows/e2e -B "$build32/e2e-driver" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build32/e2e-driver" -j2

# --- the guest's disk, cached ------------------------------------------------
suite=bookworm
guest_packages=(wine wine32 wine64 python3 iproute2)
# The guest's first process: mounts what Wine needs, turns address
# randomisation off (Debian's 32-bit Wine has no preloader, so a random
# layout sometimes leaves no room for kernel32.dll), brings up loopback,
# runs the payload's run.sh and powers off whatever happens.
read -r -d '' guest_init <<'EOF' || true
#!/bin/sh
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
echo 0 >/proc/sys/kernel/randomize_va_space
ip link set lo up
mkdir -p /payload
if mount /dev/vdb /payload; then
  /bin/bash /payload/run.sh
  sync
  umount /payload
else
  echo "guest: no payload disk"
fi
sync
echo o >/proc/sysrq-trigger
sleep 60
EOF

# build_root DIR: Debian with both Wines in DIR (run as root).
build_root() {
  local dir=$1 mirror
  # The mirror this machine's apt already uses for the suite.
  mirror=$(apt-get indextargets --format '$(REPO_URI) $(CODENAME)' |
           awk -v suite="$suite" '$2 == suite { print $1; exit }')
  if [ -z "$mirror" ]; then
    echo "no $suite archive in this machine's apt sources" >&2
    return 1
  fi
  rm -rf "$dir"
  debootstrap --variant=minbase "$suite" "$dir" "$mirror" || return 1
  cp /etc/resolv.conf "$dir/etc/resolv.conf" || return 1
  mount -t proc proc "$dir/proc" || return 1
  local status=0
  chroot "$dir" /bin/sh -c "dpkg --add-architecture i386 && apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends ${guest_packages[*]} &&
    apt-get clean" || status=$?
  umount "$dir/proc"
  [ "$status" -eq 0 ] || return "$status"
  rm -rf "$dir"/var/lib/apt/lists/*
  printf '%s\n' "$guest_init" >"$dir/usr/local/sbin/marlgate-guest-init" &&
    chmod 755 "$dir/usr/local/sbin/marlgate-guest-init"
}

cache=${MARLGATE_GUEST_CACHE:-/var/cache/marlgate-i686-guest}
key=$( { echo "$suite"; echo "${guest_packages[*]}"; echo "$guest_init"; declare -f build_root; } |
       sha256sum | cut -c1-16)
image=$cache/root-$key.img
$sudo mkdir -p "$cache"
root_seconds=cached
image_seconds=cached
if [ ! -f "$image" ]; then
  started=$(date +%s)
  echo "Building the guest's root ($suite, ${guest_packages[*]}) in $cache" >&2
  # One build at a time per cache; the others wait for it.
  # shellcheck disable=SC2016
  $sudo env suite="$suite" guest_init="$guest_init" guest_packages="${guest_packages[*]}" \
    cache="$cache" key="$key" bash -c "$(declare -f build_root)"'
    set -euo pipefail
    guest_packages=($guest_packages)
    exec 9>"$cache/lock"
    flock 9
    image=$cache/root-$key.img
    [ -f "$image" ] && exit 0
    dir=$cache/root-$key
    build_root "$dir" >"$cache/build-$key.log" 2>&1 || { tail -30 "$cache/build-$key.log" >&2; exit 1; }
    date +%s >"$cache/root-$key.built"
    # The disk from the tree, without mounting anything; sparse.
    rm -f "$image.new"
    mke2fs -q -t ext4 -L marlgate-root -d "$dir" "$image.new" 4G
    chmod 644 "$image.new"
    mv "$image.new" "$image"
    rm -rf "$dir"
    # Disks of older recipes go.
    find "$cache" -maxdepth 1 -name "root-*.img" ! -name "root-$key.img" -delete'
  built=$(cat "$cache/root-$key.built" 2>/dev/null || date +%s)
  root_seconds=$(( built - started ))
  image_seconds=$(seconds_since "$built")
fi

# The kernel and initrd of this machine (Debian's stock ones run 32-bit
# programs), readable by QEMU.
kernel=$(find /boot -maxdepth 1 -name 'vmlinuz-*' | sort -V | tail -1)
initrd=/boot/initrd.img-${kernel#/boot/vmlinuz-}
if [ -z "$kernel" ] || [ ! -f "$initrd" ]; then
  echo "no kernel with its initrd in /boot (package linux-image-amd64)" >&2
  exit 1
fi
for f in "$kernel" "$initrd"; do
  if [ ! -r "$f" ]; then
    $sudo install -m 644 "$f" "$cache/$(basename "$f")"
  fi
done
[ -r "$kernel" ] || kernel=$cache/$(basename "$kernel")
[ -r "$initrd" ] || initrd=$cache/$(basename "$initrd")

# --- this run's payload --------------------------------------------------------
work=$build32/guest
rm -rf "$work"
mkdir -p "$work/payload/bin" "$work/payload/src/tests/windows/script"
cp "$build32"/bin/*.exe "$build32"/bin/*.dll "$build32/bin/Marlgate_Travels.xml" "$work/payload/bin/"
cp "$build32/idl/marlgate_host.tlb" "$work/payload/"
cp "$build32/e2e-driver/windows_e2e_test" "$work/payload/driver"
mkdir -p "$work/payload/lib"
ldd "$build32/e2e-driver/windows_e2e_test" | awk '$2 == "=>" && $3 ~ /^\// { print $3 }' |
  grep -v -E '/lib(c|m)\.so' | xargs -r cp -L -t "$work/payload/lib"
cp "$build32/packages/Marlgate_Travels-$version-setup.exe" "$work/payload/setup.exe"
cp tests/windows/script/*.vbs "$work/payload/src/tests/windows/script/"
cp tests/windows/guest/run.sh "$work/payload/run.sh"
mke2fs -q -t ext4 -L marlgate-payload -d "$work/payload" "$work/payload.img" \
  "$(( $(du -sm "$work/payload" | cut -f1) + 256 ))M"

# --- the guest run -------------------------------------------------------------
limit=${MARLGATE_GUEST_LIMIT:-900}
echo "Booting the guest (limit $limit s; console: $work/console.log)" >&2
started=$(date +%s)
qemu_status=0
timeout -k 10 "$limit" qemu-system-x86_64 -accel tcg -cpu qemu64 -smp 1 -m 3072 \
  -kernel "$kernel" -initrd "$initrd" \
  -append "root=/dev/vda rw console=ttyS0 quiet panic=1 no_timer_check init=/usr/local/sbin/marlgate-guest-init" \
  -drive file="$image",format=raw,if=virtio,snapshot=on \
  -drive file="$work/payload.img",format=raw,if=virtio \
  -serial file:"$work/console.log" -display none -monitor none -nic none -no-reboot ||
  qemu_status=$?
guest_seconds=$(seconds_since "$started")
guest_ran=1
if [ "$qemu_status" -ne 0 ]; then
  failed=$((failed + 1))
  if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
    echo "FAILED  the guest did not finish within $limit s; its console:"
  else
    echo "FAILED  QEMU ended with status $qemu_status; the guest's console:"
  fi
  tail -40 "$work/console.log" || true
fi
grep '^guest: ' "$work/console.log" || true

# The results, read from the payload disk without mounting it.
debugfs -R "rdump /results $work" "$work/payload.img" >/dev/null 2>&1 || true
results=$work/results
mkdir -p "$results"

# check NAME: a step that passes when it ended with status 0.
check() {
  local name=$1 log=$results/$1.log
  local status
  status=$(cat "$results/$name.status" 2>/dev/null || echo "")
  if [ "$status" = 0 ]; then
    passed=$((passed + 1))
    echo "ok      $name"
  else
    failed=$((failed + 1))
    echo "FAILED  $name (status ${status:-none: it did not run}; log: $log)"
    tail -20 "$log" 2>/dev/null || true
  fi
}

# shellcheck source=scripts/lib/gtest-summary.sh
source scripts/lib/gtest-summary.sh

# gtest NAME: a GoogleTest program's step, counted by its tests; one that
# ends without its summary (a crash, its limit) counts as one failure.
gtest() {
  local name=$1 log=$results/$1.log
  local status
  status=$(cat "$results/$name.status" 2>/dev/null || echo "")
  if [ -z "$status" ]; then
    failed=$((failed + 1))
    echo "FAILED  $name did not run"
    return
  fi
  tr -d '\r' <"$log" >"$log.txt"
  count_gtest "$name" "$log.txt" "$status"
}

check prefix32
check regsvr32
gtest windows_platform_test
gtest windows_component_test
gtest windows_host_contract_test
gtest windows_e2e_test
check regsvr32-unregister
gtest windows_installer_test

# The time of each stage, in seconds.
times="root $root_seconds, image $image_seconds, guest $guest_seconds"
times+=", boot $(cut -d. -f1 "$results/boot.seconds" 2>/dev/null || echo -)"
for name in prefix32 regsvr32 windows_platform_test windows_component_test windows_host_contract_test \
            windows_e2e_test regsvr32-unregister windows_installer_test; do
  times+=", $name $(cat "$results/$name.seconds" 2>/dev/null || echo -)"
done
echo "windows-i686 times (s): $times"

summary
[ "$failed" -eq 0 ]
