#!/usr/bin/env bash
# Lays out every embedded picture at the size the player shows it, on the panel's default colour,
# on white and on near-black, the tray icon at 22 and 48 pixels (and the desktop icon at 16, 24
# and 32) on a light and a dark tray, and a mock of the panel;
# writes build/assets/preview.png (and a 4x enlargement, preview-4x.png, to judge the pixels).
# Needs ImageMagick and a configured build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake --build "$build" -j2 --target assets_tests >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
LUNADIO_ASSETS_PREVIEW_DIR=$work QT_QPA_PLATFORM=offscreen \
  "$build/tests/assets/assets_tests" --gtest_filter='*DecodeAndResize*' >/dev/null

tile() {  # tile <background> <picture> <out>
  convert -size 40x40 "xc:$1" "$2" -gravity center -composite "$3"
}
rows=()
for background in 'rgb(40,80,200)' white 'rgb(24,24,28)'; do
  tiles=()
  for name in play pause open_file close hide library; do
    tile "$background" "$work/$name.png" "$work/tile-$name.png"
    tiles+=("$work/tile-$name.png")
  done
  convert "${tiles[@]}" +append "$work/row-${#rows[@]}.png"
  rows+=("$work/row-${#rows[@]}.png")
done
icons=$build/assets/icons/hicolor
for tray in 'rgb(236,236,236)' 'rgb(32,32,36)'; do
  # The tray's icon at the two sizes trays use most (a tray host shrinks the embedded 48-pixel
  # picture smoothly), then the desktop icon's small sizes.
  convert "$work/tray.png" -filter triangle -resize 22x22 "$work/tray22.png"
  args=()
  x=4
  for side in 22 48 16 24 32; do
    case "$side" in
      22) picture="$work/tray22.png" ;;
      48) picture="$work/tray.png" ;;
      *) picture="$icons/${side}x${side}/apps/lunadio.png" ;;
    esac
    args+=("$picture" -geometry "+$x+$(((56 - side) / 2))" -composite)
    x=$((x + side + 12))
  done
  convert -size 240x56 "xc:$tray" "${args[@]}" "$work/row-${#rows[@]}.png"
  rows+=("$work/row-${#rows[@]}.png")
done
# The panel as the player lays it out: each picture centred in its gadget, the open-file picture
# on a light button face.
at() {  # at <picture> <gadget x> <gadget y> <gadget w> <gadget h>
  local w h
  read -r w h < <(identify -format '%w %h' "$1")
  echo "-geometry +$(($2 + ($4 - w) / 2))+$(($3 + ($5 - h) / 2))"
}
convert -size 300x155 'xc:rgb(40,80,200)' \
  -fill 'rgb(239,239,239)' -stroke 'rgb(160,160,160)' -draw 'roundrectangle 10,10 39,34 3,3' \
  -draw 'roundrectangle 10,120 79,144 3,3' \
  -stroke none -fill 'rgb(255,50,60)' -draw 'rectangle 10,99 289,100' \
  -fill 'rgb(150,0,0)' -draw 'rectangle 150,91 153,108' \
  -fill none -stroke 'rgb(240,240,255)' -draw 'roundrectangle 10,70 289,79 3,2' \
  "$work/play.png" $(at "$work/play.png" 50 10 31 31) -composite \
  "$work/hide.png" $(at "$work/hide.png" 275 130 25 25) -composite \
  "$work/close.png" $(at "$work/close.png" 270 10 20 20) -composite \
  "$work/library.png" $(at "$work/library.png" 240 10 25 25) -composite \
  "$work/open_file.png" $(at "$work/open_file.png" 10 10 30 25) -composite \
  "$work/panel.png"
rows+=("$work/panel.png")
convert "${rows[@]}" -background 'rgb(128,128,128)' -gravity west -append "$build/assets/preview.png"
convert "$build/assets/preview.png" -filter point -resize 400% "$build/assets/preview-4x.png"
echo "$build/assets/preview.png"
