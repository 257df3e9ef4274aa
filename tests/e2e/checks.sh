# shellcheck shell=bash
# The end-to-end scripts' verdicts: `check DESCRIPTION COMMAND...` runs the command, prints
# "ok: ..." or "FAILED: ..." and counts the failures in $failures.
failures=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}
