#!/usr/bin/env bash
# The whole test suite on every target, from a fresh Debian machine:
#   tools/run-tests.sh            all tiers
#   tools/run-tests.sh linux      only the named builds (linux linux-i386 win64 win32 tsan fuzz)
#
# Installs what it needs, builds each preset into build/<preset>, and runs
# its tests: Linux x86_64, Linux i386 under qemu-i386, Windows x86_64 under
# Wine (with a virtual display for the real dialogs and message boxes), the
# Windows i686 export check, ThreadSanitizer, and a bounded fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/install-deps.sh

builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(linux linux-i386 win64 win32 tsan fuzz)
jobs=$(nproc)
failed=()

# Wine: one private prefix, one persistent wineserver and one virtual display
# for the whole run, so each test program starts in a fraction of a second.
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG=-all
xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  /usr/lib/wine/wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

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
  # its service processes afresh for every test program, they inherit the
  # test's output pipe, and ctest waits for them for seconds each time.
  rm -f build/wine-keeper && mkfifo build/wine-keeper
  exec 9<>build/wine-keeper
  /usr/lib/wine/wine64 cmd.exe <build/wine-keeper >/dev/null 2>&1 &
}

# The Windows builds need OpenSSL DLLs: built once from Debian's OpenSSL source
# and cached (tools/openssl-mingw.sh); configure finds them through this.
provision_openssl() {
  [ -n "${EMAIL_OPENSSL_MINGW_DIR:-}" ] && return
  EMAIL_OPENSSL_MINGW_DIR=$(bash tools/openssl-mingw.sh) || return 1
  export EMAIL_OPENSSL_MINGW_DIR
}

run() {
  local name=$1
  shift
  echo "=== $name: $*"
  if ! "$@"; then failed+=("$name"); fi
}

# The sources stay clang-format clean.
if [ -d .git ]; then
  run "format" sh -c 'git ls-files "*.cpp" "*.h" | xargs clang-format --dry-run -Werror'
fi

for b in "${builds[@]}"; do
  case "$b" in win*) run "openssl DLLs" provision_openssl ;; esac
  case "$b" in
    linux | linux-i386 | win64 | tsan)
      run "$b configure" cmake --preset "$b" >/dev/null
      run "$b build" cmake --build "build/$b" -j"$jobs"
      [ "$b" = win64 ] && [ -z "$xvfb_pid" ] && start_wine
      run "$b tests" ctest --test-dir "build/$b" --output-on-failure --timeout 600
      ;;
    win32)
      run "win32 configure" cmake --preset win32 >/dev/null
      run "win32 build" cmake --build build/win32 -j"$jobs"
      run "win32 tests" ctest --test-dir build/win32 --output-on-failure
      ;;
    fuzz)
      run "fuzz configure" cmake --preset fuzz >/dev/null
      run "fuzz build" cmake --build build/fuzz -j"$jobs" --target mime_fuzz
      run "fuzz run" ctest --test-dir build/fuzz -L fuzz --output-on-failure
      ;;
    *)
      echo "unknown build: $b" >&2
      exit 2
      ;;
  esac
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "All tests passed: ${builds[*]}"
