#!/usr/bin/env bash
# Builds the Debian package build/pkg/quillet_<version>_<arch>.deb: a Release build of the two
# programs with Debian's hardening flags (as dpkg-buildflags gives them to Debian's own packages),
# their manual pages, and CPack over `cmake --install`; and quillet-cli's Windows download,
# build/windows/quillet-cli-<version>-windows-x64.zip (scripts/windows.sh). Prints the zip's path,
# then the package's last.
set -euo pipefail
cd "$(dirname "$0")/.."

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# Dates in the package (changelog, manual pages) are the last commit's, so a rebuild of the same
# commit gives the same files.
if [[ -z ${SOURCE_DATE_EPOCH:-} ]] && git rev-parse --git-dir >/dev/null 2>&1; then
  export SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
fi
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S . -B build/pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$cppflags $(dpkg-buildflags --get CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$cppflags $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
# Only what the package holds; the tests and benchmarks are not part of it.
cmake --build build/pkg --target installable
rm -f build/pkg/quillet_*.deb
(cd build/pkg && cpack -G DEB >/dev/null)
bash scripts/windows.sh zip | tail -n 1
ls build/pkg/quillet_*.deb
