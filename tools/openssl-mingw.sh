#!/usr/bin/env bash
# Builds the Windows OpenSSL DLLs that the Windows tests and the 32-bit bundle
# use, from the source of the OpenSSL that Debian ships, with mingw-w64:
#
#   tools/openssl-mingw.sh        prints the folder that holds x86_64/ and i686/
#
# Each folder holds the two DLLs, LICENSE.txt, include/ and lib/ (import
# libraries). The result is cached under
# $EMAIL_OPENSSL_CACHE (default /var/cache/email-openssl-mingw), keyed by the
# source version, so a second run only asks apt which version is current.
# Nothing is fetched from anywhere but the Debian archive apt is set up for.
set -euo pipefail

cache=${EMAIL_OPENSSL_CACHE:-/var/cache/email-openssl-mingw}

# apt-get source needs deb-src lines; add them for the suites the machine
# already takes binaries from.
ensure_deb_src() {
  if apt-get source --print-uris openssl >/dev/null 2>&1; then
    return
  fi
  local list=/etc/apt/sources.list.d/email-deb-src.sources
  : >"$list.tmp"
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ "$f" = "$list" ] && continue
    grep -q '^URIs:.*debian' "$f" || continue
    # Each stanza is copied with its type changed; blank lines separate them.
    sed -e 's/^Types:.*/Types: deb-src/' "$f" >>"$list.tmp"
    echo >>"$list.tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*debian.*\)/deb-src \1/p' /etc/apt/sources.list >"${list%.sources}.list"
  fi
  mv "$list.tmp" "$list"
  apt-get update -qq
}

# Source versions apt knows, newest first. The security suite's source may
# be missing from the archive while its binaries are installed.
source_versions() {
  apt-cache showsrc openssl | sed -n 's/^Version: //p' | sort -Vru
}

# build <source dir> <arch> <Configure target> <DLL suffix> <out dir> [option...]
build() {
  local src=$1 arch=$2 target=$3 suffix=$4 out=$5
  shift 5
  local work
  work=$(mktemp -d "$src.$arch.XXXX")
  cp -a "$src/." "$work"
  # OpenSSL's own output and warnings go to a log, shown if the build fails.
  # The runtime's helpers are linked in, so the DLLs import system DLLs only.
  # Only the two DLLs are made: "build_libs" would compile everything a
  # second time for the static libraries.
  if ! (cd "$work" &&
    ./Configure "$target" shared no-tests "$@" --cross-compile-prefix="$arch-w64-mingw32-" \
      -static-libgcc &&
    nice -n 10 make -j2 build_generated &&
    nice -n 10 make -j2 "libcrypto-3$suffix.dll" "libssl-3$suffix.dll"
  ) >"$work.log" 2>&1; then
    tail -n 40 "$work.log" >&2
    echo "openssl-mingw: the $arch build failed" >&2
    exit 1
  fi
  # The DLLs and the license for running and shipping; headers and import
  # libraries for the tests' own TLS servers.
  mkdir -p "$out.tmp/lib"
  cp "$work/libcrypto-3$suffix.dll" "$work/libssl-3$suffix.dll" "$work/LICENSE.txt" "$out.tmp/"
  "$arch-w64-mingw32-strip" --strip-unneeded "$out.tmp"/*.dll
  cp "$work/libcrypto.dll.a" "$work/libssl.dll.a" "$out.tmp/lib/"
  cp -r "$work/include" "$out.tmp/"
  rm -rf "$work" "$work.log"
  mv "$out.tmp" "$out"
}

# fetch <version> <dir>: unpacks that version's source into <dir>/src.
fetch() {
  (cd "$2" && apt-get source -qq --download-only "openssl=$1" >/dev/null 2>&1 &&
    dpkg-source -x "openssl_$1.dsc" src >/dev/null 2>&1)
}

complete() {
  [ -f "$1/x86_64/libssl-3-x64.dll" ] && [ -f "$1/i686/libssl-3.dll" ]
}

ensure_deb_src
for version in $(source_versions); do
  dir=$cache/$version
  if complete "$dir"; then
    echo "$dir"
    exit 0
  fi
  mkdir -p "$dir"
  tmp=$(mktemp -d "$dir/src.XXXX")
  if ! fetch "$version" "$tmp"; then
    rm -rf "$tmp"
    rmdir "$dir" 2>/dev/null || true
    continue
  fi
  trap 'rm -rf "$tmp"' EXIT
  start=$(date +%s)
  [ -f "$dir/x86_64/libssl-3-x64.dll" ] || build "$tmp/src" x86_64 mingw64 -x64 "$dir/x86_64"
  # The i686 assembler modules of a shared build use GOT relocations that
  # COFF cannot represent; that build uses the C implementations.
  [ -f "$dir/i686/libssl-3.dll" ] || build "$tmp/src" i686 mingw "" "$dir/i686" no-asm
  echo "openssl-mingw: built OpenSSL $version for Windows in $(($(date +%s) - start)) s" >&2
  echo "$dir"
  exit 0
done
echo "openssl-mingw: no openssl source could be fetched from the Debian archive" >&2
exit 1
