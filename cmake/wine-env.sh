# Shared by the test, demo and benchmark commands: the Wine prefix under the
# build folder, a virtual display with a window manager when there is no
# display, and a persistent wineserver so each program starts quickly.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export PATH="$PATH:/usr/lib/wine"
export LANG=C.UTF-8

QX_XVFB_PID=""
QX_WM_PID=""

# A desktop has a window manager; without one Wine's X11 driver waits 2 s
# for a manager to withdraw each hidden window. Started on our own display
# only, and waited for until it has taken the screen.
qx_wm_start() {
  [ -n "$QX_XVFB_PID" ] || return 0
  [ -z "$QX_WM_PID" ] || return 0
  openbox --sm-disable >/dev/null 2>&1 &
  QX_WM_PID=$!
  # Up to 30 s: a first start on a fresh machine reads its files cold.
  local seen=""
  for _ in $(seq 600); do
    seen=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>&1)
    case "$seen" in *'window id'*) return 0 ;; esac
    kill -0 "$QX_WM_PID" 2>/dev/null || break
    sleep 0.05
  done
  local state="still running"
  kill -0 "$QX_WM_PID" 2>/dev/null || { wait "$QX_WM_PID" 2>/dev/null; state="ended with $?"; }
  echo "wine-env.sh: the window manager did not take the screen within 30 s (openbox $state; the root window's _NET_SUPPORTING_WM_CHECK: ${seen:-nothing})" >&2
  return 1
}

# Waits, up to 30 s, until the X server on DISPLAY answers a client (its
# socket appears before it does).
qx_display_wait() {
  local answer=""
  for _ in $(seq 300); do
    answer=$(xdpyinfo 2>&1 >/dev/null) && return 0
    if ! kill -0 "$QX_XVFB_PID" 2>/dev/null; then
      echo "wine-env.sh: Xvfb on $DISPLAY ended before it answered" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "wine-env.sh: Xvfb on $DISPLAY did not answer within 30 s (xdpyinfo: ${answer:-nothing})" >&2
  return 1
}

qx_wm_stop() {
  [ -n "$QX_WM_PID" ] || return 0
  kill "$QX_WM_PID" 2>/dev/null || true
  wait "$QX_WM_PID" 2>/dev/null || true
  QX_WM_PID=""
  # Gone only once the screen no longer names it.
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' || return 0
    sleep 0.05
  done
}

# qx_wine_start BUILD [transient]: "transient" leaves the wineserver to end
# with the last program, so `wineserver -w` waits for everything started.
qx_wine_start() {
  local build="$1"
  local mode="${2:-persistent}"
  export QX_BUILD_DIR="$build"
  export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
  if [ -z "${DISPLAY:-}" ]; then
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    QX_XVFB_PID=$!
    export DISPLAY=":$n"
    qx_display_wait || return 1
    qx_wm_start || return 1
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wine64 wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  if [ "$mode" = transient ]; then return 0; fi
  wineserver -p 2>/dev/null || true   # already running for this prefix is fine
  # The first program of a session starts Wine's background services; start
  # them here, detached from any output pipe a test runner waits on.
  wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
}

qx_wine_stop() {
  wineserver -k 2>/dev/null || true
  qx_wm_stop
  if [ -n "$QX_XVFB_PID" ]; then kill "$QX_XVFB_PID" 2>/dev/null || true; fi
}
