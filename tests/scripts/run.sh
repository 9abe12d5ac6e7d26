#!/usr/bin/env bash
# Runs the tests of the scripts themselves (each *_test.sh here) against the plain build in
# build/, one after another; each prints "passed: NAME" or its failure and exits non-zero.
# Usage: tests/scripts/run.sh
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../../scripts/lib/usage.sh"
check_options tests/scripts/run.sh -- "$@"
no_words tests/scripts/run.sh "$@"
for t in "$here"/*_test.sh; do
    "$t"
done
