#!/usr/bin/env bash
# run.sh [--quick] [OUT] : the player benchmark, lunadio against the peers
# installed from Debian, in the same run, in alternating runs.
#
#   OUT (default /tmp/lunadio-bench) gets media/ (the test files, kept between
#   runs), run/ (the sound and X servers' state), work/ (homes and logs) and
#   results/ (raw.tsv, seams.tsv, stalls.tsv and report.txt).
#   The lunadio binary is $LUNADIO_BIN (default build/app/lunadio, relative
#   to the current directory, else to the repository); it is started with the
#   track as its one parameter and its panel hidden, as it starts.  Without
#   it the peers are measured alone and the report says so.  $LUNADIO_REF_BIN,
#   when set, is another build (the one before a change, say) measured
#   alongside as "lunadio-ref", wherever lunadio is, and never counted as a peer.
#
# Phases (each player in turn inside every repetition, so slow drifts of the
# machine hit all of them alike):
#   start  exec -> first sound on every test file (no CPU window)
#   play   the 5-minute FLAC (and MP3) for SAMPLE_S from the first sound: CPU, peak RSS
#   steady the 5-minute FLAC, Ogg and MP3 for STEADY_S (30) from STEADY_AFTER_S (30) after exec:
#          CPU once lunadio's decode of the whole file is long over (lunadio, audacious -H,
#          gst-launch; the MP3 against gst-launch only)
#   decode the whole decode of the 5-minute Ogg and FLAC by lunadio's loader against oggdec and
#          flac -d, alternating, wall and CPU time (bench/audio/decoders audio_load_bench
#          --decode; $DECODE_BENCH, default build/bench/audio/decoders/audio_load_bench;
#          $DECODE_REF_BENCH, when set, the same program of the reference build)
#   idle   no track: lunadio without parameter, audacious and qmmp with
#          their windows; CPU over SAMPLE_S after the first window; beside them,
#          as a reference and never a peer, floor-qt-tray (helpers/qt-tray.cpp:
#          a Qt Widgets program with one tray icon and nothing else)
#   seam   a 2 s tone looped by the player, the monitor recorded and its
#          seams measured (helpers/seam.c)
#   stall  lunadio started with the 60-minute FLAC (and with none, as the
#          baseline) under X pings (helpers/xping.c): the longest time its
#          main thread leaves X events unanswered
# --quick: 3 repetitions, fewer files, 10 s windows (about 6 minutes);
# the full run takes about 30 minutes (plus ~4 minutes to make the test files
# the first time).  Knobs: REPS, PLAY_REPS, SAMPLE_S, STEADY_AFTER_S, STEADY_S, DECODE_REPS,
# SKIP="start play steady decode idle seam stall", PEERS="mpv audacious-h qmmp gst".
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
source "$HERE/lib.sh"

QUICK=0
while (($#)); do
  case $1 in
    --quick) QUICK=1; shift ;;
    -h | --help) sed -n '2,30p' "$0"; exit 0 ;;
    -*) die "unknown option $1" ;;
    *) break ;;
  esac
done
OUT=$(mkdir -p "${1:-/tmp/lunadio-bench}" && cd "${1:-/tmp/lunadio-bench}" && pwd)
export BENCH_RUN=$OUT/run WORK=$OUT/work
RES=$OUT/results
mkdir -p "$RES" "$WORK"

if ((QUICK)); then
  REPS=${REPS:-3} PLAY_REPS=${PLAY_REPS:-3} SAMPLE_S=${SAMPLE_S:-10}
  IDLE_SETTLE_S=${IDLE_SETTLE_S:-2} SEAM_S=${SEAM_S:-6} STALL_MS=${STALL_MS:-4000}
  START_FILES="music-5min.wav music-5min.ogg music-5min.mp3 music-60min.flac"
  PLAY_FILES="music-5min.flac"
  IDLE_PEER_REPS=1 SEAM_PEERS="" SEAM_REPS=1 STALL_PEERS=""
  STEADY_AFTER_S=${STEADY_AFTER_S:-15} STEADY_S=${STEADY_S:-10} DECODE_REPS=${DECODE_REPS:-3}
  STEADY_FILES="music-5min.flac music-5min.ogg"
