#!/usr/bin/env bash
# Starts the player, then a second copy while the first holds the guard: the second must end at
# once with code 0, and so must the first.
set -u
player="$1"
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy LUNADIO_MEDIA_SINK="fakesink sync=true"
lockdir="${XDG_RUNTIME_DIR:-/tmp}"
lock="$lockdir/$(basename "$player").lock"

# Hold the guard from a helper process as the first instance would, then start the player.
exec 9>"$lock"
flock -n 9 || { echo "could not take the guard for the test"; exit 1; }
start=$(date +%s%N)
timeout 10 "$player"
code=$?
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
exec 9>&-
if [ "$code" -ne 0 ]; then echo "second instance exited with $code"; exit 1; fi
echo "second instance ended with 0 after ${elapsed_ms} ms"

# With the guard free, a real first instance runs until it is asked to end; a second start
# meanwhile ends at once with 0.
"$player" &
first=$!
sleep 2
if ! kill -0 "$first" 2>/dev/null; then echo "the first instance did not keep running"; exit 1; fi
timeout 10 "$player"
code=$?
kill "$first" 2>/dev/null
wait "$first" 2>/dev/null
if [ "$code" -ne 0 ]; then echo "a second start beside a running player exited with $code"; exit 1; fi
echo "1 passed, 0 failed"
