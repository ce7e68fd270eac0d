#!/usr/bin/env bash
# Makes the manual's screenshots (help/html/images/*.png) again from the program's real
# windows: builds quillbrook-screenshots and runs it under Xvfb on a small demo Maildir,
# with settings of its own. Needs xvfb and a configured build folder (default build/).
# CI has no display and does not run this: the images are kept in the repository.
#
#     help/make-screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
cmake --build "$build" --target quillbrook-screenshots -j2

work="${TMPDIR:-/tmp}/quillbrook-screenshots"
rm -rf "$work"
mkdir -p "$work/config/quillbrook" "$work/data" "$work/home"
trap 'rm -rf "$work"' EXIT
# No automatic update check while the pictures are made: the next one is due in 30 days
# (a day number counted from 30 December 1899), as after a first check.
next_check=$(python3 -c 'import datetime as d; print((d.date.today() + d.timedelta(30) - d.date(1899, 12, 30)).days)')
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vellmor Software\\Quillbrook]\n"updateDate"=dword:%08x\n' \
  "$next_check" > "$work/config/quillbrook/machine.reg"

# Each round starts afresh: the detach it shows changes the demo mail.
shoot() {
  rm -rf "$work/config/quillbrook/user.reg" "$work/Saved" "$work/Maildir"
  python3 help/screenshots/demo_maildir.py "$work/Maildir"
  HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    LANG=en_GB.UTF-8 LC_ALL= QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x800x24" \
    "$build/help/quillbrook-screenshots" "$PWD/help/html/images" "$work/Maildir" \
    "$build/src/Quillbrook.qhc" "$work"
}
# The help window shows the manual, which shows the pictures: the manual is made from
# the first pictures, then everything is taken again with it, and the manual made again.
shoot
cmake --build "$build" --target manual -j2
shoot
cmake --build "$build" --target manual -j2
