#!/usr/bin/env bash
# Runs the whole test suite, the same tests CI runs: installs what the suite
# needs (Wine and both MinGW compilers included), builds the debug preset
# (AddressSanitizer and UndefinedBehaviorSanitizer) and runs every test
# through CTest, the Wine suite among them.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh test
jobs=$(nproc)
configure=$(cmake --preset debug -DSFX_I686_TESTS=ON)
# Without Wine the build leaves the Wine suite out; here that is an error,
# not a smaller suite.
if grep -q 'Wine suite: not built' <<<"$configure"; then
  grep 'Wine suite' <<<"$configure" >&2
  exit 1
fi
cmake --build --preset debug -j "$jobs"
ctest --preset debug -j "$jobs"
