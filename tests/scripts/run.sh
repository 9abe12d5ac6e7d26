#!/usr/bin/env bash
# Runs the tests of the scripts themselves (each *_test.sh here) against the plain build in
# build/, one after another; each prints "passed: NAME" or its failure and exits non-zero.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
for t in "$here"/*_test.sh; do
    "$t"
done
