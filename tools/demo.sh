#!/usr/bin/env bash
# Runs the plug-in in the substitute host on Linux: builds the library and the
# host, then plays the messenger's side of a session and prints the host's log.
#   tools/demo.sh              the scripted session
#   tools/demo.sh -i           the same set-up, then commands from the keyboard
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset linux >/dev/null
cmake --build build/linux -j"$(nproc)" --target email email-host

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

if [ "${1:-}" = "-i" ]; then
  exec build/linux/email-host --dir "$dir"
fi
build/linux/email-host --dir "$dir" <<'SCRIPT'
echo --- the host loads the plug-in and asks who it is
load
echo --- first run, start and stop
initialLoad
start
stop
echo --- the host unloads the plug-in
unload
quit
SCRIPT
