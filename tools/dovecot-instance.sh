#!/usr/bin/env bash
# A private IMAP server (Dovecot) on 127.0.0.1 for tests and benches, never the system's own.
#
#   dovecot-instance.sh start DIR MAILDIR PORT [--tls CERT KEY] [--imaps PORT2]
#                             [--user NAME] [--password WORD] [--separator CHAR]
#   dovecot-instance.sh stop DIR
#   dovecot-instance.sh share PATH...
#   dovecot-instance.sh mail-user
#
# start writes DIR/dovecot.conf (its run, state, index and control folders and its log,
# DIR/dovecot.log, all in DIR) and serves the Maildir++ folder MAILDIR to one user (ann,
# password secret, unless given) on PORT, then waits until PORT takes connections. With
# --tls, PORT offers STARTTLS and --imaps adds a listener of implicit TLS (Dovecot counts
# a connection from 127.0.0.1 to itself as secured, so it takes a login before STARTTLS
# too; its log says "TLS" or "secured" on each login line). The hierarchy separator is
# "/" unless given. The Maildir gets only mail, the folders' maildirfolder files and tmp/:
# Dovecot's indexes and lists stay in DIR.
#
# Run as root, the mail is read by an unprivileged user (nobody:nogroup): start and share
# hand MAILDIR to it, and DIR must be somewhere it reaches (root's home is often closed to
# others; /tmp is not). Run as any other user, everything runs as that user.
# stop ends the instance that DIR holds and waits for it. mail-user prints user:group.
set -euo pipefail
# Where Debian puts dovecot, outside a normal user's PATH.
PATH="$PATH:/usr/sbin:/usr/local/sbin"

fail() {
  echo "dovecot-instance: $*" >&2
  exit 1
}

mail_user() {
  if [ "$(id -u)" -eq 0 ]; then echo nobody:nogroup; else echo "$(id -un):$(id -gn)"; fi
}

# Gives PATHs to the mail user, and checks that it can reach them. It needs to write in
# every folder; files others can read are left as they are, so a store of hard links to
# another keeps its owners.
share() {
  [ "$(id -u)" -eq 0 ] || return 0
  local path owner
  owner=$(mail_user)
  for path in "$@"; do
    find "$path" \( -type d -o ! -perm -o=r \) -exec chown "$owner" {} +
    runuser -u "${owner%:*}" -- test -r "$path" -a -x "$path" -a -w "$path" ||
      fail "the mail user ${owner%:*} cannot reach $path: a folder above it is closed to others" \
        "(root's home often is); keep the Maildir and the instance under /tmp"
  done
}

# Whether process $1 runs; an ended master stays a zombie until init reaps it, which
# can take seconds in a container.
alive() {
  local fields
  read -r -a fields 2>/dev/null <"/proc/$1/stat" && [ "${fields[2]}" != Z ]
}

instance_pid() {
  local file="$1/run/master.pid"
  [ -f "$file" ] && alive "$(cat "$file")" && cat "$file"
}

# Whether a child of the master $1 other than its log process still runs (read from
# /proc: minimal systems have no pgrep).
serving() {
  local children child
  read -r -a children 2>/dev/null <"/proc/$1/task/$1/children" || return 1
  for child in "${children[@]}"; do
    [ "$(cat "/proc/$child/comm" 2>/dev/null)" = log ] || return 0
  done
  return 1
}

stop() {
  local dir="$1" pid
  pid=$(instance_pid "$dir") || return 0
  kill "$pid"
  # The master ends its services at once but waits seconds for its log process to
  # drain: once nothing else runs, the log has everything and the group can go.
  for _ in $(seq 100); do
    alive "$pid" || return 0
    serving "$pid" || break
    sleep 0.05
  done
  kill -KILL -- "-$pid" 2>/dev/null || true
  for _ in $(seq 100); do
    alive "$pid" || return 0
    sleep 0.05
  done
}

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

