#!/usr/bin/env bash
# Takes the README's pictures of the window, docs/images/window.png, hex.png and about.png in
# English, and the same in Chinese beside them (window.zh_CN.png, ...), so that they show the
# program as it is: a Release build of the window over the simulated programmer
# on a virtual X display (Xvfb), driven with xdotool and photographed with ImageMagick's import.
# The window loads examples/blink/blink.hex, writes it with F9, reads the chip back, then shows
# the HEX and About pages. Needs xvfb, xdotool and imagemagick (scripts/setup.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ -z ${QUILLET_SCREENSHOTS_DISPLAY:-} ]]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/release --target quillet
  QUILLET_SCREENSHOTS_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
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

shoot en_US.UTF-8 ""
shoot zh_CN.UTF-8 .zh_CN

ls -l "$out"/{window,hex,about}{,.zh_CN}.png
