#!/usr/bin/env bash
# Makes the archive a user of a 32-bit Windows messenger installs from:
#   tools/bundle.sh        -> build/win32/email-<version>-win32.zip
# The release email.dll, the OpenSSL DLLs built from Debian's source with
# their license, a user's guide and SHA-256 checksums; then checks it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
EMAIL_OPENSSL_MINGW_DIR=$(bash tools/openssl-mingw.sh)
export EMAIL_OPENSSL_MINGW_DIR
cmake --preset win32 >/dev/null
cmake --build build/win32 --target bundle
ctest --test-dir build/win32 -R bundle_contents --output-on-failure >/dev/null
ls build/win32/email-*-win32.zip
