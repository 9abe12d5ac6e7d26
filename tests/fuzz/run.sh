#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer)
# in build-fuzz/ (ZEM_FUZZ_BUILD), from the program's libraries as the lock check compiles them
# there (scripts/check-locks.sh --with-fuzz), and runs each for a fixed number of runs from its
# seeds with its dictionary, two targets at once or one per two cores. ZEM_FUZZ_SCALE (percent)
# scales every target's runs alike; target names as arguments run only those.
# Usage: tests/fuzz/run.sh [TARGET...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/lib/usage.sh"
check_options tests/fuzz/run.sh -- "$@"
source "$here/../../scripts/lib/fuzz_tree.sh"
source "$here/../../scripts/lib/time_factor.sh"
# An input that takes longer than this fails its target: a hang, scaled by the time factor.
factor_th=$(time_factor_thousandths) || exit 1
input_limit=$(((60 * factor_th + 999) / 1000))
# Fewer runs on a machine of fewer than four cores.
scale="${ZEM_FUZZ_SCALE:-$(($(nproc) >= 4 ? 100 : 50))}"

# Runs per target: each takes at most about 30 s on one core of the development machine.
declare -A runs=(
    [protocol]=50000
    [files]=200000
    [json]=20000
    [edid]=50000
    [usb_package]=30000
    [osd_font]=60000
    [card_files]=40000
    [keypad]=800
    [tcp]=800
)
all_targets=(protocol files json edid usb_package osd_font card_files keypad tcp)
targets=("${all_targets[@]}")
if (($#)); then targets=("$@"); fi
for t in "${targets[@]}"; do
    [[ -n "${runs[$t]:-}" ]] || { echo "error: no fuzz target $t (${all_targets[*]})" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# libFuzzer and the sanitizer runtimes come with clang's compiler-rt package, which some
# installs leave out: say so plainly instead of failing deep inside the build.
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
    >"$work/probe.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$work/probe.cpp" -o "$work/probe" \
    >"$work/probe.log" 2>&1; then
    cat "$work/probe.log"
    echo "error: clang++ cannot link a libFuzzer target; install clang's runtime (libclang-rt-dev)" >&2
    exit 1
fi

names=()
for t in "${targets[@]}"; do names+=("fuzz_$t"); done
# With Ninja, as every build of the scripts (a folder of another generator is configured afresh).
root="$(cd "$here/../.." && pwd)"
build=$(fuzz_tree_dir "$root")
if ! { configure_fuzz_tree "$root" &&
    cmake --build "$build" -j "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}" --target "${names[@]}"
} >"$work/build.log" 2>&1; then
    tail -n 60 "$work/build.log"
    echo "error: the fuzz targets did not build" >&2
    exit 1
fi

# One target: its own corpus copy and simulated box root under $work/<target>; an input that
# fails is kept in the build folder's crashes/ to run again.
run_target() {
    local t=$1 dir="$work/$1"
    mkdir -p "$dir/corpus" "$dir/tmp" "$build/crashes"
    cp "$here/seeds/$t"/* "$dir/corpus"/
    TMPDIR="$dir/tmp" ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
        "$build/fuzz_$t" -runs=$((runs[$t] * scale / 100)) -max_len=4096 -seed=1 -timeout=$input_limit \
        -dict="$here/dict/$t.dict" -artifact_prefix="$build/crashes/$t-" "$dir/corpus" \
        >"$dir/log" 2>&1
}

# Two at once on two cores too: a target waits on the box's threads and its own sockets as much
# as it computes.
jobs=$(( $(nproc) > 4 ? $(nproc) / 2 : 2 ))
pids=()
for t in "${targets[@]}"; do
    while (( $(jobs -rp | wc -l) >= jobs )); do wait -n || true; done
    run_target "$t" &
    pids+=("$!:$t")
done

failed=0
for entry in "${pids[@]}"; do
    t=${entry#*:}
    if ! wait "${entry%%:*}"; then
        tail -n 40 "$work/$t/log"
        echo "error: fuzz target $t failed" >&2
        failed=1
    fi
done
for t in "${targets[@]}"; do
    printf '%-12s %s\n' "$t" "$(grep -E '^Done' "$work/$t/log" || true) $(grep -oE 'cov: [0-9]+' "$work/$t/log" | tail -n 1)"
done
exit $failed
