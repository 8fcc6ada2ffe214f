#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite
# under Wine with a virtual display. Usage: ./run-tests.sh [ctest args...]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
root="$(pwd)"
# Another build folder (for a second work tree, say): QX_BUILD_DIR=/abs/path
build="${QX_BUILD_DIR:-$root/build}"

bash cmake/install-deps.sh
# Configured as CMakePresets.json says, into the chosen build folder.
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)"

# shellcheck source=cmake/wine-env.sh
source cmake/wine-env.sh
qx_wine_start "$build"
trap qx_wine_stop EXIT

cd "$build"
# A test whose Wine process fails to start at all (seen rarely, right after
# a heavy scenario) gets one more try; a real failure fails both times.
ctest --output-on-failure --repeat until-pass:2 "$@"
