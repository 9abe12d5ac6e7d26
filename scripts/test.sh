#!/usr/bin/env bash
# Builds the program and its tests three times (plain; AddressSanitizer with
# UndefinedBehaviorSanitizer; ThreadSanitizer), runs every test in each (with ctest; in the
# AddressSanitizer build each test program whole instead, but for those that start the program
# itself), runs the scripts' own tests (tests/scripts) and the fuzz targets for a fixed number
# of runs; then cross-builds for the box (32-bit ARM) and runs every test again under qemu-user.
# Each stage's time follows it ("stage NAME: N min"); a run that passed ends with its verdict,
# "all stages passed in N min: plain N, ..." (each stage's count of tests). SIGTERM, SIGHUP or
# Ctrl-C end the whole run, its builds, tests and the boxes they start, and free build/'s lock;
# under nohup a hang-up ends nothing. Before the builds it checks the lock contracts with clang
# (scripts/check-locks.sh --with-fuzz: the program's libraries compiled once, for the check and
# the fuzz targets), whose refusal of known lock faults the native builds' tests check. Tests
# that wait more than they compute run several at once, the longest first (the armhf tests two
# per core, at twice their build's time factor). The armhf build runs from the start at the
# lowest priority, beside the other stages, in the time they leave idle.
# On a slow or busy machine, ZEM_TEST_TIME_FACTOR=N scripts/test.sh (N a number of at least 1,
# at most 3 decimals)
# multiplies the tests' bounds that only catch a hang by N in every build.
# Usage: scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/usage.sh
source scripts/lib/build_type.sh
check_options scripts/test.sh -- "$@"
no_words scripts/test.sh "$@"
# The run goes on in a process group of its own, which a signal to this script ends whole.
if [ -z "${ZEM_TEST_RUN_GROUP:-}" ]; then
    source scripts/lib/in_group.sh
    export ZEM_TEST_RUN_GROUP=1
    in_group scripts/test.sh "$@"
    exit
fi
unset ZEM_TEST_RUN_GROUP
# Every wall-clock bound of the tests that only catches a hang (a reply that never comes, a
# thread that never ends: the tests' own waits, the page sessions' watchdog, ctest's 120 s per
# case, `within` in tests/scripts, the AddressSanitizer build's 20 minutes per program) is
# multiplied by ZEM_TEST_TIME_FACTOR, set here for each build: the sanitizer builds and qemu run
# several times slower than the plain one, and the plain build's tests run 8 at a time. One set
# for this script (a slow or busy machine) multiplies each build's factor.
source scripts/lib/time_factor.sh
base_factor=$(time_factor_thousandths) || exit 1
time_factor() {
    factor_th=$(($1 * base_factor))
    export ZEM_TEST_TIME_FACTOR=$((factor_th / 1000)).$(printf '%03d' $((factor_th % 1000)))
}

scripts/install-deps.sh
# Builds run CMAKE_BUILD_PARALLEL_LEVEL jobs when it is set, as scripts/run-sim.sh does, else one
# per core; the tests' parallelism follows the cores only.
jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
cores=$(nproc)
# Natively most tests wait on the box's own timings (its tick, start-ups, bounds of seconds) far
# longer than they compute, so ctest runs at least 8 at once, as on an 8-core machine: on 2 cores
# the plain build's tests take a minute and a half instead of four. Under qemu most compute more
# than they wait, but the longest wait on timers: two per core, the longest first, with twice
# the time factor (8 at once on 2 cores, at the same factor, made the slowest page tests time
# out). The AddressSanitizer build's programs compute more than they wait: one per core, the
# longest first (on 2 cores: 187 s, against 206 in the old order and 234 two per core).
test_jobs=$((cores > 8 ? cores : 8))
busy_jobs=$((2 * cores))

# stage NAME: the time the stage before took, and NAME's start, on a line of their own.
stage_name= stage_start=$SECONDS
stage() {
    [ -z "$stage_name" ] ||
        awk -v n="$stage_name" -v s=$((SECONDS - stage_start)) \
            'BEGIN { printf "stage %s: %.1f min\n", n, s / 60 }'
    stage_name=$1 stage_start=$SECONDS
    [ -z "$stage_name" ] || echo "stage $stage_name: started $(date -u +%H:%M:%S)"
}

