# Sourced by the scripts that drive the substitute host against a private
# Dovecot (tools/demo.sh, tools/pictures.sh): a scratch folder $work with the
# Dovecot fixture $server and the host's log $log in it.

work=$(mktemp -d)
# Dovecot's own users must reach the server's folder inside.
chmod 755 "$work"
server="$work/dovecot"
log="$work/host.log"

# stop_session: stops the server and removes the scratch folder.
stop_session() {
  bash tools/dovecot.sh stop "$server" >/dev/null 2>&1 || true
  rm -rf "$work"
}

# port NAME: a port of the running Dovecot (pop3, pop3s, imap, imaps).
port() { sed -n "s/^$1=//p" "$server/state"; }

# seen TEXT [TRIES]: waits, 0.1 s a try (300 tries unless told), until the
# host's log holds TEXT.
seen() {
  for _ in $(seq "${2:-300}"); do
    grep -qF -- "$1" "$log" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "$(basename "$0" .sh): no \"$1\" in the host's log" >&2
  return 1
}
