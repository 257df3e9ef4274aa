#!/usr/bin/env bash
# test-helpers.sh : checks of the benchmark's own measuring tools, without a
# sound or X server (a few seconds): the loop tone, the seam analysis on
# recordings with known faults, the CPU accounting, and the report's verdicts.
# Ends with "N passed, N failed"; exit status 1 if anything failed.
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh"
T=$(mktemp -d /tmp/player-bench-test.XXXXXX)
trap 'rm -rf "$T"' EXIT
PASS=0 FAIL=0
check() {  # check NAME CMD... : CMD's status decides
  local name=$1; shift
  if "$@"; then PASS=$((PASS + 1)); else FAIL=$((FAIL + 1)); echo "FAIL: $name" >&2; fi
}
eq() { [[ $1 == "$2" ]] || { echo "  expected '$2', got '$1'" >&2; return 1; }; }
has() { [[ $1 == *"$2"* ]] || { echo "  '$2' not in: $1" >&2; return 1; }; }
field() { tr ' ' '\n' <<<"$1" | awk -F= -v k="$2" '$1 == k {print $2}'; }

for h in tone:-lm seam:-lm; do
  cc -O2 -Wall -Werror -o "$T/${h%%:*}" "$HERE/helpers/${h%%:*}.c" "${h#*:}" || { echo "cannot build $h"; exit 1; }
done

# --- the tone ----------------------------------------------------------------
"$T/tone" 2 44100 441 "$T/tone.wav"
check "tone: 2 s of stereo 16-bit after a 44-byte header" eq "$(stat -c %s "$T/tone.wav")" $((44 + 88200 * 4))
# first frame sin 0, cos 0 -> (0, 16384); last frame one step before a period
first=$(od -An -t d2 -j 44 -N 4 "$T/tone.wav" | xargs)
last=$(od -An -t d2 -j $((44 + 88199 * 4)) -N 4 "$T/tone.wav" | xargs)
check "tone: starts at phase 0" eq "$first" "0 16384"
check "tone: ends one frame before phase 0" eq "$last" "$(awk 'BEGIN {w = 2 * atan2(0, -1) / 100; printf "%d %d", -int(16384 * sin(w) + 0.5), int(16384 * cos(w) + 0.5)}')"

# --- seams ---------------------------------------------------------------------
tail -c +45 "$T/tone.wav" >"$T/one.raw"
silence() { head -c $(($1 * 4)) /dev/zero; }
seam() { "$T/seam" 44100 441 88200 "${2:-0}" <"$1" | tail -1; }

cat "$T/one.raw" "$T/one.raw" "$T/one.raw" >"$T/clean.raw"
s=$(seam "$T/clean.raw")
check "seam: an exact loop has no event" eq "$(field "$s" events)" 0
check "seam: an exact loop has no jump" eq "$(field "$s" seam_jump_ratio)" 1.00
check "seam: three loops seen" eq "$(field "$s" loops)" 3

{ cat "$T/one.raw"; silence 441; cat "$T/one.raw"; silence 441; cat "$T/one.raw"; } >"$T/gap.raw"
s=$(seam "$T/gap.raw")
check "seam: 10 ms of silence at each seam" eq "$(field "$s" seam_gap_ms)" 10.00
check "seam: both gaps are seams" eq "$(field "$s" seam_events)/$(field "$s" events)" 2/2

{ cat "$T/one.raw"; tail -c +$((37 * 4 + 1)) "$T/one.raw"; } >"$T/slip.raw"
s=$(seam "$T/slip.raw")
check "seam: 37 frames dropped show as a slip of 37" eq "$(field "$s" seam_slip_frames)" 37.00
check "seam: and as a click" awk -v j="$(field "$s" seam_jump_ratio)" 'BEGIN {exit !(j > 1.5)}'

{ head -c $((44100 * 4)) "$T/one.raw"; silence 100; tail -c +$((44100 * 4 + 1)) "$T/one.raw"; cat "$T/one.raw"; } >"$T/mid.raw"
s=$("$T/seam" 44100 441 88200 <"$T/mid.raw")
check "seam: a dropout mid-loop is off-seam" has "$s" "off-seam"
s=$(tail -1 <<<"$s")
check "seam: it does not count against the seams" eq "$(field "$s" seam_gap_ms)/$(field "$s" seam_jump_ratio)" 0.00/1.00
check "seam: its gap is reported apart" eq "$(field "$s" off_seam_gap_ms)" 2.27

# 300 ms before a seam is still not the seam
{ head -c $((74970 * 4)) "$T/one.raw"; silence 100; tail -c +$((74970 * 4 + 1)) "$T/one.raw"; cat "$T/one.raw"; } >"$T/near.raw"
s=$(seam "$T/near.raw")
check "seam: a dropout 300 ms before a seam is off-seam" eq "$(field "$s" seam_events)/$(field "$s" events)" 0/1

# a burst of stale audio before the recorder's skip, then silence, then the tone
{ head -c 4000 "$T/one.raw" | tail -c 2000; silence 22050; cat "$T/one.raw" "$T/one.raw"; } >"$T/stale.raw"
s=$(seam "$T/stale.raw" 300)
check "seam: stale audio inside SKIP_MS is not the onset" eq "$(field "$s" events)" 0
silence 44100 >"$T/quiet.raw"
check "seam: no sound -> exit 1" bash -c "! '$T/seam' 44100 441 88200 <'$T/quiet.raw' >/dev/null"

