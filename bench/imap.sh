#!/usr/bin/env bash
# Listing every attachment of an IMAP account against the bare fetch of what it needs,
# from a private Dovecot on 127.0.0.1, in the same run.
#   bench/imap.sh [MAILDIR]
# Without MAILDIR it serves the 20,000-email store (about 2 GB) of bench/analysis.sh,
# made once in ${QB_BENCH_DIR:-$HOME/.cache}/qb-bench-Maildir with the same generator. The
# store is hard-linked (or copied, across file systems) under /tmp, where the server's
# mail user can read it also when the bench runs as root, and served by
# tools/dovecot-instance.sh to ann (password secret).
#
# It times, best of ${QB_BENCH_RUNS:-3} runs with the mail in the page cache:
#   reference  a raw socket client (python3, the socket module only): LOGIN, LIST, and for
#              each folder SELECT and UID FETCH 1:* (UID RFC822.SIZE INTERNALDATE
#              BODYSTRUCTURE), reading each answer to its tagged OK and nothing more;
#   cli        quillbrook-cli analyze --store imap://ann@127.0.0.1:PORT --password-file
#              FILE --folder 'Email Folders\ann@127.0.0.1' --csv (a release build);
# each first (Dovecot's index and lists deleted, the program's cache empty) and warm
# (both kept from the run before). It prints each as seconds, the cli as a ratio to the
# reference measured the same way (target: within 1.3), its peak memory against the
# budget of 80 MB, the emails and attachment rows seen, and the commands that repeat
# them. When quillbrook-cli does not take an IMAP store yet it says so and prints the
# reference alone. QB_BENCH_IMAP_FOLDER names another folder to analyse.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v /usr/bin/time >/dev/null || { sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo; $sudo apt-get install -y -q time >/dev/null; }
scripts/install.sh dovecot-imapd >/dev/null
# Only the command-line program: the bench needs nothing else.
if ! QB_BUILD_DIR=build-release QB_BUILD_TYPE=Release QB_BUILD_TARGET=quillbrook-cli \
  scripts/setup.sh >/dev/null; then
  [ -x build-release/src/quillbrook-cli ] || { echo "the release build failed" >&2; exit 1; }
  echo "warning: the release build failed; measuring the quillbrook-cli built before it" >&2
fi
cli=$PWD/build-release/src/quillbrook-cli
runs=${QB_BENCH_RUNS:-3}

