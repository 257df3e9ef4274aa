#!/usr/bin/env bash
# Installs the Debian 12 packages Lunadio needs to build, run and test, skipping those already present.
# This is the one place the package list lives.
set -euo pipefail

packages=(
  # toolchain
  cmake g++ pkg-config make
  clang libclang-rt-14-dev clang-format
  # libraries
  qt6-base-dev qt6-svg-dev qt6-translations-l10n
  libpulse-dev libsdl2-dev libsamplerate0-dev
  libvorbis-dev libogg-dev libflac-dev libpng-dev zlib1g-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-pulseaudio gstreamer1.0-tools
  # tests, benchmarks, fixtures and headless runs
  libgtest-dev libgmock-dev libbenchmark-dev
  lame flac vorbis-tools sox xvfb xauth
  # the end-to-end test and the player benchmarks: a tray host, a sound server, pointer and screen
  pulseaudio pulseaudio-utils trayer xdotool x11-utils imagemagick libx11-dev gcc
  # the running-instance and media-control tests, the desktop files and the Debian package
  dbus-daemon dbus-bin desktop-file-utils appstream dpkg-dev file
  # the StatusNotifier tray, the screen reader's view (AT-SPI), the HiDPI screen (xrdb) and the
  # package on a bare root
  python3-dbus python3-gi at-spi2-core python3-pyatspi gir1.2-atspi-2.0 debootstrap
  x11-xserver-utils
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
