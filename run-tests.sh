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
# No test is run again after a failure. Only a test program that Wine did
# not start at all is started once more, by cmake/wine-run.sh, which says
# so in the test's output; those tests are listed here.
status=0
ctest --output-on-failure "$@" || status=$?
awk '/^[0-9]+\/[0-9]+ Testing: / { name = $3 }
     /^wine-run.sh: Wine did not start / { print "  " name ": " $0 }' \
  Testing/Temporary/LastTest.log 2>/dev/null | sort -u >Testing/Temporary/StartedAgain.log || true
if [ -s Testing/Temporary/StartedAgain.log ]; then
  echo "Test programs Wine did not start the first time:"
  cat Testing/Temporary/StartedAgain.log
fi
exit "$status"
