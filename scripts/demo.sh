#!/usr/bin/env bash
# The main job: builds the stub and the tool for the host (release) and the
# Win32 stub, and reports what was built.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
jobs=$(nproc)
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"

echo
echo "Built:"
find build/release build/win32 -maxdepth 3 -type f \( -name 'sfx' -o -name 'sfx-stub' -o -name 'sfx-stub.exe' \) \
  -exec ls -l {} \;
