#!/usr/bin/env bash
# Detach of every attachment, and its undo, against ripmime extracting the same emails'
# attachments.
#   bench/detach.sh [MAILDIR]
# Works on a copy of MAILDIR (default: the Maildir of bench/analysis.sh, made when
# missing). ripmime runs once per email, one after another, writing to its own
# folder; the detach rewrites every email and flushes every file to disk.
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
for tool in ripmime time; do
  dpkg-query -W -f='${Status}' "$tool" 2>/dev/null | grep -q 'install ok installed' ||
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "$tool" >/dev/null
done
QB_BUILD_DIR=build-release QB_BUILD_TYPE=Release scripts/setup.sh >/dev/null

source="${1:-${QB_BENCH_DIR:-$HOME/.cache}/qb-bench-Maildir}"
if [ ! -d "$source" ]; then
  python3 tools/make_maildir.py "$source" --emails 20000 --average-kb 100 --seed 7
fi
work=$(mktemp -d "${QB_BENCH_DIR:-$HOME/.cache}/qb-detach-XXXXXX")
trap 'rm -rf "$work"' EXIT
store="$work/$(basename "$source")"
cp -a "$source" "$store"
emails=$(find "$store" -type f \( -path '*/cur/*' -o -path '*/new/*' \) | wc -l)

mkdir "$work/ripmime"
/usr/bin/time -o "$work/ripmime.time" -f "%e" bash -c "find '$store' -type f \( -path '*/cur/*' -o -path '*/new/*' \) \
  -exec ripmime -i {} -d '$work/ripmime' --no-nameless \; 2>/dev/null"
ripmime_seconds=$(tail -n 1 "$work/ripmime.time")

/usr/bin/time -o "$work/detach.time" -f "%e %M" build-release/src/quillbrook-cli detach --store "$store" \
  --folder "Email Folders\\$(basename "$store")" --all --to "$work/saved" --yes >/dev/null 2>"$work/detach.err" || true
result=$(tail -n 1 "$work/detach.time")
detach_seconds=${result% *}
peak_kb=${result#* }
summary=$(grep -E '^(Complete|INCOMPLETE)' "$work/detach.err" || true)
written=$(du -sb "$work/saved" | cut -f1)
attachments=$(find "$work/saved" -path '*/.quillbrook' -prune -o -type f -print | wc -l)
record=$(du -sb "$work/saved/.quillbrook" | cut -f1)

/usr/bin/time -o "$work/undo.time" -f "%e" build-release/src/quillbrook-cli undo --store "$store" \
  --from "$work/saved" --yes >/dev/null 2>"$work/undo.err" || true
undo_seconds=$(tail -n 1 "$work/undo.time")

python3 - "$emails" "$attachments" "$written" "$ripmime_seconds" "$detach_seconds" "$peak_kb" "$summary" \
  "$record" "$undo_seconds" <<'PY'
import sys
emails, attachments, written = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
rip, detach, peak_kb, summary = float(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6]), sys.argv[7]
record, undo = int(sys.argv[8]), float(sys.argv[9])
print(f"store: {emails} emails; detach: {summary}")
print(f"ripmime: {rip:.1f} s")
print(f"detach:  {detach:.1f} s  ({attachments / detach:.0f} attachments/s, {written / 1e6 / detach:.1f} MB/s written, {attachments} files)")
print(f"peak memory: {peak_kb / 1024:.0f} MB")
print(f"ratio detach / ripmime: {detach / rip:.2f}")
print(f"undo record: {record / 1e6:.2f} MB ({100 * record / written:.2f} % of the files saved)")
print(f"undo:    {undo:.1f} s  (ratio undo / ripmime: {undo / rip:.2f})")
PY
