# shellcheck shell=bash
# The measurements of one player run, sourced by run.sh after lib.sh, with
# the environment of audio-env.sh sourced ($BENCH_RUN/env.sh).
#
# Players are named by a label; player_cmd gives their command template, in
# which %f is the shell-quoted file and %u its file:// URI.  Every label keeps
# a HOME of its own in $WORK/home/LABEL (and runs with that as its current
# directory, where lunadio keeps its settings file), so after a warm-up run
# the players start with their own configuration and caches.
#
# measure_run PHASE LABEL FILE|idle SAMPLE_S -> one TSV line (RAW_HEADER):
#   audio_ms      exec -> first sample above THRESH (64 of 32767) on the null
#                 sink's monitor (parec, 5 ms latency, helpers/firstsound.c);
#                 the null sink renders 50 ms blocks (norewinds=1), so this
#                 can be up to ~50 ms early against an ideal playout clock
#   window_ms     idle runs: exec -> the first window of the process (mapped
#                 or not: lunadio starts with its panel hidden)
#   start_cpu_ms  CPU of the process tree (utime+stime) at that point
#   cpu_pct       utime+stime of the process tree over the next SAMPLE_S s,
#                 % of one core (10 ms clock ticks)
#   cpu_ns_pct    the same from the threads' schedstat run time (ns); NA when
#                 a thread ended in the window, whose time that count loses
#   hwm_kb        peak RSS (VmHWM) summed over the tree at the end; rss_kb VmRSS
#   pulse_pct, xvfb_pct  the sound server's and the X server's CPU then
#   playing       1 if the player still had a stream on the sink at the end
# Steady runs (PHASE steady) open the window STEADY_AFTER_S (30) after exec instead of at the
# first sound.
# Idle runs (FILE "idle") wait for the first window, then IDLE_SETTLE_S.
#
# measure_seam LABEL FILE -> the recording of the monitor while LABEL loops
#   FILE for SEAM_S seconds, analysed by helpers/seam.c (SEAM_HEADER).
# measure_stall LABEL FILE|idle -> helpers/xping.c against the player while
#   it starts with FILE (STALL_HEADER).

THRESH=${THRESH:-64}
START_TIMEOUT_S=${START_TIMEOUT_S:-20}
IDLE_SETTLE_S=${IDLE_SETTLE_S:-5}
SEAM_S=${SEAM_S:-9}
STALL_MS=${STALL_MS:-8000}

RAW_HEADER='phase\tlabel\tfile\taudio_ms\twindow_ms\tstart_cpu_ms\tcpu_pct\tcpu_ns_pct\thwm_kb\trss_kb\tpulse_pct\txvfb_pct\tplaying\tload1\tsample_s'
SEAM_HEADER='label\tfile\tloops\tseams_due\tevents\tseam_events\tseam_gap_ms\tseam_jump_ratio\tseam_slip_frames\toff_seam_gap_ms\toff_seam_jump_ratio\tdip_frames\tamplitude'
STALL_HEADER='label\tfile\twindow_ms\tfirst_reply_ms\tpings\tmax_rtt_ms\tmax_at_ms\tmax_rtt_after_first_ms\tp50_rtt_ms\texited\tunanswered'

# player_cmd LABEL [idle|loop]: the command template of a player
player_cmd() {
  local mode=${2:-}
  case $1 in
    lunadio) echo "${LUNADIO_BIN:?} %f" ;;
    lunadio-ref) echo "${LUNADIO_REF_BIN:?} %f" ;;
    mpv)
      if [[ $mode == loop ]]; then echo "mpv --no-video --ao=pulse --no-terminal --loop-file=inf %f"
      else echo "mpv --no-video --ao=pulse --no-terminal %f"; fi ;;
    audacious-h) echo "audacious -H %f" ;;
    audacious-gui) echo "audacious %f" ;;
    floor-qt-tray) echo "${BENCH_RUN:?}/bin/qt-tray" ;;
    qmmp) echo "qmmp %f" ;;
    gst) echo "gst-launch-1.0 -q playbin uri=%u audio-sink=pulsesink video-sink=fakesink" ;;
    *) die "unknown player $1" ;;
  esac
}

