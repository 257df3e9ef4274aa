#!/usr/bin/env bash
# Builds Lunadio and starts it; arguments (a track to open) are passed through.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${LUNADIO_BUILD_DIR:-$root/build}"

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target lunadio
exec "$build/app/lunadio" "$@"
