#!/usr/bin/env bash
# A build folder keeps building after CMake runs again, on a copy of the clone's sources and
# with the picture resources as the target (small, and the one that broke):
# - a CMakeLists.txt edited, or a source added to a globbed folder, then the same build;
# - a folder built by hand with make, then configured afresh with Ninja as the scripts do;
# - a build with nothing changed, also after configuring again as every start does, runs
#   nothing.
# Usage: tests/scripts/build_folder_test.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/usage.sh
check_options tests/scripts/build_folder_test.sh -- "$@"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/zem-build-folder.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
log=$tmp/log
failed() {
    echo "FAILED: build folder: $*" >&2
    tail -n 30 "$log" >&2
    exit 1
}
src=$tmp/src
mkdir "$src"
git ls-files -z --cached --others --exclude-standard |
    tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -C "$src" -xf -
target=zem_resources

# configure DIR [cmake options]: as the scripts configure.
configure() { scripts/configure.sh "$src" "$@" >>"$log" 2>&1; }
build() { cmake --build "$1" -j 2 --target "$target" >>"$log" 2>&1; }
# Whether a build of DIR runs no step: Ninja's own words when it has nothing to do.
builds_nothing() {
    local out
    out=$(cmake --build "$1" -j 2 --target "$target" 2>&1) || return 1
    echo "$out" >>"$log"
    grep -qx 'ninja: no work to do.' <<<"$out"
}

dir=$tmp/ninja
configure "$dir" || failed "the first configure"
build "$dir" || failed "the first build"
builds_nothing "$dir" || failed "a second build with nothing changed built something"
configure "$dir" || failed "configuring again"
builds_nothing "$dir" || failed "a build after configuring again built something"
touch "$src/resources/CMakeLists.txt"
build "$dir" || failed "the build after a CMakeLists.txt was edited"
touch "$src/core/build_folder_test_added.h"
build "$dir" || failed "the build after a source was added to core/"
builds_nothing "$dir" || failed "a build after the re-runs built something"

dir=$tmp/make
cmake -S "$src" -B "$dir" -G "Unix Makefiles" >>"$log" 2>&1 || failed "configuring for make"
cmake --build "$dir" -j 2 --target "$target" >>"$log" 2>&1 || failed "the build with make"
configure "$dir" || failed "configuring the make folder afresh with Ninja"
build "$dir" || failed "the Ninja build of the folder make built"
builds_nothing "$dir" || failed "a second Ninja build of the folder make built built something"
echo "passed: build folder"
