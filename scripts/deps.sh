#!/usr/bin/env bash
# Installs the Debian packages that building and testing sfxkit need, when
# they are missing. Usage: scripts/deps.sh [extra-package...]
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev libdeflate-dev zlib1g-dev nlohmann-json3-dev libcli11-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
  fonts-dejavu-core zip unzip file
  osslsigncode openssl groff-base dpkg-dev
  clang libclang-rt-14-dev libfuzzer-14-dev valgrind
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "deps: installing ${missing[*]}" >&2
  sudo=""
  if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