seed_home() {  # seed_home LABEL DIR: per-player configuration for a fair run
  case $1 in
    qmmp)  # qmmp 1.6 defaults to ALSA (-> PulseAudio through the ALSA
           # plugin); use its own PulseAudio output like the other players
      mkdir -p "$2/.qmmp"
      [[ -s $2/.qmmp/qmmprc ]] || printf '[Output]\ncurrent_plugin=pulse\n' >"$2/.qmmp/qmmprc"
      ;;
  esac
}

# launch LABEL FILE|idle [MODE]: start the player in the background; sets
# PLAYER_PID, PLAYER_T0 (exec time, us since the epoch) and PLAYER_LOG.
launch() {
  local label=$1 file=$2 mode=${3:-} tpl q="" uri="" cmd home
  tpl=$(player_cmd "$label" "$mode")
  if [[ $file != idle ]]; then
    q=$(printf '%q' "$file"); uri="file://$file"
  fi
  cmd=${tpl//%f/$q}; cmd=${cmd//%u/$uri}
  home=$WORK/home/$label
  mkdir -p "$home" "$WORK/logs"
  seed_home "$label" "$home"
  PLAYER_LOG=$WORK/logs/$label-$(basename "$file")-$(date +%H%M%S%N | cut -c1-9).log
  local -a env=(HOME="$home")
  # lunadio plays through the sound server's own protocol unless SDL_AUDIODRIVER asks for SDL; a
  # reference built before that goes through SDL, which would try PipeWire first (none here)
  [[ $label == lunadio-ref ]] && env+=(SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-pulseaudio}")
  PLAYER_T0=${EPOCHREALTIME/./}
  # env execs bash, which execs the player: $! stays the player's PID.  No
  # setsid: where job control is on the child leads its own process group,
  # setsid then forks and $! would not be the player
  env "${env[@]}" bash -c "cd $(printf '%q' "$home") && exec $cmd" </dev/null >"$PLAYER_LOG" 2>&1 &
  PLAYER_PID=$!
}

# stop_player: the player by PID (TERM, STOP_GRACE_S, KILL), then what it
# started.  The grace is short: every figure is taken by then, and a player
# that catches TERM without ending (SDL's default handler only queues a quit
# event) would cost the whole grace on every run.
stop_player() {
  local kids
  kids=$(descendants "$PLAYER_PID")
  stop_pid "$PLAYER_PID" "${STOP_GRACE_S:-1}"
  # shellcheck disable=SC2086
  stop_others 3 $kids
}

# owns_stream PID: does PID or a descendant own a sink input?
owns_stream() {
  local o tree
  tree=" $1 $(descendants "$1") "
  for o in $(pactl list sink-inputs 2>/dev/null | awk -F'"' '/application.process.id/ {print $2}'); do
    [[ $tree == *" $o "* ]] && return 0
  done
  return 1
}

# recorder_up FIFO|FILE: parec of the monitor into it; sets REC_PID, and
# returns once the recorder is connected and past its own start
recorder_up() {
  local i
  parec -d nullsink.monitor --raw --format=s16le --rate=44100 --channels=2 \
    --latency-msec=5 >"$1" 2>/dev/null &
  REC_PID=$!
  for ((i = 0; i < 100; i++)); do
    pactl list short source-outputs 2>/dev/null | grep -q . && break
    sleep 0.02
  done
  sleep 0.2
}

measure_run() {
  local phase=$1 label=$2 file=$3 sample_s=$4
  local fsfile fifo fs_pid="" i audio_ms=NA window_ms=NA start_ticks
  local pulse_pid xvfb_pid load1
  pulse_pid=$(cat "$BENCH_RUN/pulse/pid" 2>/dev/null) || true
  xvfb_pid=$(cat "$BENCH_RUN/xvfb.pid" 2>/dev/null) || true
  mkdir -p "$WORK/logs"
  fsfile=$WORK/logs/first.$$; fifo=$WORK/logs/fifo.$$
  if [[ $file != idle ]]; then
    rm -f "$fifo" "$fsfile"; mkfifo "$fifo"
    "$BENCH_RUN/bin/firstsound" "$THRESH" <"$fifo" >"$fsfile" &
    fs_pid=$!
    recorder_up "$fifo"
    # arm: what the recorder read before exec is dropped (a freshly
    # connected monitor first hands out up to ~50 ms of stale audio)
    kill -USR1 "$fs_pid"
  fi
  load1=$(cut -d' ' -f1 /proc/loadavg)
  launch "$label" "$file"
  local deadline=$((PLAYER_T0 + START_TIMEOUT_S * 1000000))
  if [[ $file != idle ]]; then
    while ((${EPOCHREALTIME/./} < deadline)) && [[ ! -s $fsfile ]] && kill -0 "$fs_pid" 2>/dev/null; do
      running "$PLAYER_PID" || break
      sleep 0.01
    done
    [[ -s $fsfile ]] && audio_ms=$(awk -v a="$(cat "$fsfile")" -v t="$PLAYER_T0" 'BEGIN {printf "%.1f", (a / 1000 - t) / 1000}')
    start_ticks=$(tree_ticks "$PLAYER_PID")
    kill "$REC_PID" "$fs_pid" 2>/dev/null; wait "$REC_PID" "$fs_pid" 2>/dev/null
    rm -f "$fifo" "$fsfile"
    # the steady phase: the window opens STEADY_AFTER_S after exec, once the start's one-off
    # work (lunadio's decode of the whole file) is long over
    if [[ $phase == steady ]]; then
      local wait_us=$((PLAYER_T0 + ${STEADY_AFTER_S:-30} * 1000000 - ${EPOCHREALTIME/./}))
      ((wait_us > 0)) && sleep "$(awk -v u="$wait_us" 'BEGIN {printf "%.3f", u / 1e6}')"
    fi
  else
    # the first window, mapped or not (lunadio's panel starts hidden)
    while ((${EPOCHREALTIME/./} < deadline)) && running "$PLAYER_PID"; do
      if xdotool search --pid "$PLAYER_PID" >/dev/null 2>&1; then
        window_ms=$(( (${EPOCHREALTIME/./} - PLAYER_T0) / 1000 )); break
      fi
      sleep 0.02
    done
    start_ticks=$(tree_ticks "$PLAYER_PID")
    sleep "$IDLE_SETTLE_S"
  fi

  local w1 c1 n1 t1 p1 x1 w2 c2 n2 t2 p2 x2 alive=1
  t1=$(tree_threads "$PLAYER_PID")
  w1=${EPOCHREALTIME/./}; c1=$(tree_ticks "$PLAYER_PID"); n1=$(tree_run_ns "$PLAYER_PID")
  p1=$(proc_ticks "${pulse_pid:-0}"); x1=$(proc_ticks "${xvfb_pid:-0}")
  for ((i = 0; i < sample_s * 10; i++)); do
    running "$PLAYER_PID" || { alive=0; break; }
    sleep 0.1
  done
  w2=${EPOCHREALTIME/./}; c2=$(tree_ticks "$PLAYER_PID"); n2=$(tree_run_ns "$PLAYER_PID")
  p2=$(proc_ticks "${pulse_pid:-0}"); x2=$(proc_ticks "${xvfb_pid:-0}")
  t2=$(tree_threads "$PLAYER_PID")
  local hwm rss playing=NA
  hwm=$(tree_kb "$PLAYER_PID" VmHWM); rss=$(tree_kb "$PLAYER_PID" VmRSS)
  if [[ $file != idle ]]; then playing=0; owns_stream "$PLAYER_PID" && playing=1; fi
  stop_player

  local pct='BEGIN {printf "%.3f", (b - a) / hz / ((w2 - w1) / 1e6) * 100}'
  local cpu_pct cpu_ns_pct pulse_pct xvfb_pct start_cpu_ms
  cpu_pct=$(awk -v a="$c1" -v b="$c2" -v hz="$CLK_TCK" -v w1="$w1" -v w2="$w2" "$pct")
  cpu_ns_pct=$(awk -v a="$n1" -v b="$n2" -v hz=1e9 -v w1="$w1" -v w2="$w2" "$pct")
  # a thread that ended in the window took its run time with it
  [[ -n $(comm -23 <(echo "$t1") <(echo "$t2")) ]] && cpu_ns_pct=NA
  pulse_pct=$(awk -v a="$p1" -v b="$p2" -v hz="$CLK_TCK" -v w1="$w1" -v w2="$w2" "$pct")
  xvfb_pct=$(awk -v a="$x1" -v b="$x2" -v hz="$CLK_TCK" -v w1="$w1" -v w2="$w2" "$pct")
  start_cpu_ms=$((start_ticks * 1000 / CLK_TCK))
  ((sample_s > 0)) || { cpu_pct=NA; cpu_ns_pct=NA; }
  if ((!alive)); then
    cpu_pct=NA; cpu_ns_pct=NA
    log "$label: the player exited during the window (see $PLAYER_LOG)"
  fi
  [[ $audio_ms == NA && $file != idle ]] && log "$label: no sound from $(basename "$file") (see $PLAYER_LOG)"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$phase" "$label" \
    "$(basename "$file")" "$audio_ms" "$window_ms" "$start_cpu_ms" "$cpu_pct" "$cpu_ns_pct" \
    "$hwm" "$rss" "$pulse_pct" "$xvfb_pct" "$playing" "$load1" "$sample_s"
}

measure_seam() {
  local label=$1 file=$2 rec out frames
  rec=$WORK/logs/seam-$label-$(basename "$file").raw
  recorder_up "$rec"
  sleep 0.2
  launch "$label" "$file" loop
  sleep "$SEAM_S"
  kill "$REC_PID" 2>/dev/null; wait "$REC_PID" 2>/dev/null
  stop_player
  # the loop's length from the WAV (the other formats hold the same 2 s)
  frames=$(( $(stat -c %s "${file%.*}.wav") / 4 - 11 ))
  out=$("$BENCH_RUN/bin/seam" 44100 441 "$frames" 300 <"$rec")
  echo "$out" | grep '^event' | head -20 | sed "s/^/  $label $(basename "$file"): /" >&2
  echo "$out" | awk -v l="$label" -v f="$(basename "$file")" '/^summary/ {
      for (i = 2; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
      if (!("loops" in v)) { printf "%s\t%s\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tNA\tNA\n", l, f; exit }
      printf "%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", l, f, v["loops"], v["seams_due"],
        v["events"], v["seam_events"], v["seam_gap_ms"], v["seam_jump_ratio"], v["seam_slip_frames"],
        v["off_seam_gap_ms"], v["off_seam_jump_ratio"], v["dip_frames"], v["amplitude"] }'
  rm -f "$rec"
}

measure_stall() {
  local label=$1 file=$2 out
  launch "$label" "$file"
  out=$("$BENCH_RUN/bin/xping" "$PLAYER_PID" "$PLAYER_T0" "$STALL_MS")
  stop_player
  echo "$out" | awk -v l="$label" -v f="$(basename "$file")" '{
      for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
      if (v["first_reply_ms"] + 0 < 0) v["first_reply_ms"] = "NA"
      printf "%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", l, f, v["window_ms"], v["first_reply_ms"],
        v["pings"], v["max_rtt_ms"], v["max_at_ms"], v["max_rtt_after_first_ms"], v["p50_rtt_ms"],
        v["exited"], v["unanswered"] }'
}
