#!/usr/bin/env bash
# gen-media.sh DIR [quick] : the benchmark's test files, 44.1 kHz 16-bit stereo.
#   music-{1min,5min,60min}.{wav,ogg,flac}, music-5min.mp3
#       deterministic (sox -R) tones + pink noise + tremolo, normalised to
#       -3 dBFS, sound from t=0 (the first-sound detector relies on it);
#       flac -5, oggenc -q5, lame -V2.  The 1-minute file is the start of the
#       5-minute one, the 60-minute file twelve 5-minute ones end to end.
#   loop-2s.{wav,ogg,flac,mp3}
#       the seam test tone (helpers/tone.c): 2 s, left sin, right cos of
#       441 Hz, 100 frames a period, so the file holds whole periods.
# "quick" leaves out the 1-minute files and the 60-minute WAV and Ogg.
# Existing files are kept unless FORCE=1; MAIN_S shortens the music (tests).
# Needs $BENCH_RUN/bin/tone (audio-env.sh build).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
need sox flac oggenc lame

OUT=${1:?usage: gen-media.sh DIR [quick]}
QUICK=${2:-}
RUN=${BENCH_RUN:-/tmp/lunadio-bench/run}
mkdir -p "$OUT"

# synth_music SECONDS OUT.wav
synth_music() {
  # each cascaded stage mixes onto the previous (earlier stages end up
  # quieter: noise first keeps FLAC at ~58% of WAV, close to real music)
  # -t wavpcm: a plain PCM header (the extensible one carries a 'fact' chunk)
  sox -R -n -r 44100 -b 16 -c 2 -t wavpcm "$2" \
    synth "$1" pinknoise pinknoise synth "$1" sine mix 110 sine mix 110.5 \
    synth "$1" sine mix 220 sine mix 221 synth "$1" triangle mix 330 triangle mix 331.5 \
    synth "$1" sine mix 440/880 sine mix 445/890 tremolo 0.13 60 tremolo 3 25 gain -n -3
}

make() {  # make TARGET CMD... : run CMD only if TARGET is missing (or FORCE=1)
  local t=$1; shift
  if [[ -s $t && ${FORCE:-0} != 1 ]]; then return; fi
  log "make $t"
  "$@" || { rm -f "$t"; die "could not make $t"; }
}

encode() {  # encode STEM: the FLAC, Ogg (and MP3 if asked) of STEM.wav
  local s=$OUT/$1
  make "$s.flac" flac -s -f -5 -o "$s.flac" "$s.wav"
  [[ ${2:-} == noogg ]] || make "$s.ogg" oggenc -Q -q5 -o "$s.ogg" "$s.wav"
}

MAIN_S=${MAIN_S:-300}
make "$OUT/music-5min.wav" synth_music "$MAIN_S" "$OUT/music-5min.wav"
encode music-5min
make "$OUT/music-5min.mp3" lame --quiet -V2 "$OUT/music-5min.wav" "$OUT/music-5min.mp3"
if [[ $QUICK != quick ]]; then
  make "$OUT/music-1min.wav" sox "$OUT/music-5min.wav" -t wavpcm "$OUT/music-1min.wav" trim 0 "$((MAIN_S / 5))"
  encode music-1min
fi

# the 60-minute files: FLAC always (it is also the stall probe's track); the
# WAV is kept only where it is measured, it takes 635 MB
W60=$OUT/music-60min.wav
if [[ $QUICK != quick || ! -s $OUT/music-60min.flac ]]; then
  W=$OUT/music-5min.wav
  make "$W60" sox "$W" "$W" "$W" "$W" "$W" "$W" "$W" "$W" "$W" "$W" "$W" "$W" -t wavpcm "$W60"
  if [[ $QUICK == quick ]]; then
    encode music-60min noogg
    rm -f "$W60"
  else
    encode music-60min
  fi
fi

make "$OUT/loop-2s.wav" "$RUN/bin/tone" 2 44100 441 "$OUT/loop-2s.wav"
encode loop-2s
make "$OUT/loop-2s.mp3" lame --quiet -V2 "$OUT/loop-2s.wav" "$OUT/loop-2s.mp3"
ls -l "$OUT" >&2
