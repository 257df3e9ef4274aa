# shellcheck shell=bash
# Shared helpers of the player benchmark. Source it; it defines functions only.

BENCH_DIR=${BENCH_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)}
CLK_TCK=$(getconf CLK_TCK)

die() { echo "error: $*" >&2; exit 1; }
log() { echo "[$(date +%T)] $*" >&2; }

need() {  # need CMD... : fail early with the Debian package hint
  local c missing=()
  for c in "$@"; do command -v "$c" >/dev/null 2>&1 || missing+=("$c"); done
  ((${#missing[@]} == 0)) || die "missing commands: ${missing[*]} (run bench/player/install-peers.sh)"
}

now_ns() { date +%s%N; }

# stats: numbers on stdin (one per line or blank-separated) -> "min median max"
# (median of an even count is the mean of the two middle values).
stats() {
  tr -s ' \t' '\n\n' | grep -E '^-?[0-9.]+(e-?[0-9]+)?$' | sort -g |
    awk '{v[NR]=$1} END {
      if (NR == 0) { print "NA NA NA"; exit }
      m = (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2
      printf "%.6g %.6g %.6g\n", v[1], m, v[NR] }'
}

# proc_ticks PID: utime+stime of one process (all its threads), in clock ticks.
# The comm field may contain spaces and parentheses: parse after the last ')'.
proc_ticks() {
  local s
  { read -r s <"/proc/$1/stat"; } 2>/dev/null || { echo 0; return; }
  s=${s##*) }
  # after "comm) ": field 3 is state, so utime/stime (14/15) are words 12/13.
  set -- $s
  echo $(( ${12} + ${13} ))
}

# descendants PID: PIDs of all live descendants (children, grandchildren, ...).
descendants() {
  local root=$1
  local -A kids=()
  local f s pid ppid
  # builtin read, no fork per process: a $(cat) here cost ~1 s per call
  for f in /proc/[0-9]*/stat; do
    { read -r s <"$f"; } 2>/dev/null || continue
    pid=${s%% *}; s=${s##*) }; set -- $s; ppid=$2
    kids[$ppid]+="$pid "
  done
  local queue=("$root") out=() p c
  while ((${#queue[@]})); do
    p=${queue[0]}; queue=("${queue[@]:1}")
    for c in ${kids[$p]:-}; do out+=("$c"); queue+=("$c"); done
  done
  echo "${out[@]}"
}

# proc_run_ns PID: CPU time of the live threads of PID in ns (schedstat's
# first field); "NA" without schedstat.  Finer than the 10 ms clock ticks,
# which matters for idle figures of a tenth of a percent.
proc_run_ns() {
  local f s t=0
  for f in /proc/$1/task/[0-9]*/schedstat; do
    { read -r s <"$f"; } 2>/dev/null || continue
    t=$((t + ${s%% *}))
  done
  echo "$t"
}

# tree_threads PID: "pid/tid" of every live thread of PID and its descendants
tree_threads() {
  local p f
  for p in "$1" $(descendants "$1"); do
    for f in /proc/$p/task/[0-9]*; do [[ -e $f ]] && echo "$p/${f##*/}"; done
  done | sort
}

# tree_run_ns PID: proc_run_ns summed over PID and its live descendants
tree_run_ns() {
  local t p
  t=$(proc_run_ns "$1")
  for p in $(descendants "$1"); do t=$((t + $(proc_run_ns "$p"))); done
  echo "$t"
}

# tree_ticks PID: CPU ticks of PID plus its live descendants.
tree_ticks() {
  local t p
  t=$(proc_ticks "$1")
  for p in $(descendants "$1"); do t=$((t + $(proc_ticks "$p"))); done
  echo "$t"
}

# status_kb PID FIELD: e.g. status_kb 123 VmHWM -> kB value (0 if gone)
status_kb() { awk -v f="$2:" '$1 == f {print $2; found=1} END {if (!found) print 0}' "/proc/$1/status" 2>/dev/null || echo 0; }

# tree_kb PID FIELD: sum of a /proc status field over PID and its descendants.
tree_kb() {
  local t p
  t=$(status_kb "$1" "$2")
  for p in $(descendants "$1"); do t=$((t + $(status_kb "$p" "$2"))); done
  echo "$t"
}

# stop_pid PID [GRACE_S]: TERM, wait, then KILL; only that PID (and the
# process group it leads, if it leads one that we created with setsid).
stop_pid() {
  local pid=$1 grace=${2:-3} i
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null
  for ((i = 0; i < grace * 10; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
}

# running PID: exists and is not a zombie (orphans are reaped by PID 1, which
# on this VM can take a while; kill -0 succeeds on zombies)
running() {
  local s
  { read -r s <"/proc/$1/stat"; } 2>/dev/null || return 1
  s=${s##*) }
  [[ ${s:0:1} != Z ]]
}

# stop_others GRACE_S PID... : TERM processes that are not our children (so
# `wait` cannot be used), poll until they are gone, KILL what is left.
stop_others() {
  local grace=$1 i p left; shift
  (($#)) || return 0
  kill -TERM "$@" 2>/dev/null
  for ((i = 0; i < grace * 10; i++)); do
    left=0
    for p in "$@"; do running "$p" && left=1; done
    ((left)) || return 0
    sleep 0.1
  done
  kill -KILL "$@" 2>/dev/null
  return 0
}

# median: numbers on stdin -> their median ("NA" if none)
median() { stats | awk '{print $2}'; }

# emit TOOL FILE METRIC VALUES... : append "tool file metric min median max n"
# to $RESULTS (TSV) and echo it.
emit() {
  local tool=$1 file=$2 metric=$3; shift 3
  local n=$# line
  line=$(printf '%s\t%s\t%s\t%s\t%s\n' "$tool" "$file" "$metric" "$(printf '%s\n' "$@" | stats | tr ' ' '\t')" "$n")
  [[ -n ${RESULTS:-} ]] && echo "$line" >>"$RESULTS"
  echo "$line"
}
