#!/usr/bin/env bash
# report.sh RESULTS_DIR : the benchmark's tables from raw.tsv, seams.tsv and
# stalls.tsv (written by run.sh): medians with their run count n, the best
# peer, lunadio's ratio to it (below 1: ahead) and each target, met or not.
set -uo pipefail
D=${1:?usage: report.sh RESULTS_DIR}
# the 5-minute track's decoded PCM, for the memory target
PCM_BYTES=52920000
W=$D/../media/music-5min.wav
[[ -s $W ]] && PCM_BYTES=$(($(stat -c %s "$W") - 44))
# results of runs made before the decode phase existed have no decode.tsv
DECODE_TSV=$D/decode.tsv
[[ -s $DECODE_TSV ]] || DECODE_TSV=/dev/null
STEADY_AFTER=$(sed -n 's/.*STEADY: .*s from \([0-9]*\)s after exec.*/\1/p' "$D/env.txt" 2>/dev/null)

[[ -s $D/env.txt ]] && sed 's/^/# /' "$D/env.txt"
echo "# cells: median over n runs as 'median (n)'; ratio = lunadio / best peer (below 1: ahead)"
echo

awk -F'\t' -v pcm="$PCM_BYTES" -v steady_after="${STEADY_AFTER:-30}" '
function median(key,   n, i, j, t, a) {
  n = split(vals[key], a, " ")
  if (n == 0) return "NA"
  for (i = 1; i <= n; i++) a[i] += 0
  for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
  return (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
function count(key,   a) { return split(vals[key], a, " ") }
function add(key, v) { if (v != "NA" && v != "") { vals[key] = vals[key] " " v; seen[key] = 1 } }
function pad(s, w) { return sprintf("%-" w "s", s) }
# one table: metric name, file list, format, scale, target kind
function table(title, metric, files, fmt, scale, tkind,
               nf, F, i, k, p, key, m, best, bestp, cell, lm, gm, line, verdict, tgt) {
  print title
  line = pad("file", 18)
  for (k = 1; k <= np; k++) line = line pad(P[k], 15)
  print line pad("best peer", 22) pad("ratio", 7) "target"
  nf = split(files, F, " ")
  for (i = 1; i <= nf; i++) {
    line = pad(F[i], 18); best = ""; bestp = ""; lm = "NA"; gm = ""; cell = 0
    for (k = 1; k <= np; k++) {
      key = metric SUBSEP P[k] SUBSEP F[i]
      if (!(key in seen)) { line = line pad("-", 15); continue }
      m = median(key) / scale; cell = 1
      line = line pad(sprintf(fmt " (%d)", m, count(key)), 15)
      if (P[k] == "gst") gm = m
      if (P[k] == "lunadio") lm = m
      else if (P[k] ~ /^(lunadio-|floor-)/) continue
      else if (best == "" || m < best) { best = m; bestp = P[k] }
    }
    if (!cell) continue
    line = line pad(best == "" ? "-" : sprintf("%s " fmt, bestp, best), 22)
    line = line pad((lm != "NA" && best != "" && best > 0) ? sprintf("%.2f", lm / best) : "-", 7)
    tgt = target(tkind, F[i], best, gm)
    if (tgt == "") verdict = "-"
    else if (tgt == "NA") verdict = tnote ": no peer measured"
    else if (lm == "NA") verdict = "<= " sprintf(fmt, tgt) tnote ": lunadio not measured"
    else verdict = "<= " sprintf(fmt, tgt) tnote ": " ((lm <= tgt + 0) ? "met" : "NOT MET")
    print line verdict
  }
  print ""
}
# The threshold lunadio must stay at or under ("" = no target, "NA" = its peer was not measured);
# tnote says what it is made of.
function target(kind, file, best, gm) {
  tnote = ""
  if (kind == "first") {
    if (file ~ /\.mp3$/) { tnote = " (1.2x gst)"; return (gm == "") ? "NA" : 1.2 * gm }
    tnote = " (0.9x best)"; return (best == "") ? "NA" : 0.9 * best
  }
  if (kind == "steady") {
    tnote = (file ~ /\.mp3$/) ? " (gst)" : " (best)"
    if (file ~ /\.mp3$/) return (gm == "") ? "NA" : gm
    return (best == "") ? "NA" : best
  }
  if (kind == "idle") return 0.1
  if (kind == "rss") {
    tnote = " (PCM + 25)"
    return (file == "music-5min.flac") ? pcm / 1048576 + 25 : ""
  }
  return ""
}
FNR == 1 { src++; next }
src == 1 {   # raw.tsv
  phase = $1; label = $2; file = $3
  if (phase == "warmup") next
  if (!(label in known)) { known[label] = 1; order[++nl] = label }
  if (phase == "start" || phase == "play") add("audio" SUBSEP label SUBSEP file, $4)
  if (phase == "play") {
    add("cpu" SUBSEP label SUBSEP file, $7); add("cpuns" SUBSEP label SUBSEP file, $8)
    add("hwm" SUBSEP label SUBSEP file, $9)
    if ($13 == "0") notplaying[label " " file]++
  }
  if (phase == "steady") {
    add("steady" SUBSEP label SUBSEP file, $7); add("steadyns" SUBSEP label SUBSEP file, $8)
  }
  if (phase == "idle") {
    add("idle" SUBSEP label SUBSEP "idle", $7); add("idlens" SUBSEP label SUBSEP "idle", $8)
    add("idlehwm" SUBSEP label SUBSEP "idle", $9); add("window" SUBSEP label SUBSEP "idle", $5)
  }
  if (!(file in fseen) && phase != "idle") { fseen[file] = 1; forder[++nfo] = file }
}
src == 4 {   # decode.tsv
  key = $1 SUBSEP $2
  if (!(key in dk)) { dk[key] = 1; dorder[++nd] = key }
  add("d_ow" SUBSEP key, $3); add("d_oc" SUBSEP key, $4); add("d_tw" SUBSEP key, $5); add("d_tc" SUBSEP key, $6)
}
src == 2 {   # seams.tsv
  key = $1 SUBSEP $2
  if (!(key in sk)) { sk[key] = 1; sorder[++ns] = key }
  sn[key]++
  if ($3 == "NA") { sbad[key]++; next }
  sloops[key] += $3; sev[key] += $5; sseam[key] += $6; soff[key] += $5 - $6
  if ($7 + 0 > sgap[key] + 0) sgap[key] = $7
  if ($8 + 0 > sjump[key] + 0) sjump[key] = $8
  s = ($9 < 0) ? -$9 : $9; if (s > sslip[key] + 0) sslip[key] = s
  if ($10 + 0 > sogap[key] + 0) sogap[key] = $10
}
src == 3 {   # stalls.tsv
  key = $1 SUBSEP $2
  if (!(key in tk)) { tk[key] = 1; torder[++nt] = key }
  add("t_win" SUBSEP key, $3); add("t_first" SUBSEP key, $4); add("t_max" SUBSEP key, $6)
  add("t_after" SUBSEP key, $8); add("t_pings" SUBSEP key, $5)
  if ($6 != "NA" && $6 + 0 > tworst[key] + 0) tworst[key] = $6
  if ($11 == "1") topen[key] = 1   # a ping still unanswered at the end: a lower bound
}
END {
  # lunadio first, then the peers in the order they ran
  np = 0
  if ("lunadio" in known) P[++np] = "lunadio"
  if ("lunadio-ref" in known) P[++np] = "lunadio-ref"
  for (i = 1; i <= nl; i++) if (order[i] !~ /^lunadio/) P[++np] = order[i]
  # the files in a fixed order, then any other in the order they ran
  files = ""
  nc = split("music-1min.wav music-1min.ogg music-1min.flac music-5min.wav music-5min.ogg music-5min.flac " \
             "music-60min.wav music-60min.ogg music-60min.flac music-5min.mp3", C, " ")
  for (i = 1; i <= nc; i++) if (C[i] in fseen) { files = files " " C[i]; listed[C[i]] = 1 }
  for (i = 1; i <= nfo; i++) if (!(forder[i] in listed)) files = files " " forder[i]
  table("== First sound: exec -> first non-silent sample on the sink monitor, ms (target: WAV/Ogg/FLAC <= 0.9x the best peer, MP3 <= 1.2x gst-launch) ==",
        "audio", files, "%.1f", 1, "first")
  table("== CPU while playing, panel hidden: utime+stime of the process tree, % of one core over the window from the first sound (the whole decode included) ==",
        "cpu", "music-5min.flac music-5min.mp3", "%.2f", 1, "")
  table("   the same from the threads run time (schedstat, ns; NA when a thread ended in the window)",
        "cpuns", "music-5min.flac music-5min.mp3", "%.3f", 1, "")
  table("== CPU while playing, steady: the window opened " steady_after " s after exec, once the whole decode is over, % of one core (target <= the best peer; MP3: gst-launch) ==",
        "steady", "music-5min.flac music-5min.ogg music-5min.mp3", "%.2f", 1, "steady")
  table("   steady state from the threads run time (schedstat, ns)", "steadyns",
        "music-5min.flac music-5min.ogg music-5min.mp3", "%.3f", 1, "steady")
  print "== Whole decode of the 5-minute file: the whole load of lunadio against the reference decoder to /dev/null, alternating, medians (target: CPU <= 1.0x) =="
  printf "%-18s %-8s %12s %12s %12s %12s %8s %8s  %s\n", "file", "tool", "lunadio s", "cpu s", "tool s", "tool cpu s", "wall x", "cpu x", "target"
  for (i = 1; i <= nd; i++) {
    key = dorder[i]; split(key, kf, SUBSEP)
    ow = median("d_ow" SUBSEP key); oc = median("d_oc" SUBSEP key)
    tw = median("d_tw" SUBSEP key); tc = median("d_tc" SUBSEP key)
    rc = (tc > 0) ? oc / tc : 0
    printf "%-18s %-8s %12.3f %12.3f %12.3f %12.3f %8.2f %8.2f  %s (%d runs)\n", kf[1], kf[2], ow, oc, tw, tc,
      (tw > 0) ? ow / tw : 0, rc, "<= 1.0x cpu: " ((tc > 0 && rc <= 1.0) ? "met" : "NOT MET"), count("d_oc" SUBSEP key)
  }
  if (nd == 0) print "(not measured)"
  print ""
  table("== CPU idle, no track: lunadio without parameter, audacious and qmmp with their windows, % of one core (target <= 0.1) ==",
        "idle", "idle", "%.3f", 1, "idle")
  table("   the same from the threads run time (schedstat, ns)", "idlens", "idle", "%.3f", 1, "idle")
  table(sprintf("== Peak RSS while playing (VmHWM of the process tree), MiB (target: decoded PCM %.1f MiB + 25 MiB, 5-min FLAC) ==", pcm / 1048576),
        "hwm", "music-5min.flac music-5min.mp3", "%.1f", 1024, "rss")
  table("   idle peak RSS, MiB", "idlehwm", "idle", "%.1f", 1024, "")
  for (k in notplaying) print "note: " k ": the player had no stream at the end of " notplaying[k] " window(s)"

  print "== Seams: a 2 s tone (sin/cos 441 Hz, whole periods) looped by the player, the monitor recorded =="
  print "   at the seams: gap = silence inserted; jump = largest frame-to-frame step / the tone own largest (1.00 = none);"
  print "   slip = phase error across the seam, frames modulo the 100-frame period; worst over n runs."
  print "   off-seam: events away from the seams (output underruns, not the loop), with their longest gap"
  printf "%-10s %-14s %5s %6s %11s %8s %9s %16s %3s  %s\n", "player", "file", "loops", "seams", "seam gap ms", "jump", "slip fr", "off-seam (gap ms)", "n", "target"
  for (i = 1; i <= ns; i++) {
    key = sorder[i]; split(key, kf, SUBSEP)
    if (sbad[key] == sn[key]) { printf "%-10s %-14s no sound recorded (%d runs)\n", kf[1], kf[2], sn[key]; continue }
    if (kf[2] ~ /mp3$/) { t = "seam gap < 5 ms"; ok = (sgap[key] + 0 < 5) }
    else { t = "sample-exact (no gap, jump <= 1.5, slip < 0.5)"; ok = (sgap[key] + 0 == 0 && sjump[key] + 0 <= 1.5 && sslip[key] + 0 < 0.5) }
    v = (kf[1] == "lunadio") ? (ok ? "met" : "NOT MET") : (ok ? "yes" : "no")
    printf "%-10s %-14s %5d %6d %11.2f %8.2f %9.2f %16s %3d  %s: %s\n", kf[1], kf[2], sloops[key], sseam[key], sgap[key], sjump[key], sslip[key], sprintf("%d (%.2f)", soff[key], sogap[key]), sn[key], t, v
  }
  print ""

  print "== Main-thread stall while starting with a track: X pings (_NET_WM_PING) to the player windows, hidden ones included =="
  print "   window = exec -> the first window that takes pings; first reply = exec -> the first answer (start-up work on the main"
  print "   thread after the window, the track opening included); max stall = longest ping round trip (worst run in brackets;"
  print "   \">=\": a ping was still unanswered when the probe ended)"
  printf "%-10s %-18s %11s %15s %16s %22s %8s %3s  %s\n", "player", "file", "window ms", "first reply ms", "max stall ms", "stall after 1st ms", "pings", "n", "target"
  for (i = 1; i <= nt; i++) {
    key = torder[i]; split(key, kf, SUBSEP)
    m = median("t_max" SUBSEP key)
    v = "-"
    if (kf[1] == "lunadio" && kf[2] == "music-60min.flac") v = "<= 50 ms: " ((tworst[key] + 0 <= 50 && m != "NA") ? "met" : "NOT MET")
    if (kf[2] == "idle") v = "baseline, no track"
    printf "%-10s %-18s %11s %15s %16s %22s %8s %3d  %s\n", kf[1], kf[2], median("t_win" SUBSEP key), median("t_first" SUBSEP key),
      sprintf("%s%s [%s]", (key in topen) ? ">=" : "", m, tworst[key]), median("t_after" SUBSEP key), median("t_pings" SUBSEP key), count("t_max" SUBSEP key), v
  }
}' "$D/raw.tsv" "$D/seams.tsv" "$D/stalls.tsv" "$DECODE_TSV"
