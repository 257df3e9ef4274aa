#!/usr/bin/env bash
# The player's own figures on a desktop without hardware (PulseAudio null sink, Xvfb, trayer):
#   1. exec -> first sound on the sink for 5-minute WAV, FLAC, Ogg and MP3 files, lunadio next to
#      gst-launch-1.0 playbin on the same files in the same run (median of REPS runs, ratio);
#   2. CPU (% of one core) and peak RSS over SAMPLE_S seconds of playing with the panel hidden;
#   3. the fades: window in/out, sound out/in, the strip's shrink and grow, against the least
#      their steps allow, with the CPU used meanwhile (bench/app/player_fade_figures).
#   4. CPU (% of one core) over SAMPLE_S seconds idle: no track, the panel hidden.
# Usage: bench/player/player-figures.sh [--quick] [BUILD_DIR]
#   REPS=3 SAMPLE_S=30 FORMATS="wav flac ogg mp3" by default; --quick: REPS=1, FORMATS=flac, no
#   fades. LUNADIO_BIN=path times that binary instead of BUILD_DIR's (e.g. a copy kept from before
#   a change, to compare in the same run).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
quick=0
if [[ ${1:-} == --quick ]]; then quick=1; shift; fi
build=${1:-$root/build}
if ((quick)); then
  REPS=${REPS:-1} FORMATS=${FORMATS:-flac}
fi
REPS=${REPS:-3}
SAMPLE_S=${SAMPLE_S:-30}
FORMATS=${FORMATS:-wav flac ogg mp3}
media=${LUNADIO_BENCH_MEDIA:-/tmp/lunadio-bench-media}
source "$root/tests/e2e/desktop-env.sh"

