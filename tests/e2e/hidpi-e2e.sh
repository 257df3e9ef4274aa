#!/usr/bin/env bash
# The real binary on a screen of two device pixels per pixel (QT_SCALE_FACTOR=2, Xft.dpi: 192)
# on Xvfb without a tray, where the panel shows at start: it is 300x155 pixels (600x310 device
# pixels), and its pictures are drawn at the device's resolution from their drawings, not
# enlarged from the small pictures: the screenshot of each picture is compared with both, and its
# detail at the device's resolution measured.
# Usage: hidpi-e2e.sh LUNADIO_BINARY [PICTURES_DIR]. Exit 77 (skipped) only when a tool is missing.
set -uo pipefail
binary=$(readlink -f "$1")
pictures=$(readlink -f "${2:-$(dirname "$binary")/../assets/pictures}")

missing=()
for tool in Xvfb xdotool xrdb import convert compare identify; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if ((${#missing[@]} > 0)); then
  echo "skipped: missing ${missing[*]} (scripts/install-deps.sh installs them)"
  exit 77
fi

run=$(mktemp -d /tmp/lunadio-hidpi-XXXXXX)
pids=()
player_pid=
cleanup() {
  [[ -n $player_pid ]] && kill -KILL "$player_pid" 2>/dev/null
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  # LUNADIO_KEEP_RUN=1 keeps the screenshot and crops for a look.
  if [[ -n ${LUNADIO_KEEP_RUN:-} ]]; then echo "kept $run"; else rm -rf "$run"; fi
}
trap cleanup EXIT

source "$(cd "$(dirname "$0")" && pwd)/checks.sh"

for ((n = 230; n < 300; n++)); do
  [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] || break
done
Xvfb ":$n" -screen 0 1280x800x24 -dpi 192 -nolisten tcp >"$run/xvfb.log" 2>&1 &
pids+=("$!")
export DISPLAY=:$n
for _ in $(seq 1 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
echo 'Xft.dpi: 192' | xrdb -merge
mkdir -p "$run/runtime" "$run/home"
chmod 700 "$run/runtime"
export XDG_RUNTIME_DIR=$run/runtime HOME=$run/home QT_SCALE_FACTOR=2 SDL_AUDIODRIVER=dummy \
  LUNADIO_MEDIA_SINK=fakesink DBUS_SESSION_BUS_ADDRESS=
unset QT_QPA_PLATFORM QT_AUTO_SCREEN_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS
cd "$run/home" || exit 1
"$binary" >"$run/player.log" 2>&1 &
player_pid=$!

panel=
for _ in $(seq 1 50); do
  panel=$(xdotool search --onlyvisible --name '^Lunadio$' 2>/dev/null | head -n 1)
  [[ -n $panel ]] && break
  sleep 0.1
done
check "without a tray the panel shows at start" test -n "$panel"
[[ -n $panel ]] || exit 1
xdotool mousemove 640 400 # onto the panel, or it shrinks into its strip
sleep 2                   # the fade in ends
eval "$(xdotool getwindowgeometry --shell "$panel")"
check "the panel is 300x155 pixels: ${WIDTH}x${HEIGHT} device pixels" test "${WIDTH}x${HEIGHT}" = 600x310
import -window root "$run/screen.png"
echo "screenshot: $run/screen.png"

# Detail at the device's resolution, an edge-sharpness measure: how far the picture is from itself
# averaged over 2x2 device pixels and enlarged back. A 2x blow-up of a small picture scores 0.
device_detail() {
  local size
  size=$(identify -format '%wx%h' "$1")
  convert "$1" -filter box -resize 50% -filter point -resize "$size!" "$run/averaged.png"
  compare -metric RMSE "$1" "$run/averaged.png" null: 2>&1 | sed -E 's/.*\((.*)\)/\1/'
}
# The shown picture is its drawing at the device's size (within rounding), at most half as far
# from it as from the enlarged small picture, and has detail of its own at that resolution.
sharp_and_drawn() {
  awk -v d="$1" -v e="$2" -v s="$3" 'BEGIN { exit !(d < 0.03 && d * 2 < e && s > 0.02) }'
}

# name, picture files, place and size in the panel (pixels), shown over the theme colour. Without
# a track the play/pause image shows the pause picture.
theme='rgb(40,80,200)'
while read -r name small fine x y width height; do
  crop="$run/$name-shown.png"
  convert "$run/screen.png" -crop "$((2 * width))x$((2 * height))+$((X + 2 * x))+$((Y + 2 * y))" \
    +repage "$crop"
  convert "$pictures/$fine" -background "$theme" -flatten "$run/$name-drawn.png"
  convert "$pictures/$small" -resize "${width}x${height}!" -background "$theme" -flatten \
    -filter point -resize 200% "$run/$name-enlarged.png"
  drawn=$(compare -metric RMSE "$crop" "$run/$name-drawn.png" null: 2>&1 | sed -E 's/.*\((.*)\)/\1/')
  enlarged=$(compare -metric RMSE "$crop" "$run/$name-enlarged.png" null: 2>&1 |
    sed -E 's/.*\((.*)\)/\1/')
  detail=$(device_detail "$crop")
  check "$name: RMSE $drawn to its drawing at $((2 * width))x$((2 * height)), $enlarged to the enlarged picture; device detail $detail (a blow-up: $(device_detail "$run/$name-enlarged.png"))" \
    sharp_and_drawn "$drawn" "$enlarged" "$detail"
done <<'EOF'
pause pause.png pause@2x.png 50 10 30 30
library library.png library@2x.png 240 10 20 20
close close.png close@2x.png 270 10 20 19
hide hide.png hide@2x.png 275 130 20 20
EOF

if ((failures > 0)); then
  tail -20 "$run/player.log"
  exit 1
fi
echo "all HiDPI checks passed"
