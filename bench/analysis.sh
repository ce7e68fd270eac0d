#!/usr/bin/env bash
# Analysis speed against reading the same files with cat, warm cache, same run.
#   bench/analysis.sh [MAILDIR]
# Without MAILDIR it makes (once) a Maildir of 20,000 emails and about 2 GB in
# ${QB_BENCH_DIR:-$HOME/.cache}/qb-bench-Maildir. Prints emails/s, MB/s, peak memory
# and the ratio of analysis time to cat time (best of three runs each).
set -euo pipefail
cd "$(dirname "$0")/.."
command -v /usr/bin/time >/dev/null || { sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo; $sudo apt-get install -y -q time >/dev/null; }
QB_BUILD_DIR=build-release QB_BUILD_TYPE=Release scripts/setup.sh >/dev/null

store="${1:-${QB_BENCH_DIR:-$HOME/.cache}/qb-bench-Maildir}"
if [ ! -d "$store" ]; then
  python3 tools/make_maildir.py "$store" --emails 20000 --average-kb 100 --seed 7
fi
name=$(basename "$store")

mail_files() { find "$store" -type f \( -path '*/cur/*' -o -path '*/new/*' \) -print0; }
emails=$(mail_files | tr -cd '\0' | wc -c)
bytes=$(mail_files | du -cb --files0-from=- | tail -n 1 | cut -f1)

best() { sort -n | head -n 1; }
mail_files | xargs -0 cat >/dev/null # warm the cache
cat_seconds=$(for _ in 1 2 3; do
  /usr/bin/time -f "%e" bash -c "find '$store' -type f \( -path '*/cur/*' -o -path '*/new/*' \) -print0 | xargs -0 cat >/dev/null" 2>&1
done | best)
results=$(for _ in 1 2 3; do
  /usr/bin/time -f "%e %M" build-release/src/quillbrook-cli analyze --store "$store" \
    --folder "Email Folders\\$name" --csv 2>&1 >/tmp/qb-bench-$$.csv | tail -n 1
done | sort -n | head -n 1)
analysis_seconds=${results% *}
peak_kb=${results#* }
attachments=$(($(wc -l </tmp/qb-bench-$$.csv) - 1))
rm -f /tmp/qb-bench-$$.csv

python3 - "$emails" "$bytes" "$attachments" "$cat_seconds" "$analysis_seconds" "$peak_kb" <<'PY'
import sys
emails, size, attachments = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
cat_s, analysis_s, peak_kb = float(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6])
print(f"store: {emails} emails, {size / 1e6:.0f} MB, {attachments} attachments")
print(f"cat:      {cat_s:.2f} s")
print(f"analysis: {analysis_s:.2f} s  ({emails / analysis_s:.0f} emails/s, {size / 1e6 / analysis_s:.0f} MB/s)")
print(f"peak memory: {peak_kb / 1024:.0f} MB (budget {150 + attachments / 1024:.0f} MB)")
print(f"ratio analysis / cat: {analysis_s / cat_s:.2f}")
PY
