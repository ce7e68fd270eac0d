#!/usr/bin/env bash
# quillbrook-cli's bash completion: commands, options, and the values of options that
# take a path or a column, as bash asks for them on Tab.
#
#     test_completion.sh COMPLETION_FILE PROGRAM_DIR
set -uo pipefail
completion=$1
export PATH="$2:$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0

# shellcheck source=/dev/null
source "$completion"

# complete LINE: what Tab offers at the end of LINE, sorted, one line.
complete_line() {
  local line=$1
  # Split as readline does, "=" being a word of its own.
  local split=${line//=/ = }
  read -r -a COMP_WORDS <<<"$split"
  # A new word after a space; after "=", the "=" is the word being completed.
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  _quillbrook_cli quillbrook-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

expect() {
  local line=$1 want=$2 got
  got=$(complete_line "$line")
  if [ "$got" = "$want" ]; then
    passes=$((passes + 1))
  else
    echo "FAIL: '$line' offers '$got', expected '$want'"
    failures=$((failures + 1))
  fi
}

export HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_DATA_HOME=$work/home/data
export XDG_CACHE_HOME=$work/home/cache XDG_STATE_HOME=$work/home/state
cd "$work" || exit 1
mkdir -p Saved/deep Maildir/cur Maildir/new Maildir/tmp home
touch notes.txt weekly.qbk OTHER.QBK

# Commands, as quillbrook-cli --help lists them (each of these, and words alone).
commands=" $(complete_line 'quillbrook-cli ') "
for command in analyze check-update delete detach open save settings; do
  if [[ $commands == *" $command "* ]]; then
    passes=$((passes + 1))
  else
    echo "FAIL: the commands offered,$commands, lack $command"
    failures=$((failures + 1))
  fi
done
[[ $commands =~ ^[a-z\ -]+$ ]] || { echo "FAIL: commands offered:$commands"; failures=$((failures + 1)); }
expect 'quillbrook-cli de' 'delete detach'
expect 'quillbrook-cli --v' '--version'
# Options, each command's own.
expect 'quillbrook-cli analyze --s' '--settings --sort --store'
expect 'quillbrook-cli detach --min' '--min-attachment-size --min-size'
expect 'quillbrook-cli delete --y' '--yes'
expect 'quillbrook-cli analyze --y' ''
# Values: folders, files, settings files, columns; none for a free text.
expect 'quillbrook-cli detach --all --to ' 'Maildir Saved home'
expect 'quillbrook-cli detach --to Saved/' 'Saved/deep'
expect 'quillbrook-cli analyze --store M' 'Maildir'
expect 'quillbrook-cli save --log n' 'notes.txt'
expect 'quillbrook-cli save --log=n' 'notes.txt'
expect 'quillbrook-cli save --log=' 'Maildir OTHER.QBK Saved home notes.txt weekly.qbk'
expect 'quillbrook-cli analyze --settings ' 'Maildir OTHER.QBK Saved home weekly.qbk'
expect 'quillbrook-cli open ' 'Maildir OTHER.QBK Saved home weekly.qbk'
expect 'quillbrook-cli settings ' 'show write'
expect 'quillbrook-cli settings show w' 'weekly.qbk'
expect 'quillbrook-cli settings write --e' '--escaped'
expect 'quillbrook-cli settings show --escaped w' 'weekly.qbk'
expect 'quillbrook-cli analyze --sort a' 'attachment-size'
expect 'quillbrook-cli delete --from ' ''
expect 'quillbrook-cli analyze --csv ' ''

# Every column offered for --sort is one the program takes.
columns=$(complete_line 'quillbrook-cli analyze --sort ')
[ "$(echo "$columns" | wc -w)" -eq 8 ] || { echo "FAIL: --sort offers '$columns'"; failures=$((failures + 1)); }
for column in $columns; do
  if quillbrook-cli analyze --store "$work/Maildir" --sort "$column" >/dev/null 2>"$work/err"; then
    passes=$((passes + 1))
  else
    echo "FAIL: quillbrook-cli refuses --sort $column: $(cat "$work/err")"
    failures=$((failures + 1))
  fi
done

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
