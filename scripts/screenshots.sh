#!/usr/bin/env bash
# Takes the README's pictures of the window, docs/images/window.png, hex.png and about.png in
# English, and the same in Chinese beside them (window.zh_CN.png, ...), so that they show the
# program as it is: a Release build of the window over the simulated programmer
# on a virtual X display (Xvfb), driven with xdotool and photographed with ImageMagick's import.
# The window loads examples/blink/blink.hex, writes it with F9, reads the chip back, then shows
# the HEX and About pages. Needs xvfb, xdotool and imagemagick (scripts/setup.sh installs them).
# It also photographs quillet-cli station's dashboard in an xterm (installed here when missing),
# docs/images/station.png. `screenshots.sh window` or `screenshots.sh station` takes one set only.
set -euo pipefail
cd "$(dirname "$0")/.."

sets=("$@")
((${#sets[@]})) || sets=(window station)
wants() { [[ " ${sets[*]} " == *" $1 "* ]]; }

if [[ -z ${QUILLET_SCREENSHOTS_DISPLAY:-} ]]; then
  targets=()
  wants window && targets+=(quillet)
  wants station && targets+=(quillet-cli)
  if wants station && ! command -v xterm >/dev/null; then
    as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xterm >/dev/null
  fi
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/release --target "${targets[@]}"
  QUILLET_SCREENSHOTS_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "${sets[@]}"
fi

out=docs/images
work=build/screenshots

# Photographs the window under the locale $1, into pictures named with the suffix $2.
shoot() {
  local locale=$1 suffix=$2
  rm -rf "$work" && mkdir -p "$work"
  # A copy of the firmware: loading a HEX file leaves a binary copy beside it.
  cp examples/blink/blink.hex "$work/"

  # Started in that folder, so that the window shows the file's name without this machine's paths.
  (cd "$work" && LANGUAGE= LC_ALL=$locale exec ../release/app/quillet --simulate blink.hex >quillet.log 2>&1) &
  pid=$!
  trap 'kill "$pid" 2>/dev/null || true' EXIT

  wid=
  for _ in $(seq 100); do
    wid=$(xdotool search --onlyvisible --name '^Quillet' 2>/dev/null | head -n 1) && [[ -n $wid ]] && break
    kill -0 "$pid" 2>/dev/null || { cat "$work/quillet.log" >&2; exit 1; }
    sleep 0.1
  done
  [[ -n $wid ]] || { echo "screenshots.sh: the window did not appear" >&2; exit 1; }

  sleep 1                 # the programmer is found and asked who it is
  click 695 73            # LoadFile: the file named on the command line
  xdotool key F9          # Write, through the global hot key
  sleep 1.5
  click 691 165 1.5       # Read
  import -window "$wid" "$out/window$suffix.png"
  click 64 12             # the HEX tab
  import -window "$wid" "$out/hex$suffix.png"
  click 116 12            # the About tab
  import -window "$wid" "$out/about$suffix.png"

  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # The next window must not be taken for this one.
  while xdotool search --onlyvisible --name '^Quillet' >/dev/null 2>&1; do sleep 0.1; done
}

# Clicks a point given relative to the window's top left corner, then lets the window settle.
click() {
  xdotool mousemove --window "$wid" "$1" "$2" click 1
  sleep "${3:-0.5}"
}

# Photographs the station's dashboard: three simulated programmers whose boards come and go by
# themselves, each board numbered from 1000, after a few boards have passed.
shoot_station() {
  rm -rf "$work" && mkdir -p "$work"
  cp examples/blink/blink.hex "$work/"
  (cd "$work" && LANGUAGE= LC_ALL=C.UTF-8 exec xterm -T quillet-station -geometry 108x15 -fa 'DejaVu Sans Mono' -fs 11 \
    -bg '#1e1e1e' -fg '#d8d8d8' -e ../release/cli/quillet-cli station --simulate-bench=3 -c NRF24LE1_16K blink.hex \
    --journal station.jsonl --serial-at 0x3FFC --serial-start 1000) &
  pid=$!
  trap 'kill "$pid" 2>/dev/null || true' EXIT
  wid=
  for _ in $(seq 100); do
    wid=$(xdotool search --onlyvisible --name '^quillet-station' 2>/dev/null | head -n 1) && [[ -n $wid ]] && break
    sleep 0.1
  done
  [[ -n $wid ]] || { echo "screenshots.sh: the station's xterm did not appear" >&2; exit 1; }
  # Taken while boards are in flight: once the journal's last line is the third reservation
  # after the sixth board, as every slot is flashing again.
  for _ in $(seq 300); do
    [[ $(grep -c '"event":"reserve"' "$work/station.jsonl" 2>/dev/null) -ge 9 ]] &&
      tail -n 1 "$work/station.jsonl" | grep -q '"event":"reserve"' && break
    sleep 0.05
  done
  sleep 0.3  # the dashboard is drawn every 250 ms
  import -window "$wid" "$out/station.png"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

if wants window; then
  shoot en_US.UTF-8 ""
  shoot zh_CN.UTF-8 .zh_CN
  ls -l "$out"/{window,hex,about}{,.zh_CN}.png
fi
if wants station; then
  shoot_station
  ls -l "$out"/station.png
fi
