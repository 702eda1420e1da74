# Sourced by the scripts that run Windows programs: Wine with its own
# prefix ($WINEPREFIX, set by the caller), one persistent wineserver and a
# virtual display. start_wine sets DISPLAY; stop_wine ends what it started.
export WINEDEBUG=-all
xvfb_pid=

stop_wine() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  /usr/lib/wine/wineserver -k 2>/dev/null || true
}

start_wine() {
  local display
  for display in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$display" ] || break
  done
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$display"
  /usr/lib/wine/wineserver -p >/dev/null 2>&1 &
  # The first start creates the prefix; do it once, outside any test's time.
  WINEDLLOVERRIDES="mscoree,mshtml=" /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  # Keep one Windows program alive for the whole run. Otherwise Wine starts
  # its service processes afresh for every program, they inherit the
  # program's output pipe, and whoever reads it waits for them for seconds.
  rm -f build/wine-keeper && mkfifo build/wine-keeper
  exec 9<>build/wine-keeper
  /usr/lib/wine/wine64 cmd.exe <build/wine-keeper >/dev/null 2>&1 &
}
