#!/usr/bin/env bash
# A private Dovecot on 127.0.0.1 for tests, benchmarks and the demo: POP3 and
# IMAP, each plain and with TLS from the first byte (self-signed certificate
# made at start), APOP offered, users from a passwd-file with {PLAIN}
# passwords, Maildir mail owned by a non-root user.
#
#   tools/dovecot.sh start DIR [options]   (re)creates DIR and starts Dovecot
#       --users FILE   one user a line: NAME PASSWORD [SAMPLES]; the password
#                      is the rest up to an optional trailing count of sample
#                      messages (no ':' in either); default: "demo demo 3"
#       --folder USER/NAME  also make the folder NAME (blanks allowed) for USER
#       --mail FILE    messages to deliver once the server runs, after the
#                      samples, one a line: USER|FOLDER|FLAGS|SUBJECT (FOLDER
#                      and FLAGS may be empty; they mean what deliver's
#                      options mean); lines starting with # are comments
#       --bench        keep login and mail processes ready (service_count = 0,
#                      process_min_avail) so a client's own share is visible
#       --soft         when Dovecot cannot run here, record why in DIR/state and
#                      succeed anyway (the tests then fail, or skip where the
#                      person running them allowed it, with that reason)
#   tools/dovecot.sh stop DIR
#   tools/dovecot.sh deliver DIR USER [--folder NAME] [--flags LETTERS]
#                      [--from TEXT] [--subject TEXT] [--body-size BYTES] [FILE]
#       adds a message to the user's INBOX or folder: FILE as it stands, or one
#       made from the options; --flags puts it in cur/ with Maildir flags
#       (S seen, F flagged, ...), else it arrives in new/
#
# DIR/state holds the outcome, one KEY=VALUE a line: status (running, or
# unavailable), reason, pop3, pop3s, imap, imaps (port numbers), maildirs (the
# folder holding USER/Maildir for every user), run (Dovecot's run directory),
# script (this script, for deliver).
# Logs go to DIR/dovecot.log.
#
# Dovecot makes Unix sockets in its run directory, and a socket path may not
# exceed 108 bytes; so that DIR can lie anywhere (a build tree under a long
# checkout path), the run directory is a short one of its own under /tmp,
# removed by "stop". DIR itself is only ever replaced when it is empty or a
# fixture directory that this script made (it holds the marker file below).
set -euo pipefail

die() {
  echo "dovecot.sh: $*" >&2
  exit 1
}

