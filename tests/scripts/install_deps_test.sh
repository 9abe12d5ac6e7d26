#!/usr/bin/env bash
# scripts/install-deps.sh on a machine where only the armhf packages are installed (the armhf
# stage ran first): a package named without an architecture is the machine's own, so the armhf
# one of the same name, which dpkg-query reports for the bare name, does not count, and the
# native ones are installed. dpkg, dpkg-query and apt-get are stubs: nothing is installed.
# Usage: tests/scripts/install_deps_test.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/usage.sh
check_options tests/scripts/install_deps_test.sh -- "$@"
source tests/scripts/common.sh
scripts_test install-deps "the packages install-deps.sh finds"
stubs=$tmp/stubs
mkdir "$stubs"
cat >"$stubs/dpkg" <<'STUB'
#!/bin/sh
case $1 in
--print-architecture) echo amd64 ;;
--print-foreign-architectures) echo armhf ;;
esac
STUB
# Only NAME:armhf is installed; dpkg-query answers for a bare NAME with it, as the real one does.
cat >"$stubs/dpkg-query" <<'STUB'
#!/bin/sh
for name; do :; done
case $name in
*:armhf) printf 'install ok installed' ;;
*:*) exit 1 ;;
*) printf 'install ok installed' ;;
esac
STUB
printf '#!/bin/sh\necho "$*" >>"%s"\n' "$tmp/apt-get" >"$stubs/apt-get"
printf '#!/bin/sh\nexec "$@"\n' >"$stubs/sudo"
chmod +x "$stubs"/*

PATH="$stubs:$PATH" scripts/install-deps.sh >"$tmp/out" 2>&1 || failed "install-deps.sh"
installed=$(grep ' install ' "$tmp/apt-get" 2>/dev/null || true)
for p in qtbase5-dev libgtest-dev fonts-wqy-microhei; do
    [[ " $installed " == *" $p "* ]] || failed "$p not installed: apt-get ${installed:-never ran}"
done
# The armhf ones it reports installed are not installed again.
: >"$tmp/apt-get"
PATH="$stubs:$PATH" scripts/install-deps.sh --armhf >"$tmp/out" 2>&1 || failed "--armhf"
installed=$(grep ' install ' "$tmp/apt-get" 2>/dev/null || true)
[[ " $installed " != *" qtbase5-dev:armhf "* ]] || failed "qtbase5-dev:armhf again: $installed"
echo "passed: the packages install-deps.sh finds"
