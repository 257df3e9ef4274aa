#!/usr/bin/env bash
# How soon the player answers while it sits in the tray: the real binary on the benchmark's
# desktop (Xvfb, trayer, PulseAudio null sink) and a session bus, playing the 5-minute FLAC with
# the panel hidden. Each control goes through the media-control interface (what media keys
# use), and the time runs from just before the call to the moment the null sink's monitor shows
# the change:
#   pause   Pause -> the first 10 ms of silence
#   play    Play after a pause -> the first sound
#   volume  Volume 0.0 -> the first 10 ms of silence (then Volume back to 0.8)
#   seek    SetPosition to a stretch of silence written into the track -> the first 10 ms of it
# The call's own process start (dbus-send, a few ms) is inside every figure.
# Usage: bench/player/response.sh [BUILD_DIR]   REPS=5 by default; LUNADIO_BIN=path to time
# another binary.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
REPS=${REPS:-5}
lunadio=${LUNADIO_BIN:-$build/app/lunadio}
[[ -n ${LUNADIO_BIN:-} ]] || cmake --build "$build" -j2 --target lunadio >/dev/null || exit 1
source "$root/tests/e2e/desktop-env.sh"
missing=$(desktop_missing)
for tool in dbus-daemon dbus-send flac; do command -v $tool >/dev/null || missing+=" $tool"; done
[[ -z ${missing// /} ]] || { echo "missing: $missing (scripts/install-deps.sh)"; exit 1; }

run=$(mktemp -d /tmp/lunadio-response-XXXXXX)
bus_pid=
cleanup() { [[ -n $bus_pid ]] && kill "$bus_pid" 2>/dev/null; desktop_down; rm -rf "$run"; }
trap cleanup EXIT
desktop_up "$run" || { echo "the desktop did not start"; exit 1; }
dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$run/bus" 2>/dev/null &
bus_pid=$!
for _ in $(seq 1 50); do [[ -s $run/bus ]] && break; sleep 0.1; done
DBUS_SESSION_BUS_ADDRESS=$(head -1 "$run/bus")
export DBUS_SESSION_BUS_ADDRESS HOME=$run/home
unset LUNADIO_MEDIA_SINK QT_QPA_PLATFORM SDL_AUDIODRIVER

# Five minutes of noise with one second of silence at 150 s: the seek's target.
track=$run/response.flac
sox -R -n -r 44100 -b 16 -c 2 "$run/a.wav" synth 150 pinknoise gain -6
sox -R -n -r 44100 -b 16 -c 2 "$run/b.wav" synth 149 pinknoise gain -6
sox "$run/a.wav" -p pad 0 1 | sox - "$run/b.wav" -b 16 -t wavpcm "$run/track.wav"
flac -s -f -o "$track" "$run/track.wav"
rm -f "$run"/*.wav
cc -O2 -o "$run/silence" "$root/bench/player/helpers/silence.c" || exit 1
cc -O2 -o "$run/firstsound" "$root/bench/player/helpers/firstsound.c" || exit 1

service=org.mpris.MediaPlayer2.lunadio
call() {
  dbus-send --session --print-reply --reply-timeout=2000 --dest=$service /org/mpris/MediaPlayer2 "$@" >/dev/null
}

# watch DETECTOR ARGS... -- CALL ARGS...: arms DETECTOR on the monitor, makes the call and sets
# ms to the time from the call to what the detector saw (NA when nothing within 3 s).
watch() {
  local detector=() out=$run/watch.out rec det t0 t1
  while [[ $1 != -- ]]; do detector+=("$1"); shift; done
  shift
  rm -f "$out" "$run/monitor.fifo"
  mkfifo "$run/monitor.fifo"
  "${detector[@]}" <"$run/monitor.fifo" >"$out" &
  det=$!
  parec -d nullsink.monitor --raw --format=s16le --rate=44100 --channels=2 --latency-msec=5 \
    >"$run/monitor.fifo" 2>/dev/null &
  rec=$!
  sleep 0.4  # past the recorder's start and the stale audio a fresh monitor gets
  kill -USR1 "$det"
  t0=$(date +%s%N)
  "$@"
  for _ in $(seq 1 150); do [[ -s $out ]] && break; kill -0 "$det" 2>/dev/null || break; sleep 0.02; done
  kill "$rec" "$det" 2>/dev/null
  wait "$rec" "$det" 2>/dev/null
  ms=NA
  if [[ -s $out ]]; then
    t1=$(cat "$out")
    ms=$(awk -v a="$t1" -v b="$t0" 'BEGIN {printf "%.0f", (a - b) / 1e6}')
  fi
}

"$lunadio" "$track" >"$run/player.log" 2>&1 </dev/null &
pid=$!
for _ in $(seq 1 50); do call org.freedesktop.DBus.Peer.Ping 2>/dev/null && break; sleep 0.1; done
sleep 2
trackid=$(dbus-send --session --print-reply --dest=$service /org/mpris/MediaPlayer2 \
  org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2.Player string:Metadata |
  grep -o '/org/mpris/MediaPlayer2/lunadio/track/[0-9]*' | head -1)
declare -A figures
for ((r = 0; r < REPS; r++)); do
  watch "$run/silence" 64 441 -- call org.mpris.MediaPlayer2.Player.Pause
  figures[pause]+=" $ms"
  sleep 0.3
  watch "$run/firstsound" 64 -- call org.mpris.MediaPlayer2.Player.Play
  figures[play]+=" $ms"
  sleep 0.5
  watch "$run/silence" 64 441 -- call org.freedesktop.DBus.Properties.Set \
    string:org.mpris.MediaPlayer2.Player string:Volume variant:double:0.0
  figures[volume]+=" $ms"
  call org.freedesktop.DBus.Properties.Set string:org.mpris.MediaPlayer2.Player string:Volume \
    variant:double:0.8
  sleep 0.5
  # Right into the silence at 150 s (positions in microseconds).
  watch "$run/silence" 64 441 -- call org.mpris.MediaPlayer2.Player.SetPosition \
    objpath:$trackid int64:150000000
  figures[seek]+=" $ms"
  call org.mpris.MediaPlayer2.Player.SetPosition objpath:$trackid int64:10000000
  sleep 0.5
done
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null

median() { tr ' ' '\n' | grep -v '^NA$' | grep . | sort -g | awk '{v[NR]=$1} END {print NR ? v[int((NR+1)/2)] : "NA"}'; }
echo "== controls while hidden -> heard on the null sink (ms: median, largest, then each run)"
for control in pause play volume seek; do
  worst=$(echo "${figures[$control]}" | tr ' ' '\n' | grep -v '^NA$' | grep . | sort -g | tail -1)
  printf '%-7s %6s %6s   (%s )\n' "$control" "$(echo "${figures[$control]}" | median)" "${worst:-NA}" "${figures[$control]}"
done
