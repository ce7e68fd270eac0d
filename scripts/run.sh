#!/usr/bin/env bash
# Builds Quillbrook and lists every attachment of the default mail store. When there
# is no store ($MAILDIR, else ~/Maildir), a demo Maildir is made in the data folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

store="${MAILDIR:-$HOME/Maildir}"
if [ ! -d "$store" ]; then
  store="${XDG_DATA_HOME:-$HOME/.local/share}/quillbrook/demo-Maildir"
  if [ ! -d "$store" ]; then
    python3 tools/make_maildir.py "$store"
  fi
fi
# With a display, the desktop program; without one, the command-line tool's analysis.
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/src/quillbrook --store "$store" "$@"
fi
exec build/src/quillbrook-cli analyze --store "$store" --folder "Email Folders\\$(basename "$store")" "$@"
