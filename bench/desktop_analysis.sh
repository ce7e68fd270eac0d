#!/usr/bin/env bash
# The desktop program's analysis against the command-line tool's on the same store,
# warm cache, same run.   bench/desktop_analysis.sh [MAILDIR]
# Without MAILDIR it uses (and makes once) the Maildir of bench/analysis.sh. Prints
# both times (best of three runs each) and their ratio, the desktop program's start-up
# time to its first paint and its memory when idle and after the analysis. Runs on the
# offscreen platform unless QT_QPA_PLATFORM says otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
QB_BUILD_DIR=build-release QB_BUILD_TYPE=Release scripts/setup.sh >/dev/null

store="${1:-${QB_BENCH_DIR:-$HOME/.cache}/qb-bench-Maildir}"
if [ ! -d "$store" ]; then
  python3 tools/make_maildir.py "$store" --emails 20000 --average-kb 100 --seed 7
fi
name=$(basename "$store")
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT

best() { sort -n | head -n 1; }
find "$store" -type f \( -path '*/cur/*' -o -path '*/new/*' \) -print0 | xargs -0 cat >/dev/null
cli_seconds=$(for _ in 1 2 3; do
  /usr/bin/time -f "%e" build-release/src/quillbrook-cli analyze --store "$store" \
    --folder "Email Folders\\$name" --csv 2>&1 >/dev/null | tail -n 1
done | best)
runs=()
for _ in 1 2 3; do
  runs+=("$(XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} \
    build-release/bench/desktop_analysis_bench "$store" 2>/dev/null)")
done
desktop_seconds=$(printf '%s\n' "${runs[@]}" | grep '^analysis:' | awk '{print $2}' | best)

# The desktop program's figures from its best run.
for run in "${runs[@]}"; do
  if grep -q "^analysis: $desktop_seconds s" <<<"$run"; then echo "$run"; break; fi
done
echo "command-line analysis: ${cli_seconds} s (best of 3)"
echo "desktop analysis:      ${desktop_seconds} s (best of 3)"
python3 -c "import sys; print(f'ratio desktop / command line: {float(sys.argv[1]) / float(sys.argv[2]):.2f}')" \
  "$desktop_seconds" "$cli_seconds"
