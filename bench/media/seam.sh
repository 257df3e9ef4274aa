#!/usr/bin/env bash
# The silence at the seam of a looped MP3, as a listener hears it: the player's loop plays a
# 2-second tone (lame, 128 kbit/s, with its LAME header) over and over to a PulseAudio null sink
# of our own, whose monitor is recorded at real-time pace; every run of silence between the first
# and the last sound is a gap. Measured both ways in the same run:
#   restart  today's loop: mediaStatus reads 0 at the end, the loop calls playMedia again
#   loop     setMediaLoop(0, 1): the engine queues the next pass itself
# Usage: bench/media/seam.sh [build-dir] [seconds per way]     (build/ and 9 s by default)
# Needs pulseaudio, parec (pulseaudio-utils), sox, lame, python3; builds media_seam_play first.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
seconds="${2:-9}"
for tool in pulseaudio parec pactl sox lame python3; do
  command -v "$tool" >/dev/null || { echo "seam: $tool is missing" >&2; exit 1; }
done
cmake --build "$build" --target media_seam_play >/dev/null
play="$build/bench/media/media_seam_play"

work="$(mktemp -d)"
pulse_pid=""
cleanup() {
  [ -n "$pulse_pid" ] && kill "$pulse_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A tone is never silent for more than a sample at its zero crossings, so any longer quiet run is
# a gap. Sox writes it, lame encodes it as a player would find it.
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 2 sine 441 vol 0.5
lame --quiet -b 128 "$work/tone.wav" "$work/tone.mp3"

# A private sound server with a null sink; norewinds keeps the monitor's reading in step.
mkdir -p "$work/pulse" "$work/home"
chmod 700 "$work" "$work/pulse"
socket="$work/pulse/native"
HOME="$work/home" XDG_RUNTIME_DIR="$work" XDG_CONFIG_HOME="$work/home" PULSE_RUNTIME_PATH="$work/pulse" \
  pulseaudio --daemonize=yes --exit-idle-time=-1 -n --disallow-exit \
  --load="module-null-sink sink_name=seamsink rate=44100 channels=2 norewinds=1" \
  --load="module-native-protocol-unix auth-anonymous=1 socket=$socket" \
  --log-target="file:$work/pulse.log"
for _ in $(seq 50); do
  [ -s "$work/pulse/pid" ] && PULSE_SERVER="unix:$socket" pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
pulse_pid="$(cat "$work/pulse/pid")"
export PULSE_SERVER="unix:$socket"
pactl set-default-sink seamsink

record_way() {  # way -> $work/<way>.raw
  local way=$1 recorder
  parec -d seamsink.monitor --format=s16le --rate=44100 --channels=2 --latency-msec=5 \
    >"$work/$way.raw" &
  recorder=$!
  sleep 0.5
  LUNADIO_MEDIA_SINK="pulsesink" "$play" "$way" "$work/tone.mp3" "$seconds"
  sleep 0.5
  kill "$recorder"
  wait "$recorder" 2>/dev/null || true
}

record_way restart
record_way loop

# The gaps: runs of |sample| < 1 % of full scale longer than a millisecond, between the first and
# the last sound of the recording (sox turns a recording into a WAV for a listen:
# sox -t raw -r 44100 -e signed -b 16 -c 2 restart.raw restart.wav).
python3 - "$work" <<'PY'
import array, statistics, sys
work = sys.argv[1]
rate, threshold = 44100, 328
def gaps(path):
    samples = array.array('h')
    with open(path, 'rb') as f:
        samples.frombytes(f.read())
    left = samples[0::2]
    loud = [i for i in (0, len(left) - 1)]
    first = next((i for i, s in enumerate(left) if abs(s) >= threshold), None)
    last = next((i for i in range(len(left) - 1, -1, -1) if abs(left[i]) >= threshold), None)
    if first is None:
        return [], 0.0
    runs, quiet = [], 0
    for s in left[first:last + 1]:
        if abs(s) < threshold:
            quiet += 1
        else:
            if quiet > rate // 1000:
                runs.append(quiet * 1000.0 / rate)
            quiet = 0
    return runs, (last - first) / rate
results = {}
for way in ('restart', 'loop'):
    runs, heard = gaps(f'{work}/{way}.raw')
    results[way] = runs
    if runs:
        print(f'{way:8s} {heard:5.1f} s heard, {len(runs)} gaps: longest {max(runs):6.1f} ms, '
              f'median {statistics.median(runs):6.1f} ms')
    else:
        print(f'{way:8s} {heard:5.1f} s heard, no gap over 1 ms')
before = max(results['restart'], default=0.0)
after = max(results['loop'], default=0.0)
print(f'longest silence at a seam: before {before:.1f} ms, after {after:.1f} ms (target < 5 ms)')
PY
