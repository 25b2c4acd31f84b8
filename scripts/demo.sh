#!/usr/bin/env bash
# The main job: builds the tool and the host stub (release) and the Win32 stub,
# packs the example project in examples/hello into a setup executable, runs
# it in a fresh emulated Windows machine, and shows what it installed: the
# new install directory, its removal log "_Del.log", and the registry values
# the run set. Package installation and build output go to build/demo.log.
set -euo pipefail
cd "$(dirname "$0")/.."

mkdir -p build
log=build/demo.log
: >"$log"
# Runs a step with its output in the log; on failure shows the log's end.
quietly() {
  if ! "$@" >>"$log" 2>&1; then
    echo "demo: '$*' failed; the end of $log:" >&2
    tail -n 30 "$log" >&2
    exit 1
  fi
}

echo "== Installing packages and building (output in $log)"
quietly scripts/deps.sh demo
jobs=$(nproc)
quietly cmake --preset release -DSFX_BUILD_BENCH=OFF
quietly cmake --build --preset release -j "$jobs" --target sfx sfx-stub
quietly cmake --preset win32
quietly cmake --build --preset win32 -j "$jobs"
win32_stub=build/win32/src/app/sfx-stub.exe
echo "The Win32 stub: $win32_stub, $(stat -c %s "$win32_stub") bytes"

sfx=build/release/src/tool/sfx
out=build/demo
rm -rf "$out"
mkdir -p "$out"
setup="$out/hello-setup"
prefix="$out/prefix"

echo
echo "== Packing examples/hello/manifest.json"
"$sfx" pack examples/hello/manifest.json -o "$setup"
"$sfx" verify "$setup"
"$sfx" list "$setup"

echo
echo "== Running the setup in a fresh prefix ($prefix)"
export SFX_PREFIX="$PWD/$prefix"
"$sfx" prefix init
# The main program is started detached but inherits the setup's standard
# output: the pipe ends when the setup and the programs it started are done.
status=0
"$setup" | cat || status=$?
if [ "$status" != 0 ]; then
  echo "demo: the setup ended with exit status $status" >&2
  exit "$status"
fi

installdir=$(find "$prefix/drive_c/TEMP" -mindepth 1 -maxdepth 1 -type d -iname 'cc*.tmp' | head -n 1)

echo
echo "== The install directory: C:\\$(printf '%s' "${installdir#"$prefix"/drive_c/}" | tr / '\\\\')"
find "$installdir" -type f -printf '%M %8s  %TY-%Tm-%Td %TH:%TM  %P\n' | sort -k5
echo
echo "== _Del.log"
tr -d '\r' < "$installdir/_Del.log"
echo
echo "== Started programs"
cat "$installdir/started.txt" 2>/dev/null || echo "(the main program has not reported yet)"
echo
echo "== Shared files and fonts installed"
find "$prefix/drive_c/WINDOWS" -type f -printf 'C:\\WINDOWS\\%P\n' | tr / '\\' | sort
echo
echo "== Registry"
"$sfx" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs'
"$sfx" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Fonts'
