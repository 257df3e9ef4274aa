#!/usr/bin/env bash
# audio-env.sh up|down|status|build
# The headless desktop of tests/e2e/desktop-env.sh (PulseAudio null sink "nullsink", default sink,
# its monitor nullsink.monitor, anonymous-auth socket; Xvfb on a free display; trayer as the tray
# host), brought up and down from separate shells: its PIDs are recorded in $BENCH_RUN (default
# /tmp/lunadio-bench/run). `up` writes $BENCH_RUN/env.sh, to be sourced by clients (PULSE_SERVER,
# DISPLAY, ...), and builds the measuring helpers (helpers/*.c) into $BENCH_RUN/bin.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
# shellcheck source=../../tests/e2e/desktop-env.sh
source "$BENCH_DIR/../../tests/e2e/desktop-env.sh"

RUN=${BENCH_RUN:-/tmp/lunadio-bench/run}
ENVF=$RUN/env.sh

build_helpers() {  # compile the small C helpers into $RUN/bin when their source is newer
  local h src
  mkdir -p "$RUN/bin"
  for h in firstsound:-lm tone:-lm seam:-lm xping:-lX11; do
    src=$BENCH_DIR/helpers/${h%%:*}.c
    [[ $RUN/bin/${h%%:*} -nt $src ]] && continue
    cc -O2 -Wall -o "$RUN/bin/${h%%:*}" "$src" "${h#*:}" || die "cannot build $src (libx11-dev?)"
  done
  # The Qt tray floor is a reference only: without Qt's headers it is left out.
  src=$BENCH_DIR/helpers/qt-tray.cpp
  if [[ ! $RUN/bin/qt-tray -nt $src ]] && pkg-config --exists Qt6Widgets; then
    # shellcheck disable=SC2046
    g++ -O2 -fPIC -o "$RUN/bin/qt-tray" "$src" $(pkg-config --cflags --libs Qt6Widgets) ||
      echo "qt-tray not built: the Qt floor is left out" >&2
  fi
}

alive() { kill -0 "$1" 2>/dev/null; }

status() {
  local pid ok=0
  [[ -s $ENVF && -s $RUN/desktop.pids ]] || { echo "not up"; return 1; }
  # shellcheck disable=SC1090
  source "$ENVF"
  for pid in $(cat "$RUN/desktop.pids"); do
    alive "$pid" && echo "pid $pid: $(tr '\0' ' ' <"/proc/$pid/cmdline" | cut -c1-60)" || { echo "pid $pid: down"; ok=1; }
  done
  echo "default sink $(pactl get-default-sink 2>/dev/null || echo '?'), display $DISPLAY," \
    "tray owner $("$RUN/tray-owner" 2>/dev/null || echo '?')"
  echo "source $ENVF"
  return $ok
}

case ${1:-} in
  build) mkdir -p "$RUN"; build_helpers ;;
  up)
    need pulseaudio pactl parec Xvfb trayer cc
    if status >/dev/null 2>&1; then status; exit 0; fi
    mkdir -p "$RUN"
    build_helpers
    desktop_up "$RUN" || { desktop_down; die "desktop did not start (see $RUN/*.log)"; }
    cat >"$ENVF" <<EOT
export BENCH_RUN=$RUN
export PULSE_SERVER=$PULSE_SERVER
export DISPLAY=$DISPLAY
export XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR
export NO_AT_BRIDGE=1
EOT
    # the servers' PIDs, for the CPU figures of measure.sh
    read -ra pids <"$RUN/desktop.pids"
    echo "${pids[1]}" >"$RUN/xvfb.pid"
    status
    ;;
  down) desktop_down "$RUN"; rm -f "$ENVF" "$RUN/xvfb.pid" ;;
  status) status ;;
  *) echo "usage: $0 up|down|status|build" >&2; exit 2 ;;
esac
