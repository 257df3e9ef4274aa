#!/usr/bin/env bash
# The real binary as a person uses it, on Xvfb with a tray host and a PulseAudio null sink:
# started with a track it plays at once; a tray click shows the themed panel at the screen's
# centre; a second start ends at once with 0; the close image fades the window and the sound
# out; the tray brings them back; the quit confirmation's Yes ends the program with 0.
# Usage: player-e2e.sh LUNADIO_BINARY. Exit 77 (skipped) only when a tool is missing.
set -uo pipefail
binary=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/desktop-env.sh"

missing=$(desktop_missing)
if [[ -n $missing ]]; then
  echo "skipped: missing $missing (scripts/install-deps.sh installs them)"
  exit 77
fi

run=$(mktemp -d /tmp/lunadio-e2e-XXXXXX)
player_pid=
cleanup() {
  [[ -n $player_pid ]] && kill "$player_pid" 2>/dev/null
  desktop_down
  rm -rf "$run"
}
trap cleanup EXIT

source "$here/checks.sh"
above() { awk -v v="$1" -v t="$2" 'BEGIN { exit !(v > t) }'; }
below() { awk -v v="$1" -v t="$2" 'BEGIN { exit !(v < t) }'; }
# The sink's peak over half a second once it is above 0.2, else the last one read (5 s at most).
sink_peak_when_loud() {
  local peak=0
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    peak=$(sink_peak 0.5)
    above "$peak" 0.2 && break
  done
  echo "$peak"
}

desktop_up "$run" || { echo "FAILED: the desktop did not start"; exit 1; }
export HOME=$run/home
unset LUNADIO_MEDIA_SINK QT_QPA_PLATFORM SDL_AUDIODRIVER

sox -n -r 44100 -c 2 -b 16 "$run/track.flac" synth 60 sine 440 vol 0.5

"$binary" "$run/track.flac" >"$run/player.log" 2>&1 &
player_pid=$!

peak=$(sink_peak_when_loud)
check "the track plays at once (sink peak $peak)" above "$peak" 0.2
check "the panel stays hidden" \
  bash -c '! xdotool search --onlyvisible --name "^Lunadio$" >/dev/null'

# The track sounds before the display has started: the tray icon comes with the panel.
for _ in $(seq 1 50); do
  xdotool search --name '^Lunadio$' >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 0.5
read -r tray_x tray_y < <(tray_panel_centre)
click_at "$tray_x" "$tray_y"
# Onto the panel while it fades in, or it shrinks into its strip after two seconds.
xdotool mousemove 640 400
sleep 1.5
panel=$(xdotool search --onlyvisible --name '^Lunadio$' | head -1)
geometry=
if [[ -n $panel ]]; then
  eval "$(xdotool getwindowgeometry --shell "$panel")"
  geometry="${WIDTH}x${HEIGHT}+${X}+${Y}"
fi
# 300x155 centred on 1280x800.
check "a tray click shows the 300x155 panel at the centre ($geometry)" \
  test "$geometry" = "300x155+490+322"
colour=$(screen_pixel $((490 + 150)) $((322 + 45)))
check "the panel is painted in RGB(40, 80, 200) ($colour)" test "$colour" = "40,80,200"

start=$(date +%s%N)
timeout 10 "$binary" >"$run/second.log" 2>&1
second=$?
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
check "a second start exits with 0 at once ($second, $elapsed_ms ms)" \
  test "$second" -eq 0 -a "$elapsed_ms" -lt 3000

# The close image (gadget at 270,10, 20x20).
xdotool mousemove $((490 + 280)) $((322 + 20))
sleep 0.3
xdotool click 1
opacities=()
for _ in 1 2 3 4 5 6 7 8; do
  sleep 0.05
  opacities+=("$(xprop -id "$panel" _NET_WM_WINDOW_OPACITY 2>/dev/null | awk '{print $3}')")
