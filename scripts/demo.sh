#!/usr/bin/env bash
# Sets up and builds, then runs tessival and sondrel on the built-in meeting: a private X
# server shows a generated meeting window and a slide window, a private audio server plays
# a tone, and a summary of what both programs found is printed. Files go to ./demo-output/
# (or --output DIR). Your own desktop and sound server are not touched.
#
#   scripts/demo.sh [--no-build] [--output DIR] [--seconds N]
#                   [--display :N] [--pulse-server SERVER]
#
# --no-build skips the package check and the build and uses the programs already in
# $BUILD_DIR (default build/); --tessival PATH and --sondrel PATH choose other ones.
# --display and --pulse-server use an existing X or audio server instead of private ones.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
prepare=1
args=()
for a in "$@"; do
    if [ "$a" = "--no-build" ]; then prepare=0; else args+=("$a"); fi
done
if [ "$prepare" = 1 ]; then
    "$root/scripts/setup.sh"
    "$root/scripts/build.sh"
fi
exec /usr/bin/python3 "$root/scripts/demo.py" --tessival "$build/vision/tessival" \
    --sondrel "$build/audio/sondrel" ${args[@]+"${args[@]}"}
