#!/bin/sh
# The library scan over a generated tree of 100,000 files in 5,000 directories (30,000 of them
# .wav/.ogg), timed next to find -iname over the same tree in the same run.
# Usage: bench/library/scan-bench.sh [build dir, default build] [tree dir]
# Targets: the scan under 1 s and within 3x find; no main-thread stall over 50 ms; rows < 40 MB.
set -eu
BUILD=${1:-build}
TREE=${2:-${TMPDIR:-/tmp}/lunadio-scan-tree}
RUNS=${RUNS:-3}

if [ ! -f "$TREE/.complete" ]; then
  rm -rf "$TREE"
  python3 - "$TREE" <<'PY'
import os, sys
root = sys.argv[1]
# 50 directories at the top, 99 below each: 5,000 directories, 20 files in each.
kinds = [".wav", ".ogg", ".WAV", ".wav", ".ogg", ".Ogg",              # 6 of 20 listed
         ".mp3", ".flac", ".txt", ".jpg", ".m4a", ".mp3", ".flac", ".cue",
         ".nfo", ".png", ".log", ".m3u", ".mp3", ".txt"]
for top in range(50):
    for sub in range(100):
        d = os.path.join(root, "artiste %02d" % top) if sub == 0 else \
            os.path.join(root, "artiste %02d" % top, "album %02d" % sub)
        os.makedirs(d, exist_ok=True)
        if sub == 0:
            continue
        # the artist's own directory holds files too, so each of the 5,000 holds 20
        for i, ext in enumerate(kinds):
            fd = os.open(os.path.join(d, "piste %02d%s" % (i, ext)), os.O_CREAT | os.O_WRONLY, 0o644)
            os.ftruncate(fd, 1000 * (i + 1) * (sub + 1))
            os.close(fd)
    for i, ext in enumerate(kinds):
        fd = os.open(os.path.join(root, "artiste %02d" % top, "extra %02d%s" % (i, ext)), os.O_CREAT | os.O_WRONLY, 0o644)
        os.close(fd)
open(os.path.join(root, ".complete"), "w").close()
PY
fi

cmake --build "$BUILD" --target library_scan_bench >/dev/null
BENCH="$BUILD/bench/library/library_scan_bench"

smaller() { echo "$1 $2" | awk '{ m = $1; for (i = 2; i <= NF; i++) if ($i < m) m = $i; print m }'; }
now_ms() { date +%s%N | awk '{ printf "%.1f", $1 / 1e6 }'; }

files=$(find "$TREE" -type f ! -name .complete | wc -l)
dirs=$(find "$TREE" -mindepth 1 -type d | wc -l)
expected=$(find "$TREE" \( -iname '*.wav' -o -iname '*.ogg' \) | wc -l)
echo "tree: $TREE ($files files in $dirs directories, $expected .wav/.ogg)"

best_find=""
best_scan=""
i=0
while [ "$i" -lt "$RUNS" ]; do
  start=$(now_ms)
  find "$TREE" \( -iname '*.wav' -o -iname '*.ogg' \) >/dev/null
  end=$(now_ms)
  find_ms=$(echo "$start $end" | awk '{ printf "%.1f", $2 - $1 }')
  out=$(QT_QPA_PLATFORM=offscreen "$BENCH" "$TREE" 2>/dev/null)
  scan_ms=$(echo "$out" | awk '$1 == "scan_ms" { print $2 }')
  rows=$(echo "$out" | awk '$1 == "rows" { print $2 }')
  stall=$(echo "$out" | awk '$1 == "longest_stall_ms" { print $2 }')
  busy=$(echo "$out" | awk '$1 == "longest_busy_ms" { print $2 }')
  main_cpu=$(echo "$out" | awk '$1 == "main_cpu_ms" { print $2 }')
  mb=$(echo "$out" | awk '$1 == "rows_mb" { print $2 }')
  echo "run $((i + 1)): find ${find_ms} ms; scan ${scan_ms} ms, ${rows} rows, longest main-thread stall ${stall} ms (${busy} ms of it the main thread's own work; ${main_cpu} ms main-thread CPU in all), rows ${mb} MB"
  if [ "$rows" != "$expected" ]; then
    echo "the list holds $rows rows, find gives $expected" >&2
    exit 1
  fi
  best_find=$(smaller "$best_find" "$find_ms")
  best_scan=$(smaller "$best_scan" "$scan_ms")
  i=$((i + 1))
done
echo "best: find ${best_find} ms, scan ${best_scan} ms, ratio $(echo "$best_scan $best_find" | awk '{ printf "%.2f", $1 / $2 }')x (targets: scan < 1000 ms, ratio < 3)"
