#!/usr/bin/env bash
# Sets up, builds, and runs every test: unit tests, process tests and the integration
# tests (which start their own X server, window manager and audio server).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${BUILD_DIR:-$root/build}
cd "$build"
ctest --output-on-failure -j 2 "$@"
