#!/usr/bin/env bash
# The plug-in's main job, end to end, in the substitute host on Linux.
#
#   tools/demo.sh              the whole story: a private Dovecot with sample
#                              mail, a mail.ini with a POP3 account, load,
#                              start, an IMAP account over TLS added on the
#                              preferences page (one OK refused first), checked
#                              at once and saved to mail.ini by the page's OK,
#                              the contact list and every alert as it arrives,
#                              a new message with an encoded sender and
#                              subject, the alert, entry text and tooltip it
#                              brings, stop, unload
#   tools/demo.sh --dir DIR    the plug-in on your own mail.ini in DIR: load,
#                              initialLoad, start, then commands from the
#                              keyboard (try "list", "help"; "stop" and "quit"
#                              at the end). Leave it running to keep checking.
#   tools/demo.sh -i           the same with an empty folder
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash tools/install-deps.sh >/dev/null
cmake --preset linux >/dev/null
cmake --build build/linux -j"$(nproc)" --target email email-host email-scramble >/dev/null
host=build/linux/email-host

if [ "${1:-}" = "-i" ] || [ "${1:-}" = "--dir" ]; then
  if [ "$1" = "--dir" ]; then
    folder=$(cd "${2:?usage: tools/demo.sh --dir DIR}" && pwd)
  else
    folder=$(mktemp -d)
  fi
  exec "$host" --brief --dir "$folder" < <(printf 'load\ninitialLoad\nstart\nlist\n'; cat)
fi

source tools/host-session.sh
trap stop_session EXIT

printf 'home homepass 2\nwork workpass 3\n' >"$work/users"
bash tools/dovecot.sh start "$server" --users "$work/users"

# mail.ini as the preferences page would write it, the password scrambled by
# the plug-in's own code.
mkdir -p "$work/plugin"
cat >"$work/plugin/mail.ini" <<INI
[Mail]
use_alert=1
use_section=1
use_icon=1
use_sound=1
use_disable=1
use_header=1
accttype(0)=1
address(0)=home@example.test
username(0)=home
password(0)=$(build/linux/email-scramble homepass)
hostname(0)=127.0.0.1
port(0)=$(port pop3)
attempt(0)=5
ssl(0)=0
display(0)=Home
INI
echo "--- mail.ini: Home (POP3, plain, port $(port pop3)); Work (IMAP over TLS, port $(port imaps)) is added on the preferences page"

{
  echo "echo --- the host loads the plug-in and starts it; the first check of each account follows"
  echo load
  echo initialLoad
  echo start
  echo 'wait 20000 text="Home (2)"'
  echo "echo --- the preferences page; the user presses Add... and at once OK"
  echo "prefsShow 1 10 10"
  echo "show page"
  echo "press page 1001"
  echo "press account 1018"
  echo "echo --- the user fills in the Work account: IMAP over TLS"
  echo "type account 1006 work@example.test"
  echo "type account 1007 Work"
  echo "type account 1008 work"
  echo "type account 1009 workpass"
  echo "type account 1010 127.0.0.1"
  echo "press account 1017"
  echo "type account 1011 $(port imaps)"
  echo "show account"
  echo "press account 1018"
  echo "echo --- OK: the account gets its entry and is checked at once"
  echo 'wait 20000 text="Work (3/3)"'
  echo "sleep 300"
  echo "show page"
  echo "echo --- the preferences window's OK (prefsAction 2) writes mail.ini"
  echo "prefsAction 2"
  echo "echo mail.ini now:"
  seen 'plugin_main("prefsAction")'
  sed 's/^/    /' "$work/plugin/mail.ini" | while IFS= read -r line; do printf 'echo %s\n' "$line"; done
  echo "echo --- the contact list after the first checks"
  echo list
  bash tools/dovecot.sh deliver "$server" work \
    --from '=?UTF-8?B?SsO2cmcgTcO8bGxlcg==?= <joerg@example.test>' \
    --subject '=?ISO-8859-1?Q?Re:_Gr=FC=DFe_aus_M=FCnchen?='
  echo "echo --- a new message for Work, from =?UTF-8?B?SsO2cmcgTcO8bGxlcg==?= with the subject =?ISO-8859-1?Q?Re:_Gr=FC=DFe_aus_M=FCnchen?="
  echo "echo --- the user picks \"Check all for mail now!\" on an entry (the page's OK put new entries up)"
  echo "menu 3 3"
  echo 'wait 20000 text="Work (4/4)"'
  echo 'wait 5000 listUpdateTooltip'
  echo "echo --- the contact list now"
  echo list
  echo "echo --- stop saves mail.ini and takes the contact list down; unload"
  echo stop
  echo list
  echo unload
  echo quit
} | "$host" --brief --dir "$work/plugin" | tee "$log" | iconv -f CP1252 -t UTF-8
