#!/usr/bin/env bash
# install-peers.sh: the packages the player benchmark needs besides the build's
# own (scripts/install-deps.sh): the peer players it measures against, the
# sound server and X server it runs them in, and the tools that watch them.
# Kept apart from install-deps.sh because CI has no use for any of them.
set -euo pipefail

packages=(
  # the environment: a null sound sink, a virtual display, a tray host
  pulseaudio pulseaudio-utils xvfb xauth trayer xdotool x11-utils
  # the peers
  mpv audacious qmmp gstreamer1.0-tools gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good gstreamer1.0-pulseaudio
  # test files and their checks
  sox libsox-fmt-all flac vorbis-tools lame mpg123 ffmpeg
  # the helpers and the summary
  gcc libc6-dev libx11-dev jq gawk procps
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
((${#missing[@]})) || exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
(($(id -u) == 0)) || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
"${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