missing=$(desktop_missing)
for tool in flac oggenc lame gst-launch-1.0; do command -v $tool >/dev/null || missing+=" $tool"; done
[[ -z ${missing// /} ]] || { echo "missing: $missing (scripts/install-deps.sh)"; exit 1; }

if [[ -n ${LUNADIO_BIN:-} ]]; then
  lunadio=$LUNADIO_BIN
  ((quick)) || cmake --build "$build" -j2 --target player_fade_figures >/dev/null || exit 1
else
  cmake --build "$build" -j2 --target lunadio player_fade_figures >/dev/null || exit 1
  lunadio=$build/app/lunadio
fi
fades=$build/bench/app/player_fade_figures

run=$(mktemp -d /tmp/lunadio-figures-XXXXXX)
cleanup() { desktop_down; rm -rf "$run"; }
trap cleanup EXIT
desktop_up "$run" || { echo "the desktop did not start"; exit 1; }
export HOME=$run/home
unset LUNADIO_MEDIA_SINK QT_QPA_PLATFORM SDL_AUDIODRIVER
clk_tck=$(getconf CLK_TCK)

# Five minutes of music-like sound from t = 0: detuned tones, pink noise, a tremolo.
mkdir -p "$media"
if [[ ! -s $media/music-5min.mp3 ]]; then
  echo "making the 5-minute media in $media ..."
  sox -R -n -r 44100 -b 16 -c 2 -t wavpcm "$media/music-5min.wav" \
    synth 300 pinknoise pinknoise synth 300 sine mix 220 sine mix 221 \
    synth 300 triangle mix 330 triangle mix 331.5 tremolo 3 25 gain -n -3
  flac -s -f -5 -o "$media/music-5min.flac" "$media/music-5min.wav"
  oggenc -Q -q5 -o "$media/music-5min.ogg" "$media/music-5min.wav"
  lame --quiet -V2 "$media/music-5min.wav" "$media/music-5min.mp3"
fi

# The first sample above a threshold on the monitor after arming (SIGUSR1), as a clock time.
cat >"$run/firstsound.c" <<'C'
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
#include <errno.h>
static volatile sig_atomic_t armed;
static void arm(int s) { (void)s; armed = 1; }
int main(int argc, char** argv) {
  struct sigaction sa = {0};
  sa.sa_handler = arm;
  sigaction(SIGUSR1, &sa, NULL);
  long threshold = argc > 1 ? strtol(argv[1], NULL, 10) : 64;
  int16_t buf[2048];
  for (;;) {
    ssize_t n = read(0, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 1;
    if (!armed) continue;
    for (ssize_t i = 0; i < n / 2; ++i) {
      if (buf[i] > threshold || buf[i] < -threshold) {
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        printf("%lld\n", (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec);
        return 0;
      }
    }
  }
}
C
cc -O2 -o "$run/firstsound" "$run/firstsound.c" || exit 1

tree_ticks() {  # utime + stime of a process (all its threads), in clock ticks
  local s
  { read -r s <"/proc/$1/stat"; } 2>/dev/null || { echo 0; return; }
  s=${s##*) }
  set -- $s
  (($# >= 13)) || { echo 0; return; }
  echo $((${12} + ${13}))
}

# "name ticks" for each thread of a process, ticks = utime + stime.
thread_ticks() {
  local task s name
  for task in /proc/$1/task/*; do
    { read -r s <"$task/stat"; } 2>/dev/null || continue
    name=${s#*(}; name=${name%%)*}; s=${s##*) }
    set -- $s
    echo "${task##*/}:${name// /_} $((${12} + ${13}))"
  done
}
# The threads that used the most between two thread_ticks snapshots, as "name=ticks".
busiest_threads() {
  join <(sort <<<"$1") <(sort <<<"$2") | awk '{d = $3 - $2; sub(/^[0-9]+:/, "", $1); if (d > 0) print d, $1}' |
    sort -rn | head -4 | awk '{printf "%s%s=%d", (NR > 1 ? " " : ""), $2, $1}'
}

# Waits until the sink has been silent for a moment: what a stopped player left in it is gone.
wait_silence() {
  for _ in $(seq 1 20); do
    below "$(sink_peak 0.3)" 0.002 && return
  done
}
below() { awk -v v="$1" -v t="$2" 'BEGIN { exit !(v < t) }'; }

stop() {  # stop PID: TERM, then KILL after 5 s
  kill "$1" 2>/dev/null
  for _ in $(seq 1 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}

# first_sound CMD...: starts CMD, sets first_ms to exec -> first sound in ms (NA when none came
# within 4 s) and leaves CMD running as $started.
started=
first_ms=NA
first_sound() {
  local out=$run/first.$$ recorder detector t0 t1
  rm -f "$out"
  wait_silence
  mkfifo "$run/monitor.fifo" 2>/dev/null
  "$run/firstsound" 64 <"$run/monitor.fifo" >"$out" &
  detector=$!
  parec -d nullsink.monitor --raw --format=s16le --rate=44100 --channels=2 --latency-msec=5 \
    >"$run/monitor.fifo" 2>/dev/null &
  recorder=$!
  sleep 0.4  # past the recorder's start and the stale audio a fresh monitor gets
  kill -USR1 "$detector"
  t0=$(date +%s%N)
  "$@" >"$run/player.log" 2>&1 </dev/null &
  started=$!
  for _ in $(seq 1 200); do [[ -s $out ]] && break; kill -0 "$detector" 2>/dev/null || break; sleep 0.02; done
  kill "$recorder" "$detector" 2>/dev/null
  wait "$recorder" "$detector" 2>/dev/null
  rm -f "$run/monitor.fifo"
  first_ms=NA
  if [[ -s $out ]]; then
    t1=$(cat "$out")
    first_ms=$(awk -v a="$t1" -v b="$t0" 'BEGIN {printf "%.0f", (a - b) / 1e6}')
  fi
}

median() { tr ' ' '\n' | grep -v '^NA$' | grep . | sort -g | awk '{v[NR]=$1} END {print NR ? v[int((NR+1)/2)] : "NA"}'; }

echo
echo "== exec -> first sound on the null sink (ms: median, then each run)"
printf '%-6s %18s %18s %8s\n' format lunadio "gst-launch playbin" ratio
declare -A cpu_line threads_line
for format in $FORMATS; do
  file=$media/music-5min.$format
  ours=() theirs=()
  for ((r = 0; r < REPS; r++)); do
    first_sound "$lunadio" "$file"
    ours+=("$first_ms")
    if ((r == REPS - 1)); then
      # The last run plays on, the panel hidden: its CPU and peak memory.
      pid=$started
      sleep 2
      t1=$(thread_ticks "$pid")
      c1=$(tree_ticks "$pid"); w1=$(date +%s%N)
      sleep "$SAMPLE_S"
      c2=$(tree_ticks "$pid"); w2=$(date +%s%N)
      threads_line[$format]=$(busiest_threads "$t1" "$(thread_ticks "$pid")")
      hwm=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null)
      cpu=$(awk -v a="$c1" -v b="$c2" -v hz="$clk_tck" -v w1="$w1" -v w2="$w2" \
        'BEGIN {printf "%.2f", (b - a) / hz / ((w2 - w1) / 1e9) * 100}')
      cpu_line[$format]="$cpu ${hwm:-NA}"
    fi
    stop "$started"
    first_sound gst-launch-1.0 -q playbin "uri=file://$file"
    theirs+=("$first_ms")
    stop "$started"
  done
  m1=$(echo "${ours[*]}" | median)
  m2=$(echo "${theirs[*]}" | median)
  ratio=$(awk -v a="$m1" -v b="$m2" 'BEGIN {if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else print "NA"}')
  printf '%-6s %18s %18s %8s\n' "$format" "$m1 (${ours[*]})" "$m2 (${theirs[*]})" "$ratio"
done

echo
echo "== $SAMPLE_S s of playing with the panel hidden (lunadio, whole process)"
printf '%-6s %12s %16s   %s\n' format "cpu % core" "peak RSS (kB)" "busiest threads (ticks of 1/$clk_tck s)"
for format in $FORMATS; do
  read -r cpu hwm <<<"${cpu_line[$format]}"
  printf '%-6s %12s %16s   %s\n' "$format" "$cpu" "$hwm" "${threads_line[$format]}"
done

# CPU of PID over SAMPLE_S seconds, % of one core, into cpu.
sample_cpu() {
  local c1 c2 w1 w2
  c1=$(tree_ticks "$1"); w1=$(date +%s%N)
  sleep "$SAMPLE_S"
  c2=$(tree_ticks "$1"); w2=$(date +%s%N)
  cpu=$(awk -v a="$c1" -v b="$c2" -v hz="$clk_tck" -v w1="$w1" -v w2="$w2" \
    'BEGIN {printf "%.2f", (b - a) / hz / ((w2 - w1) / 1e9) * 100}')
}

echo
echo "== $SAMPLE_S s idle: no track, the panel hidden (lunadio, whole process)"
"$lunadio" >"$run/player.log" 2>&1 </dev/null &
pid=$!
sleep 3
t1=$(thread_ticks "$pid")
sample_cpu "$pid"
hwm=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null)
printf '%-6s %12s %16s   %s\n' idle "$cpu" "${hwm:-NA}" "$(busiest_threads "$t1" "$(thread_ticks "$pid")")"
stop "$pid"

((quick)) && exit 0
echo
echo "== the fades ($REPS runs; cpu % of one core while each runs)"
"$fades" "$media/music-5min.flac" "$REPS" 2>&1 | grep -v "WAV Header"
