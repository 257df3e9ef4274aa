#!/usr/bin/env bash
# Lays out every embedded picture at the size the player shows it, on the panel's default colour,
# on white and on near-black, plus the tray icon at 22 and 48 pixels on a light and a dark tray;
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
  convert -size 70x28 "xc:$tray" "$icons/22x22/apps/lunadio.png" -geometry +4+3 -composite \
    "$work/t22.png"
  convert -size 210x56 "xc:$tray" "$icons/48x48/apps/lunadio.png" -geometry +4+4 -composite \
    "$work/t48.png"
  convert -size 70x56 "xc:$tray" "$work/t22.png" -geometry +0+14 -composite "$work/t22b.png"
  convert "$work/t22b.png" "$work/t48.png" +append "$work/row-${#rows[@]}.png"
  rows+=("$work/row-${#rows[@]}.png")
done
convert "${rows[@]}" -background 'rgb(128,128,128)' -gravity west -append "$build/assets/preview.png"
convert "$build/assets/preview.png" -filter point -resize 400% "$build/assets/preview-4x.png"
echo "$build/assets/preview.png"
