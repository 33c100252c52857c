#!/usr/bin/env bash
# Builds the quillet window (Release) if needed and starts it: over the programmer when one is
# plugged in (USB 04d8:003f), otherwise over the simulated programmer. Arguments are passed on.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release --target quillet

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
  echo "run.sh: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
  echo "        On a machine without one: xvfb-run -a bash scripts/run.sh" >&2
  exit 1
fi

mode=(--simulate)
for uevent in /sys/class/hidraw/hidraw*/device/uevent; do
  if [[ -r $uevent ]] && grep -qi '^HID_ID=0003:000004D8:0000003F$' "$uevent"; then
    mode=()
    echo "run.sh: programmer found ($(dirname "$(dirname "$uevent")" | xargs basename))"
    break
  fi
done
[[ ${#mode[@]} -eq 0 ]] || echo "run.sh: no programmer attached; using the simulated one"
exec build/release/app/quillet "${mode[@]}" "$@"
