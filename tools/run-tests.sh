#!/usr/bin/env bash
# The whole test suite on every target, from a fresh Debian machine:
#   tools/run-tests.sh            all tiers
#   tools/run-tests.sh linux      only the named builds (linux linux-i386 win64 win32 tsan asan fuzz)
#
# Installs what it needs, builds each preset into build/<preset>, and runs
# its tests: Linux x86_64, Linux i386 under qemu-i386, Windows x86_64 under
# Wine (with a virtual display for the real dialogs and message boxes), the
# Windows i686 export check, ThreadSanitizer, AddressSanitizer with UBSan and
# LeakSanitizer, and a bounded fuzz run.
#
# Ends with a summary per build (passed, failed, skipped, and why each test
# skipped) and a total. A test whose real part is missing (Dovecot, OpenSSL,
# Wine, a display) fails; EMAIL_TESTS_ALLOW_MISSING=1 lets it skip instead.
# On linux, linux-i386, tsan and asan every test must run: a skip fails the run
# unless that variable allows it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/install-deps.sh

builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(linux linux-i386 win64 win32 tsan asan fuzz)
jobs=$(nproc)
failed=()
summary="$root/build/summary.txt"
mkdir -p build
: >"$summary"

# Wine: one private prefix, one persistent wineserver and one virtual display
# for the whole run, so each test program starts in a fraction of a second.
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
source tools/wine.sh
trap stop_wine EXIT

# The Windows builds need OpenSSL DLLs: built once from Debian's OpenSSL source
# and cached (tools/openssl-mingw.sh); configure finds them through this.
provision_openssl() {
  [ -n "${EMAIL_OPENSSL_MINGW_DIR:-}" ] && return
  EMAIL_OPENSSL_MINGW_DIR=$(bash tools/openssl-mingw.sh) || return 1
  export EMAIL_OPENSSL_MINGW_DIR
}

# run NAME COMMAND...: runs one step; a failed step is remembered, and the
# caller may skip the steps that depend on it.
run() {
  local name=$1
  shift
  echo "=== $name: $*"
  if ! "$@"; then
    failed+=("$name")
    return 1
  fi
}

# run_ctest BUILD [ctest options...]: the build's tests, then its summary.
# Skips fail the builds where everything a test needs is on this machine.
run_ctest() {
  local b=$1 strict=()
  shift
  case "$b" in linux | linux-i386 | tsan | asan) strict=(--no-skips) ;; esac
  rm -f "build/$b/junit.xml"
  run "$b tests" ctest --test-dir "build/$b" --output-on-failure --timeout 600 \
    --output-junit "$root/build/$b/junit.xml" "$@" || true
  if ! python3 tools/test-summary.py "$b" "build/$b/junit.xml" "${strict[@]}" >"build/$b/summary.txt"; then
    failed+=("$b summary")
  fi
  tee -a "$summary" <"build/$b/summary.txt"
}

# Dovecot makes Unix sockets, whose paths are limited to 108 bytes: the
# fixture must work wherever the tree lies. Starts it below a deliberately
# long folder and runs the integration tests against it; none may skip.
long_path_fixture() {
  local dir="$root/build/a-deliberately-long-folder-name-that-puts-every-unix-socket-path-below-it-past-108-bytes/dovecot"
  bash tools/dovecot.sh start "$dir" --users tests/support/dovecot_users.txt \
    --mail tests/support/dovecot_mail.txt >/dev/null || return 1
  local status=0
  env -u EMAIL_TESTS_ALLOW_MISSING EMAIL_DOVECOT_DIR="$dir" \
    build/linux/mail_dovecot_test --gtest_brief=1 || status=1
  bash tools/dovecot.sh stop "$dir"
  return $status
}

# The sources stay clang-format clean.
if [ -d .git ]; then
  run "format" sh -c 'git ls-files "*.cpp" "*.h" | xargs clang-format --dry-run -Werror' || true
fi

for b in "${builds[@]}"; do
  case "$b" in win*) run "openssl DLLs" provision_openssl || continue ;; esac
  case "$b" in
    linux | linux-i386 | win64 | tsan | asan)
      run "$b configure" cmake --preset "$b" >/dev/null || continue
      run "$b build" cmake --build "build/$b" -j"$jobs" || continue
      [ "$b" = win64 ] && [ -z "$xvfb_pid" ] && start_wine
      run_ctest "$b"
      if [ "$b" = linux ]; then run "long-path fixture" long_path_fixture || true; fi
      ;;
    win32)
      run "win32 configure" cmake --preset win32 >/dev/null || continue
      run "win32 build" cmake --build build/win32 -j"$jobs" || continue
      run_ctest win32
      ;;
    fuzz)
      run "fuzz configure" cmake --preset fuzz >/dev/null || continue
      run "fuzz build" cmake --build build/fuzz -j"$jobs" --target mime_fuzz || continue
      run_ctest fuzz -L fuzz
      ;;
    *)
      echo "unknown build: $b" >&2
      exit 2
      ;;
  esac
done

echo "=== summary"
cat "$summary"
bash tools/test-ratio.sh
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
fi
python3 tools/test-summary.py --total "$summary"
[ ${#failed[@]} -eq 0 ]
