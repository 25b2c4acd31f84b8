#!/usr/bin/env bash
# Installs the Debian packages a job needs, when they are missing.
#
# Usage: scripts/deps.sh GROUP|PACKAGE...
#   build     the host build of the tool and the stub
#   test      build, plus what the whole suite needs: GoogleTest, both MinGW
#             compilers (the i686 product stub and the x86-64 stub of the Wine
#             suite), Wine, and the font and tools the tests use (signing,
#             the man page, the Debian package), and the ja_JP.UTF-8 locale
#             (Wine takes its code page from the locale: the Japanese run)
#   demo      build, plus the i686 cross compiler and the example's font
#   fuzz      build, plus clang and libFuzzer
#   bench     build, plus Google Benchmark, zlib and the tools the
#             benchmark compares with (zip, unzip, time, python3)
# Any other word is taken as a package name.
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: scripts/deps.sh GROUP|PACKAGE... (groups: build test demo fuzz bench)" >&2
  exit 2
fi

build=(cmake g++ make pkg-config libsqlite3-dev libdeflate-dev nlohmann-json3-dev libcli11-dev)
mingw=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686)

packages=()
for word in "$@"; do
  case "$word" in
    build) packages+=("${build[@]}") ;;
    test) packages+=("${build[@]}" "${mingw[@]}" libgtest-dev libgmock-dev wine wine64
                     fonts-dejavu-core file osslsigncode openssl groff-base dpkg-dev locales) ;;
    demo) packages+=("${build[@]}" g++-mingw-w64-i686 fonts-dejavu-core) ;;
    fuzz) packages+=("${build[@]}" clang libclang-rt-14-dev libfuzzer-14-dev) ;;
    bench) packages+=("${build[@]}" libbenchmark-dev zlib1g-dev zip unzip time python3) ;;
    *) packages+=("$word") ;;
  esac
done

sudo=""
if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "deps: installing ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

for word in "$@"; do
  if [ "$word" = test ] && ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
    echo "deps: generating the ja_JP.UTF-8 locale" >&2
    $sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
  fi
done
