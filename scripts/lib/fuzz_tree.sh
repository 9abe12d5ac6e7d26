# Sourced by tests/fuzz/run.sh and scripts/check-locks.sh --with-fuzz: the fuzz targets' build
# folder, where clang compiles the program's libraries once, with libFuzzer's and the
# sanitizers' instrumentation and the lock check, for the lock check and the fuzz targets both.

# fuzz_tree_dir ROOT: the folder, ZEM_FUZZ_BUILD or build-fuzz in the clone ROOT.
fuzz_tree_dir() {
    echo "${ZEM_FUZZ_BUILD:-$1/build-fuzz}"
}

# configure_fuzz_tree ROOT: configures it, with configure's output. A folder an older clone
# configured from tests/fuzz alone is configured afresh.
configure_fuzz_tree() {
    local dir
    dir=$(fuzz_tree_dir "$1")
    if grep -qs '^CMAKE_HOME_DIRECTORY:INTERNAL=.*/tests/fuzz$' "$dir/CMakeCache.txt"; then
        rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
    fi
    "$1/scripts/configure.sh" "$1" "$dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG= -DCMAKE_CXX_FLAGS_DEBUG= -DZEM_FUZZ=ON \
        -DZEM_THREAD_SAFETY=ON -DZEM_TESTS=OFF -DZEM_BENCH=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
}
