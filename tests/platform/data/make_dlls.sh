#!/bin/sh
# Rebuilds the small PE files the version-resource tests read. The outputs
# are committed, so the tests never need the cross compilers; run this only
# to change them. Needs g++-mingw-w64-i686 and g++-mingw-w64-x86-64.
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

# version.rc FILEVERSION PRODUCTVERSION
rc() {
  cat > "$work/$1.rc" <<RC
1 VERSIONINFO
FILEVERSION $2
PRODUCTVERSION $3
FILEFLAGSMASK 0x3F
FILEOS 0x40004
FILETYPE 2
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "FileDescription", "sfxkit test library"
      VALUE "FileVersion", "$2"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
RC
}

# A resource section without a version: one RCDATA item.
cat > "$work/noversion.rc" <<'RC'
1 RCDATA
BEGIN
  "no version here\0"
END
RC

build() {  # target-prefix rc-name output
  "$1-windres" -O coff "$work/$2.rc" "$work/$2-$1.o"
  "$1-gcc" -shared -s -nostdlib -Wl,--entry=0 -o "$3" "$work/dll.c" "$work/$2-$1.o"
}

rc v32 "1,2,3,4" "9,8,7,6"
rc v64 "5,6,7,8" "1,0,0,0"
build i686-w64-mingw32 v32 ver32.dll
build x86_64-w64-mingw32 v64 ver64.dll
build i686-w64-mingw32 noversion noversion32.dll
i686-w64-mingw32-gcc -shared -s -nostdlib -Wl,--entry=0 -o nores32.dll "$work/dll.c"
ls -l ver32.dll ver64.dll noversion32.dll nores32.dll
