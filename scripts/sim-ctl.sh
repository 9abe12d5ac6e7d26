#!/usr/bin/env bash
# Sends one command to the control channel of the running simulated box with root DIR (the
# Unix socket DIR/sim/ctl) and prints what the box answered. Errors, the box's and this
# script's own, print "error: ..." and exit with status 1.
# Usage: scripts/sim-ctl.sh DIR COMMAND...
#
#   usb plug HOSTDIR | usb unplug       a USB disk holding HOSTDIR's files, plugged in or pulled
#   input EXT|DVI|HDMI1..4 WxH@HZ|off   a source plugged into an input, or pulled
#   edid EXT|DVI|HDMI1..4 FILE          the input's EDID EEPROM read out to FILE (256 bytes)
#   cards PORT N                        N receiving cards behind output port PORT (1..20)
#   card PORT INDEX ok|silent|bad-check|needs-recovery
#   link PORT up|down
#   key Left|Right|OK|Mode|Back|A..S    a front key or a keypad letter
#   touch X Y                           a touch on the 320 x 240 panel
#   screenshot FILE                     the panel as drawn now, saved as PNG at FILE
#   status                              one line per device
#   job usb|query|recover               the USB upgrade, the receiving-card query or the
#                                       recovery, started as their pages start them
#
# The box itself touches only its root: this script copies a USB disk's files into
# DIR/sim/usb-disk.* and the screenshot and EEPROM read-out out of DIR/sim/screenshots and
# DIR/sim/edid.
set -euo pipefail
if [ $# -lt 2 ]; then
    sed -n '2,/^set /p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
    exit 1
fi
fail() {
    echo "error: $*" >&2
    exit 1
}
root=$(realpath -m "$1")
shift
sock=$root/sim/ctl
[ -S "$sock" ] || fail "no box runs with root $root (no $sock)"
command -v socat >/dev/null || fail "socat is missing: scripts/install-deps.sh installs it"

ask() {  # ask WORDS...: the box's answer; the status says whether it was an error
    local answer
    # A socket left by a box that was killed refuses the connection.
    answer=$(printf '%s\n' "$*" | socat -t 30 - "UNIX-CONNECT:$sock" 2>/dev/null) ||
        fail "no box runs with root $root (nothing answers on $sock)"
    printf '%s\n' "$answer"
    [[ $answer != error:* ]]
}

case "${1:-} ${2:-}" in
"usb plug")
    [ $# -eq 3 ] || fail "usage: usb plug HOSTDIR"
    [ -d "$3" ] || fail "no folder $3"
    disk=$(mktemp -d "$root/sim/usb-disk.XXXXXX")
    trap 'rm -rf "$disk"' EXIT  # the copy stays only for a disk the box took
    cp -R "$3"/. "$disk"/
    ask usb plug "/sim/${disk##*/}" || exit 1
    trap - EXIT
    ;;
"usb unplug")
    ask usb unplug
    rm -rf "$root"/sim/usb-disk.*  # the pulled disk's copy
    ;;
"screenshot "*)
    [ $# -eq 2 ] || fail "usage: screenshot FILE"
    shot=screenshots/shot-$$.png
    ask screenshot "/sim/$shot" >/dev/null || { ask screenshot "/sim/$shot"; exit 1; }
    mkdir -p "$(dirname "$2")"
    mv "$root/sim/$shot" "$2"
    echo ok
    ;;
"edid "*)
    [ $# -eq 3 ] || fail "usage: edid EXT|DVI|HDMI1..4 FILE"
    out=edid/edid-$$.bin
    ask edid "$2" "/sim/$out" >/dev/null || { ask edid "$2" "/sim/$out"; exit 1; }
    mkdir -p "$(dirname "$3")"
    mv "$root/sim/$out" "$3"
    echo ok
    ;;
*)
    ask "$@"
    ;;
esac
