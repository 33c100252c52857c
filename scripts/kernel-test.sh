#!/usr/bin/env bash
# Real-kernel stage: boots a Debian kernel under QEMU with a small initramfs that holds
# quillet-cli and quillet-virtual-programmer, serves the simulated programmer through /dev/uhid
# and drives it with the command line over the kernel's own hidraw nodes, sysfs entries and
# udev events. The guest prints one "KT PASS|FAIL|SKIP" line per check and a summary; this
# script exits non-zero on any failure, a missing summary or the time limit.
#
# Environment:
#   QUILLET_KERNEL_TEST_BUILD   build folder (default build/kernel-test)
#   QUILLET_KERNEL_CACHE        where the kernel is kept (default ~/.cache/quillet-kernel)
#   QUILLET_KERNEL_TEST_ACCEL   kvm, tcg or auto (default: KVM when its guest starts within 10 s, else TCG)
#   QUILLET_KERNEL_TEST_TIMEOUT seconds for the whole boot and scenario (default 240)
#   QUILLET_KERNEL_TEST_SKIP_BUILD=1  use the binaries already in the build folder
set -euo pipefail
cd "$(dirname "$0")/.."

build=${QUILLET_KERNEL_TEST_BUILD:-build/kernel-test}
cache=${QUILLET_KERNEL_CACHE:-${HOME:-/root}/.cache/quillet-kernel}
accel=${QUILLET_KERNEL_TEST_ACCEL:-auto}
limit=${QUILLET_KERNEL_TEST_TIMEOUT:-240}
stage=$build/kernel-stage
log=$stage/console.log

as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }

