#!/usr/bin/env bash
# Compiles every source of the program (core/main.cpp and simctl/ too) with clang's
# thread-safety analysis, in build-tsa/: a guarded word read or written without its lock, or a
# function called without a lock it requires, fails the compile. Only compiles: nothing is
# linked or run. CMAKE_BUILD_PARALLEL_LEVEL sets its jobs (else one per core).
# It goes on past a file that fails, as far as the libraries' order lets it (a library's
# generated code waits for the libraries it links).
# With --with-fuzz it compiles them in the fuzz targets' folder instead (build-fuzz/, with their
# sanitizers), where tests/fuzz/run.sh then only builds the targets: scripts/test.sh's way.
# Usage: scripts/check-locks.sh [--with-fuzz]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/usage.sh
check_options scripts/check-locks.sh --with-fuzz -- "$@"
no_words scripts/check-locks.sh "$@"
command -v clang++ >/dev/null || fail "clang++ is needed (apt-get install clang)"

dir=build-tsa
# -O0 without debug information: the analysis runs in the front end, the rest is time lost.
if [ "${1:-}" = --with-fuzz ]; then
    source scripts/lib/fuzz_tree.sh
    dir=$(fuzz_tree_dir "$PWD")
    log=$(configure_fuzz_tree "$PWD" 2>&1)
else
    log=$(scripts/configure.sh . "$dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG=-O0 -DCMAKE_CXX_FLAGS_DEBUG=-O0 \
        -DZEM_THREAD_SAFETY=ON -DZEM_TESTS=OFF -DZEM_BENCH=OFF 2>&1)
fi || {
    printf '%s\n' "$log" >&2
    exit 1
}
if ! cmake --build "$dir" -j "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}" \
    --target zem_program_objects -- -k 0; then
    echo "error: the lock contracts above do not hold (clang -Wthread-safety, in $dir/)" >&2
    exit 1
fi
echo "lock contracts: every source of the program compiles under clang -Wthread-safety"
