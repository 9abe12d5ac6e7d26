#!/usr/bin/env bash
# Random key walks on the built program (the simulated box, driven through its control channel)
# for SECONDS, each from a page of its own; prints the seed of every walk that failed, with the
# seeds walked before it on the same box, and the count of walks, keys and pages reached.
# --seeds replays a list of seeds on one box, in turn. The whole log (the box's stderr with any
# sanitizer report) stays in BUILD/key-walk.log. Exits 1 when a walk failed.
# Build first, e.g. the AddressSanitizer build, configured as scripts/test.sh configures it (with
# Ninja: a folder configured otherwise is configured afresh by scripts/test.sh, and compiles
# again whole):
#   scripts/configure.sh . build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEM_SANITIZE=ON -DZEM_BENCH=OFF
#   cmake --build build-asan --target zemT57N e2e_tests
# Usage: scripts/key-walk.sh SECONDS [BUILD]        (BUILD: build-asan when not given)
#        scripts/key-walk.sh --seeds "S1 S2 ..." [BUILD]
set -euo pipefail
source "$(dirname "$0")/lib/usage.sh"
check_options scripts/key-walk.sh --seeds -- "$@"
cd "$(dirname "$0")/.."
bad_usage() {  # bad_usage WHY: an error line, then the usage
    echo "error: $1" >&2
    usage >&2
    exit 1
}
# Options in any order: --seeds and its list anywhere, the words around it SECONDS and BUILD.
unset ZEM_KEY_WALK_SEEDS
seconds=0
words=()
while (($#)); do
    if [ "$1" = --seeds ]; then
        [ $# -ge 2 ] || bad_usage "--seeds needs the list of seeds"
        export ZEM_KEY_WALK_SEEDS=$2
        shift 2
    else
        words+=("$1")
        shift
    fi
done
if [ -z "${ZEM_KEY_WALK_SEEDS+set}" ]; then
    [ ${#words[@]} -ge 1 ] || bad_usage "SECONDS or --seeds is missing"
    [[ ${words[0]} =~ ^[0-9]+$ ]] || bad_usage "SECONDS ${words[0]} is not a whole number"
    seconds=${words[0]}
    words=("${words[@]:1}")
elif [ ${#words[@]} -ge 1 ] && [[ ${words[0]} =~ ^[0-9]+$ ]]; then
    bad_usage "SECONDS ${words[0]} and --seeds: a walk for SECONDS or the seeds replayed, not both"
fi
[ ${#words[@]} -le 1 ] || bad_usage "one BUILD only, not ${words[*]}"
set -- "${words[@]}"
build=${1:-build-asan}
tests=$build/tests/e2e_tests
[ -x "$tests" ] || { echo "error: no $tests: build the e2e_tests target in $build first" >&2; exit 1; }
log=$build/key-walk.log
export ZEM_KEY_WALK_SECONDS=$seconds QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
status=0
"$tests" --gtest_also_run_disabled_tests \
    --gtest_filter='KeyWalk.DISABLED_RandomSeedsForAsLongAsGiven' >"$log" 2>&1 || status=$?
grep -E '^(key walk|  seeds walked)' "$log" || true
reports=$(grep -c -E '^(==[0-9]+==ERROR|SUMMARY): ' "$log" || true)
[ "$reports" = 0 ] || echo "sanitizer reports: $reports lines (the stacks are in $log)"
if [ $status -ne 0 ]; then
    echo "FAILED (log: $log)"
    exit 1
fi
echo "passed (log: $log)"
