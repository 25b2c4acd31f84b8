#!/usr/bin/env bash
# The setup stub under valgrind memcheck, three whole runs on a fresh
# prefix: the example setup, the same setup with its catalogue cut short
# (the error box), and the stub with no payload at all. Any memory error or
# leak makes valgrind exit 99 and the test fail.
# Usage: valgrind_stub.sh VALGRIND SFX SFX_STUB MANIFEST
set -euo pipefail
valgrind=$1 sfx=$2 stub=$3 manifest=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SFX_PREFIX=$work/prefix

"$sfx" pack "$manifest" -o "$work/setup" --stub "$stub" >/dev/null
# Cut inside the payload itself (the integrity record after it is not read
# by the stub): the catalogue at its end loses its last 3 bytes.
end=$("$sfx" dump "$work/setup" --json |
      python3 -c 'import json,sys; l=json.load(sys.stdin)["locator"]; print(l["offset"] + l["size"])')
head -c $((end - 3)) "$work/setup" >"$work/damaged"
cp "$stub" "$work/lonely"
chmod +x "$work/damaged" "$work/lonely"

failed=0 passes=0 failures=0
run() {
  local name=$1 expect=$2 status=0 ok=1
  "$valgrind" -q --leak-check=full --error-exitcode=99 --log-file="$work/$name.vg" \
    "$work/$name" 2>"$work/$name.err" || status=$?
  [ "$status" = 0 ] || ok=0
  [ ! -s "$work/$name.vg" ] || ok=0
  if [ -n "$expect" ]; then grep -q -- "$expect" "$work/$name.err" || ok=0; fi
  if [ "$ok" = 1 ]; then
    echo "$name: clean under memcheck"
    passes=$((passes + 1))
  else
    echo "$name: status $status" >&2
    cat "$work/$name.vg" "$work/$name.err" >&2
    failed=1
    failures=$((failures + 1))
  fi
}
run setup ""
run damaged "past its end"
run lonely "invalid file handle"
echo "memcheck: $passes passed, $failures failed"
exit $failed
