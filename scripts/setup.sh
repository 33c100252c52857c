#!/usr/bin/env bash
# Installs, from Debian packages, everything Quillet needs to build, test, fuzz and benchmark.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  clang libclang-rt-14-dev          # libFuzzer and the sanitizer runtimes for the fuzz targets
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev                      # QtCore for the worker thread, Widgets and Test for the window
  qt6-l10n-tools qt6-tools-dev      # lupdate and lrelease, and CMake's qt_add_translations
  qt6-translations-l10n             # Qt's own texts (dialog buttons) in Chinese
  gettext                           # msgfmt: the log's and quillet-cli's message catalogue
  locales                           # the Chinese and English locales the tests run under
  libudev-dev                       # hidraw device-change monitor
  libcurl4-openssl-dev              # HTTP transport of the update query
  libjsoncpp-dev                    # update reply parsing
  libsystemd-dev                    # sd-bus: quillet-cli's desktop notifications on the session bus
  dbus-daemon                       # a private session bus for the notification tests
  srecord                           # srec_cat: the independent Intel HEX reference in the tests
  libxcb1-dev                       # the global F9 hot key (an X11 key grab)
  qt6-qpa-plugins                   # Qt's xcb platform, so the window runs on an X11 desktop
  fonts-wqy-microhei                # a CJK font: the log's Chinese messages must render
  xvfb xauth xdotool                # window tests and screenshots on a virtual X display
  imagemagick                       # import: scripts/screenshots.sh photographs the window
  help2man man-db                   # manual pages from the programs' --help; man finds them
  dpkg-dev file lintian             # the .deb: dpkg-shlibdeps and dpkg-buildflags, then lintian
  desktop-file-utils appstream      # validators of the desktop entry and the AppStream metadata
  sdcc make                         # the example firmware (examples/blink) for the nRF24LE1
  qemu-system-x86 busybox-static cpio udev  # the real-kernel stage (scripts/kernel-test.sh)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
sudo=""
[[ $(id -u) -eq 0 ]] || sudo=sudo
if ((${#missing[@]})); then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests speak both languages: they run under these locales, which a fresh machine lacks (the
# other Chinese ones check which language each Chinese-speaking region gets). Named in
# /etc/locale.gen, so that the next locale-gen (the locales package runs it) keeps them.
regenerate=
for name in zh_CN en_US zh_SG zh_TW zh_HK; do
  if ! grep -qx "$name.UTF-8 UTF-8" /etc/locale.gen; then
    $sudo sed -i "s/^# *\($name.UTF-8 UTF-8\)$/\1/" /etc/locale.gen
    grep -qx "$name.UTF-8 UTF-8" /etc/locale.gen || echo "$name.UTF-8 UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
  fi
  locale -a | grep -qix "$name.utf-\?8" || regenerate=yes
done
[[ -z $regenerate ]] || $sudo locale-gen
