#!/bin/sh
# Writes the sfx man page from the tool's own help: `sfx --help`, then every
# command's and subcommand's `--help`, each as a no-fill roff block, so the
# page says exactly what the tool it ships with says.
# Usage: sfx-manpage.sh SFX VERSION OUT
set -eu
sfx=$1
version=$2
out=$3

# The subcommand names a help text lists.
subcommands() {
  awk 'tolower($0) ~ /^subcommands:/ { on = 1; next }
       on && /^  [^ -]/ { print $1; next }
       on && !/^ / { on = 0 }'
}

# Text as roff: backslashes and minus signs kept literal, a leading dot or
# apostrophe kept from being read as a request.
verbatim() {
  printf '.nf\n'
  sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
  printf '.fi\n'
}

section() {  # section TITLE WORD...
  title=$1
  shift
  help=$("$sfx" "$@" --help)
  printf '.SS "%s"\n' "$title"
  printf '%s\n' "$help" | verbatim
  for sub in $(printf '%s\n' "$help" | subcommands); do
    (section "$title $sub" "$@" "$sub")  # a subshell: sh has no local variables
  done
}

tmp="$out.tmp"
{
  printf '.TH SFX 1 "" "sfxkit %s" "User Commands"\n' "$version"
  printf '.SH NAME\nsfx \\- build, inspect, check and unpack self\\-extracting setups\n'
  printf '.SH SYNOPSIS\n'
  main=$("$sfx" --help)
  printf '%s\n' "$main" | verbatim
  printf '.SH COMMANDS\n'
  for cmd in $(printf '%s\n' "$main" | subcommands); do
    section "sfx $cmd" "$cmd"
  done
  printf '.SH FILES\n'
  printf '.TP\n.I PREFIX/lib/sfxkit/sfx\\-stub\nthe host stub\n'
  printf '.TP\n.I PREFIX/share/sfxkit/sfx\\-stub.exe\nthe Win32 stub\n'
  printf '.SH SEE ALSO\n.BR osslsigncode (1)\n'
} >"$tmp"
mv "$tmp" "$out"
