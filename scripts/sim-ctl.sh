#!/usr/bin/env bash
# Sends one command to the control channel of the running simulated box with root DIR (the
# Unix socket DIR/sim/ctl) and prints what the box answered. Errors, the box's and this
# script's own, print "error: ..." on stderr and exit with status 1.
# Usage: scripts/sim-ctl.sh DIR COMMAND...
#
#   usb plug HOSTDIR | usb unplug       a USB disk holding HOSTDIR's files, plugged in (once the
#                                       box takes a disk) or pulled
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
# DIR/sim/usb-disk.* (a HOSTDIR that is a symbolic link, or holds one, is refused: a disk holds
# no links) and the screenshot and EEPROM read-out out of DIR/sim/screenshots and
# DIR/sim/edid. FILE's missing folders are made; an existing FILE is replaced only when it is a
# regular file. A relative DIR or FILE is taken from the folder you run the script in.
# The box has ZEM_SIM_CTL_WAIT seconds (30 unless set) to take the connection and answer a
# command; a box that does not (stopped, or too busy) is an error, and drops the command unless
# it had started it by then ("did not answer; it may still be carried out"); otherwise, whether
# it took the connection or not, it never carries it out ("did not answer; not carried out").
set -euo pipefail
source "$(dirname "$0")/lib/usage.sh"
source "$(dirname "$0")/lib/box.sh"
take_help "$@"
# An option is looked for in DIR's place only: a command's words may start with "-".
case ${1:-} in -*) refuse_option scripts/sim-ctl.sh "$1" ;; esac
if [ $# -lt 2 ]; then
    usage >&2
    exit 1
fi
root=$(box_root "$1")
shift
wait=${ZEM_SIM_CTL_WAIT:-30}
[[ $wait =~ ^[0-9]{1,6}$ ]] && ((10#$wait > 0)) ||
    fail "ZEM_SIM_CTL_WAIT=$wait: the wait must be a whole number of seconds from 1"
sock=$root/sim/ctl
[ -S "$sock" ] || fail "no box runs with root $root (no $sock)"
command -v socat >/dev/null || fail "socat is missing: scripts/install-deps.sh installs it"

# ask WORDS...: the box's answer; the status says whether it was an error. The line carries
# the time this script waits until: a command the box has not started by then is dropped, one it
# has started answers "taken" first. Every command's answer has words: none at all means the box
# did not answer in time, nor will it carry the command out; "taken" alone that it may still.
ask() {
    local answer status=0
    answer=$(ask_box "$root" "$((10#$wait))" "@$(deadline_ms "$((10#$wait))") $*") || status=$?
    # A socket left by a box that was killed refuses the connection; a stopped box's full
    # backlog takes none, and the line is never sent.
    case $status in
    1) fail "no box runs with root $root (nothing answers on $sock)" ;;
    2) fail "the box with root $root did not answer; not carried out" ;;
    esac
    [ "$answer" != taken ] ||
        fail "the box with root $root did not answer; it may still be carried out"
    answer=${answer#taken$'\n'}
    [ -n "$answer" ] || fail "the box with root $root did not answer; not carried out"
    printf '%s\n' "$answer"
    [[ $answer != error:* ]]
}

refused() {  # refused ANSWER: the box's error, if it gave one, on stderr; status 1
    [ -z "$1" ] || printf '%s\n' "$1" >&2
    return 1
}

tell() {  # tell WORDS...: asks, and prints the answer (an error as refused does)
    local answer
    answer=$(ask "$@") || refused "$answer" || return
    printf '%s\n' "$answer"
}

# fetch BOXFILE FILE WORDS...: the box writes /sim/BOXFILE for the command WORDS, and the
# script moves it out of the root to FILE; a FILE that can't be written leaves nothing behind.
# Only a regular file is replaced: a rename over a device, a FIFO, a socket or a link would take
# the machine's own node away (/dev/null, say), and a link may point anywhere.
fetch() {
    local box=$1 to=$2
    shift 2
    tell "$@" "/sim/$box" >/dev/null || exit 1
    if [ -L "$to" ] || { [ -e "$to" ] && ! [ -f "$to" ]; }; then
        rm -f -- "$root/sim/$box"
        fail "cannot write $to: not a regular file"
    fi
    if ! { mkdir -p -- "$(dirname -- "$to")" && mv -fT -- "$root/sim/$box" "$to"; } 2>/dev/null; then
        rm -f -- "$root/sim/$box"
        fail "cannot write $to"
    fi
    echo ok
}

# The box takes a disk once its USB watcher listens, some 10 s after the panel starts: a plug
# before that waits for it, at most half a minute. The answer comes once the box has mounted
# the disk (or 10 s have passed), so that the next command finds its files.
plug() {
    local answer tries=150
    while :; do
        answer=$(ask usb plug "$1") && break
        if [[ $answer != *"not listening yet"* ]] || ((--tries == 0)); then
            refused "$answer"
            return
        fi
        sleep 0.2
    done
    local state
    for _ in $(seq 50); do
        state=$(ask status) || return
        [[ $state != *$'\nusb disk: '*", mounted at "* ]] || break
        sleep 0.2
    done
    printf '%s\n' "$answer"
}

case "${1:-} ${2:-}" in
"usb plug")
    [ $# -eq 3 ] || fail "usage: usb plug HOSTDIR"
    # The disk holds no links: one given for its folder, however written ("LINK/", "LINK/./"),
    # is refused here, where a copy through it would hide it from the box's own check; the
    # folder is then named as written, "." and ".." taken away without following a link.
    named=$(realpath -s -m -- "$3")
    [ ! -L "$named" ] || fail "$3 is a symbolic link"
    [ -d "$named" ] || fail "no folder $3"
    host=$(realpath -- "$named")
    [[ $root/ != "${host%/}"/* ]] ||
        fail "$3 holds the box's root $root: a disk's copy would go into itself"
    disk=$(mktemp -d "$root/sim/usb-disk.XXXXXX")
    trap 'rm -rf "$disk"' EXIT  # the copy stays only for a disk the box took
    cp -R -- "$named"/. "$disk"/
    # A link in it would be copied as the link: the copy is looked at, not the folder, which
    # may change meanwhile.
    link=$(find "$disk" -type l -print -quit)
    [ -z "$link" ] || fail "${named%/}/${link#"$disk"/} is a symbolic link: a USB disk holds none"
    plug "/sim/${disk##*/}" || exit 1
    trap - EXIT
    ;;
"usb unplug")
    tell "$@" || exit 1
    rm -rf "$root"/sim/usb-disk.*  # the pulled disk's copy
    ;;
"screenshot "*)
    [ $# -eq 2 ] || fail "usage: screenshot FILE"
    fetch "screenshots/shot-$$.png" "$2" screenshot
    ;;
"edid "*)
    [ $# -eq 3 ] || fail "usage: edid EXT|DVI|HDMI1..4 FILE"
    fetch "edid/edid-$$.bin" "$3" edid "$2"
    ;;
*)
    tell "$@"
    ;;
esac
