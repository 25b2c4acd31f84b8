#!/bin/sh
# Prepares the Wine prefix that every case of the Wine suite starts from (a
# case works on a copy): booted once, with what a real Windows machine has and
# a fresh prefix lacks, and with the settings a headless test run needs.
# Usage: make_prefix.sh WINE64 WINESERVER DIR
# Does nothing when DIR holds a prefix made by this script for the same Wine.
# Everything Wine prints goes to standard output, which CTest keeps in its log:
# a boot that fails on a fresh machine leaves its reasons there.
set -eu
wine64=$1 wineserver=$2 dir=$3

stamp="$dir/.sfx-template"
version=$("$wine64" --version)
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; then
  exit 0
fi
rm -rf "$dir"
mkdir -p "$(dirname "$dir")"

export WINEPREFIX="$dir"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

echo "Booting $dir with $version"
"$wine64" wineboot -i 2>&1
reg() { echo "reg add $*"; "$wine64" reg add "$@" /f 2>&1; }
# Every Windows installation has the shared-DLL count key.
reg 'HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs'
# A crash ends the program instead of waiting for someone to close a dialog.
reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
# The calls whose arguments the suite reads from the relay trace (runs with
# WINEDEBUG=+relay): the error box's text, title and style, and the command
# lines handed to the platform.
reg 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'user32.MessageBoxA;kernel32.WinExec'
"$wineserver" -w 2>&1
echo "$version" > "$stamp"
