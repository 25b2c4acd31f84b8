#!/bin/sh
# Main program of the tree example: records how it was started.
printf '%s\n' "$*" > "$(dirname "$0")/started.txt"