if command -v flac >/dev/null; then
  flac -s -f -o "$T/tone.flac" "$T/tone.wav" && flac -s -d -f --force-raw-format --endian=little --sign=signed -o "$T/dec.raw" "$T/tone.flac"
  cat "$T/dec.raw" "$T/dec.raw" >"$T/flac2.raw"
  check "seam: the FLAC of the tone loops exactly" eq "$(field "$(seam "$T/flac2.raw")" events)" 0
fi

# --- CPU accounting ----------------------------------------------------------
bash -c 'for ((i = 0; i < 300000; i++)); do :; done; sleep 5' &
busy=$!
n1=$(tree_run_ns $$); sleep 1.5; n2=$(tree_run_ns $$)
check "tree_run_ns: a busy child's run time is counted" test $((n2 - n1)) -gt 100000000
check "tree_threads: lists the child" has "$(tree_threads $$)" "$busy/$busy"
kill $busy; wait $busy 2>/dev/null

# --- the report's verdicts -----------------------------------------------------
mkdir -p "$T/res"
{
  echo -e 'phase\tlabel\tfile\taudio_ms\twindow_ms\tstart_cpu_ms\tcpu_pct\tcpu_ns_pct\thwm_kb\trss_kb\tpulse_pct\txvfb_pct\tplaying\tload1\tsample_s'
  for v in 40 50 60; do echo -e "start\tlunadio\tmusic-5min.flac\t$v\tNA\t0\tNA\tNA\t0\t0\t0\t0\t1\t0\t0"; done
  for v in 90 100 110; do echo -e "start\tgst\tmusic-5min.flac\t$v\tNA\t0\tNA\tNA\t0\t0\t0\t0\t1\t0\t0"; done
  echo -e "play\tlunadio\tmusic-5min.flac\t70\tNA\t0\t1.2\t1.1\t102400\t0\t0\t0\t1\t0\t30"
  echo -e "play\tgst\tmusic-5min.flac\t100\tNA\t0\t0.6\t0.6\t16384\t0\t0\t0\t1\t0\t30"
  echo -e "steady\tlunadio\tmusic-5min.ogg\t70\tNA\t0\t1.2\t1.1\t102400\t0\t0\t0\t1\t0\t30"
  echo -e "steady\tgst\tmusic-5min.ogg\t100\tNA\t0\t0.6\t0.6\t16384\t0\t0\t0\t1\t0\t30"
  echo -e "idle\tlunadio\tidle\tNA\t50\t0\t0.05\t0.04\t40000\t0\t0\t0\tNA\t0\t30"
} >"$T/res/raw.tsv"
echo -e 'file\ttool\tours_wall_s\tours_cpu_s\ttool_wall_s\ttool_cpu_s' >"$T/res/decode.tsv"
for c in 1.0 1.1 1.2; do echo -e "music-5min.ogg\toggdec\t1.0\t$c\t1.0\t1.0" >>"$T/res/decode.tsv"; done
echo -e 'label\tfile\tloops\tseams_due\tevents\tseam_events\tseam_gap_ms\tseam_jump_ratio\tseam_slip_frames\toff_seam_gap_ms\toff_seam_jump_ratio\tdip_frames\tamplitude' >"$T/res/seams.tsv"
echo -e 'lunadio\tloop-2s.wav\t4\t4\t1\t0\t0.00\t1.00\t0.00\t3.00\t9.0\t90\t13000\nlunadio\tloop-2s.mp3\t4\t4\t3\t3\t60.00\t9.0\t12\t0\t0\t900\t13000' >>"$T/res/seams.tsv"
echo -e 'label\tfile\twindow_ms\tfirst_reply_ms\tpings\tmax_rtt_ms\tmax_at_ms\tmax_rtt_after_first_ms\tp50_rtt_ms\texited\nlunadio\tmusic-60min.flac\t100\t130\t999\t30\t100\t4\t0.2\t0' >"$T/res/stalls.tsv"
r=$("$HERE/report.sh" "$T/res")
line() { grep -m1 -- "$1" <<<"$r"; }
check "report: first sound median, n and ratio to the best peer" has "$(line '^music-5min.flac.*0.9x best')" "55.0 (4)"
check "report: 55 ms against 100 ms is a ratio of 0.55" has "$(line '^music-5min.flac.*0.9x best')" "0.55"
check "report: first sound under 0.9x the best peer is met" has "$(line '^music-5min.flac.*0.9x best')" "<= 90.0 (0.9x best): met"
check "report: steady CPU 1.2 % against a peer at 0.6 % is not met" has "$(line '^music-5min.ogg.*(best)')" "<= 0.60 (best): NOT MET"
check "report: 100 MiB peak RSS is over PCM + 25 MiB" has "$(line '^music-5min.flac.*PCM + 25')" "<= 75.5 (PCM + 25): NOT MET"
check "report: a decode 1.1x the tool's CPU is not met" has "$(line '^music-5min.ogg *oggdec')" "1.10  <= 1.0x cpu: NOT MET"
check "report: idle 0.05 % is met" has "$(line '^idle .*<= 0.1')" "met"
check "report: an exact WAV seam is met" has "$(line 'lunadio *loop-2s.wav')" ": met"
check "report: a 60 ms MP3 gap is not" has "$(line 'lunadio *loop-2s.mp3')" "NOT MET"
check "report: a 30 ms stall is met" has "$(line 'lunadio *music-60min.flac')" "met"

echo "$PASS passed, $FAIL failed"
((FAIL == 0))
