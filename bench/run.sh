#!/usr/bin/env bash
# The launcher's benchmark under Wine, in one run on one fresh Wine prefix:
# installs what is missing, builds, measures, prints the table and writes
# bench/RESULTS.md. Usage: ./bench/run.sh
#   QX_BUILD_DIR=/abs/path      another build folder (default: build/)
#   QX_BENCH_RUNS=N             timed runs of each figure (default 15; the
#                               log and copy figures take fewer, see below)
# Every figure is the median of its timed runs; one warm-up run of each
# program comes first and is not counted.
set -euo pipefail
bench="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$bench")"
build="${QX_BUILD_DIR:-$root/build}"
runs="${QX_BENCH_RUNS:-15}"
log_runs=$(( runs > 9 ? 9 : runs ))
copy_runs=$(( runs > 11 ? 11 : runs ))
nowm_runs=$(( runs > 7 ? 7 : runs ))
t_start=$(date +%s)

bash "$root/cmake/install-deps.sh"
# Configured as CMakePresets.json says, into the chosen build folder.
cmake -S "$root" --preset release -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)"
cmake --build "$build" --target qx_bench -j"$(nproc)"
# The signed launcher installs only a package signed as it is.
bash "$root/companions/package/sign-product.sh" "$build/bench/large" "$build/signing" bench-large >/dev/null
t_built=$(date +%s)

data="$build/bench-data"
rm -rf "$data"
mkdir -p "$data"
uptime >"$data/load-before.txt"

# shellcheck source=../cmake/wine-env.sh
source "$root/cmake/wine-env.sh"
export WINEPREFIX="$build/bench-prefix"
rm -rf "$WINEPREFIX"
qx_wine_start "$build"
trap qx_wine_stop EXIT
t_prefix=$(date +%s)

guid='{7E21C5B9-3D40-4F8A-9C62-1B5E8D0A4F73}'
drive="$WINEPREFIX/drive_c"
tools="$build/bench"
installed_file="$drive/Program Files/Selkirk-Vane/QX Prism P4000 Series/QXPRP4005.inf"

# Wine's console output carries CR; only the result lines are kept.
results() { tr -d '\r' | grep -a -E '^(created|copy_us|walk_us|written|load_us|error)=' || true; }
launch() { wine64 "$tools/bench_launch.exe" "$@" </dev/null 2>/dev/null | results; }
uninstall() { wine64 msiexec /x "$guid" /qn </dev/null >/dev/null 2>&1 || true; }
launcher_logs() { find "$drive/users" -path "*$guid*" -name '~qx*.log' ! -name '*.msi.log' 2>/dev/null; }
clear_logs() { find "$drive/users" -path "*$guid*" -name '~qx*' -delete 2>/dev/null || true; }
state() { [ -f "$installed_file" ] && echo 1 || echo 0; }
step() { echo "[$(( $(date +%s) - t_start ))s] $*"; }

# ---- staging ----------------------------------------------------------------
mkdir -p "$drive/bench"
# The product folder as it ships, and the same with the install-actions double.
cp -r "$build/product" "$drive/bench/install"
cp -r "$build/product" "$drive/bench/latency"
cp "$build/tests/doubles/actions/QXVInstallActions64.dll" "$drive/bench/latency/"
# The signed launcher takes only the files its release pins: there the
# double stands in for the module, as a release built with it would pin it.
bash "$bench/repin.sh" "$build/product/QXVSetup64.exe" "$drive/bench/latency/QXVSetup64.exe" "$build/signing" \
  "QXVInstallActions64.dll=$drive/bench/latency/QXVInstallActions64.dll"
# The same product folder with the driver-sized package in place of the
# demo's, and the module and launcher of a release that pins it.
cp -r "$build/product" "$drive/bench/large"
cp "$tools/large/QXPRP4005.msi" "$drive/bench/large/QXPRP4005.msi"
bash "$bench/repin.sh" "$build/product/QXVInstallActions64.dll" "$drive/bench/large/QXVInstallActions64.dll" \
  "$build/signing" "QXPRP4005.msi=$drive/bench/large/QXPRP4005.msi"
