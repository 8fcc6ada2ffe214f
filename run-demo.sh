#!/usr/bin/env bash
# The demo: installs what is missing, builds, and starts the launcher under
# Wine as a person would (no switches). The launcher forwards to the Pad,
# the Pad starts it again as its caller, and the log of both runs is shown.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
root="$(pwd)"
# Another build folder (for a second work tree, say): QX_BUILD_DIR=/abs/path
build="${QX_BUILD_DIR:-$root/build}"

bash cmake/install-deps.sh
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target QXVSetup64 QXVSetupRES64 CustomActionData64 QXVInstallActions64 QXPRP4005P64 Pad

export WINEPREFIX="$build/demo-prefix"
# shellcheck source=cmake/wine-env.sh
source cmake/wine-env.sh
qx_wine_start "$build" transient
trap qx_wine_stop EXIT

logdir="$WINEPREFIX/drive_c/users/$(id -un)/Temp/{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}"
rm -f "$logdir"/~qx*.log

echo "== Starting build/product/QXVSetup64.exe under Wine"
wine64 "$build/product/QXVSetup64.exe" </dev/null
wineserver -w

for log in "$logdir"/~qx*.log; do
  [ -e "$log" ] || { echo "no log was written"; exit 1; }
  echo
  echo "== Log $log"
  tr -d '\r' <"$log"
done