# ---- what the stage needs from Debian ------------------------------------------------------
need=()
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
dpkg-query -W -f='${Status}' busybox-static 2>/dev/null | grep -q 'ok installed' || need+=(busybox-static)
command -v cpio >/dev/null || need+=(cpio)
[[ -e /lib/systemd/systemd-udevd ]] || need+=(udev)
if ((${#need[@]})); then
  echo "== installing ${need[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# ---- the kernel: the package linux-image-amd64 points at, fetched once ----------------------
kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null |
  awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
[[ -n $kernel_package ]] || { echo "kernel-test: apt knows no linux-image-amd64" >&2; exit 1; }
kdir=$cache/$kernel_package
if [[ ! -f $kdir/vmlinuz ]]; then
  echo "== fetching $kernel_package"
  rm -rf "$kdir.tmp"
  mkdir -p "$kdir.tmp/deb"
  (cd "$kdir.tmp/deb" && apt-get download "$kernel_package" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
  deb=$(ls "$kdir.tmp"/deb/*.deb)
  dpkg-deb -x "$deb" "$kdir.tmp/root"
  # Keep the image and the modules the stage can use; the rest of the package is not needed.
  mkdir -p "$kdir.tmp/keep"
  cp "$kdir.tmp"/root/boot/vmlinuz-* "$kdir.tmp/keep/vmlinuz"
  mods=$(ls -d "$kdir.tmp"/root/lib/modules/*)
  (cd "$mods" && find kernel/drivers/hid kernel/drivers/usb kernel/fs/configfs -name '*.ko*' -print0 |
    xargs -0 cp --parents -t "$kdir.tmp/keep")
  rm -rf "$kdir"
  mv "$kdir.tmp/keep" "$kdir"
  rm -rf "$kdir.tmp"
fi

# ---- the project's binaries, without sanitizers ---------------------------------------------
if [[ ${QUILLET_KERNEL_TEST_SKIP_BUILD:-0} != 1 ]]; then
  echo "== building quillet-cli and quillet-virtual-programmer"
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_WERROR=ON >/dev/null
  cmake --build "$build" -j "$(nproc)" --target quillet-cli quillet-virtual-programmer
fi
cli=$build/cli/quillet-cli
vp=$build/sim/quillet-virtual-programmer
[[ -x $cli && -x $vp ]] || { echo "kernel-test: $cli or $vp is missing" >&2; exit 1; }

# ---- the initramfs --------------------------------------------------------------------------
rm -rf "$stage"
root=$stage/root
mkdir -p "$root"/{bin,usr/bin,lib/systemd,proc,sys,dev,tmp,run,etc,modules,data}
cp /bin/busybox "$root/bin/busybox"
strip -o "$root/usr/bin/quillet-cli" "$cli"
strip -o "$root/usr/bin/quillet-virtual-programmer" "$vp"
cp -L /bin/udevadm "$root/usr/bin/udevadm"
ln -s /usr/bin/udevadm "$root/lib/systemd/systemd-udevd"  # udevadm is udevd by that name
# Shared libraries at the paths the loader looks for them.
for binary in "$cli" "$vp" /bin/udevadm; do
  ldd "$binary" | awk '/=> \// { print $3 } /^\t\/lib/ { print $1 }'
done | sort -u | while read -r lib; do
  cp -L --parents "$lib" "$root"
done
printf 'root:x:0:0:root:/root:/bin/sh\ntester:x:1000:1000:tester:/tmp:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\ntester:x:1000:\n' >"$root/etc/group"

# Modules with what they depend on, dependencies first.
declare -A module_path=() loaded=()
while IFS= read -r -d '' ko; do
  name=$(basename "$ko"); name=${name%%.ko*}
  module_path[${name//-/_}]=$ko
done < <(find "$kdir/kernel" -name '*.ko*' -print0)
order=()
add_module() {
  local m=${1//-/_} dep
  [[ -n ${loaded[$m]:-} ]] && return
  [[ -n ${module_path[$m]:-} ]] || { echo "kernel-test: module $m not in the kernel package" >&2; exit 1; }
  loaded[$m]=1
  for dep in $(strings -a "${module_path[$m]}" | sed -n 's/^depends=//p' | tr ',' ' '); do add_module "$dep"; done
  order+=("$m")
}
for m in hid hid_generic uhid; do add_module "$m"; done
for m in "${order[@]}"; do
  cp "${module_path[$m]}" "$root/modules/"
  basename "${module_path[$m]}" >>"$root/modules/order"
done
# The same model as a real USB device, where the kernel has a dummy USB controller with the
# gadget HID function: usbhid on the host side then drives it.
order=()
if [[ -n ${module_path[dummy_hcd]:-} && -n ${module_path[usb_f_hid]:-} && -n ${module_path[usbhid]:-} ]]; then
  for m in usbhid dummy_hcd usb_f_hid; do add_module "$m"; done
fi
for m in "${order[@]}"; do
  cp "${module_path[$m]}" "$root/modules/"
  basename "${module_path[$m]}" >>"$root/modules/order-usb"
done

# Test data: a 16 KiB image of random bytes, and what a 32 KiB chip holds after writing it.
head -c 16384 /dev/urandom >"$root/data/image16k.bin"
head -c 32768 /dev/zero | tr '\0' '\377' >"$root/data/ff32k.bin"
{ cat "$root/data/image16k.bin"; head -c 16384 /dev/zero | tr '\0' '\377'; } >"$root/data/expect32k.bin"

cp scripts/kernel-test-guest.sh "$root/init"
chmod 755 "$root/init"
(cd "$root" && find . -print0 | cpio --null -o -H newc -R 0:0 --quiet) | gzip -1 >"$stage/initrd.gz"

# ---- boot -----------------------------------------------------------------------------------
# run_guest FIRST ACCEL-ARGS...: boots the guest; with FIRST > 0, gives up (status 125) when its
# init has not spoken within FIRST seconds, as a KVM that cannot run this guest hangs or aborts.
run_guest() {
  local first=$1 waited=0 pid
  shift
  timeout -k 5 "$limit" qemu-system-x86_64 "$@" -m 512 -smp 1 -nographic -no-reboot \
    -kernel "$kdir/vmlinuz" -initrd "$stage/initrd.gz" \
    -append "console=ttyS0 panic=-1 quiet loglevel=4 rdinit=/init" </dev/null >"$log" 2>&1 &
  pid=$!
  if ((first > 0)); then
    until grep -q -a '^KT ' "$log"; do
      kill -0 "$pid" 2>/dev/null || break
      if ((waited >= first * 10)); then
        kill "$pid" 2>/dev/null
        wait "$pid" || true
        return 125
      fi
      sleep 0.1
      waited=$((waited + 1))
    done
  fi
  wait "$pid"
}

status=0
start=$(date +%s.%N)
case $accel in
  kvm) run_guest 0 -accel kvm || status=$? ;;
  tcg) run_guest 0 -accel tcg || status=$? ;;
  auto)
    accel=tcg
    if [[ -r /dev/kvm && -w /dev/kvm ]]; then
      echo "== booting $kernel_package (kvm, limit ${limit}s)"
      accel=kvm
      run_guest 10 -accel kvm || status=$?
      if ((status == 125)) || ! grep -q -a '^KT ' "$log"; then
        echo "== KVM did not run the guest ($(grep -a -m1 -i -E 'error|warning' "$log" | tr -d '\r' || echo 'no output')); TCG instead"
        accel=tcg
        status=0
      fi
    fi
    if [[ $accel == tcg ]]; then
      echo "== booting $kernel_package (tcg, limit ${limit}s)"
      start=$(date +%s.%N)
      run_guest 0 -accel tcg || status=$?
    fi
    ;;
  *) echo "kernel-test: QUILLET_KERNEL_TEST_ACCEL is kvm, tcg or auto" >&2; exit 2 ;;
esac
end=$(date +%s.%N)
seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')

grep -a -E '^KT ' "$log" | tr -d '\r' || true
if ((status == 124 || status == 137)); then
  echo "kernel-test: the guest did not finish within ${limit}s; the console's end:" >&2
  tail -n 40 "$log" >&2
  exit 1
fi
summary=$(grep -a -E '^KT SUMMARY ' "$log" | tr -d '\r' | tail -n 1)
if [[ -z $summary ]]; then
  echo "kernel-test: no summary from the guest (qemu status $status); the console's end:" >&2
  tail -n 40 "$log" >&2
  exit 1
fi
echo "== $accel run took ${seconds}s (console: $log)"
failed=$(sed -n 's/^KT SUMMARY [0-9]* passed, \([0-9]*\) failed.*/\1/p' <<<"$summary")
[[ $failed == 0 ]] || exit 1
