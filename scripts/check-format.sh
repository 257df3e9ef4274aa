#!/usr/bin/env bash
# Fails, naming the files, when a tracked C++ source differs from .clang-format. Files marked
# "@generated" in their first lines are skipped; the build trees are not tracked, so never read.
# Fix with: clang-format -i <files>
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
if ! command -v clang-format >/dev/null; then
  echo "format check: clang-format is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

files=()
while IFS= read -r -d '' file; do
  [ -f "$file" ] || continue  # deleted in the work tree but still tracked
  head -n 5 "$file" | grep -q '@generated' && continue
  files+=("$file")
done < <(git ls-files -z -- '*.cpp' '*.h')

# One clang-format run for the whole tree; its diagnostics name each file that differs.
report=$(clang-format --dry-run -Werror "${files[@]}" 2>&1) || true
mapfile -t unformatted < <(sed -nE 's/^(.+):[0-9]+:[0-9]+: error: code should be clang-formatted.*/\1/p' \
  <<<"$report" | sort -u)
if [ ${#unformatted[@]} -eq 0 ] && grep -q 'error' <<<"$report"; then
  echo "format check: clang-format failed:" >&2
  echo "$report" >&2
  exit 1
fi
if [ ${#unformatted[@]} -ne 0 ]; then
  echo "format check: ${#unformatted[@]} file(s) differ from .clang-format:" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  echo "run: clang-format -i ${unformatted[*]}" >&2
  exit 1
fi
echo "format check: ${#files[@]} files follow .clang-format"
