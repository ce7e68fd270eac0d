#!/usr/bin/env bash
# A private Courier-IMAP server on 127.0.0.1 for tests, never installed on the system: its
# Debian packages are unpacked into a folder of the build and run from there.
#
#   courier-instance.sh unpack ROOT
#   courier-instance.sh start DIR MAILDIR PORT [--root ROOT] [--no-uidplus]
#   courier-instance.sh stop DIR
#
# unpack downloads courier-imap and the libraries it needs (apt-get download, no install)
# and unpacks them into ROOT; it does nothing when ROOT already holds them.
# start serves the Maildir++ folder MAILDIR on PORT from the programs under ROOT (or
# $QB_COURIER_ROOT), then waits until PORT takes connections. Each connection is handed to
# Courier's own imapd already logged in (it greets with PREAUTH), as a server reached
# through a tunnel is: Courier's login needs its authentication daemon at the system's
# paths. Folders are Courier's: everything under INBOX, separated by ".". With
# --no-uidplus the server offers no UIDPLUS, so expunged originals wait for a client's
# EXPUNGE. stop ends the instance that DIR holds and every process it started.
set -euo pipefail
PATH="$PATH:/usr/sbin:/usr/local/sbin"

packages=(courier-imap courier-base courier-authlib libcourier-unicode4 libidn12 libgamin0 gamin)

fail() {
  echo "courier-instance: $*" >&2
  exit 1
}

unpack() {
  [ $# -eq 1 ] || fail "usage: unpack ROOT"
  local root="$1"
  [ -x "$root/usr/bin/imapd" ] && [ -x "$root/usr/libexec/gam_server" ] && return 0
  mkdir -p "$root/debs"
  root=$(realpath "$root")
  # apt-get download warns when root's download cannot be handed to its own sandbox user.
  if ! (cd "$root/debs" && apt-get download -q "${packages[@]}" >download.log 2>&1); then
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q >/dev/null
    (cd "$root/debs" && apt-get download -q "${packages[@]}" >download.log 2>&1) ||
      fail "cannot download Courier's packages: $(tail -3 "$root/debs/download.log")"
  fi
  local deb
  for deb in "$root"/debs/*.deb; do dpkg-deb -x "$deb" "$root"; done
  [ -x "$root/usr/bin/imapd" ] || fail "the packages unpacked into $root hold no imapd"
}

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }

stop() {
  local dir="$1" pid
  [ -f "$dir/group.pid" ] || return 0
  pid=$(cat "$dir/group.pid")
  rm -f "$dir/group.pid"
  alive "$pid" || return 0
  # The listener, each connection's imapd and the notification server share one group.
  kill -TERM -- "-$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    alive "$pid" || return 0
    sleep 0.05
  done
  kill -KILL -- "-$pid" 2>/dev/null || true
}

start() {
  [ $# -ge 3 ] || fail "usage: start DIR MAILDIR PORT [--root ROOT] [--no-uidplus]"
  local dir="$1" maildir="$2" port="$3"
  shift 3
  local root="${QB_COURIER_ROOT:-}" capabilities="IMAP4rev1 UIDPLUS CHILDREN NAMESPACE"
  while [ $# -gt 0 ]; do
    case "$1" in
    --root) [ $# -ge 2 ] || fail "--root needs a folder"; root="$2"; shift 2 ;;
    --no-uidplus) capabilities="IMAP4rev1 CHILDREN NAMESPACE"; shift ;;
    *) fail "unknown option $1" ;;
    esac
  done
  [ -n "$root" ] && [ -x "$root/usr/bin/imapd" ] ||
    fail "Courier is not unpacked${root:+ in $root}: run scripts/setup.sh (it unpacks it into the build)"
  [ -d "$maildir/cur" ] || fail "$maildir is not a Maildir (it has no cur folder)"
  port_open "$port" && fail "port $port on 127.0.0.1 is already taken"
  mkdir -p "$dir"
  stop "$dir"
  dir=$(realpath "$dir") maildir=$(realpath "$maildir") root=$(realpath "$root")
  : >"$dir/courier.log"

  # Courier's programs find their libraries and their notification server in ROOT.
  env -i PATH=/usr/bin:/bin \
    LD_LIBRARY_PATH="$root/usr/lib:$root/usr/lib/x86_64-linux-gnu" \
    GAMIN_DEBUG_SERVER="$root/usr/libexec/gam_server" \
    AUTHENTICATED=ann MAILDIR="$maildir" HOME="$dir" \
    IMAP_CAPABILITY="$capabilities" IMAP_KEYWORDS=1 IMAP_TRASHFOLDERNAME=Trash \
    setsid "$root/usr/sbin/couriertcpd" -nodnslookup -noidentlookup -address=127.0.0.1 \
    -maxprocs=40 -maxperip=40 -stderr="$dir/courier.log" \
    "$port" "$root/usr/bin/imapd" "$maildir" </dev/null >>"$dir/courier.log" 2>&1 &
  echo $! >"$dir/group.pid"
  local waited=0
  until port_open "$port"; do
    if [ $waited -ge 150 ] || ! alive "$(cat "$dir/group.pid")"; then
      stop "$dir"
      fail "Courier did not take connections on 127.0.0.1:$port within 15 s; its log:
$(cat "$dir/courier.log")"
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
}

command="${1:-}"
shift || true
case "$command" in
unpack) unpack "$@" ;;
start) start "$@" ;;
stop) [ $# -eq 1 ] || fail "usage: stop DIR"; stop "$1" ;;
*) fail "usage: $0 unpack ROOT | start DIR MAILDIR PORT [--root ROOT] [--no-uidplus] | stop DIR" ;;
esac
