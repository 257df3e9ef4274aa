#!/usr/bin/env bash
# audio-env.sh up|down|status|build
# A desktop audio environment without sound hardware, as root:
#   * PulseAudio 16 user-mode daemon (no --system needed as root; it only warns)
#     with a null sink "nullsink" (default sink; its monitor is nullsink.monitor)
#     and an anonymous-auth unix socket, so clients with any $HOME can connect.
#   * Xvfb on the first free display from :77, 1280x800x24.
#   * trayer as the system-tray host (stalonetray is not in Debian 12).
# State lives in $BENCH_RUN (default /tmp/lunadio-bench/run); `up` writes
# $BENCH_RUN/env.sh, to be sourced by clients (PULSE_SERVER, DISPLAY, ...).
# `up` also builds the measuring helpers (helpers/*.c) into $BENCH_RUN/bin.
# Everything is stopped by the PIDs recorded there.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

RUN=${BENCH_RUN:-/tmp/lunadio-bench/run}
ENVF=$RUN/env.sh

build_helpers() {  # compile the small C helpers into $RUN/bin when their source is newer
  local h src
  mkdir -p "$RUN/bin"
  for h in firstsound:-lm tone:-lm seam:-lm tray-owner:-lX11 xping:-lX11; do
    src=$BENCH_DIR/helpers/${h%%:*}.c
    [[ $RUN/bin/${h%%:*} -nt $src ]] && continue
    cc -O2 -Wall -o "$RUN/bin/${h%%:*}" "$src" "${h#*:}" || die "cannot build $src (libx11-dev?)"
  done
}

alive() { [[ -s $1 ]] && kill -0 "$(cat "$1")" 2>/dev/null; }

pulse_up() {
  local sock=$RUN/pulse/native i
  if alive "$RUN/pulse/pid"; then log "pulseaudio already up"; return; fi
  mkdir -p "$RUN/pulse" "$RUN/pulse-home"
  chmod 700 "$RUN/pulse"
  # HOME/XDG_* keep its state (cookie, stream database) out of /root.
  # --daemonize writes $PULSE_RUNTIME_PATH/pid.  -n: no default.pa, so only
  # the modules named here are loaded (no hardware probing, no X11 modules).
  HOME=$RUN/pulse-home XDG_RUNTIME_DIR=$RUN XDG_CONFIG_HOME=$RUN/pulse-home/.config \
  PULSE_RUNTIME_PATH=$RUN/pulse \
    pulseaudio --daemonize=yes --exit-idle-time=-1 -n --disallow-exit \
      --load="module-null-sink sink_name=nullsink rate=44100 channels=2 norewinds=1" \
      --load="module-native-protocol-unix auth-anonymous=1 socket=$sock" \
      --log-target="file:$RUN/pulse.log" --log-level=notice
  for ((i = 0; i < 50; i++)); do
    PULSE_SERVER=unix:$sock pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  PULSE_SERVER=unix:$sock pactl set-default-sink nullsink
  log "pulseaudio up, pid $(cat "$RUN/pulse/pid"), socket $sock"
}

x_up() {
  local n i
  if alive "$RUN/xvfb.pid"; then log "Xvfb already up"; return; fi
  for ((n = 77; n < 120; n++)); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] || break
  done
  # -noreset: by default the server resets when its last client leaves, and
  # a client connecting during that reset (the tray host after our probe) fails
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp -noreset >"$RUN/xvfb.log" 2>&1 &
  echo $! >"$RUN/xvfb.pid"
  echo ":$n" >"$RUN/display"
  # the socket appears before the server answers: wait for a connection
  # (tray-owner exits 2 only when it cannot open the display)
  local rc=2
  for ((i = 0; i < 100; i++)); do
    rc=0; DISPLAY=:$n "$RUN/bin/tray-owner" >/dev/null 2>&1 || rc=$?
    ((rc != 2)) && break
    sleep 0.1
  done
  ((rc != 2)) || die "Xvfb :$n did not start (see $RUN/xvfb.log)"
  log "Xvfb up on :$n, pid $(cat "$RUN/xvfb.pid")"
}

tray_up() {
  local i
  if alive "$RUN/trayer.pid"; then log "trayer already up"; return; fi
  DISPLAY=$(cat "$RUN/display") trayer --edge top --align right --widthtype request \
    --height 24 --SetDockType true --SetPartialStrut true --transparent false \
    >"$RUN/trayer.log" 2>&1 &
  echo $! >"$RUN/trayer.pid"
  for ((i = 0; i < 50; i++)); do
    DISPLAY=$(cat "$RUN/display") "$RUN/bin/tray-owner" >/dev/null 2>&1 && break
    sleep 0.1
  done
  DISPLAY=$(cat "$RUN/display") "$RUN/bin/tray-owner" >/dev/null || die "no tray selection owner"
  log "trayer up, pid $(cat "$RUN/trayer.pid")"
}

write_env() {
  cat >"$ENVF" <<EOF
export BENCH_RUN=$RUN
export PULSE_SERVER=unix:$RUN/pulse/native
export DISPLAY=$(cat "$RUN/display")
export XDG_RUNTIME_DIR=$RUN
export NO_AT_BRIDGE=1
EOF
}

status() {
  local ok=0
  [[ -s $ENVF ]] || { echo "not up"; return 1; }
  # shellcheck disable=SC1090
  source "$ENVF"
  alive "$RUN/pulse/pid" && echo "pulseaudio: pid $(cat "$RUN/pulse/pid"), default sink $(pactl get-default-sink)" || { echo "pulseaudio: down"; ok=1; }
  alive "$RUN/xvfb.pid" && echo "Xvfb: pid $(cat "$RUN/xvfb.pid") on $DISPLAY" || { echo "Xvfb: down"; ok=1; }
  alive "$RUN/trayer.pid" && echo "trayer: pid $(cat "$RUN/trayer.pid"), tray owner $("$RUN/bin/tray-owner" 2>/dev/null || echo '?')" || { echo "trayer: down"; ok=1; }
  echo "source $ENVF"
  return $ok
}

down() {
  local f p
  for f in "$RUN/trayer.pid" "$RUN/xvfb.pid" "$RUN/pulse/pid"; do
    if alive "$f"; then p=$(cat "$f"); kill "$p"; log "stopped pid $p ($f)"; fi
    rm -f "$f"
  done
  rm -f "$ENVF"
}

case ${1:-} in
  build) mkdir -p "$RUN"; build_helpers ;;
  up)
    need pulseaudio pactl parec Xvfb trayer cc
    mkdir -p "$RUN"
    chmod 700 "$RUN"   # Qt warns (and may ignore XDG_RUNTIME_DIR) otherwise
    build_helpers
    pulse_up
    x_up
    tray_up
    write_env
    status
    ;;
  down) down ;;
  status) status ;;
  *) echo "usage: $0 up|down|status|build" >&2; exit 2 ;;
esac
