#!/usr/bin/env bash
# Builds the program and its tests three times (plain; AddressSanitizer with
# UndefinedBehaviorSanitizer; ThreadSanitizer), runs every test in each (with ctest, but each
# test program whole in the AddressSanitizer build), and runs the fuzz targets for a fixed
# number of runs; then cross-builds for the box (32-bit
# ARM) and runs every test again under qemu-user. ctest's summary of the armhf run is the last
# line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

# CMake's configure output is shown only when configuring fails.
configure() {
    local log
    log=$(cmake -S . "$@" 2>&1) || { printf '%s\n' "$log" >&2; return 1; }
}

build_and_test() {
    local dir=$1; shift
    configure -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$dir" -j "$jobs"
    (cd "$dir" && ctest -j "$jobs" --output-on-failure)
}

build_and_test build
tests/fuzz/run.sh

# The AddressSanitizer build runs each test program whole, all its cases in one process, so
# that what one case leaves in a singleton reaches the next; the other builds run every case
# in a process of its own through ctest, so running them one by one here too would only repeat.
configure -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEM_SANITIZE=ON -DZEM_BENCH=OFF
cmake --build build-asan -j "$jobs"
whole_run() {
    local log="$1.whole.log"
    timeout 1200 env QT_QPA_PLATFORM=offscreen "$1" >"$log" 2>&1 && return
    tail -n 60 "$log" >&2
    echo "$1 failed when run whole (log: $log)" >&2
    return 1
}
export -f whole_run
asan_programs=(build-asan/tests/*_tests)
printf '%s\n' "${asan_programs[@]}" |
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
        xargs -P "$jobs" -I{} bash -c 'whole_run {}'
echo "AddressSanitizer build: ${#asan_programs[@]} passed, 0 failed (test programs run whole)"
# A race report fails its test (exit code 66); tests/tsan.supp names the Qt frames it skips.
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp second_deadlock_stack=1" \
    build_and_test build-tsan -DZEM_TSAN=ON -DZEM_BENCH=OFF

# --- armhf: the box's own architecture, cross-built, every test under qemu-user ---
scripts/install-deps.sh --armhf
build_and_test build-armhf -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/arm-linux-gnueabihf.cmake" -DZEM_BENCH=OFF
