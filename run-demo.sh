#!/usr/bin/env bash
# The demo: installs what is missing, builds, and installs the product in a
# fresh Wine prefix as a person would: "QXVSetup64.exe" started with no
# switches goes through the Pad to the installation. Then it shows what was
# installed, the logs, and a screenshot of the hourglass popup.
#   ./run-demo.sh            the installation
#   ./run-demo.sh --restart  a package that asks for a restart: the real
#                            restart under Wine and the resumed launcher
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
root="$(pwd)"
# Another build folder (for a second work tree, say): QX_BUILD_DIR=/abs/path
build="${QX_BUILD_DIR:-$root/build}"
mode="${1:-install}"

bash cmake/install-deps.sh
# Configured as CMakePresets.json says, into the chosen build folder.
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)"

export WINEPREFIX="$build/demo-prefix"
rm -rf "$WINEPREFIX"
# shellcheck source=cmake/wine-env.sh
source cmake/wine-env.sh
qx_wine_start "$build" transient
shots="$(mktemp -d)"
trap 'qx_wine_stop; rm -rf "$shots"' EXIT

user="$(id -un)"
logdir="$WINEPREFIX/drive_c/users/$user/Temp/{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}"
disc="$WINEPREFIX/drive_c/QXPrism-P4000-Setup"
mkdir -p "$disc"
cp "$build"/product/* "$disc/"
if [ "$mode" = "--restart" ]; then
  # A package of the demo's own, not the release's: it runs with the
  # launcher and Pad of a development build (signatures removed), which
  # check nothing. The signed ones install only their release's package.
  cp "$build/demo/QXPRP4005-restart.msi" "$disc/QXPRP4005.msi"
  cp "$build/tests/trust/unsigned/QXVSetup64.exe" "$disc/QXVSetup64.exe"
  cp "$build/tests/unsigned/Setup.exe" "$disc/Setup.exe"
fi

# Watch for the hourglass popup (a small window about 93 x 80 dialog units)
# and photograph the screen while it is shown: it hides as soon as the
# installer's own window takes over.
(
  for _ in $(seq 1200); do
    geometry="$(xwininfo -root -tree 2>/dev/null | awk '{ for (i = 1; i <= NF; ++i) if ($i ~ /^[0-9]+x[0-9]+\+/) {
                  split($i, g, /[x+]/); if (g[1] >= 100 && g[1] <= 220 && g[2] >= 80 && g[2] <= 190) { print $i; exit } } }')"
    if [ -n "$geometry" ]; then
      echo "$geometry" >"$shots/geometry"
      for n in 1 2 3 4 5 6 7 8; do xwd -root -silent >"$shots/screen$n.xwd" 2>/dev/null; done
      break
    fi
    sleep 0.02
  done
) &
shooter=$!

if [ "$mode" = "--restart" ]; then
  # A person at the desktop: another program holds unsaved work, and the
  # person answers the launcher's restart question with yes after reading it.
  wine64 "$build/tests/doubles/person/Person.exe" 'C:\person-record.txt' save yes </dev/null >/dev/null 2>&1 &
  # Photograph the question while it is shown.
  mkdir -p "$build/demo"
  (
    for _ in $(seq 1200); do
      # The shown window of that caption (the hourglass popup has it too, and hides first).
      id=""
      for candidate in $(xwininfo -root -tree 2>/dev/null | grep -F '"QX Prism P4000 Series Setup"' | awk '{ print $1 }' || true); do
        if xwininfo -id "$candidate" 2>/dev/null | grep -q 'IsViewable'; then id="$candidate"; fi
      done
      if [ -n "$id" ]; then
        sleep 0.7
        eval "$(xwininfo -id "$id" 2>/dev/null | awk '/Absolute upper-left X/ { print "x=" $4 } /Absolute upper-left Y/ { print "y=" $4 }
                                         /Width:/ { print "w=" $2 } /Height:/ { print "h=" $2 }')"
        [ -n "${w:-}" ] && xwd -root -silent | convert xwd:- -crop "${w}x${h}+${x}+${y}" +repage "$build/demo/restart-question.png" 2>/dev/null || true
        break
      fi
      sleep 0.1
    done
  ) &
fi
echo "== Starting C:\\QXPrism-P4000-Setup\\QXVSetup64.exe (no switches) under Wine"
wine64 'C:\QXPrism-P4000-Setup\QXVSetup64.exe' </dev/null >/dev/null 2>&1 || true
if [ "$mode" = "--restart" ]; then
  # The restart ends every program of the prefix; Wine then runs the
  # RunOnce entry, which starts the cached launcher. Wait for its end.
  for _ in $(seq 240); do
    if grep -l "AFTERREBOOT=YES" "$logdir"/~qx*.log 2>/dev/null | xargs -r grep -l "Exiting QXVSetup.exe" | grep -q .; then break; fi
    sleep 0.5
  done
fi
wineserver -w
wait "$shooter" 2>/dev/null || true

# The first shot in which the popup shows more than its background: the
# clip is drawn then, and the installer's window has not yet come.
popup=""
if [ -s "$shots/geometry" ]; then
  crop="$(sed 's/^\([0-9]*x[0-9]*\)+\([0-9]*\)+\([0-9]*\).*/\1+\2+\3/' "$shots/geometry")"
  for shot in "$shots"/screen*.xwd; do
    [ -s "$shot" ] || continue
    if [ "$(convert "xwd:$shot" -crop "$crop" +repage -format %k info: 2>/dev/null || echo 0)" -gt 2 ]; then
      popup="$shot"
      break
    fi
  done
fi
if [ -n "$popup" ]; then
  mkdir -p "$build/demo"
  convert "xwd:$popup" -crop "$crop" +repage "$build/demo/hourglass.png"
  convert "xwd:$popup" "$build/demo/screen.png"
  echo "== Screenshot of the hourglass popup: $build/demo/hourglass.png (whole screen: screen.png)"
else
  echo "== The hourglass popup was too brief to photograph this time"
fi

echo
echo "== Installed files"
find "$WINEPREFIX/drive_c/Program Files/Selkirk-Vane" -type f -printf '  %P (%s bytes)\n' 2>/dev/null || echo "  none"
echo
echo "== Windows Installer"
wine64 "$build/tests/product_query.exe" 2>/dev/null | tr -d '\r' || true
echo
echo "== Add/Remove Programs entry"
wine64 reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}' 2>/dev/null | tr -d '\r' | sed 's/^/  /' || echo "  none"
if [ "$mode" = "--restart" ]; then
  echo
  echo "== The other program with unsaved work (asked before the restart ended it)"
  tr -d '\r' <"$WINEPREFIX/drive_c/person-record.txt" 2>/dev/null | sed 's/^/  /' || echo "  no record"
  [ -s "$build/demo/restart-question.png" ] && echo "== Screenshot of the restart question: $build/demo/restart-question.png"
  echo
  echo "== Cache folder after the resumed run"
  ls -la "$WINEPREFIX/drive_c/ProgramData/Selkirk-Vane/QX Prism P4000 Series/" 2>/dev/null | sed 's/^/  /' || true
fi

for log in "$logdir"/~qx*.log; do
  [ -e "$log" ] || { echo "no log was written"; exit 1; }
  case "$log" in *.msi.log) continue ;; esac
  echo
  echo "== Log $log"
  tr -d '\r' <"$log"
done