bench_dir="${QB_BENCH_DIR:-$HOME/.cache}"
store="${1:-$bench_dir/qb-bench-Maildir}"
if [ $# -eq 0 ] && [ ! -d "$store" ]; then
  python3 tools/make_maildir.py "$store" --emails 20000 --average-kb 100 --seed 7
fi
[ -d "$store/cur" ] || { echo "$store is not a Maildir" >&2; exit 1; }

work=$(mktemp -d /tmp/qb-bench-imap.XXXXXX)
chmod 755 "$work"
instance=$work/dovecot
trap 'tools/dovecot-instance.sh stop "$instance"; rm -rf "$work"' EXIT
cp -al "$store" "$work/Mail" 2>/dev/null || { rm -rf "$work/Mail"; cp -a "$store" "$work/Mail"; }
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'secret\n' >"$work/password"
export XDG_CACHE_HOME="$work/cache"

serve() { tools/dovecot-instance.sh start "$instance" "$work/Mail" "$port"; }
# A server that has never seen the mail: it indexes every email again on first access.
fresh_server() {
  tools/dovecot-instance.sh stop "$instance"
  rm -rf "$instance/index" "$instance/control"
  serve
}

cat >"$work/reference.py" <<'PY'
"""LOGIN, LIST, and for each folder SELECT and the UID FETCH the listing needs, reading
each answer to its tagged OK; prints the folders and emails seen."""
import re
import socket
import sys

LITERAL = re.compile(rb"\{(\d+)\+?\}\r\n$")
sock = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
buffer = bytearray()
tags = 0


def read_line():
    global buffer
    while True:
        end = buffer.find(b"\r\n")
        if end >= 0:
            line = bytes(buffer[:end + 2])
            del buffer[:end + 2]
            return line
        chunk = sock.recv(1 << 20)
        if not chunk:
            sys.exit("the server closed the connection")
        buffer += chunk


def read_bytes(size):
    while len(buffer) < size:
        chunk = sock.recv(1 << 20)
        if not chunk:
            sys.exit("the server closed the connection")
        buffer.extend(chunk)
    data = bytes(buffer[:size])
    del buffer[:size]
    return data


def response():
    """One whole response, its literals in it."""
    parts = []
    while True:
        line = read_line()
        parts.append(line)
        literal = LITERAL.search(line)
        if not literal:
            return parts
        parts.append(read_bytes(int(literal.group(1))))


def command(text):
    global tags
    tags += 1
    tag = b"t%d " % tags
    sock.sendall(tag + text + b"\r\n")
    untagged = []
    while True:
        parts = response()
        if parts[0].startswith(tag):
            if not parts[0].startswith(tag + b"OK"):
                sys.exit("%s failed: %s" % (text.decode(), parts[0].decode().strip()))
            return untagged
        untagged.append(parts)


def quoted(name):
    return b'"' + name.replace(b"\\", b"\\\\").replace(b'"', b'\\"') + b'"'


response()  # the greeting
command(b"LOGIN ann secret")
folders = []
LISTED = re.compile(rb'^\* LIST \(([^)]*)\) (?:NIL|"(?:[^"\\]|\\.)*") (.*)\r\n$', re.I)
for parts in command(b'LIST "" "*"'):
    listed = LISTED.match(parts[0])
    if not listed:
        continue
    attributes, name = listed.group(1).lower(), listed.group(2)
    if b"\\noselect" in attributes or b"\\nonexistent" in attributes:
        continue
    if len(parts) > 1:
        folders.append(parts[1])
    elif name.startswith(b'"'):
        folders.append(re.sub(rb"\\(.)", rb"\1", name[1:-1]))
    else:
        folders.append(name)
emails = 0
for folder in folders:
    command(b"SELECT " + quoted(folder))
    fetched = command(b"UID FETCH 1:* (UID RFC822.SIZE INTERNALDATE BODYSTRUCTURE)")
    emails += sum(1 for parts in fetched if b" FETCH " in parts[0])
command(b"LOGOUT")
print(len(folders), emails)
PY

reference=(python3 "$work/reference.py" "$port")
analyse=("$cli" analyze --store "imap://ann@127.0.0.1:$port" --password-file "$work/password"
  --folder "${QB_BENCH_IMAP_FOLDER:-Email Folders\\ann@127.0.0.1}" --csv)
cli_imap=yes
"$cli" analyze --help | grep -q -- --password-file || cli_imap=no

# "seconds peak-KB" of one run; the program's output goes to $work/out.
timed() { /usr/bin/time -f "%e %M" "$@" 2>"$work/time" >"$work/out" || { cat "$work/time" >&2; return 1; }; tail -n 1 "$work/time"; }
best() { sort -n | head -n 1; }

emails=$(find "$store" -type f \( -path '*/cur/*' -o -path '*/new/*' \) | wc -l)
find "$work/Mail" -type f -print0 | xargs -0 cat >/dev/null # warm the page cache
echo "machine: $(nproc) processors, load average$(uptime | sed 's/.*load average//')"
echo "store: $store, $emails emails, served on 127.0.0.1:$port"

serve
ref_first=$(for _ in $(seq "$runs"); do fresh_server; timed "${reference[@]}"; done | best)
ref_warm=$(for _ in $(seq "$runs"); do timed "${reference[@]}"; done | best)
read -r folders fetched <"$work/out"
echo "reference: $folders folders, $fetched emails fetched"
[ "$fetched" -eq "$emails" ] || echo "warning: the server listed $fetched emails of $emails" >&2

cli_first=- cli_warm=- rows=-
if [ $cli_imap = yes ]; then
  cli_first=$(for _ in $(seq "$runs"); do fresh_server; rm -rf "$XDG_CACHE_HOME"; timed "${analyse[@]}"; done | best)
  rows=$(($(wc -l <"$work/out") - 1))
  cli_warm=$(for _ in $(seq "$runs"); do timed "${analyse[@]}"; done | best)
  # The same files read as a Maildir must list as many attachments.
  disk_rows=$(($("$cli" analyze --store "$work/Mail" --folder 'Email Folders\Mail' --csv --no-cache | wc -l) - 1))
  echo "attachment rows: $rows from the server, $disk_rows from the same files read as a Maildir"
  [ "$rows" -eq "$disk_rows" ] || echo "warning: the server's listing and the Maildir's differ" >&2
fi

echo
echo "reference, first: tools/dovecot-instance.sh start DIR MAILDIR PORT (DIR/index and DIR/control deleted), then"
echo "                  python3 REFERENCE.PY PORT (the client written out in bench/imap.sh)"
echo "reference, warm:  python3 REFERENCE.PY PORT, again"
if [ $cli_imap = yes ]; then
  shown=$(printf '%q ' "${analyse[@]}")
  echo "cli:              XDG_CACHE_HOME=EMPTY-DIR ${shown//$work/WORK}(WORK/password holds secret)"
else
  echo "cli:              not measured: $cli analyze does not take an IMAP store yet" \
    "(no --store imap://user@host:port with --password-file)"
fi

python3 - "$ref_first" "$ref_warm" "$cli_first" "$cli_warm" "$rows" <<'PY'
import sys
ref_first, ref_warm, cli_first, cli_warm, rows = sys.argv[1:]
def run(field):
    seconds, kb = field.split()
    return float(seconds), int(kb) / 1024
print()
print(f"{'':<10}{'reference s':>12}{'MB':>5}{'cli s':>8}{'x ref':>7}{'MB':>5}{'budget MB':>10}")
for name, ref, cli in (("first", ref_first, cli_first), ("warm", ref_warm, cli_warm)):
    ref_s, ref_mb = run(ref)
    line = f"{name:<10}{ref_s:>12.2f}{ref_mb:>5.0f}"
    if cli == "-":
        line += f"{'-':>8}{'-':>7}{'-':>5}"
    else:
        cli_s, cli_mb = run(cli)
        line += f"{cli_s:>8.2f}{cli_s / ref_s:>7.2f}{cli_mb:>5.0f}"
    print(line + f"{80:>10}")
print()
print("target: the cli within 1.3 x the reference, first and warm; "
      + ("no cli figures yet" if cli_first == "-" else f"{rows} attachment rows listed"))
PY