start() {
  [ $# -ge 3 ] || fail "usage: start DIR MAILDIR PORT [--tls CERT KEY] [--imaps PORT2]"
  local dir="$1" maildir="$2" port="$3"
  shift 3
  local cert="" key="" imaps=0 user=ann password=secret separator=/
  while [ $# -gt 0 ]; do
    case "$1" in
    --tls) [ $# -ge 3 ] || fail "--tls needs CERT and KEY"; cert="$2" key="$3"; shift 3 ;;
    --imaps) [ $# -ge 2 ] || fail "--imaps needs a port"; imaps="$2"; shift 2 ;;
    --user) user="$2"; shift 2 ;;
    --password) password="$2"; shift 2 ;;
    --separator) separator="$2"; shift 2 ;;
    *) fail "unknown option $1" ;;
    esac
  done
  command -v dovecot >/dev/null ||
    fail "dovecot is not installed: run scripts/setup.sh (it installs dovecot-imapd)"
  [ -d "$maildir/cur" ] || fail "$maildir is not a Maildir (it has no cur folder)"
  [ "$imaps" = 0 ] || [ -n "$cert" ] || fail "--imaps needs --tls CERT KEY"
  if [ -n "$cert" ]; then
    [ -r "$cert" ] && [ -r "$key" ] || fail "cannot read the certificate $cert or its key $key"
  fi
  port_open "$port" && fail "port $port on 127.0.0.1 is already taken"
  [ "$imaps" = 0 ] || ! port_open "$imaps" || fail "port $imaps on 127.0.0.1 is already taken"
  [ -z "$(instance_pid "$dir")" ] || fail "an instance already runs in $dir"
  # Dovecot refuses to start while the PID it wrote last names a zombie not yet reaped,
  # and waits long for a lock on its list of instances that an ended one left.
  rm -rf "$dir/run/master.pid" "$dir/state"

  dir=$(realpath "$dir") maildir=$(realpath "$maildir")
  mkdir -p "$dir"/{run,state,index,control,home}
  # The login and auth processes run as other users when started by root: they must be
  # able to pass through DIR and read the users file.
  chmod 755 "$dir"
  local conf="$dir/dovecot.conf" log="$dir/dovecot.log" mail_uid mail_gid
  mail_uid=$(mail_user) mail_gid=${mail_uid#*:} mail_uid=${mail_uid%:*}
  printf '%s:{PLAIN}%s\n' "$user" "$password" >"$dir/users"
  chmod 644 "$dir/users"
  : >"$log"

  # chroot needs root; without it every process runs as the one user there is.
  local chroot="" users="" ssl="ssl = no"
  if [ "$(id -u)" -ne 0 ]; then
    chroot="chroot ="
    users="default_login_user = $mail_uid
default_internal_user = $mail_uid
default_internal_group = $mail_gid"
  fi
  [ -z "$cert" ] || ssl="ssl = required
ssl_cert = <$(realpath "$cert")
ssl_key = <$(realpath "$key")"

  cat >"$conf" <<EOF
base_dir = $dir/run
state_dir = $dir/state
log_path = $log
protocols = imap
listen = 127.0.0.1
$ssl
disable_plaintext_auth = no
auth_mechanisms = plain login
# A wrong password is answered within half a second (a later login on the same
# connection still waits seconds: a test of one starts a new connection).
auth_failure_delay = 0
first_valid_uid = 1
$users
mail_location = maildir:$maildir:INDEX=$dir/index:CONTROL=$dir/control
namespace inbox {
  inbox = yes
  separator = $separator
}
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/users
}
userdb {
  driver = static
  args = uid=$mail_uid gid=$mail_gid home=$dir/home
}
service anvil {
  $chroot
}
service imap-login {
  $chroot
  inet_listener imap {
    address = 127.0.0.1
    port = $port
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = $imaps
  }
}
EOF

  share "$maildir" "$dir/index" "$dir/control" "$dir/home"
  # The server goes on after this script: it must not hold the caller's output open.
  dovecot -c "$conf" </dev/null >"$dir/start.out" 2>&1 ||
    fail "dovecot did not start: $(cat "$dir/start.out"); its log ($log):
$(cat "$log")"
  local waited=0 limit=$((${QB_DOVECOT_TIMEOUT:-15} * 10))
  until port_open "$port" && { [ "$imaps" = 0 ] || port_open "$imaps"; }; do
    if [ $waited -ge $limit ] || ! instance_pid "$dir" >/dev/null; then
      stop "$dir"
      fail "dovecot did not take connections on 127.0.0.1:$port within $((limit / 10)) s;" \
        "its log ($log):
$(cat "$log")"
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
}

command="${1:-}"
shift || true
case "$command" in
start) start "$@" ;;
stop) [ $# -eq 1 ] || fail "usage: stop DIR"; stop "$1" ;;
share) share "$@" ;;
mail-user) mail_user ;;
*) fail "usage: $0 start DIR MAILDIR PORT [--tls CERT KEY] [--imaps PORT2] | stop DIR | share PATH... | mail-user" ;;
esac
