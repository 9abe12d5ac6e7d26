#!/usr/bin/env bash
# Builds the protocol fuzz target with clang (libFuzzer and AddressSanitizer) and runs it for a
# fixed number of runs from the seed frames.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${ZEM_FUZZ_BUILD:-$here/../../build-fuzz}"
runs="${ZEM_FUZZ_RUNS:-200000}"

CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_protocol >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
cp "$here"/seeds/* "$work/corpus"/
# The target's simulated box root goes under $work as well.
if ! TMPDIR="$work" ASAN_OPTIONS=detect_leaks=0 "$build/fuzz_protocol" -runs="$runs" \
    -max_len=4096 -seed=1 "$work/corpus" >"$work/log" 2>&1; then
    tail -n 40 "$work/log"
    exit 1
fi
grep -E "^Done|INITED" "$work/log"
