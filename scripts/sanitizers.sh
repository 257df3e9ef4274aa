#!/usr/bin/env bash
# The sanitizer builds: the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, the
# thread-touching suites (label "threads") under ThreadSanitizer, and every libFuzzer target for a
# short run. Usage: scripts/sanitizers.sh [asan] [tsan] [fuzz]   (all three when none is named)
#   LUNADIO_FUZZ_SECONDS   seconds per fuzz target (default 60)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
steps=("$@")
[ ${#steps[@]} -eq 0 ] && steps=(asan tsan fuzz)

for step in "${steps[@]}"; do
  started=$(date +%s)
  case "$step" in
    asan)
      cmake -S "$root" -B "$root/build-asan" -DLUNADIO_ASAN=ON -DLUNADIO_BENCH=OFF >/dev/null
      cmake --build "$root/build-asan" -j2
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp" \
        ctest --test-dir "$root/build-asan" --output-on-failure -j2 --timeout 600
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
      seconds="${LUNADIO_FUZZ_SECONDS:-60}"
      while IFS= read -r target; do
        corpus="$root/build-fuzz/corpus/$(basename "$target")"
        mkdir -p "$corpus"
        echo "== $(basename "$target"): ${seconds}s"
        "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 \
          "$corpus" 2>&1 | tail -n 3
      done < <(find "$root/build-fuzz/fuzz" -type f -name 'fuzz_*' -perm -u+x | sort)
      ;;
    *) echo "unknown step: $step" >&2; exit 2 ;;
  esac
  echo "== $step took $(( $(date +%s) - started )) s"
done
