#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) into build-fuzz/ (or
# $FUZZ_BUILD_DIR) and runs each for $FUZZ_SECONDS seconds (default 20) on its committed seed
# corpus in fuzz/corpus/<target>/. New inputs go to a scratch directory, so the committed
# corpus changes only by hand. Arguments name the targets to run (default: all).
# FUZZ_CORPUS_OUT=dir keeps the grown corpora under dir/<target>/ instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-20}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(tessival_command_fuzz sondrel_command_fuzz image_decode_fuzz answer_json_fuzz
             ring_border_fuzz tiles_text_names_fuzz)
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSIDECARS_SANITIZE=ON -DSIDECARS_FUZZ=ON -DSIDECARS_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for t in "${targets[@]}"; do
    out=${FUZZ_CORPUS_OUT:+$FUZZ_CORPUS_OUT/$t}
    out=${out:-$scratch/$t}
    mkdir -p "$out" "$build/artifacts/$t"
    dict=()
    [ -f "$root/fuzz/dict/$t.dict" ] && dict=(-dict="$root/fuzz/dict/$t.dict")
    echo "fuzz: $t for ${seconds}s"
    if ! "$build/fuzz/$t" "$out" "$root/fuzz/corpus/$t" "${dict[@]}" \
            -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=65536 \
            -print_final_stats=1 -artifact_prefix="$build/artifacts/$t/" \
            >"$build/artifacts/$t.log" 2>&1; then
        echo "fuzz: $t FAILED; log $build/artifacts/$t.log, inputs in $build/artifacts/$t/" >&2
        tail -n 60 "$build/artifacts/$t.log" >&2
        status=1
    else
        grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|^#[0-9]+.*DONE' \
            "$build/artifacts/$t.log" | tr '\n' ' '
        echo
    fi
done
exit $status
