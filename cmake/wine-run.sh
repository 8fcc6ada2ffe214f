#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's test prefix.
# The prefix lives under the build folder and is created on first use.
#
# A GoogleTest program (one given --gtest_* arguments) that Wine never
# started is started once more: it failed without the line GoogleTest's
# main prints first ("Running main() from ..."), so no test of it ran. The
# second start says so in the test's output. A program that did start is
# never run again, whatever its result; one that did not start either time
# ends with exit code 125 (see docs/platform-notes.md).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export WINEPREFIX="${WINEPREFIX:-${QX_BUILD_DIR:-$here/../build}/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export PATH="$PATH:/usr/lib/wine"
export LANG="${LANG:-C.UTF-8}"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wine64 wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi

if [ -z "${DISPLAY:-}" ]; then
  echo "wine-run.sh: no DISPLAY; start Xvfb first (see run-tests.sh)" >&2
  exit 2
fi

gtest=false
for arg in "$@"; do
  case "$arg" in --gtest_*) gtest=true ;; esac
done
if ! $gtest; then
  exec wine64 "$@"
fi

readonly never_started=125
output="$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")"
trap 'rm -f "$output"' EXIT

# Runs the program once, its output going to the file and shown as it
# comes; the exit code is the program's.
run() {
  : >"$output"
  wine64 "$@" >"$output" 2>&1 </dev/null &
  local program=$!
  tail -s 0.1 --pid="$program" -f "$output" &
  local shown=$!
  local rc=0
  wait "$program" || rc=$?
  wait "$shown" || true
  return "$rc"
}

# Started: GoogleTest's first line is there (it is flushed before any test runs).
started() { grep -q '^Running main() from ' "$output"; }

rc=0
run "$@" || rc=$?
if [ "$rc" -ne 0 ] && ! started; then
  echo "wine-run.sh: Wine did not start $1 (exit code $rc, no output of the program); started again"
  rc=0
  run "$@" || rc=$?
  if [ "$rc" -ne 0 ] && ! started; then
    echo "wine-run.sh: Wine did not start $1 the second time either (exit code $rc)"
    exit "$never_started"
  fi
fi
exit "$rc"
