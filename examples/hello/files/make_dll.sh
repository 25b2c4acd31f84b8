#!/bin/sh
# Rebuilds hello.dll, the example's shared library: an empty 32-bit DLL
# whose version resource says 2.0.1.0. The output is committed; run this
# only to change it. Needs g++-mingw-w64-i686.
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/dll.c" <<'C'
int __stdcall DllMain(void* h, unsigned long reason, void* reserved) {
  (void)h; (void)reason; (void)reserved;
  return 1;
}
C

cat > "$work/version.rc" <<'RC'
1 VERSIONINFO
FILEVERSION 2,0,1,0
PRODUCTVERSION 2,0,0,0
FILEFLAGSMASK 0x3F
FILEOS 0x40004
FILETYPE 2
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "FileDescription", "sfxkit example library"
      VALUE "FileVersion", "2.0.1.0"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
RC

i686-w64-mingw32-windres -O coff "$work/version.rc" "$work/version.o"
i686-w64-mingw32-gcc -shared -s -nostdlib -Wl,--entry=0 -o hello.dll "$work/dll.c" "$work/version.o"
