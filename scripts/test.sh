#!/usr/bin/env bash
# Builds Lunadio and runs every test. Installs whatever is missing first.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${LUNADIO_BUILD_DIR:-$root/build}"

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2
# Headless by default: no display, no sound server needed.
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 "$@"
