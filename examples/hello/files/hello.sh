#!/bin/sh
# The example's main program. The setup starts it last, with " /UNS"; it
# records what it received beside itself in the install directory.
dir=$(dirname "$0")
printf 'hello.sh started with: %s\n' "$*" > "$dir/started.txt"