bash "$bench/repin.sh" "$build/product/QXVSetup64.exe" "$drive/bench/large/QXVSetup64.exe" "$build/signing" \
  "QXPRP4005.msi=$drive/bench/large/QXPRP4005.msi" \
  "QXVInstallActions64.dll=$drive/bench/large/QXVInstallActions64.dll"
# The floor's empty program (it imports no module of the product).
mkdir -p "$drive/bench/floor"
cp "$tools/bench_empty_imports.exe" "$drive/bench/floor/"
python3 "$bench/make_tree.py" "$drive/bench/tree-src" >"$data/tree.txt"
mkdir -p "$drive/bench/tree-empty" "$drive/bench/log"

# ---- 1. the installations: launcher against msiexec, two packages ---------------
# The module sets INSTALLUILEVEL_REDUCED, which is msiexec's /qr. On the demo
# package a third variant adds the verbose, line-flushed installer log the
# module enables.
step "installation: $runs runs (+1 warm-up) each of the launcher and msiexec /qr on the demo and the driver-sized package, and Setup.exe QUIET=YES and msiexec /qn on the demo"
install_one() {
  local pkg="$1" kind="$2" run="$3" line folder
  folder=$([ "$pkg" = large ] && echo large || echo install)
  uninstall
  clear_logs
  rm -f "$drive/bench/msiexec-verbose.log"
  case "$kind" in
    launcher) line=$(launch "C:\\bench\\$folder\\QXVSetup64.exe" CALLER=SETUP) ;;
    msiexec) line=$(launch msiexec /i "C:\\bench\\$folder\\QXPRP4005.msi" /qr) ;;
    msiexec_log) line=$(launch msiexec /i "C:\\bench\\$folder\\QXPRP4005.msi" /qr /l*v+! 'C:\bench\msiexec-verbose.log') ;;
    # What administrators run, against the installer's own quiet run.
    pad_quiet) line=$(launch "C:\\bench\\$folder\\Setup.exe" QUIET=YES) ;;
    msiexec_qn) line=$(launch msiexec /i "C:\\bench\\$folder\\QXPRP4005.msi" /qn) ;;
  esac
  echo "pkg=$pkg kind=$kind run=$run $line installed=$(state)" >>"$data/install.txt"
  if [ "$kind" = launcher ]; then
    local log
    log=$(launcher_logs | head -n1)
    if [ -n "$log" ]; then cp "$log" "$data/install-launcher-$pkg-$run.log"; fi
  fi
}
for run in $(seq 0 "$runs"); do
  # The order turns each round, so no variant always follows the same one.
  case $(( run % 3 )) in
    0) order="demo:launcher demo:msiexec demo:msiexec_log large:launcher large:msiexec demo:pad_quiet demo:msiexec_qn" ;;
    1) order="large:msiexec demo:msiexec_qn demo:msiexec demo:msiexec_log large:launcher demo:pad_quiet demo:launcher" ;;
    2) order="demo:pad_quiet demo:msiexec_log large:launcher demo:launcher large:msiexec demo:msiexec demo:msiexec_qn" ;;
  esac
  for item in $order; do install_one "${item%%:*}" "${item#*:}" "$run"; done
done
uninstall

