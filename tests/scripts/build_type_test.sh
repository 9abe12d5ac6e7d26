#!/usr/bin/env bash
# scripts/run-sim.sh and scripts/test.sh configure build/ as RelWithDebInfo: one a contributor
# configured with another build type is said to be changed, in one line, before it compiles
# again; one of that type is not. On a copy of the scripts, whose cmake is a stub that fails, so
# that neither goes past its configure.
# Usage: tests/scripts/build_type_test.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/usage.sh
check_options tests/scripts/build_type_test.sh -- "$@"
source tests/scripts/common.sh
scripts_test build-type "build/'s type"
clone=$tmp/clone
mkdir -p "$clone/build" "$tmp/stubs"
cp -R scripts "$clone/"
printf '#!/bin/sh\nexit 1\n' >"$tmp/stubs/cmake"
# test.sh's lock check, which comes first, would stop at the stub cmake before the configure.
printf '#!/bin/sh\n' >"$clone/scripts/check-locks.sh"
chmod +x "$tmp/stubs/cmake" "$clone/scripts/check-locks.sh"

said="build/ was configured as Debug: configuring it as RelWithDebInfo, which compiles it again whole"
for type in Debug RelWithDebInfo; do
    printf 'CMAKE_BUILD_TYPE:STRING=%s\n' "$type" >"$clone/build/CMakeCache.txt"
    for run in "run-sim.sh $tmp/root" test.sh; do
        script=${run%% *}
        # shellcheck disable=SC2086 # the script, then its DIR
        out=$(PATH="$tmp/stubs:$PATH" timeout "$(scaled_seconds 60)" "$clone/scripts/"$run \
            </dev/null 2>&1) &&
            failed "$script went past a failed configure: $out"
        lines=$(grep -cxF "$said" <<<"$out" || true)
        [ "$type" = Debug ] && want=1 || want=0
        [ "$lines" = "$want" ] || failed "$script with a $type build/ said it $lines times: $out"
    done
done
echo "passed: build/'s type"
