#!/usr/bin/env bash
# Benchmarks against what users would pick instead: decoding (zlib,
# libdeflate), installing (unzip; the floor: libdeflate decoding the same
# files and writing them, deflate_extract; cp -r for information), packing
# (zip -9), the stub's peak memory against its payload's size, and the stubs'
# sizes.
#
#   scripts/bench.sh [install_bench.py options...]
#
# Builds the release preset (and the win32 preset when its cross compiler is
# installed), builds the corpus once under build/bench-corpus, and prints a
# table of ratios. Options go to bench/install_bench.py (e.g. --runs 3,
# --mem-mib 256, --no-mem, --no-pack); see its --help.
set -euo pipefail
cd "$(dirname "$0")/.."

# zip/unzip to compare with, /usr/bin/time for peak memory; hyperfine is not
# needed.
scripts/deps.sh zip unzip time python3 >&2

# Build output goes to standard error: standard output is the report.
jobs=$(nproc)
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs" --target sfx sfx-stub inflate_bench deflate_extract >&2

win32_stub=""
if command -v i686-w64-mingw32-g++ >/dev/null 2>&1; then
  if cmake --preset win32 >/dev/null && cmake --build --preset win32 -j "$jobs" --target sfx-stub >/dev/null; then
    win32_stub=build/win32/src/app/sfx-stub.exe
  else
    echo "bench: the win32 stub did not build; its size is left out" >&2
  fi
fi

exec python3 bench/install_bench.py \
  --sfx build/release/src/tool/sfx \
  --stub build/release/src/app/sfx-stub \
  --inflate-bench build/release/bench/inflate_bench \
  --deflate-extract build/release/bench/deflate_extract \
  --win32-stub "$win32_stub" \
  --cache build/bench-corpus \
  "$@"