# ---- 2. the launcher's own latency, with the install-actions double -----------
# With the window manager, as on a desktop; then, for diagnosis only, the
# same without one.
latency_series() {
  local wm="$1" unlock="$2" tag="latency-$1-unlock$2" n="$runs"
  if [ "$wm" = nowm ]; then n="$nowm_runs"; fi
  printf 'unlock=%s\n' "$unlock" >"$drive/bench/latency/actions-script.txt"
  rm -f "$drive/bench/latency/actions-record.txt"
  clear_logs
  launch --repeat $(( n + 1 )) 'C:\bench\latency\QXVSetup64.exe' CALLER=SETUP >"$data/$tag.txt"
  tr -d '\r' <"$drive/bench/latency/actions-record.txt" >"$data/$tag.record.txt"
  mkdir -p "$data/$tag.logs"
  launcher_logs | while read -r f; do cp "$f" "$data/$tag.logs/"; done
}
step "latency: $runs runs (+1 warm-up) for each of unlock=1 and unlock=0"
latency_series managed 1
latency_series managed 0
# A bare dialog of the popup's style: what ending it costs, hidden first or not.
for run in 1 2 3; do
  for mode in end hide; do
    wine64 "$tools/bench_dialogend.exe" "$mode" </dev/null 2>/dev/null | tr -d '\r' | grep -a '^hide_ms=' |
      sed "s/^/mode=$mode run=$run /" >>"$data/dialogend.txt" || true
  done
done
if [ -n "$QX_WM_PID" ]; then
  step "latency without a window manager (diagnosis)"
  qx_wm_stop
  latency_series nowm 1
  latency_series nowm 0
  qx_wm_start
fi

# Wine's process start and end on their own: an empty program, bare and
# importing what the launcher imports; and the first tick's package read.
step "empty programs and package reads: $runs runs (+1 warm-up) each"
rm -f "$drive/bench/empty.txt" "$drive/bench/empty_imports.txt"
launch --repeat $(( runs + 1 )) "$tools/bench_empty.exe" 'C:\bench\empty.txt' >"$data/empty.txt"
launch --repeat $(( runs + 1 )) 'C:\bench\floor\bench_empty_imports.exe' 'C:\bench\empty_imports.txt' \
  >"$data/empty_imports.txt"
for variant in empty empty_imports; do
  tr -d '\r' <"$drive/bench/$variant.txt" >"$data/$variant.entered.txt"
done
for run in $(seq 0 "$runs"); do
  for pkg in install large; do
    wine64 "$tools/bench_packageread.exe" "C:\\bench\\$pkg\\QXPRP4005.msi" </dev/null 2>/dev/null | results |
      sed "s/^/pkg=$pkg run=$run /" >>"$data/packageread.txt"
  done
done

# What the checks against the program's signature cost: each run a fresh
# process, so the first check pays for loading the crypto libraries.
for run in $(seq 0 "$runs"); do
  wine64 "$tools/bench_signaturecheck.exe" 'C:\bench\install' </dev/null 2>/dev/null | tr -d '\r' |
    grep -a '^check_us=' | sed "s/^/run=$run /" >>"$data/signaturecheck.txt" || true
done
step "signature checks (median of $runs runs, microseconds):"
python3 - "$data/signaturecheck.txt" <<'PY' | tee "$data/signaturecheck-median.txt"
import statistics, sys
figures = {}
for line in open(sys.argv[1]):
    run, what, us = line.split()[:3]
    if run != "run=0":   # the warm-up
        figures.setdefault(what.split("=", 1)[1], []).append(int(us))
for what, values in sorted(figures.items()):
    print(f"  {what:26} {statistics.median(values):>8.0f}")
PY

# ---- 3. the log ------------------------------------------------------------------
step "log: $log_runs runs (+1 warm-up) of one writer and of four processes"
single_records=5000
fan_records=2500
for run in $(seq 0 "$log_runs"); do
  rm -f "$drive/bench/log/"*
  wine64 "$tools/bench_logwriter.exe" single 'C:\bench\log\one.log' "$single_records" </dev/null 2>/dev/null |
    results | sed "s/^/run=$run /" >>"$data/log-single.txt"
  echo "run=$run in_file=$(grep -a -c '^LOG TYPE: ' "$drive/bench/log/one.log" || true)" >>"$data/log-single.file.txt"
  wine64 "$tools/bench_logwriter.exe" fan 'C:\bench\log\four.log' "$fan_records" 4 </dev/null 2>/dev/null |
    results | sed "s/^/run=$run /" >>"$data/log-fan.txt"
  echo "run=$run in_file=$(grep -a -c '^LOG TYPE: ' "$drive/bench/log/four.log" || true)" >>"$data/log-fan.file.txt"
