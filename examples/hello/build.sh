#!/bin/sh
# Packs the example into hello-setup (next to this script), checks it, and
# lists it. Give the sfx executable as $1 (default: the debug build's).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
sfx=${1:-"$here/../../build/debug/src/tool/sfx"}
"$sfx" pack "$here/manifest.json" -o "$here/hello-setup"
"$sfx" verify "$here/hello-setup"
"$sfx" list "$here/hello-setup"
