#!/usr/bin/env bash
# The main job: builds the tool and the host stub (release) and the Win32 stub,
# packs the example project in examples/hello into a setup executable, runs
# it in a fresh emulated Windows machine, and shows what it installed: the
# new install directory, its removal log "_Del.log", and the registry values
# the run set.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
jobs=$(nproc)
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
if command -v i686-w64-mingw32-g++ >/dev/null; then
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 -j "$jobs"
fi

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
"$setup"
echo "exit status: $?"

# The main program is started detached; give it a moment to leave its mark.
installdir=$(find "$prefix/drive_c/TEMP" -mindepth 1 -maxdepth 1 -type d -iname 'cc*.tmp' | head -n 1)
for _ in $(seq 50); do
  [ -f "$installdir/started.txt" ] && break
  sleep 0.1
done

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