else
  REPS=${REPS:-4} PLAY_REPS=${PLAY_REPS:-3} SAMPLE_S=${SAMPLE_S:-30}
  IDLE_SETTLE_S=${IDLE_SETTLE_S:-2} SEAM_S=${SEAM_S:-9} STALL_MS=${STALL_MS:-6000}
  START_FILES="music-1min.wav music-1min.ogg music-1min.flac music-5min.wav music-5min.ogg
    music-5min.flac music-5min.mp3 music-60min.wav music-60min.ogg music-60min.flac"
  PLAY_FILES="music-5min.flac music-5min.mp3"
  IDLE_PEER_REPS=$PLAY_REPS SEAM_PEERS="mpv" SEAM_REPS=2 STALL_PEERS="qmmp"
  STEADY_AFTER_S=${STEADY_AFTER_S:-30} STEADY_S=${STEADY_S:-30} DECODE_REPS=${DECODE_REPS:-5}
  STEADY_FILES="music-5min.flac music-5min.ogg music-5min.mp3"
fi
export IDLE_SETTLE_S SEAM_S STALL_MS STEADY_AFTER_S
PEERS=${PEERS:-mpv audacious-h qmmp gst}
skip() { [[ " ${SKIP:-} " == *" $1 "* ]]; }

LUNADIO_BIN=${LUNADIO_BIN:-build/app/lunadio}
[[ $LUNADIO_BIN == /* || -e $LUNADIO_BIN ]] || LUNADIO_BIN=$ROOT/$LUNADIO_BIN
[[ -e $LUNADIO_BIN ]] && LUNADIO_BIN=$(realpath "$LUNADIO_BIN")
HAVE_LUNADIO=0
[[ -x $LUNADIO_BIN ]] && HAVE_LUNADIO=1
export LUNADIO_BIN

need pactl parec xdotool Xvfb trayer sox flac oggenc lame cc
"$HERE/audio-env.sh" build
"$HERE/gen-media.sh" "$OUT/media" "$( ((QUICK)) && echo quick)" 2>"$WORK/gen-media.log" ||
  { cat "$WORK/gen-media.log" >&2; die "test files"; }
M=$OUT/media

MAIN_PID=$BASHPID
cleanup() { [[ $BASHPID == "$MAIN_PID" ]] && "$HERE/audio-env.sh" down >/dev/null 2>&1; }
trap cleanup EXIT
trap 'exit 130' INT TERM
"$HERE/audio-env.sh" up >/dev/null || die "audio/X environment (see $BENCH_RUN/*.log)"
# shellcheck disable=SC1091
source "$BENCH_RUN/env.sh"
source "$HERE/measure.sh"

# which players exist here
available() {
  local p=$1
  [[ $p == lunadio ]] && return $((!HAVE_LUNADIO))
  [[ $p == lunadio-ref ]] && { [[ -x ${LUNADIO_REF_BIN:-} ]]; return; }
  local tpl; tpl=$(player_cmd "$p"); command -v "${tpl%% *}" >/dev/null
}
PLAYERS=()
for p in lunadio ${LUNADIO_REF_BIN:+lunadio-ref} $PEERS; do
  if available "$p"; then PLAYERS+=("$p"); else log "skip $p: not installed (install-peers.sh / build lunadio)"; fi
done
((HAVE_LUNADIO)) || log "no lunadio binary at $LUNADIO_BIN: measuring the peers only"

{
  echo "date: $(date -u '+%F %T UTC')"
  echo "mode: $( ((QUICK)) && echo quick || echo full) REPS=$REPS PLAY_REPS=$PLAY_REPS SAMPLE_S=$SAMPLE_S" \
    "STEADY: ${STEADY_S}s from ${STEADY_AFTER_S}s after exec"
  echo "machine: $(nproc) cores,$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2), load at start $(cut -d' ' -f1-3 /proc/loadavg)"
  if ((HAVE_LUNADIO)); then
    echo "lunadio: $LUNADIO_BIN ($(git -C "$ROOT" describe --always --dirty 2>/dev/null || echo '?'), $(date -u -r "$LUNADIO_BIN" '+built %F %T UTC'))"
  else
    echo "lunadio: not found at $LUNADIO_BIN"
  fi
  [[ -n ${LUNADIO_REF_BIN:-} ]] && echo "lunadio-ref: $LUNADIO_REF_BIN ($(date -u -r "$LUNADIO_REF_BIN" '+built %F %T UTC'))"
  for p in mpv audacious qmmp gstreamer1.0-tools pulseaudio; do
    echo "$p: $(dpkg-query -W -f='${Version}' "$p" 2>/dev/null || echo none)"
  done
} >"$RES/env.txt"

RAW=$RES/raw.tsv SEAMS=$RES/seams.tsv STALLS=$RES/stalls.tsv DECODES=$RES/decode.tsv
echo -e "$RAW_HEADER" >"$RAW"
echo -e 'file\ttool\tours_wall_s\tours_cpu_s\ttool_wall_s\ttool_cpu_s' >"$DECODES"
echo -e "$SEAM_HEADER" >"$SEAMS"
echo -e "$STALL_HEADER" >"$STALLS"

# rotate LIST... by R: the players' order changes from one repetition to the next
rotate() { local r=$1; shift; local a=("$@") n=$#; local i; for ((i = 0; i < n; i++)); do echo "${a[(i + r) % n]}"; done; }

T_START=$SECONDS
# warm-up: one run per player with a fresh HOME (configuration and caches
# created), not counted
for p in "${PLAYERS[@]}"; do
  rm -rf "${WORK:?}/home/${p:?}"
  log "warm-up $p"
  measure_run warmup "$p" "$M/music-5min.flac" 1 >>"$RAW"
done

if ! skip start; then
  for ((r = 0; r < REPS; r++)); do
    for f in $START_FILES; do
      for p in $(rotate "$r" "${PLAYERS[@]}"); do
        log "start $((r + 1))/$REPS $p $f"
        measure_run start "$p" "$M/$f" 0 | tee -a "$RAW" | cut -f2-4 >&2
      done
    done
  done
fi

if ! skip play; then
  for ((r = 0; r < PLAY_REPS; r++)); do
    for f in $PLAY_FILES; do
      for p in $(rotate "$r" "${PLAYERS[@]}"); do
        # MP3: lunadio's media engine is playbin, the best peer there
        [[ $f == *.mp3 && $p != lunadio* && $p != gst ]] && continue
        log "play $((r + 1))/$PLAY_REPS $p $f (${SAMPLE_S}s)"
        measure_run play "$p" "$M/$f" "$SAMPLE_S" | tee -a "$RAW" | cut -f2-4,7-9 >&2
      done
    done
  done
fi

# A window opened STEADY_AFTER_S after exec: what playing costs once the start's one-off work is
# over (lunadio decodes the whole file in its first second or two; the streaming peers spread their
# decode over the track). The players with the lowest figures only.
if ! skip steady; then
  STEADY=()
  for p in lunadio lunadio-ref audacious-h gst; do available "$p" && STEADY+=("$p"); done
  for ((r = 0; r < PLAY_REPS; r++)); do
    for f in $STEADY_FILES; do
      for p in $(rotate "$r" "${STEADY[@]}"); do
        [[ $f == *.mp3 && $p != lunadio* && $p != gst ]] && continue
        log "steady $((r + 1))/$PLAY_REPS $p $f (${STEADY_S}s from ${STEADY_AFTER_S}s after exec)"
        measure_run steady "$p" "$M/$f" "$STEADY_S" | tee -a "$RAW" | cut -f2-4,7-9 >&2
      done
    done
  done
fi

# The whole decode, lunadio's loader against the reference command-line decoder, alternating.
DECODE_BENCH=${DECODE_BENCH:-build/bench/audio/decoders/audio_load_bench}
[[ $DECODE_BENCH == /* || -e $DECODE_BENCH ]] || DECODE_BENCH=$ROOT/$DECODE_BENCH
if ! skip decode; then
  if [[ -x $DECODE_BENCH ]] && command -v oggdec >/dev/null && command -v flac >/dev/null; then
    log "decode ${DECODE_REPS}x music-5min.ogg music-5min.flac"
    "$DECODE_BENCH" --decode "$DECODE_REPS" "$M/music-5min.ogg" "$M/music-5min.flac" \
      2>"$WORK/decode.log" | tee -a "$DECODES" >&2 || log "decode: failed (see $WORK/decode.log)"
    # the reference build's loader, if one is named, its lines marked "(ref)"
    if [[ -x ${DECODE_REF_BENCH:-} ]]; then
      "$DECODE_REF_BENCH" --decode "$DECODE_REPS" "$M/music-5min.ogg" "$M/music-5min.flac" \
        2>>"$WORK/decode.log" | awk -F'\t' -v OFS='\t' '{ $1 = $1 "(ref)"; print }' | tee -a "$DECODES" >&2
    fi
  else
    log "skip decode: no $DECODE_BENCH (cmake --build build --target audio_load_bench), oggdec or flac"
  fi
fi

if ! skip idle; then
  IDLE=()
  ((HAVE_LUNADIO)) && IDLE+=(lunadio)
  available lunadio-ref && IDLE+=(lunadio-ref)
  command -v audacious >/dev/null && IDLE+=(audacious-gui)
  command -v qmmp >/dev/null && IDLE+=(qmmp)
  # a reference, not a peer: what any Qt Widgets tray program holds (helpers/qt-tray.cpp)
  [[ -x $BENCH_RUN/bin/qt-tray ]] && IDLE+=(floor-qt-tray)
  rm -rf "${WORK:?}/home/audacious-gui"
  for ((r = 0; r < PLAY_REPS; r++)); do
    for p in $(rotate "$r" "${IDLE[@]}"); do
      [[ $p != lunadio* ]] && ((r >= IDLE_PEER_REPS)) && continue
      log "idle $((r + 1))/$PLAY_REPS $p (${SAMPLE_S}s)"
      measure_run idle "$p" idle "$SAMPLE_S" | tee -a "$RAW" | cut -f2,3,5,7,8 >&2
    done
  done
fi

if ! skip seam; then
  SP=()
  ((HAVE_LUNADIO)) && SP+=(lunadio)
  for p in $SEAM_PEERS; do available "$p" && SP+=("$p"); done
  ((${#SP[@]})) || { available mpv && SP+=(mpv); }   # exercise the measure without lunadio
  for ((r = 0; r < SEAM_REPS; r++)); do
    for f in loop-2s.wav loop-2s.ogg loop-2s.flac loop-2s.mp3; do
      for p in "${SP[@]}"; do
        # the peers' seams are a reference: one run is enough
        [[ $p != lunadio ]] && ((r > 0 && HAVE_LUNADIO)) && continue
        log "seam $((r + 1))/$SEAM_REPS $p $f"
        measure_seam "$p" "$M/$f" | tee -a "$SEAMS" >&2
      done
    done
  done
fi

if ! skip stall; then
  ST=()
  ((HAVE_LUNADIO)) && ST+=(lunadio)
  for p in $STALL_PEERS; do available "$p" && ST+=("$p"); done
  ((${#ST[@]})) || { available qmmp && ST+=(qmmp); }
  for ((r = 0; r < PLAY_REPS; r++)); do
    for p in "${ST[@]}"; do
      log "stall $((r + 1))/$PLAY_REPS $p music-60min.flac"
      measure_stall "$p" "$M/music-60min.flac" | tee -a "$STALLS" >&2
      if [[ $p == lunadio ]] && ((r == 0 || !QUICK)); then
        log "stall $((r + 1))/$PLAY_REPS $p idle (baseline)"
        measure_stall "$p" idle | tee -a "$STALLS" >&2
      fi
    done
  done
fi

echo "elapsed: $((SECONDS - T_START)) s of measuring" >>"$RES/env.txt"
"$HERE/report.sh" "$RES" | tee "$RES/report.txt"
