#!/usr/bin/env bash
# The Debian package as a user with a bare Debian 12 gets it: scripts/package.sh on a fresh clone
# of this repository's HEAD, `apt-get install ./lunadio_*.deb` (recommends included) on a minimal
# root made by debootstrap from the ordinary Debian archive, then the installed player plays a
# FLAC and an MP3 file there, heard at a PulseAudio null sink of the host.
#
# usage: scripts/check-package.sh [path/to/lunadio_*.deb]
#   With a .deb the clone and build are skipped. It downloads a system (about 300 MB with the
#   player's dependencies) and needs root, so it is not part of the test command.
#   LUNADIO_BASE_ROOT=<dir> keeps the bare root made by debootstrap there and reuses it; each run
#   installs into a fresh copy. LUNADIO_APT_CACHE=<dir> keeps the downloaded packages there.
#   LUNADIO_DEBIAN_MIRROR overrides the archive.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mirror="${LUNADIO_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
work="$(mktemp -d /var/tmp/lunadio-check-XXXXXX)"
chroot_dir="$work/root"
mounted=()
pulse_pid=""

say() { echo "check-package: $*"; }
fail() {
  echo "check-package: FAIL: $*" >&2
  exit 1
}

cleanup() {
  local i process
  [ -n "$pulse_pid" ] && kill "$pulse_pid" 2>/dev/null
  # Whatever still runs inside the root was started here.
  for process in /proc/[0-9]*; do
    [ "$(readlink "$process/root" 2>/dev/null)" = "$chroot_dir" ] && kill -KILL "${process#/proc/}"
  done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, chroot, mounts)"
for tool in debootstrap git pulseaudio pactl parec sox lame flac; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

# 1. The package, built as a user would from a fresh clone.
if [ $# -ge 1 ]; then
  deb="$(readlink -f "$1")"
else
  say "cloning HEAD ($(git -C "$root" rev-parse --short HEAD)) and running scripts/package.sh"
  git clone -q "$root" "$work/clone"
  deb="$("$work/clone/scripts/package.sh" | tail -n 1)"
fi
[ -f "$deb" ] || fail "no package at $deb"
say "package $(basename "$deb")"

# 2. A bare Debian 12 root, then the package with what it depends on and recommends.
base="${LUNADIO_BASE_ROOT:-$work/base}"
if [ ! -x "$base/usr/bin/apt-get" ]; then
  say "debootstrap --variant=minbase bookworm from $mirror"
  rm -rf "$base"
  debootstrap --variant=minbase bookworm "$base" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 20 "$work/debootstrap.log"; fail "debootstrap"; }
fi
cp -a "$base" "$chroot_dir"
for point in proc sys dev dev/pts; do
  mount --bind "/$point" "$chroot_dir/$point"
  mounted+=("$chroot_dir/$point")
done
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
# LUNADIO_APT_CACHE=<dir> keeps the downloaded packages between runs.
if [ -n "${LUNADIO_APT_CACHE:-}" ]; then
  mkdir -p "$LUNADIO_APT_CACHE"
  mount --bind "$LUNADIO_APT_CACHE" "$chroot_dir/var/cache/apt/archives"
  mounted+=("$chroot_dir/var/cache/apt/archives")
  rm -f "$chroot_dir/etc/apt/apt.conf.d/docker-clean"
