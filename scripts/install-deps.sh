#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need. With --armhf, also
# what the box's own architecture needs instead: the cross compiler, the armhf libraries and
# qemu-user to run the tests.
# Usage: scripts/install-deps.sh [--armhf]
set -euo pipefail
source "$(dirname "$0")/lib/usage.sh"
check_options scripts/install-deps.sh --armhf -- "$@"
no_words scripts/install-deps.sh "$@"
pkgs=(build-essential cmake ninja-build pkg-config clang clang-tools qtbase5-dev libboost-dev libhidapi-dev
      libudev-dev libgtest-dev libgmock-dev libbenchmark-dev libssl-dev edid-decode
      libclang-rt-14-dev fonts-wqy-microhei socat)
if [ "${1:-}" = "--armhf" ]; then
    pkgs=(crossbuild-essential-armhf qemu-user qtbase5-dev:armhf libboost-dev:armhf
          libhidapi-dev:armhf libudev-dev:armhf libgtest-dev:armhf libgmock-dev:armhf
          fonts-wqy-microhei socat)
fi
# A name without an architecture is the machine's own package (or one for all): the armhf one
# of the same name, installed by --armhf, is not it.
native=$(dpkg --print-architecture)
installed() {
    local name
    for name in "$@"; do
        dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed" && return
    done
    return 1
}
missing=()
for p in "${pkgs[@]}"; do
    case $p in
    *:*) installed "$p" ;;
    *) installed "$p:$native" "$p:all" ;;
    esac || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
# apt is shared: wait for another install to finish rather than fail on its lock.
apt=($sudo apt-get -qq -o DPkg::Lock::Timeout=1800)
if [ "${1:-}" = "--armhf" ] && ! dpkg --print-foreign-architectures | grep -qx armhf; then
    $sudo dpkg --add-architecture armhf
fi
# A mirror caught mid-sync fails one index: the lists on hand may still hold every package, so
# the install below decides, with its own error when they do not.
"${apt[@]}" update || echo "warning: apt-get update failed for some index; installing from the lists on hand" >&2
DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y "${missing[@]}" >/dev/null
