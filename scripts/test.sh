#!/usr/bin/env bash
# Sets up, builds, and runs every test: unit tests, process tests and the integration
# tests (which start their own X server, window manager and audio server). Then the same
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), and each
# libFuzzer target for a short time on its seed corpus (build-fuzz/, see fuzz/run.sh).
# SIDECARS_SKIP_SANITIZERS=1 or SIDECARS_SKIP_FUZZ=1 leave those steps out;
# FUZZ_SECONDS sets the time per fuzz target (default 20).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${BUILD_DIR:-$root/build}
# A failing step does not hide the later ones; the status says whether any failed.
status=0
(cd "$build" && ctest --output-on-failure -j 2 "$@") || status=1

if [ -z "${SIDECARS_SKIP_SANITIZERS:-}" ]; then
    echo "test: sanitizer build (build-asan/)"
    asan=${ASAN_BUILD_DIR:-$root/build-asan}
    # -O1 and line tables only: the usual sanitizer setting, and a quicker build.
    BUILD_DIR=$asan "$root/scripts/build.sh" -DSIDECARS_SANITIZE=ON -DSIDECARS_BENCH=OFF \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1"
    # Leaks are checked; scripts/lsan.supp is where a third-party library's allocations
    # kept for the life of the process would be suppressed.
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
    export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # Unit, process and package tests, then the integration tests about robustness (the
    # OCR quality measurements and the demos are left to the plain build: slow under ASan).
    (cd "$asan" && ctest --output-on-failure -j 2 -LE integration "$@") || status=1
    (cd "$asan" && ctest --output-on-failure -j 2 -L integration \
        -R '^(sondrel_integration_|sondrel_fault_|tessival_fault_|tessival_x11_windows)' "$@") ||
        status=1
fi

if [ -z "${SIDECARS_SKIP_FUZZ:-}" ]; then
    echo "test: fuzz targets, ${FUZZ_SECONDS:-20}s each (build-fuzz/)"
    unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
    "$root/fuzz/run.sh" || status=1
fi
exit $status
