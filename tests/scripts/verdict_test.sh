#!/usr/bin/env bash
# scripts/test.sh ends a run that passed with its verdict, one line of its own after ctest's last
# summary and its time summaries, with each stage's count of tests; a stage that fails ends the
# run with a non-zero status, before the stages after it and with no verdict. On a copy of the
# scripts whose cmake, ctest, test programs, package install, lock check, scripts' tests and
# fuzz runs are stubs that print what the real ones print. The armhf build, which runs beside
# the other stages, ends with a run that fails.
# Usage: tests/scripts/verdict_test.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/usage.sh
check_options tests/scripts/verdict_test.sh -- "$@"
source tests/scripts/common.sh
scripts_test verdict "the verdict of scripts/test.sh"
clone=$tmp/clone stubs=$tmp/stubs
mkdir -p "$clone"/tests/{scripts,fuzz} "$clone"/build{,-asan/tests,-tsan,-armhf} "$stubs"
cp -R scripts "$clone/"
cp tests/scripts/run.sh "$clone/tests/scripts/"
stub() {  # stub FILE LINES...: an executable FILE printing LINES
    printf '#!/bin/sh\n' >"$1"
    [ $# -lt 2 ] || printf 'echo "%s"\n' "${@:2}" >>"$1"
    chmod +x "$1"
}
# cmake: when STUB_ARMHF_PID names a file for its pid, the armhf build writes it, says it has
# started through the fifo beside it, and stays until the run ends it.
cat >"$stubs/cmake" <<'STUB'
#!/bin/sh
case "$*" in *--build*build-armhf*)
    [ -n "${STUB_ARMHF_PID:-}" ] || exit 0
    echo $$ >"$STUB_ARMHF_PID"
    echo started >"$STUB_ARMHF_PID.started"
    exec tail -f /dev/null ;;
esac
STUB
chmod +x "$stubs/cmake"
stub "$clone/scripts/install-deps.sh"
stub "$clone/scripts/check-locks.sh"
stub "$clone/tests/scripts/one_test.sh" "passed: one"
stub "$clone/tests/scripts/two_test.sh" "passed: two"
stub "$clone/tests/fuzz/run.sh" "protocol     Done 25000 runs in 11 second(s) cov: 1234" \
    "json         Done 10000 runs in 3 second(s) cov: 567"
for p in c331 comm fpga e2e simctl; do stub "$clone/build-asan/tests/${p}_tests"; done
# ctest: a summary whose count names the build folder, then what follows it, as ctest prints
# them; it fails in the folder STUB_FAIL names.
cat >"$stubs/ctest" <<'STUB'
#!/bin/sh
dir=$(basename "$PWD")
if [ "$dir" = "${STUB_FAIL:-}" ]; then
    # Fails once the armhf build is under way (the run's timeout bounds the wait).
    [ -z "${STUB_ARMHF_PID:-}" ] || read -r _ <"$STUB_ARMHF_PID.started"
    echo "90% tests passed, 1 tests failed out of 10"
    exit 8
fi
case $dir in
build) n=956 ;; build-asan) n=58 ;; build-tsan) n=953 ;; *) n=951 ;;
esac
echo "100% tests passed, 0 tests failed out of $n"
echo
echo "Label Time Summary:"
echo "comm    =  12.00 sec*proc ($n tests)"
echo
echo "Total Test time (real) =  42.00 sec"
echo
echo "The following tests did not run:"
echo "	 12 - Skipped.Case (Disabled)"
STUB
chmod +x "$stubs/ctest"

run_tests() {
    PATH="$stubs:$PATH" STUB_FAIL=$1 STUB_ARMHF_PID=${2:-} timeout "$(scaled_seconds 60)" "$clone/scripts/test.sh" \
        </dev/null >"$tmp/out" 2>&1
}

run_tests "" || failed "a run whose stages all pass: status $? $(cat "$tmp/out")"
last=$(tail -n 1 "$tmp/out")
want="plain 956, scripts 2, fuzz 2 targets, ASan 3 programs + 58 cases, TSan 953, armhf 951"
[[ $last =~ ^all\ stages\ passed\ in\ [0-9]+\.[0-9]\ min:\ (.*)$ ]] &&
    [ "${BASH_REMATCH[1]}" = "$want" ] || failed "the last line: $last"

status=0
mkfifo "$tmp/armhf.pid.started"
run_tests build-tsan "$tmp/armhf.pid" || status=$?
[ "$status" != 0 ] || failed "a run whose TSan tests fail passed: $(cat "$tmp/out")"
! grep -q "all stages passed" "$tmp/out" || failed "a failed run said: $(cat "$tmp/out")"
! grep -q "stage build-armhf build" "$tmp/out" || failed "the run went past the failed stage"
[ -s "$tmp/armhf.pid" ] || failed "the armhf build did not start beside the other stages"
# Ended by the run's end: gone once reaped.
armhf_build_gone() { ! kill -0 "$(cat "$tmp/armhf.pid")" 2>/dev/null; }
within 10 armhf_build_gone || failed "the armhf build outlived the failed run"
echo "passed: the verdict of scripts/test.sh"
