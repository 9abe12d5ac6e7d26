# Sourced by the scripts that reach a box by its root (after usage.sh).

# box_root DIR: the box's root as a whole path, from the caller's folder, links and ".."
# resolved; an empty DIR, or one that is this machine's own /, is an error.
box_root() {
    [ -n "$1" ] || fail "DIR is empty"
    local root
    root=$(realpath -m -- "$1")
    [ "$root" != / ] || fail "DIR $1 is / itself: the simulated box needs a folder of its own"
    printf '%s\n' "$root"
}

# ask_box ROOT SECONDS LINE: LINE sent on the control channel of the box with root ROOT, and
# what it answered within SECONDS of LINE; false when nothing listens there. The socket is
# named from inside its folder: socat would read a "," or ":" in the root as its own syntax.
ask_box() {
    (cd -- "$1/sim" && printf '%s\n' "$3" | socat -t "$2" - UNIX-CONNECT:ctl) 2>/dev/null
}
