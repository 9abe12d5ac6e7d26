#!/usr/bin/env bash
# scripts/key-walk.sh's help builds build-asan as scripts/test.sh configures it: its commands,
# run as printed on a copy of the scripts whose cmake is a stub that logs its arguments, configure
# the folder with Ninja and the options of scripts/test.sh's own line, so that a later
# scripts/test.sh does not configure it afresh and compile it again whole.
# Usage: tests/scripts/help_commands_test.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/usage.sh
check_options tests/scripts/help_commands_test.sh -- "$@"
source tests/scripts/common.sh
scripts_test help-commands "the commands of key-walk.sh's help"
clone=$tmp/clone
mkdir -p "$clone" "$tmp/stubs"
cp -R scripts "$clone/"
printf '#!/bin/sh\necho "$*" >>"%s"\n' "$tmp/cmake.log" >"$tmp/stubs/cmake"
chmod +x "$tmp/stubs/cmake"

commands=$(scripts/key-walk.sh --help | sed -nE 's/^  ((scripts\/configure\.sh|cmake) .*)$/\1/p')
[ -n "$commands" ] || failed "no build commands in the help"
(cd "$clone" && PATH="$tmp/stubs:$PATH" bash -euc "$commands") || failed "the help's commands"
options=$(sed -n 's/^configure build-asan //p' scripts/test.sh)
[ -n "$options" ] || failed "scripts/test.sh configures no build-asan"
configured=$(head -n 1 "$tmp/cmake.log")
[ "$configured" = "-S . -B build-asan -G Ninja $options" ] ||
    failed "the help configures: cmake $configured"
echo "passed: the commands of key-walk.sh's help"
