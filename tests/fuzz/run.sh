#!/usr/bin/env bash
# Builds the protocol fuzz target with clang (libFuzzer and AddressSanitizer) and runs it for a
# fixed number of runs from the seed frames.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${ZEM_FUZZ_BUILD:-$here/../../build-fuzz}"
runs="${ZEM_FUZZ_RUNS:-200000}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# libFuzzer and the sanitizer runtimes come with clang's compiler-rt package, which some
# installs leave out: say so plainly instead of failing deep inside the build.
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
    >"$work/probe.cpp"
if ! clang++ -fsanitize=fuzzer,address "$work/probe.cpp" -o "$work/probe" >"$work/probe.log" 2>&1; then
    cat "$work/probe.log"
    echo "fuzz: clang++ cannot link a libFuzzer target; install clang's runtime (libclang-rt-dev)" >&2
    exit 1
fi

if ! { CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Debug &&
    cmake --build "$build" -j "$(nproc)" --target fuzz_protocol; } >"$work/build.log" 2>&1; then
    tail -n 60 "$work/build.log"
    echo "fuzz: the fuzz target did not build" >&2
    exit 1
fi

mkdir "$work/corpus"
cp "$here"/seeds/* "$work/corpus"/
# The target's simulated box root goes under $work as well.
if ! TMPDIR="$work" ASAN_OPTIONS=detect_leaks=0 "$build/fuzz_protocol" -runs="$runs" \
    -max_len=4096 -seed=1 "$work/corpus" >"$work/log" 2>&1; then
    tail -n 40 "$work/log"
    exit 1
fi
grep -E "^Done|INITED" "$work/log"
