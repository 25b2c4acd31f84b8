#!/bin/sh
# The man page, as man shows it, holds `sfx --help` and every command's and
# subcommand's --help word for word; bash completion offers the tool's
# commands and options.
# Usage: man_page_test.sh SFX SFX.1 COMPLETION.bash
set -eu
sfx=$1
page=$2
completion=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

# The page rendered as plain text, wide enough that no line wraps.
groff -man -Tascii -P-c -P-b -P-u -rLL=300n "$page" 2>"$tmp/groff.err" >"$tmp/page.txt"
if [ -s "$tmp/groff.err" ]; then
  echo "groff warns:"; cat "$tmp/groff.err"; failures=$((failures + 1))
fi

subcommands() {
  awk 'tolower($0) ~ /^subcommands:/ { on = 1; next }
       on && /^  [^ -]/ { print $1; next }
       on && !/^ / { on = 0 }'
}

# The rendered body under a heading (body text is indented by 7 columns; a
# line indented less is the next heading), without blank lines at its ends.
block() {
  awk -v h="$1" '
    !on && $0 == h { on = 1; next }
    on && $0 != "" && match($0, /^ */) && RLENGTH < 7 { exit }
    on { print substr($0, 8) }' "$tmp/page.txt" | sed -e :a -e '/^$/{$d;N;ba' -e '}' | sed '/./,$!d'
}
trim() { sed 's/[[:space:]]*$//' | sed -e :a -e '/^$/{$d;N;ba' -e '}' | sed '/./,$!d'; }

check() {  # check HEADING WORD...
  heading=$1
  shift
  "$sfx" "$@" --help | trim >"$tmp/help.txt"
  block "$heading" | trim >"$tmp/man.txt"
  if [ ! -s "$tmp/man.txt" ] || ! diff -u "$tmp/help.txt" "$tmp/man.txt" >"$tmp/diff.txt"; then
    echo "man page section \"$heading\" differs from sfx $* --help:"
    cat "$tmp/diff.txt"
    failures=$((failures + 1))
  fi
}

walk() {  # walk WORD...: every command below sfx WORD...
  for sub in $("$sfx" "$@" --help | subcommands); do
    words="$* $sub"
    check "   sfx ${words# }" "$@" "$sub"
    walk "$@" "$sub"
  done
}

check "SYNOPSIS"
walk
checked=$("$sfx" --help | subcommands | wc -l)
[ "$checked" -ge 5 ] || { echo "sfx --help lists only $checked commands"; failures=$((failures + 1)); }

# Completion: COMPREPLY for a command line, the tool found as COMP_WORDS[0].
complete_words() {
  bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _sfx; echo "${COMPREPLY[*]}"' \
    _ "$completion" "$sfx" "$@"
}
expect_completion() {  # expect_completion WANTED WORD...
  wanted=$1
  shift
  got=$(complete_words "$@")
  if [ "$got" != "$wanted" ]; then
    echo "completing \"sfx $*\": got \"$got\", wanted \"$wanted\""; failures=$((failures + 1))
  fi
}
expect_completion "pack" pa
expect_completion "init show" prefix ""
expect_completion "--sign-cert" pack --sign-c
expect_completion "--json" reg query --js

[ "$failures" -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "man page and completion match sfx --help"
