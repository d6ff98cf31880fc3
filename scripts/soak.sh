#!/usr/bin/env bash
# Long runs outside ctest (docs/reliability.md): tessival answers mixed commands against a
# private X server, sondrel records from a private sound server with a RESTART every few
# seconds; each checks its answers or samples and that memory stays flat.
#   scripts/soak.sh [tessival|sondrel]    both when not named; builds first
# SOAK_COMMANDS (default 10000) sets tessival's command count, SOAK_SECONDS (default 1800)
# and SOAK_RESTART_EVERY (default 10) sondrel's duration and restart interval.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
which=${1:-both}
status=0
if [ "$which" = both ] || [ "$which" = tessival ]; then
    /usr/bin/python3 "$root/tests/soak/tessival_soak.py" "$build/vision/tessival" \
        "${SOAK_COMMANDS:-10000}" || status=1
fi
if [ "$which" = both ] || [ "$which" = sondrel ]; then
    /usr/bin/python3 "$root/tests/soak/sondrel_soak.py" "$build/audio/sondrel" \
        "${SOAK_SECONDS:-1800}" "${SOAK_RESTART_EVERY:-10}" || status=1
fi
exit $status
