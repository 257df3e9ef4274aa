#!/usr/bin/env bash
# The sanitizer builds: the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, the
# thread-touching suites (label "threads") under ThreadSanitizer, and every libFuzzer target for a
# short run. Usage: scripts/sanitizers.sh [asan] [tsan] [fuzz]   (all three when none is named)
#   LUNADIO_FUZZ_SECONDS   seconds per fuzz target (default 60)
# Every named step runs even when an earlier one found something; the exit status is 0 only when
# every step was clean, and each step ends with a line "== <step>: clean" or "== <step>: FINDINGS".
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
steps=("$@")
[ ${#steps[@]} -eq 0 ] && steps=(asan tsan fuzz)

run_step() {
  local step=$1
  case "$step" in
    asan)
      cmake -S "$root" -B "$root/build-asan" -DLUNADIO_ASAN=ON -DLUNADIO_BENCH=OFF >/dev/null
      cmake --build "$root/build-asan" -j2
      # fast_unwind_on_malloc=0: the frame-pointer unwinder stops at the first system library
      # built without frame pointers, so an allocation inside one would show no caller and a
      # suppression by function name (lsan.supp) could never match it.
      local asan_log="$root/build-asan/ctest.log"
      # LD_BIND_NOW=1: LeakSanitizer's stop-the-world tracer, run at a process's exit, crashed
      # ("Tracer caught signal 11") at every quit of the player once its module was bound lazily;
      # with every object bound at load it does not (the executable then loads the media module
      # first, as it does wherever lazy binding is refused).
      asan_ctest() {
        LD_BIND_NOW=1 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0 \
          UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
          LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp" \
          ctest --test-dir "$root/build-asan" --output-on-failure -j2 --timeout 600 "$@"
      }
      if ! asan_ctest 2>&1 | tee "$asan_log"; then
        # LeakSanitizer's own stop-the-world tracer now and then crashes at a process's exit on a
        # loaded machine ("Tracer caught signal 11"): a fault of the tool, not a finding. Only
        # when that is in the log do the failed tests get a second run.
        grep -q "Tracer caught signal" "$asan_log" || return 1
        echo "== asan: LeakSanitizer's tracer crashed; the failed tests run again"
        asan_ctest --rerun-failed
      fi
      ;;
    tsan)
      cmake -S "$root" -B "$root/build-tsan" -DLUNADIO_TSAN=ON -DLUNADIO_BENCH=OFF >/dev/null
      cmake --build "$root/build-tsan" -j2
      TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/scripts/tsan.supp" \
        ctest --test-dir "$root/build-tsan" --output-on-failure -j2 --timeout 600 -L threads
      ;;
    fuzz)
      cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DLUNADIO_FUZZ=ON -DLUNADIO_TESTS=OFF >/dev/null
      cmake --build "$root/build-fuzz" -j2
      local seconds="${LUNADIO_FUZZ_SECONDS:-60}" found=0 target corpus
      while IFS= read -r target; do
        corpus="$root/build-fuzz/corpus/$(basename "$target")"
        mkdir -p "$corpus"
        echo "== $(basename "$target"): ${seconds}s"
        # The whole report on a finding (the sanitizer's stack and the crashing input's name), the
        # last lines otherwise.
        local output
        if output=$(ASAN_OPTIONS=fast_unwind_on_malloc=0 LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp" \
          "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
          -print_final_stats=0 -artifact_prefix="$root/build-fuzz/" "$corpus" 2>&1); then
          tail -n 3 <<<"$output"
        else
          echo "$output" | grep -v '^#[0-9]' | tail -n 60
          found=1
        fi
      done < <(find "$root/build-fuzz/fuzz" -type f -name 'fuzz_*' -perm -u+x | sort)
      return "$found"
      ;;
    *) echo "unknown step: $step" >&2; return 2 ;;
  esac
}

failed=0
for step in "${steps[@]}"; do
  started=$(date +%s)
  # A subshell of its own, outside any condition, so that set -e still stops the step at its
  # first failing command.
  set +e
  (set -euo pipefail; run_step "$step")
  status=$?
  set -e
  if [ "$status" -eq 0 ]; then
    echo "== $step: clean ($(( $(date +%s) - started )) s)"
  else
    echo "== $step: FINDINGS ($(( $(date +%s) - started )) s)"
    failed=1
  fi
done
exit "$failed"