done
falling=no
for ((i = 1; i < ${#opacities[@]}; i++)); do
  [[ -n ${opacities[i]} && -n ${opacities[i - 1]} ]] || continue
  ((opacities[i] < opacities[i - 1])) && falling=yes
done
check "the window fades out (opacity ${opacities[*]})" test $falling = yes
sleep 0.7
peak=$(sink_peak 0.5)
check "the sound is silent a second after the close (sink peak $peak)" below "$peak" 0.01
check "the panel is hidden" bash -c '! xdotool search --onlyvisible --name "^Lunadio$" >/dev/null'

click_at "$tray_x" "$tray_y"
xdotool mousemove 640 400
sleep 1.5
colour=$(screen_pixel $((490 + 150)) $((322 + 45)))
check "the tray brings the panel back ($colour)" test "$colour" = "40,80,200"
peak=$(sink_peak 0.5)
check "and the sound (sink peak $peak)" above "$peak" 0.2

# Right click on the close image: the confirmation, answered Yes.
click_at $((490 + 280)) $((322 + 20)) 3
box=
for _ in $(seq 1 20); do
  for id in $(xdotool search --onlyvisible --name '^Lunadio$'); do
    [[ $id != "$panel" ]] && box=$id
  done
  [[ -n $box ]] && break
  sleep 0.1
done
check "the quit confirmation opens" test -n "$box"
if [[ -n $box ]]; then
  xdotool windowfocus --sync "$box" 2>/dev/null
  sleep 0.2
  xdotool key alt+y
fi
code=
for _ in $(seq 1 50); do
  if ! kill -0 "$player_pid" 2>/dev/null; then
    wait "$player_pid"
    code=$?
    player_pid=
    break
  fi
  sleep 0.1
done
check "Yes ends the player with 0 (exit code ${code:-still running})" test "${code:-1}" = 0

# Requests reach the player in every loop: a second start with a track while the panel is its
# compact strip and while the library window is open, and a media key (MPRIS PlayPause) while the
# strip is shown, each heard at the sink within 300 ms.
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null)
bus_pid=$(sed -n 2p <<<"$bus")
export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus")
sox -n -r 44100 -c 2 -b 16 "$run/other.flac" synth 60 sine 660 vol 0.5
"$binary" >"$run/requests.log" 2>&1 &
player_pid=$!
sleep 1.5
read -r tray_x tray_y < <(tray_panel_centre)
click_at "$tray_x" "$tray_y"
xdotool mousemove 640 790
strip_height=
for _ in $(seq 1 60); do
  sleep 0.1
  panel=$(xdotool search --onlyvisible --name '^Lunadio$' | head -1)
  [[ -n $panel ]] || continue
  eval "$(xdotool getwindowgeometry --shell "$panel")"
  strip_height=$HEIGHT
  ((HEIGHT <= 60)) && break
done
check "the panel shrinks into its strip while the pointer is away (height $strip_height)" \
  test "${strip_height:-0}" -le 60
ms=$(sink_response_ms loud "$binary" "$run/track.flac")
check "a second start with a track is heard while the strip is shown ($ms ms)" \
  below "${ms:-9999}" 300
ms=$(sink_response_ms quiet dbus-send --session --type=method_call \
  --dest=org.mpris.MediaPlayer2.lunadio /org/mpris/MediaPlayer2 \
  org.mpris.MediaPlayer2.Player.PlayPause)
check "a media key's PlayPause pauses while the strip is shown ($ms ms)" below "${ms:-9999}" 300
# Back over the strip: it grows into the panel; then its library image (240,10, 25x25).
eval "$(xdotool getwindowgeometry --shell "$panel")"
xdotool mousemove $((X + 150)) $((Y + 30))
sleep 1.5
click_at $((X + 252)) $((Y + 22))
library=
for _ in $(seq 1 30); do
  library=$(xdotool search --onlyvisible --name '^Lunadio$' | grep -v "^$panel\$" | head -1)
  [[ -n $library ]] && break
  sleep 0.1
done
check "the library window opens" test -n "$library"
ms=$(sink_response_ms loud "$binary" "$run/other.flac")
check "a second start with a track is heard while the library window is open ($ms ms)" \
  below "${ms:-9999}" 300
kill "$player_pid" 2>/dev/null
wait "$player_pid" 2>/dev/null
player_pid=
[[ -n $bus_pid ]] && kill "$bus_pid" 2>/dev/null
unset DBUS_SESSION_BUS_ADDRESS

# Two parameters: nothing is opened (the panel's tray icon only) and GStreamer is not even loaded;
# an MP3 handed over brings it in and plays; TERM ends the program, the media engine's end with it.
"$binary" "$run/track.flac" "$run/track.flac" >"$run/two.log" 2>&1 &
player_pid=$!
sleep 1.5
peak=$(sink_peak 0.5)
check "with two parameters nothing plays (sink peak $peak)" below "$peak" 0.01
# Where lazy binding is refused (LD_BIND_NOW, as in the sanitizer run), the media module comes
# first by design.
if [[ -z ${LD_BIND_NOW:-} ]]; then
  check "with no MP3 opened GStreamer stays out of the player" \
    bash -c "! grep -q libgstreamer /proc/$player_pid/maps"
fi
sox -n -r 44100 -c 2 -b 16 "$run/track.wav" synth 20 sine 440 vol 0.5
lame --quiet "$run/track.wav" "$run/track.mp3"
"$binary" "$run/track.mp3"
peak=$(sink_peak_when_loud)
check "an MP3 handed over then brings the media engine in and plays (sink peak $peak)" \
  above "$peak" 0.2
kill "$player_pid"
code=
for _ in $(seq 1 30); do
  kill -0 "$player_pid" 2>/dev/null || { wait "$player_pid"; code=$?; player_pid=; break; }
  sleep 0.1
done
check "a TERM signal ends it (exit status ${code:-still running})" test -n "$code"

# A command-line MP3: GStreamer plays it before the interface's libraries load, and the player
# then takes it over as its track.
"$binary" "$run/track.mp3" >"$run/mp3.log" 2>&1 &
player_pid=$!
peak=$(sink_peak_when_loud)
check "a command-line MP3 plays at once (sink peak $peak)" above "$peak" 0.2
for _ in $(seq 1 50); do
  xdotool search --name '^Lunadio$' >/dev/null 2>&1 && break
  sleep 0.1
done
check "its player comes up beside it" bash -c "xdotool search --name '^Lunadio$' >/dev/null"
peak=$(sink_peak 0.5)
check "and the MP3 goes on playing (sink peak $peak)" above "$peak" 0.2
kill "$player_pid" 2>/dev/null
wait "$player_pid" 2>/dev/null
player_pid=

if ((failures > 0)); then
  echo "--- player output"
  tail -20 "$run/player.log"
  exit 1
fi
echo "all end-to-end checks passed"
