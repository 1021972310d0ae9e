#!/usr/bin/env bash
# Builds the Debian package: a Release build for the prefix /usr with Debian's hardening flags,
# packed by CPack into build/package/kelvra_<version>_<arch>.deb.
#   scripts/package.sh                 build the package
#   scripts/package.sh --lintian       build it and check it with lintian --pedantic
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

build=build/package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DKELVRA_BENCH=OFF -DKELVRA_WERROR=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
# Only what is installed; the tests are built and run by scripts/test.sh.
cmake --build "$build" -j "$(nproc)" --target kelvra kelvra-ctl kelvra-camsim kelvra-docs kelvra-icons kelvra-package-files
rm -f "$build"/kelvra_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/kelvra_*.deb)"
echo "$deb"
if [ "${1:-}" = "--lintian" ]; then
  # Anything lintian says, down to its pedantic remarks, fails the check.
  lintian --info --pedantic --fail-on error,warning,info,pedantic "$deb"
fi
