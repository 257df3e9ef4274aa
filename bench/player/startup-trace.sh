#!/usr/bin/env bash
# Where the time before the first sound goes: the real binary on the benchmark's desktop (Xvfb,
# trayer, PulseAudio null sink) under strace, with the moments of the start-up's milestones in ms
# after exec (the display's socket, GStreamer's registry, the sound server's socket, the track's
# file, the first audio written). strace slows every system call, so read the gaps, not the total.
# Usage: bench/player/startup-trace.sh [LUNADIO_BIN] [TRACK]   (TRACK: the 5-minute FLAC)
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
lunadio=${1:-$root/build/app/lunadio}
track=${2:-${LUNADIO_BENCH_MEDIA:-/tmp/lunadio-bench-media}/music-5min.flac}
source "$root/tests/e2e/desktop-env.sh"
command -v strace >/dev/null || { echo "missing: strace"; exit 1; }
run=$(mktemp -d /tmp/lunadio-trace-XXXXXX)
trap 'desktop_down; rm -rf "$run"' EXIT
desktop_up "$run" || { echo "the desktop did not start"; exit 1; }
export HOME=$run/home
unset LUNADIO_MEDIA_SINK QT_QPA_PLATFORM SDL_AUDIODRIVER
# Once without tracing, so that GStreamer's registry is made and the file is in the page cache.
timeout -s KILL 4 "$lunadio" "$track" &>/dev/null || true
strace -f --seccomp-bpf -ttt -e trace=execve,connect,openat -o "$run/trace" \
  timeout -s INT 3 "$lunadio" "$track" >/dev/null 2>&1
[[ -n ${TRACE_COPY:-} ]] && cp "$run/trace" "$TRACE_COPY"
awk -v track="$track" '
  function ms(t) { return sprintf("%7.1f", (t - t0) * 1000) }
  function mark(name, t) { if (!(name in seen)) { seen[name] = 1; print ms(t) " ms  " name } }
  { t = $2 }
  /execve\(/ && !t0 { t0 = t }
  /connect\(.*X11-unix/ { mark("display connection", t) }
  /openat\(.*registry\..*\.bin/ { mark("GStreamer registry read (initMedia)", t) }
  /openat\(.*libgst/ { mark("first GStreamer library/plugin opened", t) }
  /connect\(.*pulse\/native/ { n++; mark("sound server connection " n, t) }
  /openat\(.*\.(ttf|otf|pcf)/ { mark("first font file", t) }
  index($0, track) && /openat/ { opens++; mark("track file opened " opens, t) }
  END { print ms(t) " ms  end of trace" }
' "$run/trace"
