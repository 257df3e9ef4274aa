#!/usr/bin/env bash
# Checks the formatting, builds Lunadio and runs every test. Installs whatever is missing first.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${LUNADIO_BUILD_DIR:-$root/build}"

"$root/scripts/install-deps.sh"
# The tree follows .clang-format; an unformatted file fails the run before anything is built.
"$root/scripts/check-format.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2
# Headless by default: no display, no sound server needed.
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 "$@"
