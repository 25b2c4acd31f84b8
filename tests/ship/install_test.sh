#!/bin/sh
# This build tree installed (cmake --install), then packaged (cpack -G DEB)
# and unpacked with dpkg -x: each installation packs the example with no
# --stub and no stub variable, runs the host setup in a fresh emulated
# machine and, when the i686 stub is built, packs a Win32 setup; the example
# CMake consumer builds its setup against the first installation and packs
# it again only when something it packs changes.
# Usage: install_test.sh BUILD SOURCE CMAKE CPACK WIN32_STUB(ON|OFF)
set -eu
build=$1
src=$2
cmake=$3
cpack=$4
win32=$5
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
unset SFX_STUB SFX_STUB_WIN32 SFX_PREFIX
fail() { echo "FAIL: $*"; exit 1; }

use() {  # use ROOT NAME
  root=$1
  name=$2
  sfx=$root/bin/sfx
  for f in bin/sfx lib/sfxkit/sfx-stub share/man/man1/sfx.1 share/bash-completion/completions/sfx \
           lib/cmake/sfxkit/sfxkit-config.cmake lib/cmake/sfxkit/sfxkitTargets.cmake \
           lib/cmake/sfxkit/SfxkitAddSetup.cmake; do
    [ -f "$root/$f" ] || fail "$name: $f is not installed"
  done
  out=$tmp/$name
  mkdir -p "$out"
  "$sfx" pack "$src/examples/hello/manifest.json" -o "$out/hello-setup" >/dev/null
  "$sfx" verify "$out/hello-setup" >/dev/null
  SFX_PREFIX=$out/prefix "$sfx" prefix init >/dev/null
  SFX_PREFIX=$out/prefix "$out/hello-setup" || fail "$name: the host setup failed"
  find "$out/prefix/drive_c" -name readme.txt | grep -q . || fail "$name: the setup installed no readme.txt"
  if [ "$win32" = ON ]; then
    [ -f "$root/share/sfxkit/sfx-stub.exe" ] || fail "$name: the i686 stub is not installed"
    "$sfx" pack "$src/examples/hello/manifest.json" -o "$out/hello.exe" --target win32 >/dev/null
    "$sfx" verify "$out/hello.exe" | grep -qx 'signature: none' || fail "$name: verify of the Win32 setup"
    [ "$(head -c 2 "$out/hello.exe")" = MZ ] || fail "$name: the Win32 setup is no PE file"
  fi
  echo "$name: packs and runs setups"
}

"$cmake" --install "$build" --prefix "$tmp/p" >/dev/null
use "$tmp/p" install

if [ "$win32" = ON ] && command -v i686-w64-mingw32-gcc >/dev/null; then
  cp -r "$src/examples/cmake-consumer" "$tmp/consumer"
  "$cmake" -S "$tmp/consumer" -B "$tmp/consumer/build" --toolchain "$tmp/consumer/toolchain-i686-mingw.cmake" \
    -DCMAKE_PREFIX_PATH="$tmp/p" >/dev/null
  "$cmake" --build "$tmp/consumer/build" >/dev/null
  setup=$tmp/consumer/build/hello-setup.exe
  "$tmp/p/bin/sfx" verify "$setup" >/dev/null
  "$tmp/p/bin/sfx" list "$setup" | grep -q hello.exe || fail "consumer: hello.exe is not in the setup"
  touch "$tmp/marker"
  "$cmake" --build "$tmp/consumer/build" >/dev/null
  [ -z "$(find "$setup" -newer "$tmp/marker")" ] || fail "consumer: packed again with nothing changed"
  echo "changed" >>"$tmp/consumer/readme.txt"
  "$cmake" --build "$tmp/consumer/build" >/dev/null
  [ -n "$(find "$setup" -newer "$tmp/marker")" ] || fail "consumer: a changed packed file did not pack again"
  echo "consumer: builds its setup, again only when a packed file changes"
fi

mkdir -p "$tmp/deb"
(cd "$tmp/deb" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/deb" >"$tmp/cpack.log" 2>&1) ||
  { cat "$tmp/cpack.log"; fail "cpack -G DEB"; }
deb=$(find "$tmp/deb" -maxdepth 1 -name '*.deb')
[ -n "$deb" ] || fail "cpack made no .deb"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libsqlite3-0 libdeflate0 libstdc++6; do
  echo "$depends" | grep -q "$lib" || fail "the package does not depend on $lib: $depends"
done
dpkg-deb -c "$deb" >"$tmp/contents"
grep -q ' \./usr/bin/sfx$' "$tmp/contents" || fail "the package holds no usr/bin/sfx"
dpkg -x "$deb" "$tmp/root"
use "$tmp/root/usr" deb
echo "package depends on: $depends"
