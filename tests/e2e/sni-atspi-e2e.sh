#!/usr/bin/env bash
# The real binary on a desktop whose tray speaks StatusNotifierItem and whose screen reader reads
# AT-SPI: Xvfb, a private session bus with a StatusNotifier watcher and host of our own
# (sni_host.py) and the accessibility bus, read with pyatspi (atspi_check.py).
#   the icon registers as an item; Activate shows the panel as a left press on the icon does;
#   SecondaryActivate and ContextMenu do what the right press does, where Qt passes them on; the
#   item's tooltip and pixmap are the player's; a screen reader finds every gadget of the panel,
#   the library window and the filter dialog with its French name and role, and presses the
#   pictures; after the quit confirmation's Yes the item is gone from the watcher.
# Usage: sni-atspi-e2e.sh LUNADIO_BINARY [ICON_DIR]. Exit 77 (skipped) only when a tool is missing.
set -uo pipefail
binary=$(readlink -f "$1")
icons=${2:-$(dirname "$binary")/../assets/icons/hicolor}
here=$(cd "$(dirname "$0")" && pwd)

# Debian's Python, which the python3-* packages serve (another python3 may come first in PATH).
py=/usr/bin/python3
missing=()
for tool in Xvfb xdotool dbus-daemon "$py" compare convert identify sox; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
launcher=/usr/libexec/at-spi-bus-launcher
[[ -x $launcher ]] || missing+=(at-spi2-core)
"$py" -c 'import dbus, gi' 2>/dev/null || missing+=(python3-dbus python3-gi)
"$py" -c 'import pyatspi' 2>/dev/null || missing+=(python3-pyatspi)
if ((${#missing[@]} > 0)); then
  echo "skipped: missing ${missing[*]} (scripts/install-deps.sh installs them)"
  exit 77
fi

run=$(mktemp -d /tmp/lunadio-sni-XXXXXX)
pids=()
player_pid=
cleanup() {
  [[ -n $player_pid ]] && kill -KILL "$player_pid" 2>/dev/null
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  # LUNADIO_KEEP_RUN=1 keeps the logs and pictures for a look.
  if [[ -n ${LUNADIO_KEEP_RUN:-} ]]; then echo "kept $run"; else rm -rf "$run"; fi
}
trap cleanup EXIT

source "$here/checks.sh"
# Waits up to 5 s for COMMAND to succeed.
eventually() {
  local i
  for ((i = 0; i < 50; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}
# With LUNADIO_KEEP_RUN set, a screenshot for a look.
shot() { [[ -z ${LUNADIO_KEEP_RUN:-} ]] || import -window root "$run/$1.png" 2>/dev/null; }
panel_shown() { xdotool search --onlyvisible --name '^Lunadio$' >/dev/null 2>&1; }
panel_hidden() { ! panel_shown; }

# The display.
for ((n = 160; n < 230; n++)); do
  [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] || break
done
Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >"$run/xvfb.log" 2>&1 &
pids+=("$!")
export DISPLAY=:$n
eventually test -e "/tmp/.X11-unix/X$n" || { echo "FAILED: Xvfb did not start"; exit 1; }

# The session bus, the tray's watcher and host, the accessibility bus.
mkdir -p "$run/runtime" "$run/home"
chmod 700 "$run/runtime"
export XDG_RUNTIME_DIR=$run/runtime HOME=$run/home
dbus-daemon --session --fork --nopidfile --print-address=3 --print-pid=4 \
  3>"$run/bus.address" 4>"$run/bus.pid" || { echo "FAILED: no session bus"; exit 1; }
pids+=("$(cat "$run/bus.pid")")
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$run/bus.address")
export DBUS_SESSION_BUS_ADDRESS
"$py" "$here/sni_host.py" serve >"$run/watcher.log" 2>&1 &
pids+=("$!")
eventually grep -q serving "$run/watcher.log" || { echo "FAILED: the watcher did not start"; exit 1; }
"$launcher" --launch-immediately >"$run/a11y.log" 2>&1 &
pids+=("$!")
sleep 1

export SDL_AUDIODRIVER=dummy LUNADIO_MEDIA_SINK=fakesink QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
unset QT_QPA_PLATFORM NO_AT_BRIDGE
sox -n -r 44100 -c 2 -b 16 "$run/piste.flac" synth 60 sine 440 vol 0.5
cd "$run/home" || exit 1

start_player() {
  "$binary" "$@" >>"$run/player.log" 2>&1 &
  player_pid=$!
  item=
  for _ in $(seq 1 100); do
    item=$("$py" "$here/sni_host.py" items 2>/dev/null | head -n 1)
    [[ -n $item ]] && break
    sleep 0.1
  done
}

# --- The tray item and the panel.
start_player "$run/piste.flac"
check "the icon registers with the watcher as an item ($item)" test -n "$item"
check "the panel starts hidden" panel_hidden
"$py" "$here/sni_host.py" show "$item" "$run/icon.pam" >"$run/item.txt" 2>&1
sed 's/^/  item /' "$run/item.txt"
check "the item's tooltip tells what plays" grep -qx 'tooltip-title: Lunadio. Lecture de piste' \
  "$run/item.txt"
icon_rmse=1
if [[ -s $run/icon.pam ]]; then
  size=$(identify -format '%w' "$run/icon.pam" 2>/dev/null)
  reference=$icons/${size}x${size}/apps/lunadio.png
  [[ -f $reference ]] || reference=$icons/48x48/apps/lunadio.png
  convert "$run/icon.pam" "$run/icon.png"
  icon_rmse=$(compare -metric RMSE "$run/icon.png" "$reference" null: 2>&1 |
    sed -E 's/.*\(([0-9.e-]+)\).*/\1/')
fi
check "the item's pixmap is the moon icon (RMSE $icon_rmse against the ${size:-?}px icon)" \
  awk -v e="$icon_rmse" 'BEGIN { exit !(e < 0.05) }'

"$py" "$here/sni_host.py" call "$item" Activate
check "Activate shows the panel, as a left press on the icon does" eventually panel_shown
sleep 1.5 # the fade in ends
xdotool mousemove 640 400 # onto the panel, or it shrinks into its strip
if panel_shown; then
  eval "$(xdotool getwindowgeometry --shell "$(xdotool search --onlyvisible --name '^Lunadio$' |
    head -n 1)")"
  check "the panel is 300x155 (${WIDTH}x${HEIGHT})" test "${WIDTH}x${HEIGHT}" = 300x155
fi

shot panel
# --- What a screen reader reads of the panel.
"$py" "$here/atspi_check.py" tree Lunadio >"$run/panel.tree" 2>&1
sed 's/^/  panel /' "$run/panel.tree"
for expected in 'push button|Pause|' 'push button|Ouvrir un fichier|' \
  'push button|Bibliothèque|' 'push button|Couleur|' 'push button|Masquer|' \
  'push button|Fermer|' 'slider|Volume|80' 'label|piste|' 'frame|Lunadio|'; do
  check "the panel reads \"$expected\"" grep -qxF "$expected" "$run/panel.tree"
done
check "the panel reads the position bar with its value" \
  grep -qE '^progress bar\|Position\|[0-9]+$' "$run/panel.tree"
check "every object of the panel has a name and a known role" \
  bash -c "! awk -F'|' 'NR > 1 && (\$2 == \"\" || \$1 == \"unknown\")' '$run/panel.tree' | grep -q ."
"$py" "$here/atspi_check.py" press Pause
sleep 0.5
"$py" "$here/atspi_check.py" tree Lunadio >"$run/panel2.tree" 2>&1
check "pressing \"Pause\" pauses: the picture now reads \"Lecture\"" \
  grep -qxF 'push button|Lecture|' "$run/panel2.tree"

# --- The item's other requests: SecondaryActivate, then ContextMenu.
"$py" "$here/sni_host.py" call "$item" SecondaryActivate
sleep 1.5
if panel_shown; then secondary="nothing (the panel stays)"; else secondary="the right press"; fi
echo "  SecondaryActivate did: $secondary"
"$py" "$here/sni_host.py" call "$item" ContextMenu
if eventually panel_hidden; then context="the right press (the panel fades out)"; else context="nothing"; fi
echo "  ContextMenu did: $context"
check "the right press comes through SecondaryActivate or ContextMenu" \
  test "$secondary" = "the right press" -o "$context" = "the right press (the panel fades out)"

# --- The quit confirmation's Yes, then the item is gone.
"$py" "$here/sni_host.py" call "$item" Activate
eventually panel_shown
sleep 1.5
xdotool mousemove 640 400
sleep 0.3
panel=$(xdotool search --onlyvisible --name '^Lunadio$' | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$panel")"
xdotool mousemove $((X + 280)) $((Y + 20))
sleep 0.3
xdotool click 3
"$py" "$here/atspi_check.py" press Oui >/dev/null 2>&1 || "$py" "$here/atspi_check.py" press Yes
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
no_items() { [[ -z $("$py" "$here/sni_host.py" items 2>/dev/null) ]]; }
check "after the quit the item is gone from the watcher" eventually no_items

# --- The library window and the filter dialog, opened through the screen reader.
[[ -n $player_pid ]] && kill -KILL "$player_pid" 2>/dev/null
start_player
"$py" "$here/sni_host.py" call "$item" Activate
eventually panel_shown
sleep 1.5
xdotool mousemove 640 400
"$py" "$here/atspi_check.py" press Bibliothèque
sleep 2
shot library
"$py" "$here/atspi_check.py" tree Lunadio >"$run/library.tree" 2>&1
sed 's/^/  library /' "$run/library.tree"
for expected in 'push button|Parcourir|' 'push button|Filtres|' 'push button|Jouer|' \
  'push button|Ajouter a mes morceaux favoris|' 'text|Dossier à scanner|' \
  'label|Lunadio - Bibliothéque|' 'panel|Adresse de scan|' 'panel|Informations|'; do
  check "the library window reads \"$expected\"" grep -qxF "$expected" "$run/library.tree"
done
check "the library window reads its list" grep -qE '^(tree table|table|tree|list)\|Morceaux trouvés\|' \
  "$run/library.tree"
# The first time, the settings file is made and a message says so; the next press opens the dialog.
"$py" "$here/atspi_check.py" press Filtres
sleep 1
"$py" "$here/atspi_check.py" press OK
sleep 0.5
"$py" "$here/atspi_check.py" press Filtres
sleep 1
shot filters
"$py" "$here/atspi_check.py" tree "Filtres de recherche" >"$run/filters.tree" 2>&1
sed 's/^/  filters /' "$run/filters.tree"
for expected in 'check box|Son Wave (*.wav)|' 'check box|Ogg Vorbis (*.ogg)|' \
  'check box|Autres formats audio|' 'check box|Son MP3 (.mp3)|' \
  'check box|Bande son M4A (.m4a)|' 'check box|Tous les fichiers|' \
  'check box|Uniquement les fichiers contenant un mot|' 'text|Mot recherché|' \
  'push button|Appliquer|' 'panel|Filtres par format|' 'panel|Filtres par mots|'; do
  check "the filter dialog reads \"$expected\"" grep -qxF "$expected" "$run/filters.tree"
done
for tree in library filters; do
  check "every object of the $tree window has a name and a known role" \
    bash -c "! awk -F'|' 'NR > 1 && (\$2 == \"\" || \$1 == \"unknown\")' '$run/$tree.tree' | grep -q ."
done

if ((failures > 0)); then
  echo "--- player output"
  tail -20 "$run/player.log"
  echo "--- watcher"
  tail -20 "$run/watcher.log"
  exit 1
fi
echo "all StatusNotifier and AT-SPI checks passed"