# Each stage's count of tests, for the verdict line that ends a run that passed: a stage that
# fails ends the run before it.
verdict=()
# logged LOG COMMAND...: COMMAND, its output shown and kept in LOG.
logged() {
    local log=$1
    shift
    "$@" | tee "$log"
}
# out_of LOG: N of ctest's summary in LOG, "100% tests passed, 0 tests failed out of N".
out_of() {
    local n
    n=$(sed -n 's/^100% tests passed, 0 tests failed out of \([0-9][0-9]*\)$/\1/p' "$1" | tail -n 1)
    echo "${n:-?}"
}
# count_lines PATTERN LOG: how many of LOG's lines match PATTERN (grep -E).
count_lines() { grep -cE "$1" "$2" || true; }
# ctest_in DIR [ctest options]: ctest in DIR, its output also in DIR/ctest-output.log.
ctest_in() {
    local dir=$1
    shift
    (cd "$dir" && ctest "$@") | tee "$dir/ctest-output.log"
}

# CMake's configure output is shown only when configuring fails; a change of the folder's
# build type is said.
configure() {
    local log type
    for type in "$@"; do
        [[ $type != -DCMAKE_BUILD_TYPE=* ]] || say_type_change "$1" "${type#*=}"
    done
    log=$(scripts/configure.sh . "$@" 2>&1) || { printf '%s\n' "$log" >&2; return 1; }
}

# Warnings stay warnings in every build, so that a user's build type or compiler never refuses
# one; the plain and the box's builds here fail when their output holds one. A fresh clone
# compiles every file, so CI sees them all; a build that compiles only what changed sees the
# warnings of what it compiles, and the objects that warned are removed, so the next run
# compiles them again and fails again.
build_warning_free() {
    local dir=$1 log=$1/build-output.log
    cmake --build "$dir" -j "$jobs" 2>&1 | tee "$log"
    if grep -qi 'warning:' "$log"; then
        grep -i 'warning:' "$log" >&2
        # Ninja prints a step's line, then its output, when the step ends.
        awk '/^\[[0-9]+\/[0-9]+\] / { obj = $2 == "Building" ? $NF : "" }
             tolower($0) ~ /warning:/ && obj != "" { print obj; obj = "" }' "$log" |
            (cd "$dir" && xargs -r rm -f --)
        echo "error: the build of $dir/ has the warnings above (its output is in $log)" >&2
        return 1
    fi
}

# longest_first DIR: ctest starts the tests that took longest first, by their times in its cost
# data; a folder without any (a fresh clone's) takes the plain build's, where the same tests
# ran first.
longest_first() {
    local costs=Testing/Temporary/CTestCostData.txt
    [ "$1" = build ] || [ -f "$1/$costs" ] || [ ! -f "build/$costs" ] ||
        { mkdir -p "$1/${costs%/*}" && cp "build/$costs" "$1/$costs"; }
}

# The plain and the box's builds compile the program with line tables only (-g1), enough for a
# failure's stack, as the tests' own code and the sanitizer builds already are: about a sixth
# less compile time per file. build/ keeps it for scripts/run-sim.sh's builds too.
line_tables=(-DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
             -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG")

# build_and_test NAME DIR CTEST_JOBS [cmake options]: NAME names DIR's count in the verdict.
build_and_test() {
    local name=$1 dir=$2 ctest_jobs=$3; shift 3
    stage "$dir build"
    configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    # The sanitizer builds pass with warnings: GCC's flow-dependent ones change with the
    # instrumentation.
    case $dir in
    build-tsan) cmake --build "$dir" -j "$jobs" ;;
    *) build_warning_free "$dir" ;;
    esac
    run_tests "$name" "$dir" "$ctest_jobs"
}

# run_tests NAME DIR CTEST_JOBS: the tests of DIR, built.
run_tests() {
    local name=$1 dir=$2 ctest_jobs=$3
    stage "$dir tests"
    longest_first "$dir"
    ctest_in "$dir" -j "$ctest_jobs" --output-on-failure
    verdict+=("$name $(out_of "$dir/ctest-output.log")")
}

# The box's build compiles from the start at the lowest priority, beside the other stages: it
# takes the time their tests leave idle (most wait on the box's timings) and the moments a build
# has fewer jobs than cores, so its stage finds most of it done. Its output is shown there. It
# runs in this script's process group, which a signal to the script ends whole; a stage that
# fails ends it at the exit.
stage "armhf packages"
scripts/install-deps.sh --armhf
mkdir -p build-armhf
(
    renice -n 19 -p "$BASHPID" >/dev/null
    configure build-armhf -DCMAKE_BUILD_TYPE=RelWithDebInfo "${line_tables[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/arm-linux-gnueabihf.cmake" -DZEM_BENCH=OFF
    build_warning_free build-armhf
) >build-armhf/background-build.log 2>&1 &
armhf_build_pid=$!
end_armhf_build() {
    [ -n "$armhf_build_pid" ] || return 0
    trap '' TERM
    kill -TERM -- "-$$" 2>/dev/null || true
}
trap end_armhf_build EXIT