[ $# -ge 2 ] || die "usage: dovecot.sh start|stop|deliver DIR ..."
command=$1
dir=$2
shift 2

if [ "$(id -u)" -eq 0 ]; then
  mail_user=nobody
  mail_group=$(id -gn nobody)
  login_user=dovenull
  internal_user=dovecot
else
  mail_user=$(id -un)
  mail_group=$(id -gn)
  login_user=$mail_user
  internal_user=$mail_user
fi

marker=.email-dovecot-fixture
script=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")

maildir_of() { echo "$dir/mail/$1/Maildir"; }

# A value of DIR/state, or nothing.
state_value() {
  if [ -f "$dir/state" ]; then sed -n "s/^$1=//p" "$dir/state" | head -n 1; fi
}

# Makes the Maildir (and folder) of a user, owned by the mail user.
make_maildir() {
  local root=$1
  mkdir -p "$root/cur" "$root/new" "$root/tmp"
  chown -R "$mail_user:$mail_group" "$dir/mail" 2>/dev/null || true
  chmod -R a+rwX "$dir/mail"
}

serial=0
# deliver_file USER FOLDER FLAGS FILE
deliver_file() {
  local root
  root=$(maildir_of "$1")
  [ -n "$2" ] && root="$root/.$2"
  [ -d "$root/cur" ] || make_maildir "$root"
  [ -n "$2" ] && touch "$root/maildirfolder"
  # Names sort in delivery order, which is the order Dovecot numbers them in.
  serial=$((serial + 1))
  local name
  # One clock reading: seconds and nanoseconds read apart could straddle a
  # second and sort a later message first.
  name="$(date +%s.M%N)P$$Q$serial.email-test"
  cp "$4" "$root/tmp/$name"
  chown "$mail_user:$mail_group" "$root/tmp/$name" 2>/dev/null || true
  chmod 0644 "$root/tmp/$name"
  if [ -n "$3" ]; then
    mv "$root/tmp/$name" "$root/cur/$name:2,$3"
  else
    mv "$root/tmp/$name" "$root/new/$name"
  fi
}

# make_message FILE FROM SUBJECT BODY_SIZE
make_message() {
  {
    printf 'From: %s\r\n' "$2"
    printf 'To: someone@example.test\r\n'
    printf 'Subject: %s\r\n' "$3"
    printf 'Date: %s\r\n' "$(LC_ALL=C date -R)"
    printf 'Message-ID: <%s.%s@example.test>\r\n' "$(date +%s%N)" "$RANDOM"
    printf 'MIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n'
    if [ "$4" -gt 0 ]; then
      # 78 characters and CR LF a line.
      local line
      line="$(printf '%078d' 0 | tr 0 x)"
      { yes "$line" || true; } | head -c $(($4 / 80 * 79)) | sed 's/$/\r/'
    else
      printf 'Hello.\r\n'
    fi
  } >"$1"
}

# The run directory is always recorded, so that "stop" can remove it.
write_state() {
  printf '%s\n' "$@" ${run:+"run=$run"} >"$dir/state"
}

unavailable() {
  write_state "status=unavailable" "reason=$*"
  echo "dovecot.sh: Dovecot unavailable: $*" >&2
  [ "$soft" = 1 ] && exit 0
  exit 1
}

free_ports() {
  python3 - <<'EOF'
import socket
held = []
for _ in range(4):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    held.append(s)
print(" ".join(str(s.getsockname()[1]) for s in held))
EOF
}

stop_server() {
  local run
  run=$(state_value run)
  [ -n "$run" ] || return 0
  if [ -f "$run/master.pid" ]; then
    local pid
    pid=$(cat "$run/master.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  fi
  case "$run" in
    /tmp/email-dovecot.*) rm -rf "$run" ;;
  esac
}

# Empties DIR for a new fixture, refusing anything this script did not make.
reset_dir() {
  if [ -e "$dir" ] && [ -n "$(ls -A "$dir" 2>/dev/null)" ] && [ ! -f "$dir/$marker" ]; then
    die "$dir is not empty and not a fixture directory; not removing it"
  fi
  rm -rf "$dir"
  mkdir -p "$dir/state.d" "$dir/mail"
  touch "$dir/$marker"
}

start() {
  local users_file="" mail_file="" bench=0 folders=()
  soft=0
  while [ $# -gt 0 ]; do
    case "$1" in
      --users) users_file=$2; shift 2 ;;
      --mail) mail_file=$2; shift 2 ;;
      --folder) folders+=("$2"); shift 2 ;;
      --bench) bench=1; shift ;;
      --soft) soft=1; shift ;;
      *) die "unknown option $1" ;;
    esac
  done
  stop_server
  reset_dir
  dir=$(cd "$dir" && pwd)
  run=$(mktemp -d /tmp/email-dovecot.XXXXXX)
  # The login processes run as another user and need to reach the sockets.
  chmod 0755 "$run"
  command -v dovecot >/dev/null || unavailable "no dovecot binary (install dovecot-imapd and dovecot-pop3d)"
  command -v openssl >/dev/null || unavailable "no openssl binary"
  id "$login_user" >/dev/null 2>&1 || unavailable "no user $login_user for the login processes"

  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=localhost \
    -keyout "$dir/key.pem" -out "$dir/cert.pem" >/dev/null 2>&1 ||
    unavailable "cannot make a certificate"

  # Users: NAME PASSWORD [SAMPLES], the password may hold blanks.
  : >"$dir/users"
  local samples=()
  local line name rest count
  while IFS= read -r line || [ -n "$line" ]; do
    [ -z "$line" ] || [ "${line:0:1}" = "#" ] && continue
    name=${line%% *}
    rest=${line#* }
    count=0
    if [[ "$rest" =~ ^(.*)\ ([0-9]+)$ ]]; then
      rest=${BASH_REMATCH[1]}
      count=${BASH_REMATCH[2]}
    fi
    printf '%s:{PLAIN}%s::::::\n' "$name" "$rest" >>"$dir/users"
    make_maildir "$(maildir_of "$name")"
    samples+=("$name $count")
  done < <(if [ -n "$users_file" ]; then cat "$users_file"; else echo "demo demo 3"; fi)
  local folder
  for folder in "${folders[@]}"; do
    make_maildir "$(maildir_of "${folder%%/*}")/.${folder#*/}"
    touch "$(maildir_of "${folder%%/*}")/.${folder#*/}/maildirfolder"
  done

  local ready=""
  if [ "$bench" = 1 ]; then
    ready="service_count = 0
    process_min_avail = 2"
  fi
  write_config() {
    cat >"$dir/dovecot.conf" <<EOF
instance_name = email-test-$(echo "$dir" | md5sum | cut -c1-8)
base_dir = $run
state_dir = $dir/state.d
log_path = $dir/dovecot.log
listen = 127.0.0.1
protocols = pop3 imap
default_login_user = $login_user
default_internal_user = $internal_user
first_valid_uid = 1
ssl = yes
ssl_cert = <$dir/cert.pem
ssl_key = <$dir/key.pem
disable_plaintext_auth = no
auth_mechanisms = plain login apop
mail_location = maildir:$dir/mail/%u/Maildir
pop3_uidl_format = %08Xu%08Xv
passdb {
  driver = passwd-file
  args = $dir/users
}
userdb {
  driver = static
  args = uid=$mail_user gid=$mail_group home=$dir/mail/%u
}
service imap-login {
  inet_listener imap {
    port = $imap
  }
  inet_listener imaps {
    port = $imaps
    ssl = yes
  }
  $ready
}
service pop3-login {
  inet_listener pop3 {
    port = $pop3
  }
  inet_listener pop3s {
    port = $pop3s
    ssl = yes
  }
  $ready
}
# Failed logins are still delayed, but a test's wrong password must not slow
# every later login from 127.0.0.1.
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
service imap {
  $ready
}
service pop3 {
  $ready
}
EOF
  }
  chmod -R a+rX "$dir/cert.pem"
  chmod 0644 "$dir/users"
  # Another process can take a chosen port before Dovecot binds it; then
  # choose again.
  local attempt
  for attempt in 1 2 3; do
    read -r pop3 pop3s imap imaps <<<"$(free_ports)"
    write_config
    dovecot -c "$dir/dovecot.conf" >>"$dir/dovecot.log" 2>&1 && break
    if [ "$attempt" -lt 3 ] && grep -q "Address already in use" "$dir/dovecot.log"; then
      continue
    fi
    unavailable "dovecot did not start: $(tail -n 3 "$dir/dovecot.log" | tr '\n' ' ')"
  done
  local up=0
  for _ in $(seq 100); do
    if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $imaps), 1); socket.create_connection(('127.0.0.1', $pop3), 1)" 2>/dev/null; then
      up=1
      break
    fi
    sleep 0.1
  done
  [ "$up" = 1 ] || unavailable "dovecot does not listen: $(tail -n 3 "$dir/dovecot.log" | tr '\n' ' ')"

  local entry n message
  message=$(mktemp)
  for entry in "${samples[@]}"; do
    name=${entry% *}
    for n in $(seq "${entry#* }"); do
      make_message "$message" "Sample Sender $n <sender$n@example.test>" "Sample message $n" 0
      deliver_file "$name" "" "" "$message"
    done
  done
  if [ -n "$mail_file" ]; then
    local user folder flags subject
    while IFS='|' read -r user folder flags subject || [ -n "$user" ]; do
      [ -z "$user" ] || [ "${user:0:1}" = "#" ] && continue
      make_message "$message" "Test Sender <test@example.test>" "$subject" 0
      deliver_file "$user" "$folder" "$flags" "$message"
    done <"$mail_file"
  fi
  rm -f "$message"
  write_state "status=running" "pop3=$pop3" "pop3s=$pop3s" "imap=$imap" "imaps=$imaps" \
    "maildirs=$dir/mail" "script=$script"
  echo "Dovecot on 127.0.0.1: POP3 $pop3, POP3 TLS $pop3s, IMAP $imap, IMAP TLS $imaps"
}

deliver() {
  [ $# -ge 1 ] || die "usage: dovecot.sh deliver DIR USER [options] [FILE]"
  local user=$1 folder="" flags="" from="Sample Sender <sender@example.test>"
  local subject="A new message" size=0 file=""
  shift
  while [ $# -gt 0 ]; do
    case "$1" in
      --folder) folder=$2; shift 2 ;;
      --flags) flags=$2; shift 2 ;;
      --from) from=$2; shift 2 ;;
      --subject) subject=$2; shift 2 ;;
      --body-size) size=$2; shift 2 ;;
      *) file=$1; shift ;;
    esac
  done
  [ -d "$(maildir_of "$user")" ] || die "no user $user in $dir"
  if [ -z "$file" ]; then
    file=$(mktemp)
    make_message "$file" "$from" "$subject" "$size"
    deliver_file "$user" "$folder" "$flags" "$file"
    rm -f "$file"
  else
    deliver_file "$user" "$folder" "$flags" "$file"
  fi
}

case "$command" in
  start) start "$@" ;;
  stop) stop_server ;;
  deliver) deliver "$@" ;;
  *) die "unknown command $command" ;;
esac
