#!/bin/sh
# Runs a benchmark program briefly with a temporary folder of its own; fails when the program
# fails or leaves anything in that folder.
dir=$(mktemp -d) || exit 1
qt=$(mktemp -d) || exit 1  # Qt's runtime folder is Qt's own, not the program's
TMPDIR=$dir XDG_RUNTIME_DIR=$qt "$@" >"$dir.log" 2>&1
rc=$?
left=$(ls -A "$dir")
rm -rf "$dir" "$qt"
if [ $rc -ne 0 ] || [ -n "$left" ]; then
    cat "$dir.log"
    echo "exit $rc; left behind: $left"
    rm -f "$dir.log"
    exit 1
fi
rm -f "$dir.log"