# First, as it only compiles (about three minutes on 2 cores): the lock contracts, checked by clang.
# The native builds' tests then have the check refuse each known lock fault
# (ThreadSafety.ClangRefusesEachKnownLockFault), with the same clang: here that test may not skip.
# It compiles the program's libraries in the fuzz targets' folder, with their instrumentation, so
# that the fuzz stage only builds the targets' own files and links them.
stage "lock check"
scripts/check-locks.sh --with-fuzz
export ZEM_REQUIRE_CLANG=1

# scripts/run-sim.sh builds build/ too, under a lock on it: a start waits until this build and
# its tests (which run build/zemT57N) are done. Only this shell holds it: no test's process
# inherits it.
mkdir -p build
exec 8<build
if ! flock -n 8; then
    echo "waiting for a build of build/ by scripts/run-sim.sh to end"
    flock 8
fi
time_factor 2
build_and_test plain build "$test_jobs" "${line_tables[@]}" 8<&-
exec 8<&-
stage "scripts' tests"
logged build/scripts-tests.log tests/scripts/run.sh
verdict+=("scripts $(count_lines '^passed: ' build/scripts-tests.log)")
stage "fuzz build and runs"
logged build/fuzz-runs.log tests/fuzz/run.sh
verdict+=("fuzz $(count_lines ' Done [0-9]+ runs' build/fuzz-runs.log) targets")

# The AddressSanitizer build runs each test program whole, all its cases in one process, so
# that what one case leaves in a singleton reaches the next; the other builds run every case
# in a process of its own through ctest, so running them one by one here too would only repeat.
# The cases that start the program itself keep nothing in the test's singletons: ctest runs
# them side by side.
time_factor 3
stage "build-asan build"
configure build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEM_SANITIZE=ON -DZEM_BENCH=OFF
cmake --build build-asan -j "$jobs"
program_tests='^(e2e|simctl)$'  # their folders under tests/, and ctest labels
whole_run() {
    local log="$1.whole.log"
    timeout "$2" env QT_QPA_PLATFORM=offscreen "$1" >"$log" 2>&1 && return
    tail -n 60 "$log" >&2
    echo "$1 failed when run whole (log: $log)" >&2
    return 1
}
export -f whole_run
stage "build-asan programs whole"
whole_limit=$(((1200 * factor_th + 999) / 1000))
# The longest first, by their labels' times in the plain build's tests (a label per program).
asan_programs=()
for p in $(for p in build-asan/tests/*_tests; do
    awk -v l="$(basename "$p" _tests)" -v p="$p" '$1 == l && $2 == "=" { t = $3 }
        END { print t + 0, p }' build/ctest-output.log
done | sort -rn | cut -d' ' -f2); do
    [[ $(basename "$p" _tests) =~ $program_tests ]] || asan_programs+=("$p")
done
printf '%s\n' "${asan_programs[@]}" |
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
        xargs -P "$cores" -I{} bash -c "whole_run {} $whole_limit"
echo "AddressSanitizer build: ${#asan_programs[@]} passed, 0 failed (test programs run whole)"
stage "build-asan program cases"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest_in build-asan -j "$test_jobs" -L "$program_tests" --output-on-failure
verdict+=("ASan ${#asan_programs[@]} programs + $(out_of build-asan/ctest-output.log) cases")
# A race report fails its test (exit code 66); tests/tsan.supp names the Qt frames it skips.
time_factor 6
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp second_deadlock_stack=1" \
    build_and_test TSan build-tsan "$test_jobs" -DZEM_TSAN=ON -DZEM_BENCH=OFF

# --- armhf: the box's own architecture, cross-built, every test under qemu-user ---
stage "build-armhf build"
status=0
wait "$armhf_build_pid" || status=$?
armhf_build_pid=
cat build-armhf/background-build.log
[ "$status" = 0 ] || { echo "error: the armhf build failed (its output is above)" >&2; exit 1; }
time_factor 12
run_tests armhf build-armhf "$busy_jobs"
stage ""
printf -v counts '%s, ' "${verdict[@]}"
awk -v s=$SECONDS -v counts="${counts%, }" \
    'BEGIN { printf "all stages passed in %.1f min: %s\n", s / 60, counts }'
