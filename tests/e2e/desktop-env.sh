# shellcheck shell=bash
# A desktop without hardware for end-to-end runs and benchmarks: a PulseAudio daemon with a null
# sink (its monitor is "nullsink.monitor"), Xvfb on a free display and trayer as the tray host.
# Source it, then: desktop_up RUN_DIR; ...; desktop_down. Everything is stopped by recorded PID,
# kept in RUN_DIR/desktop.pids as well, so that another shell can stop it: desktop_down RUN_DIR
# (bench/player/audio-env.sh does). desktop_missing prints the commands that are not installed.

desktop_tools=(pulseaudio pactl parec Xvfb trayer xdotool xprop xwininfo import sox cc od dbus-daemon dbus-send)

desktop_missing() {
  local tool missing=()
  for tool in "${desktop_tools[@]}"; do command -v "$tool" >/dev/null 2>&1 || missing+=("$tool"); done
  echo "${missing[*]}"
}

desktop_pids=()

desktop_up() {
  local run=$1 n i
  DESKTOP_RUN=$run
  mkdir -p "$run/pulse" "$run/pulse-home" "$run/home"
  chmod 700 "$run" "$run/pulse"
  HOME=$run/pulse-home XDG_RUNTIME_DIR=$run XDG_CONFIG_HOME=$run/pulse-home/.config \
  PULSE_RUNTIME_PATH=$run/pulse \
    pulseaudio --daemonize=yes --exit-idle-time=-1 -n --disallow-exit \
      --load="module-null-sink sink_name=nullsink rate=44100 channels=2 norewinds=1" \
      --load="module-native-protocol-unix auth-anonymous=1 socket=$run/pulse/native" \
      --log-target="file:$run/pulse.log" || return 1
  export PULSE_SERVER=unix:$run/pulse/native
  for ((i = 0; i < 50; i++)); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-sink nullsink || return 1
  desktop_pids+=("$(cat "$run/pulse/pid")")
  echo "${desktop_pids[*]}" >"$run/desktop.pids"

  cc -O2 -o "$run/tray-owner" "$(dirname "${BASH_SOURCE[0]}")/tray-owner.c" -lX11 || return 1
  for ((n = 90; n < 160; n++)); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] || break
  done
  # -noreset: by default the server resets when its last client leaves, and a client that
  # connects during that reset (the tray host after the probe below) fails
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp -noreset >"$run/xvfb.log" 2>&1 &
  desktop_pids+=("$!")
  echo "${desktop_pids[*]}" >"$run/desktop.pids"
  export DISPLAY=:$n
  # The socket appears before the server answers: wait for a connection (tray-owner exits 2
  # only when it cannot open the display).
  local rc=2
  for ((i = 0; i < 100; i++)); do
    rc=0
    "$run/tray-owner" >/dev/null 2>&1 || rc=$?
    ((rc != 2)) && break
    sleep 0.1
  done
  ((rc != 2)) || return 1

  trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
    --SetPartialStrut true --transparent false >"$run/trayer.log" 2>&1 &
  desktop_pids+=("$!")
  echo "${desktop_pids[*]}" >"$run/desktop.pids"
  for ((i = 0; i < 50; i++)); do "$run/tray-owner" >/dev/null 2>&1 && break; sleep 0.1; done
  "$run/tray-owner" >/dev/null || return 1
  export XDG_RUNTIME_DIR=$run
  export NO_AT_BRIDGE=1
}

# desktop_down [RUN_DIR]: this shell's desktop, or the one whose PIDs RUN_DIR records.
desktop_down() {
  local pid
  if [[ -n ${1:-} && -s $1/desktop.pids ]]; then
    read -ra desktop_pids <"$1/desktop.pids"
    rm -f "$1/desktop.pids"
  fi
  for pid in "${desktop_pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${desktop_pids[@]}"; do
    for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  done
  desktop_pids=()
}

# Largest absolute sample of what the null sink plays during SECONDS, 0..1.
sink_peak() {
  local seconds=$1 raw
  raw=$(mktemp "$DESKTOP_RUN/sink-XXXXXX.raw")
  timeout "$seconds" parec -d nullsink.monitor --raw --format=s16le --channels=2 --rate=44100 \
    --latency-msec=20 >"$raw" 2>/dev/null
  if [[ ! -s $raw ]]; then echo 0; rm -f "$raw"; return; fi
  sox -t raw -r 44100 -e signed -b 16 -c 2 "$raw" -n stat 2>&1 |
    awk '/Maximum amplitude/ {max = $3} /Minimum amplitude/ {min = -$3} END {print (max > min ? max : min) + 0}'
  rm -f "$raw"
}

# The tray host's window: the icons sit inside it.
tray_panel_centre() {
  local id
  id=$(xdotool search --name '^panel$' | head -1) || return 1
  eval "$(xdotool getwindowgeometry --shell "$id")"
  echo "$((X + WIDTH / 2)) $((Y + HEIGHT / 2))"
}

# A press at screen coordinates after the pointer rested there, as a hand would do it.
click_at() {
  local x=$1 y=$2 button=${3:-1}
  xdotool mousemove "$x" "$y"
  sleep 0.3
  xdotool click "$button"
}

# RGB of one screen pixel as "r,g,b".
screen_pixel() {
  import -window root -crop "1x1+$1+$2" txt:- 2>/dev/null | tail -1 |
    sed -E 's/.*srgb\(([0-9]+),([0-9]+),([0-9]+)\).*/\1,\2,\3/'
}

# Milliseconds from running COMMAND to the first loud sample at the sink (MODE loud), or to the
# last one before it falls silent (MODE quiet); empty when that never happens within 1.5 s.
sink_response_ms() {
  local mode=$1 raw recorder start_bytes
  shift
  raw=$(mktemp "$DESKTOP_RUN/response-XXXXXX.raw")
  parec -d nullsink.monitor --raw --format=s16le --channels=2 --rate=44100 \
    --latency-msec=10 >"$raw" 2>/dev/null &
  recorder=$!
  sleep 0.5
  start_bytes=$(stat -c %s "$raw")
  "$@" >/dev/null 2>&1
  sleep 1.5
  kill "$recorder" 2>/dev/null
  wait "$recorder" 2>/dev/null
  od -An -v -td2 -w4 -j "$start_bytes" "$raw" | awk -v mode="$mode" '
    { level = ($1 < 0 ? -$1 : $1); if (level > 3000) { if (first == "") first = NR; last = NR } }
    END {
      if (mode == "loud" && first != "") printf "%d\n", first / 44.1
      if (mode == "quiet" && last != "" && last < NR - 4410) printf "%d\n", last / 44.1
    }'
  rm -f "$raw"
}
