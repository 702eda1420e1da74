#!/usr/bin/env bash
# Runs a Windows program under 64-bit Wine with a private prefix. The test
# driver starts one persistent wineserver for the whole run.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-${TMPDIR:-/tmp}/email-wineprefix}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec /usr/lib/wine/wine64 "$@"
