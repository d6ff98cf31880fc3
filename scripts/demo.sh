#!/usr/bin/env bash
# Sets up, builds, and runs the programs on built-in inputs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${BUILD_DIR:-$root/build}
echo "== tessival --selftest"
"$build/vision/tessival" --selftest || true
