#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's test prefix.
# The prefix lives under the build folder and is created on first use.
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

exec wine64 "$@"
