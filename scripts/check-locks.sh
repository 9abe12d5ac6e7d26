#!/usr/bin/env bash
# Compiles every source of the program (core/main.cpp and simctl/ too) with clang's
# thread-safety analysis, in build-tsa/: a guarded word read or written without its lock, or a
# function called without a lock it requires, fails the compile. Only compiles: nothing is
# linked or run. CMAKE_BUILD_PARALLEL_LEVEL sets its jobs (else one per core).
# It goes on past a file that fails, as far as the libraries' order lets it (a library's
# generated code waits for the libraries it links). Then clang-query looks through the same
# sources for a guarded C array, which the analysis cannot follow (scripts/lib/guarded_arrays.sh).
# With --with-fuzz it compiles them in the fuzz targets' folder instead (build-fuzz/, with their
# sanitizers), where tests/fuzz/run.sh then only builds the targets: scripts/test.sh's way.
# Usage: scripts/check-locks.sh [--with-fuzz]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/usage.sh
source scripts/lib/guarded_arrays.sh
check_options scripts/check-locks.sh --with-fuzz -- "$@"
no_words scripts/check-locks.sh "$@"
command -v clang++ >/dev/null || fail "clang++ is needed (apt-get install clang)"
command -v clang-query >/dev/null || fail "clang-query is needed (apt-get install clang-tools)"

dir=build-tsa
# -O0 without debug information: the analysis runs in the front end, the rest is time lost.
if [ "${1:-}" = --with-fuzz ]; then
    source scripts/lib/fuzz_tree.sh
    dir=$(fuzz_tree_dir "$PWD")
    log=$(configure_fuzz_tree "$PWD" 2>&1)
else
    log=$(scripts/configure.sh . "$dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG=-O0 -DCMAKE_CXX_FLAGS_DEBUG=-O0 \
        -DZEM_THREAD_SAFETY=ON -DZEM_TESTS=OFF -DZEM_BENCH=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
        2>&1)
fi || {
    printf '%s\n' "$log" >&2
    exit 1
}
jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
if ! cmake --build "$dir" -j "$jobs" --target zem_program_objects -- -k 0; then
    echo "error: the lock contracts above do not hold (clang -Wthread-safety, in $dir/)" >&2
    exit 1
fi
# The program's sources as the build compiled them, a few to each clang-query, $jobs at once.
mapfile -t sources < <(sed -n 's/^  "file": "\(.*\)",\{0,1\}$/\1/p' "$dir/compile_commands.json" |
    grep -v '/autogen/\|_autogen/' | sort -u)
[ ${#sources[@]} -gt 0 ] || fail "no source in $dir/compile_commands.json"
export -f guarded_arrays
export guarded_array_matcher
if ! printf '%s\0' "${sources[@]}" |
    xargs -0 -n 8 -P "$jobs" bash -c 'guarded_arrays -p "$0" "$@"' "$dir"; then
    echo "error: the lock contracts above do not hold (guarded C arrays, in $dir/)" >&2
    exit 1
fi
echo "lock contracts: every source of the program compiles under clang -Wthread-safety," \
    "and no guarded C array"