fi
cp "$deb" "$chroot_dir/tmp/"
in_root() { chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
in_root apt-get update -qq >"$work/apt.log" 2>&1 || { tail -n 20 "$work/apt.log"; fail "apt-get update"; }
status=0
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "/tmp/$(basename "$deb")" \
  >>"$work/apt.log" 2>&1 || status=$?
grep -E '^(The following NEW packages|[0-9]+ upgraded, [0-9]+ newly installed)' "$work/apt.log" |
  sed 's/^/check-package: apt: /'
[ "$status" -eq 0 ] || { tail -n 30 "$work/apt.log"; fail "apt-get install ./$(basename "$deb")"; }
[ -x "$chroot_dir/usr/bin/lunadio" ] || fail "/usr/bin/lunadio is not installed"
[ -s "$chroot_dir/usr/share/doc/lunadio/copyright" ] || fail "no /usr/share/doc/lunadio/copyright"
say "installed: $(in_root dpkg-query -W -f='${Package} ${Version} ${Status}' lunadio)"

# 3. Sound: a null sink of the host's PulseAudio, reached from the root through a bound socket.
pulse="$work/pulse"
mkdir -p "$pulse/run" "$pulse/home" "$chroot_dir/run/lunadio-pulse"
chmod 700 "$pulse/run"
HOME=$pulse/home XDG_RUNTIME_DIR=$pulse/run PULSE_RUNTIME_PATH=$pulse/run \
  pulseaudio --daemonize=no --exit-idle-time=-1 -n --disallow-exit \
  --load="module-null-sink sink_name=nullsink rate=44100 channels=2" \
  --load="module-native-protocol-unix auth-anonymous=1 socket=$pulse/run/native" \
  --log-target="file:$pulse/pulse.log" &
pulse_pid=$!
export PULSE_SERVER=unix:$pulse/run/native
for ((i = 0; i < 50; i++)); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink nullsink || fail "no PulseAudio null sink"
mount --bind "$pulse/run" "$chroot_dir/run/lunadio-pulse"
mounted+=("$chroot_dir/run/lunadio-pulse")

# Half a minute of a 440 Hz tone, as FLAC and as MP3.
mkdir -p "$chroot_dir/root/musique" "$chroot_dir/run/user/0"
chmod 700 "$chroot_dir/run/user/0"
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 30 sine 440 vol 0.5
flac -s -f -o "$chroot_dir/root/musique/piste.flac" "$work/tone.wav"
lame --quiet "$work/tone.wav" "$chroot_dir/root/musique/piste.mp3"

# Largest absolute sample the sink plays during 3 s, 0..1.
sink_peak() {
  timeout 3 parec -d nullsink.monitor --raw --format=s16le --channels=2 --rate=44100 \
    >"$work/heard.raw" 2>/dev/null || true
  [ -s "$work/heard.raw" ] || { echo 0; return; }
  sox -t raw -r 44100 -e signed -b 16 -c 2 "$work/heard.raw" -n stat 2>&1 |
    awk '/Maximum amplitude/ {max = $3} /Minimum amplitude/ {min = -$3}
         END {print (max > min ? max : min) + 0}'
}

verdict=0
for track in piste.flac piste.mp3; do
  # The player as a user starts it with a track: headless display, the desktop's sound server.
  # chroot itself in the background (not a function, whose subshell would get the signal), so
  # that $! is the player: chroot, env and sh each exec the next.
  chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root XDG_RUNTIME_DIR=/run/user/0 \
    QT_QPA_PLATFORM=offscreen PULSE_SERVER=unix:/run/lunadio-pulse/native \
    sh -c "cd /root/musique && exec /usr/bin/lunadio /root/musique/$track" \
    >"$work/player.log" 2>&1 &
  player=$!
  sleep 3
  if ! kill -0 "$player" 2>/dev/null; then
    code=0
    wait "$player" || code=$?
    sed 's/^/check-package: player: /' "$work/player.log" | tail -n 20
    fail "the installed player ended with status $code while opening $track"
  fi
  peak="$(sink_peak)"
  kill "$player" 2>/dev/null || true
  wait "$player" 2>/dev/null || true
  if awk -v p="$peak" 'BEGIN {exit !(p > 0.1)}'; then
    say "$track: heard at the null sink, peak $peak"
  else
    say "$track: SILENT at the null sink (peak $peak)"
    sed 's/^/check-package: player: /' "$work/player.log" | tail -n 20
    verdict=1
  fi
done
[ "$verdict" -eq 0 ] || fail "a track was not heard"
say "PASS"
