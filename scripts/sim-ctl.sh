#!/usr/bin/env bash
# Sends one command to the control channel of the running simulated box with root DIR (the
# Unix socket DIR/sim/ctl) and prints what the box answered; exits 1 when it answered an error.
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
#   job usb|query|recover               the USB upgrade, card query or recovery, as the pages
#
# The box itself touches only its root: this script copies a USB disk's files into
# DIR/sim/usb-disk.* and the screenshot and EEPROM read-out out of DIR/sim/screenshots and
# DIR/sim/edid.
set -euo pipefail
if [ $# -lt 2 ]; then
    sed -n '2,/^set /p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
    exit 2
fi
root=$(realpath -m "$1")
shift
sock=$root/sim/ctl
[ -S "$sock" ] || { echo "no simulated box runs with root $root (no $sock)" >&2; exit 2; }
command -v socat >/dev/null || { echo "socat is missing: scripts/install-deps.sh installs it" >&2; exit 2; }

ask() {  # ask WORDS...: the box's answer; the status says whether it was an error
    local answer
    answer=$(printf '%s\n' "$*" | socat -t 30 - "UNIX-CONNECT:$sock")
    printf '%s\n' "$answer"
    [[ $answer != error:* ]]
}

case "${1:-} ${2:-}" in
"usb plug")
    [ $# -eq 3 ] && [ -d "$3" ] || { echo "usb plug needs a folder: $*" >&2; exit 2; }
    disk=$(mktemp -d "$root/sim/usb-disk.XXXXXX")
    cp -R "$3"/. "$disk"/
    ask usb plug "/sim/${disk##*/}" || { rm -rf "$disk"; exit 1; }
    ;;
"usb unplug")
    ask usb unplug
    rm -rf "$root"/sim/usb-disk.*  # the pulled disk's copy
    ;;
"screenshot "*)
    [ $# -eq 2 ] || { echo "usage: screenshot FILE" >&2; exit 2; }
    shot=screenshots/shot-$$.png
    ask screenshot "/sim/$shot" >/dev/null || { ask screenshot "/sim/$shot"; exit 1; }
    mkdir -p "$(dirname "$2")"
    mv "$root/sim/$shot" "$2"
    echo ok
    ;;
"edid "*)
    [ $# -eq 3 ] || { echo "usage: edid INPUT FILE" >&2; exit 2; }
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
