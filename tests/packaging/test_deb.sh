#!/usr/bin/env bash
# The Debian package that cpack makes of a build: its control fields, its files, and the
# programs run from it unpacked, which find their manual and data from where they lie
# and write nothing beside themselves.
#
#     test_deb.sh BUILD_DIR VERSION
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$work"/out/quillbrook_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no single .deb in $(ls "$work/out")"
deb=${debs[0]}
echo "made $(basename "$deb"), $(stat -c %s "$deb") bytes"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quillbrook ] || fail "Package is $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version is $(field Version), not $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture $(field Architecture)"
[ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] || fail "no Maintainer or Description"
depends=$(field Depends)
echo "Depends: $depends"
# What the linker sees (from dpkg-shlibdeps) and the plugins that Qt loads by name.
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6help6 libqt6dbus6 \
  libqt6sql6 libgmime-3.0-0 libcurl4 libqt6keychain1 libqt6sql6-sqlite libqt6svg6; do
  [[ ", $depends," =~ ", $package"[\ ,] ]] || fail "Depends lacks $package"
done
# Every dependency names a real package: each is installed here, where the programs run.
for package in $(echo "$depends" | tr ',|' '\n\n' | sed 's/(.*//; s/ //g'); do
  dpkg-query -W "$package" >/dev/null 2>&1 || fail "Depends names $package, which is not installed"
done

# The files, all under /usr, the programs stripped.
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/files"
for file in /usr/bin/quillbrook /usr/bin/quillbrook-cli \
  /usr/share/quillbrook/Quillbrook.qch /usr/share/quillbrook/Quillbrook.qhc \
  /usr/share/applications/quillbrook.desktop \
  /usr/share/icons/hicolor/scalable/apps/quillbrook.svg \
  /usr/share/mime/packages/quillbrook.xml \
  /usr/share/bash-completion/completions/quillbrook-cli \
  /usr/share/man/man1/quillbrook.1 /usr/share/man/man1/quillbrook-cli.1; do
  grep -qx "$file" "$work/files" || fail "the package lacks $file"
done
outside=$(grep -v -e '^/$' -e '^/usr/$' -e '^/usr/bin/' -e '^/usr/share/' "$work/files" || true)
[ -z "$outside" ] || fail "files outside /usr/bin and /usr/share: $outside"

root=$work/root
dpkg-deb -x "$deb" "$root"
for program in quillbrook quillbrook-cli; do
  file "$root/usr/bin/$program" | grep -q ', stripped' || fail "$program is not stripped"
done
desktop-file-validate "$root/usr/share/applications/quillbrook.desktop" ||
  fail "the desktop entry is not valid"
# The collection lists the manual by a path relative to itself, so that it is found
# wherever the two are installed.
manual=$(python3 -c 'import sqlite3, sys
print(*[row[0] for row in sqlite3.connect(sys.argv[1]).execute("SELECT FilePath FROM NamespaceTable")])' \
  "$root/usr/share/quillbrook/Quillbrook.qhc")
[ "$manual" = Quillbrook.qch ] || fail "the help collection names the manual as '$manual'"

# The unpacked programs, with a home of their own.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_DATA_HOME=$work/home/data
export XDG_CACHE_HOME=$work/home/cache XDG_STATE_HOME=$work/home/state
mkdir -p "$HOME"
cli=$root/usr/bin/quillbrook-cli
"$cli" --help | grep -q '^Usage: quillbrook-cli COMMAND' || fail "quillbrook-cli --help"
"$cli" --version | grep -qx "Quillbrook $version (release .*)" || fail "quillbrook-cli --version"
QT_QPA_PLATFORM=offscreen "$root/usr/bin/quillbrook" --help | grep -q 'quillbrook' ||
  fail "quillbrook --help"

# A Maildir of one email with one attachment: listed, then saved with a log.
mail=$work/Maildir
mkdir -p "$mail"/{cur,new,tmp}
printf '%s\r\n' 'From: Ann <ann@example.org>' 'To: bob@example.org' 'Subject: Figures' \
  'Date: Tue, 3 Sep 2024 10:00:00 +0000' 'Message-ID: <1@example.org>' 'MIME-Version: 1.0' \
  'Content-Type: multipart/mixed; boundary="b1"' '' '--b1' \
  'Content-Type: text/plain; charset=us-ascii' '' 'See attached.' '--b1' \
  'Content-Type: text/csv; name="figures.csv"' \
  'Content-Disposition: attachment; filename="figures.csv"' \
  'Content-Transfer-Encoding: base64' '' "$(printf 'a,b\n1,2\n' | base64)" '--b1--' \
  >"$mail/cur/1725357600.1.host:2,S"
"$cli" analyze --store "$mail" --csv >"$work/rows.csv" || fail "analyze exited with $?"
grep -q 'figures.csv' "$work/rows.csv" || fail "analyze did not list the attachment: $(cat "$work/rows.csv")"
"$cli" save --store "$mail" --all --to "$work/saved" --log "$work/job.csv" --yes >/dev/null ||
  fail "save exited with $?"
saved=$(find "$work/saved" -type f -name '*.csv')
[ -n "$saved" ] && [ "$(cat "$saved")" = "$(printf 'a,b\n1,2')" ] || fail "the saved file: '$saved'"
# An installed program fills the user's language file, never one beside itself, even
# when run by root, who could write there.
[ -s "$XDG_DATA_HOME/quillbrook/Languages/English.ini" ] || fail "no language file in the data folder"
[ ! -e "$root/usr/bin/Languages" ] || fail "the program wrote its language file beside itself"
[ -z "$(find "$root" -newer "$deb" -not -type d)" ] ||
  fail "the program wrote into its installation: $(find "$root" -newer "$deb" -not -type d)"
