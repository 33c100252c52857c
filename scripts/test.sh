#!/usr/bin/env bash
# Builds Quillet four ways and runs every test:
#   1. all tests under AddressSanitizer + UBSan (benchmarks are built too, so they keep compiling),
#      those that need an X display on Xvfb;
#   2. the threading tests under ThreadSanitizer;
#   3. each libFuzzer target for a bounded time;
#   4. the Debian package: built, checked with lintian, installed, its programs run from there;
#   5. the package's programs in a real kernel under QEMU, over the virtual programmer;
#   6. quillet-cli and the layers under it cross-built for Windows, their tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
fuzz_seconds=${QUILLET_FUZZ_SECONDS:-30}
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

echo "== AddressSanitizer + UBSan build"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_WERROR=ON \
  -DQUILLET_SANITIZE=address,undefined >/dev/null
cmake --build build/asan -j "$jobs"
ctest --test-dir build/asan --output-on-failure -j "$jobs" -LE x11

echo "== X11 tests on a virtual display"
# libxkbcommon-x11 hands strndup an unterminated buffer with a length, which strict string
# checks flag although the call is sound; the rest of the options stay.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir build/asan --output-on-failure -L x11

echo "== ThreadSanitizer build (threading tests)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_WERROR=ON \
  -DQUILLET_SANITIZE=thread -DQUILLET_TSAN_ONLY=ON >/dev/null
cmake --build build/tsan -j "$jobs"
ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L tsan --no-tests=ignore

echo "== libFuzzer targets, ${fuzz_seconds}s each"
CXX=clang++ CC=clang cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLET_WERROR=ON -DQUILLET_FUZZ=ON >/dev/null
cmake --build build/fuzz -j "$jobs"
shopt -s nullglob
for fuzzer in build/fuzz/fuzzers/*; do
  name=$(basename "$fuzzer")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=()
  [[ -d fuzz/seeds/$name ]] && seeds=("fuzz/seeds/$name")
  echo "-- $name"
  "$fuzzer" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "$corpus" "${seeds[@]}" 2>build/fuzz/$name.log || { tail -n 60 build/fuzz/$name.log; exit 1; }
  grep -E '^stat::number_of_executed_units' build/fuzz/$name.log || true
done
echo "== Debian package: build, lintian, install, the installed programs"
bash scripts/package.sh
deb=$(ls build/pkg/quillet_*.deb)
# shlibdeps found the libraries the programs link, and the CJK font is recommended.
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6'
dpkg-deb -f "$deb" Recommends | grep -q 'fonts-wqy-microhei'
lintian --fail-on error "$deb"
# The Windows download holds the program, its manual and the licence notes.
zip=$(ls build/windows/quillet-cli-*-windows-x64.zip)
[[ $(unzip -Z1 "$zip" | grep -cE '/(quillet-cli\.exe|quillet-cli\.txt|LICENCES\.txt)$') -eq 3 ]]
sudo=""
[[ $(id -u) -eq 0 ]] || sudo=sudo
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "./$deb" >/dev/null
desktop-file-validate /usr/share/applications/example.quillet.Quillet.desktop
appstreamcli validate --no-net /usr/share/metainfo/example.quillet.Quillet.metainfo.xml
grep -q 'TAG+="uaccess"' /usr/lib/udev/rules.d/70-quillet.rules
man -w quillet quillet-cli quillet-virtual-programmer >/dev/null
blink=$PWD/examples/blink/blink.hex
(
  cd "$(mktemp -d)"  # nothing from the source tree but the firmware file
  /usr/bin/quillet-cli --simulate detect --json | tee detect.json
  grep -q '"chip_connected":true' detect.json
  /usr/bin/quillet-cli --simulate write -c NRF24LE1_16K "$blink"
  [[ $(/usr/bin/quillet-virtual-programmer --help) == */dev/uhid* ]]
  # The menu entry's command opens its window, on X11 as on a desktop (not offscreen as above).
  command=$(sed -n 's/^Exec=//p' /usr/share/applications/example.quillet.Quillet.desktop)
  QT_QPA_PLATFORM=xcb xvfb-run -a bash -c '${0% %f} --simulate & pid=$!
    for _ in $(seq 100); do
      xdotool search --onlyvisible --name "^Quillet" >/dev/null && { kill $pid; exit 0; }
      sleep 0.1
    done
    kill $pid; echo "the installed window did not open" >&2; exit 1' "$command"
)
# The committed example firmware is what its source builds to.
example=$(mktemp -d)
cp examples/blink/blink.c examples/blink/Makefile "$example"
make -s -C "$example"
cmp "$example/blink.hex" examples/blink/blink.hex
$sudo dpkg --purge quillet >/dev/null

echo "== Real kernel: the package's quillet-cli over quillet-virtual-programmer through uhid"
QUILLET_KERNEL_TEST_BUILD=build/pkg QUILLET_KERNEL_TEST_SKIP_BUILD=1 bash scripts/kernel-test.sh
echo "== Windows: quillet-cli cross-built with mingw-w64, the Qt-free tests under Wine"
windows_start=$(date +%s)
# The end-to-end runner that drives quillet-cli.exe is the AddressSanitizer build's.
QUILLET_WINDOWS_RUNNER_BUILD=build/asan bash scripts/windows.sh
echo "windows stage: $(($(date +%s) - windows_start)) s"
echo "all test stages passed"
