#!/usr/bin/env bash
# Analysis speed and memory against reading the same files with cat, in the same run.
#   bench/analysis.sh [MAILDIR...]
# Without MAILDIR it makes (once) two Maildirs in ${QB_BENCH_DIR:-$HOME/.cache}:
# qb-bench-Maildir, 20,000 emails and about 2 GB, and qb-bench-Maildir-200k, 200,000
# small emails. For each store it times, best of three runs with the files in the page
# cache: cat of every email file; the first analysis (every email read, the summary
# cache written); the analysis again (the cache read); and one with --no-cache. Each
# is printed as a ratio to cat, with its peak memory against the budget of 64 MB and
# 1 KB per attachment row, and the command that repeats it. Then cat, the first
# analysis and the analysis again once each with cold caches, when the machine lets
# them be dropped (root).
set -euo pipefail
cd "$(dirname "$0")/.."
command -v /usr/bin/time >/dev/null || { sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo; $sudo apt-get install -y -q time >/dev/null; }
QB_BUILD_DIR=build-release QB_BUILD_TYPE=Release scripts/setup.sh >/dev/null

bench_dir="${QB_BENCH_DIR:-$HOME/.cache}"
stores=("$@")
if [ ${#stores[@]} -eq 0 ]; then
  stores=("$bench_dir/qb-bench-Maildir" "$bench_dir/qb-bench-Maildir-200k")
  [ -d "${stores[0]}" ] || python3 tools/make_maildir.py "${stores[0]}" --emails 20000 --average-kb 100 --seed 7
  [ -d "${stores[1]}" ] || python3 tools/make_maildir.py "${stores[1]}" --emails 200000 --average-kb 2 --seed 8
fi
# The summary cache of these runs, apart from the user's own.
export XDG_CACHE_HOME="$bench_dir/qb-bench-cache"
cache_file="$XDG_CACHE_HOME/quillbrook/maildir-summaries.sqlite"
cli=build-release/src/quillbrook-cli
out=$(mktemp)
trap 'rm -f "$out"' EXIT

echo "machine: $(nproc) processors, load average$(uptime | sed 's/.*load average//')"
drop_caches() { sync && echo 3 >/proc/sys/vm/drop_caches 2>/dev/null; }
forget_cache() { rm -f "$cache_file" "$cache_file-wal" "$cache_file-shm"; }

report=()
for store in "${stores[@]}"; do
  name=$(basename "$store")
  mail_files() { find "$store" -type f \( -path '*/cur/*' -o -path '*/new/*' \) -print0; }
  emails=$(mail_files | tr -cd '\0' | wc -c)
  bytes=$(mail_files | du -cb --files0-from=- | tail -n 1 | cut -f1)
  cat_command="find '$store' -type f \\( -path '*/cur/*' -o -path '*/new/*' \\) -print0 | xargs -0 cat >/dev/null"
  analyse=("$cli" analyze --store "$store" --folder "Email Folders\\$name" --csv)
  shown="XDG_CACHE_HOME='$XDG_CACHE_HOME' $cli analyze --store '$store' --folder 'Email Folders\\$name' --csv"

  # "seconds peak-KB" of one run of the analysis with the given extra options.
  timed() { /usr/bin/time -f "%e %M" "${analyse[@]}" "$@" 2>&1 >"$out" | tail -n 1; }
  best_of_three() { sort -n | head -n 1; }

  mail_files | xargs -0 cat >/dev/null # warm the page cache
  cat_s=$(for _ in 1 2 3; do /usr/bin/time -f "%e" bash -c "$cat_command" 2>&1; done | best_of_three)
  first=$(for _ in 1 2 3; do forget_cache; timed; done | best_of_three)
  rows=$(($(wc -l <"$out") - 1))
  again=$(for _ in 1 2 3; do timed; done | best_of_three)
  nocache=$(for _ in 1 2 3; do timed --no-cache; done | best_of_three)

  cold_cat=- cold_first=- cold_again=-
  if drop_caches; then
    cold_cat=$(/usr/bin/time -f "%e" bash -c "$cat_command" 2>&1)
    forget_cache
    drop_caches
    cold_first=$(timed)
    drop_caches
    cold_again=$(timed)
    cold_first=${cold_first% *} cold_again=${cold_again% *}
  fi
  report+=("$name $emails $bytes $rows $cat_s ${first/ /,} ${again/ /,} ${nocache/ /,} $cold_cat $cold_first $cold_again")
  echo "$name: first, again:  $shown"
  echo "$name: no cache:      $shown --no-cache"
  echo "$name: cat:           $cat_command"
done

python3 - "${report[@]}" <<'PY'
import sys
rows = [line.split() for line in sys.argv[1:]]
def run(field):
    seconds, kb = field.split(",")
    return float(seconds), int(kb) / 1024
print()
print(f"{'store':<24}{'emails':>8}{'MB':>7}{'rows':>8}{'cat s':>8}"
      f"{'first s':>9}{'xcat':>6}{'MB':>5}{'again s':>9}{'xcat':>6}{'MB':>5}"
      f"{'no-cache s':>11}{'xcat':>6}{'MB':>5}{'budget MB':>10}")
for name, emails, size, attachments, cat_s, first, again, nocache, *_ in rows:
    cat_s = float(cat_s)
    line = f"{name:<24}{int(emails):>8}{int(size) / 1e6:>7.0f}{int(attachments):>8}{cat_s:>8.2f}"
    for field in (first, again, nocache):
        seconds, mb = run(field)
        line += f"{seconds:>9.2f}{seconds / cat_s:>6.2f}{mb:>5.0f}"
    print(line + f"{64 + int(attachments) / 1024:>10.0f}")
print()
for name, emails, _, _, cat_s, first, again, _, cold_cat, cold_first, cold_again in rows:
    first_s, _ = run(first)
    again_s, _ = run(again)
    print(f"{name}: {int(emails) / first_s:.0f} emails/s first, {int(emails) / again_s:.0f} "
          f"emails/s again; per email {first_s / int(emails) * 1e6:.0f} us first, "
          f"{again_s / int(emails) * 1e6:.1f} us again")
    if cold_cat == "-":
        print(f"{name}: cold caches: not measured (the page cache cannot be dropped here)")
    else:
        cold = float(cold_cat)
        print(f"{name}: cold caches: cat {cold:.2f} s, first analysis {float(cold_first):.2f} s "
              f"({float(cold_first) / cold:.2f} x cat), again {float(cold_again):.2f} s "
              f"({float(cold_again) / cold:.2f} x cat)")
PY
