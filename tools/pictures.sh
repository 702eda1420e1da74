#!/usr/bin/env bash
# Pictures of the preferences as Windows draws them: the Windows x86_64
# build in the substitute host under Wine on a virtual display, with three
# accounts checked by a private Dovecot. Writes into DIR (default
# doc/pictures):
#   page.png      the preferences page with the three accounts
#   account.png   "Account Details" filled in for an IMAP account
#   options.png   "Other Global Options"
#
#   tools/pictures.sh [DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(mkdir -p "${1:-doc/pictures}" && cd "${1:-doc/pictures}" && pwd)
bash tools/install-deps.sh >/dev/null
EMAIL_OPENSSL_MINGW_DIR=$(bash tools/openssl-mingw.sh)
export EMAIL_OPENSSL_MINGW_DIR
cmake --preset win64 >/dev/null
cmake --build build/win64 -j"$(nproc)" --target email email-host email-scramble >/dev/null

export WINEPREFIX="$root/build/win64/wineprefix"
source tools/wine.sh
source tools/host-session.sh
cleanup() {
  stop_session
  stop_wine
}
trap cleanup EXIT
start_wine
# No window manager runs on the virtual display: Wine draws the captions and
# frames itself.
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1

printf 'home homepass 2\nwork workpass 3\nclub clubpass 1\n' >"$work/users"
bash tools/dovecot.sh start "$server" --users "$work/users" >/dev/null
# The password as mail.ini keeps it, scrambled by the plug-in's own code.
scramble() { /usr/lib/wine/wine64 build/win64/email-scramble.exe "$1" | tr -d '\r'; }
account() {  # index type address user password port display
  printf 'accttype(%s)=%s\naddress(%s)=%s\nusername(%s)=%s\npassword(%s)=%s\n' \
    "$1" "$2" "$1" "$3" "$1" "$4" "$1" "$(scramble "$5")"
  printf 'mailbox(%s)=INBOX\nunseen(%s)=1\nhostname(%s)=127.0.0.1\nport(%s)=%s\n' \
    "$1" "$1" "$1" "$1" "$6"
  printf 'attempt(%s)=5\nssl(%s)=0\ndisplay(%s)=%s\n' "$1" "$1" "$1" "$7"
}
mkdir -p "$work/plugin"
{
  printf '[Mail]\nuse_alert=1\nuse_section=1\nuse_icon=1\nuse_sound=0\nuse_disable=1\nuse_header=1\n'
  account 0 1 home@example.test home homepass "$(port pop3)" Home
  account 1 0 work@example.test work workpass "$(port imap)" Work
  account 2 0 club@example.test club clubpass "$(port imap)" Club
} >"$work/plugin/mail.ini"

# Crops the screen to the dialog the host described last.
shoot() {
  local line x y w h
  sleep 1
  line=$(grep "^dialog $1 " "$log" | tail -1)
  x=$(sed 's/.* x=\([-0-9]*\).*/\1/' <<<"$line")
  y=$(sed 's/.* y=\([-0-9]*\).*/\1/' <<<"$line")
  w=$(sed 's/.* width=\([0-9]*\).*/\1/' <<<"$line")
  h=$(sed 's/.* height=\([0-9]*\).*/\1/' <<<"$line")
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$2"
  echo "$out/$2"
}

{
  echo load
  echo start
  echo 'wait 30000 text="Club (1/1)"'
  echo "prefsShow 1 0 0"
  echo "sleep 500"
  echo "show page"
  seen "dialog page" 600
  shoot page page.png >&2
  echo "select page 1000 1"
  echo "press page 1002"
  echo "type account 1013 C:\\Program Files\\Mail\\mail.exe"
  echo "sleep 500"
  echo "show account"
  seen "dialog account" 600
  shoot account account.png >&2
  echo "close account"
  echo "press page 1036"
  echo "sleep 500"
  echo "show options"
  seen "dialog options" 600
  shoot options options.png >&2
  echo "close options"
  echo "prefsAction 0"
  echo stop
  echo unload
  echo quit
} | /usr/lib/wine/wine64 build/win64/email-host.exe --dir "Z:$work/plugin" >"$log" 2>/dev/null
