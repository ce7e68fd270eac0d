#!/usr/bin/env bash
# Installs what Quillbrook needs on Debian 12 and builds it into build/ (or $QB_BUILD_DIR).
# Extra CMake options can be passed as arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
# dbus (dbus-run-session) and libglib2.0-bin (gdbus): the tests of the command interface
# run on a session bus of their own and call it as other programs do.
# qt6-documentation-tools: qhelpgenerator, which makes the manual.
# qtkeychain-qt6-dev: the desktop keyring that remembers IMAP passwords.
# dovecot-imapd: the IMAP tests' real server, a private instance on its own ports
# (tools/dovecot-instance.sh); the system's own, if the package starts it, is not used.
# libqt6svg6: the icon engine that draws the windows' icon.
# dpkg-dev, file, desktop-file-utils: cpack's .deb (dpkg-shlibdeps) and its test.
# zlib1g-dev: unpacking the bytes an undo record keeps, within a bound.
scripts/install.sh g++ cmake make pkg-config qt6-base-dev qt6-tools-dev libgmime-3.0-dev \
  libcurl4-openssl-dev shared-mime-info python3 libqt6sql6-sqlite dbus libglib2.0-bin \
  qt6-documentation-tools qtkeychain-qt6-dev dovecot-imapd libqt6svg6 dpkg-dev file \
  desktop-file-utils zlib1g-dev

build_dir="${QB_BUILD_DIR:-build}"
# The IMAP suites' second server, Courier, runs from its packages unpacked into the build
# (it cannot be installed beside dovecot-imapd); a build of one target needs no tests.
if [ -z "${QB_BUILD_TARGET:-}" ]; then
  tools/courier-instance.sh unpack "$build_dir/courier"
fi
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE="${QB_BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
cmake --build "$build_dir" -j"$(nproc)" ${QB_BUILD_TARGET:+--target "$QB_BUILD_TARGET"}