done

# ---- 4. the cache copy against xcopy -----------------------------------------
step "cache copy: $copy_runs runs (+1 warm-up) of CopyInstallSource, xcopy /E /Y, xcopy of an empty folder, a plain copy"
tree_stats() { echo "files=$(find "$1" -type f | wc -l) bytes=$(find "$1" -type f -printf '%s\n' | awk '{s+=$1} END {print s+0}')"; }
for run in $(seq 0 "$copy_runs"); do
  case $(( run % 4 )) in
    0) order="cache xcopy empty profile" ;;
    1) order="xcopy profile cache empty" ;;
    2) order="profile empty xcopy cache" ;;
    3) order="empty cache profile xcopy" ;;
  esac
  for kind in $order; do
    rm -rf "$drive/bench/tree-out"
    sync
    case "$kind" in
      cache)
        line=$(WINEPATH="Z:${build//\//\\}\\product" wine64 "$tools/bench_launch.exe" "$tools/bench_cachecopy.exe" \
                 'C:\bench\tree-src' 'C:\bench\tree-out' </dev/null 2>/dev/null | results | tr '\n' ' ') ;;
      xcopy) line=$(launch xcopy /E /Y 'C:\bench\tree-src' 'C:\bench\tree-out\') ;;
      empty) line=$(launch xcopy /E /Y 'C:\bench\tree-empty' 'C:\bench\tree-out\') ;;
      profile) line=$(wine64 "$tools/bench_copyprofile.exe" 'C:\bench\tree-src' 'C:\bench\tree-out' </dev/null 2>/dev/null |
                        results) ;;
    esac
    echo "kind=$kind run=$run $line $(tree_stats "$drive/bench/tree-out")" >>"$data/copy.txt"
  done
done
rm -rf "$drive/bench/tree-out"

uptime >"$data/load-after.txt"
t_end=$(date +%s)

# ---- 5. sizes and imports, machine, report --------------------------------------
{
  echo "cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
  echo "cores=$(nproc)"
  echo "memory_kb=$(awk '/MemTotal/ {print $2}' /proc/meminfo)"
  echo "kernel=$(uname -sr)"
  echo "wine=$(wine64 --version 2>/dev/null)"
  echo "compiler=$(x86_64-w64-mingw32-g++-posix --version | head -n1)"
  echo "mingw_runtime=$(dpkg-query -W -f='${Version}' mingw-w64-x86-64-dev 2>/dev/null)"
  echo "binutils=$(dpkg-query -W -f='${Version}' binutils-mingw-w64-x86-64 2>/dev/null)"
  echo "msitools=$(dpkg-query -W -f='${Version}' msitools 2>/dev/null)"
  echo "display=$([ -n "$QX_XVFB_PID" ] && echo "Xvfb started by the benchmark, with openbox $(openbox --version 2>/dev/null | head -n1 | awk '{print $2}')" || echo "existing display $DISPLAY")"
  echo "runs=$runs"
  echo "nowm_runs=$nowm_runs"
  echo "log_runs=$log_runs"
  echo "copy_runs=$copy_runs"
  echo "single_records=$single_records"
  echo "fan_records=$fan_records"
  echo "seconds_build=$(( t_built - t_start ))"
  echo "seconds_prefix=$(( t_prefix - t_built ))"
  echo "seconds_measure=$(( t_end - t_prefix ))"
} >"$data/machine.txt"
python3 "$bench/report.py" --data "$data" --product "$build/product" \
  --objdump x86_64-w64-mingw32-objdump --out "$bench/RESULTS.md"
echo "Benchmark took $(( $(date +%s) - t_start )) s in all (build $(( t_built - t_start )) s); written to bench/RESULTS.md"
