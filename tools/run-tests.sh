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
source tools/wine.sh
trap stop_wine EXIT

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
