#!/usr/bin/env bash
# Builds the Debian package: a release build of the player alone in build-package/, then CPack.
# Prints the path of the .deb, which installs with `sudo apt install ./lunadio_*.deb`.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${LUNADIO_PACKAGE_BUILD_DIR:-$root/build-package}"

"$root/scripts/install-deps.sh"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DLUNADIO_TESTS=OFF -DLUNADIO_BENCH=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target lunadio
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/lunadio_*.deb
