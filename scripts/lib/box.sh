# Sourced by the scripts that reach a box by its root (after usage.sh).

# box_root DIR: the box's root as a whole path, from the caller's folder, links and ".."
# resolved; an empty DIR, one that is this machine's own /, one that is no folder, or an existing
# one that is not the box's own (own_root) is an error.
box_root() {
    [ -n "$1" ] || fail "DIR is empty"
    local root
    root=$(realpath -m -- "$1")
    [ "$root" != / ] || fail "DIR $1 is / itself: the simulated box needs a folder of its own"
    [ ! -e "$root" ] || [ -d "$root" ] ||
        fail "DIR $1 is not a folder: the simulated box needs a folder of its own"
    if [ -e "$root" ]; then own_root "$root"; fi
    printf '%s\n' "$root"
}

# make_root ROOT: ROOT and the folders above it that are missing, made with mode 0755 whatever
# the umask, then checked as own_root does.
make_root() {
    local made
    made=$(umask 022 && LC_ALL=C mkdir -p -- "$1" 2>&1) || fail "cannot make $1: ${made##*: }"
    own_root "$1"
}

# own_root ROOT: refused when it is another user's, or others may write in it: they could plant
# links there that lead anywhere (a sticky shared folder included, where they make their own).
own_root() {
    [ "$(stat -c %u -- "$1")" = "$(id -u)" ] ||
        fail "root $1 belongs to another user: the box needs a root of its own"
    (((8#$(stat -c %a -- "$1") & 8#022) == 0)) ||
        fail "root $1 is writable by other users: the box needs a root of its own" \
            "(chmod go-w ${1@Q} mends it)"
}

# own_sim ROOT: ROOT/sim, the box's own folder, made with mode 0700 when missing; refused when it
# is a symbolic link, another user's, or writable by other users, and so is a symbolic link in
# it where the box makes its lock, the build's log, its console's log and its program's copy
# (ROOT may be under /tmp, where another user can plant links that lead anywhere).
own_sim() {
    local sim=$1/sim made file
    if [ ! -e "$sim" ] && [ ! -L "$sim" ]; then
        made=$(LC_ALL=C mkdir -m 0700 -- "$sim" 2>&1) || fail "cannot make $sim: ${made##*: }"
    fi
    [ ! -L "$sim" ] || fail "$sim is a symbolic link: the box needs a folder of its own there"
    [ -d "$sim" ] || fail "cannot make $sim: Not a directory"
    [ "$(stat -c %u -- "$sim")" = "$(id -u)" ] ||
        fail "$sim belongs to another user: the box needs a folder of its own there"
    (((8#$(stat -c %a -- "$sim") & 8#022) == 0)) ||
        fail "$sim is writable by other users: the box needs a folder of its own there"
    for file in lock build.log console.log zemT57N zemT57N.new; do
        [ ! -L "$sim/$file" ] ||
            fail "$sim/$file is a symbolic link: the box makes its own files in $sim"
    done
}

# deadline_ms SECONDS: the boot clock's millisecond (that of /proc/uptime, the box's
# CLOCK_BOOTTIME) a little before SECONDS from now, for a command line's "@MS": the "taken" of a
# command the box starts by then reaches a client that waits SECONDS.
deadline_ms() {
    local up rest wait=$(($1 * 1000))
    read -r up rest </proc/uptime
    local margin=$((wait / 4 < 1000 ? wait / 4 : 1000))
    printf '%s\n' "$((10#${up/./} * 10 + wait - margin))"
}

# now_ms: this machine's clock in milliseconds.
now_ms() {
    local us=${EPOCHREALTIME/[.,]/}
    echo $((10#$us / 1000))
}

# ask_box ROOT SECONDS LINE: LINE sent on the control channel of the box with root ROOT, and
# what it answered, all within SECONDS; status 1 when nothing listens there, 2 when the box took
# no connection in that time (a stopped box whose backlog is full), so LINE was never sent. A
# full backlog refuses a connection at once (EAGAIN): it is tried again until the time is up.
# The socket is named from inside its folder: socat would read a "," or ":" in the root as its
# own syntax.
ask_box() {
    local end=$(($(now_ms) + $2 * 1000)) left out status
    while :; do
        left=$((end - $(now_ms)))
        ((left > 0)) || return 2
        left=$((left / 1000)).$(printf '%03d' $((left % 1000)))
        status=0
        out=$(cd -- "$1/sim" && printf '%s\n' "$3" |
            LC_ALL=C socat -t "$left" - "UNIX-CONNECT:ctl,connect-timeout=$left" 2>&1) ||
            status=$?
        if [ $status = 0 ]; then
            printf '%s\n' "$out"
            return
        fi
        case $out in
        *"Resource temporarily unavailable"*) sleep 0.05 ;;
        *"timed out"*) return 2 ;;
        *) return 1 ;;
        esac
    done
}

# read_own FILE: what FILE holds, never read through a symbolic link at its name (a box makes
# none in its root, and refuses one planted there); status 1 for a link or a file not there.
read_own() {
    LC_ALL=C dd if="$1" iflag=nofollow status=none 2>/dev/null
}

# lock_holder LOCK: the pid on the first line of a root's lock, or "". A start writes its pid
# over the one before and then cuts the file to it, so a longer old pid may trail it for a
# moment; only a lock just made is empty, and an empty one is read once more.
lock_holder() {
    local line= try
    for try in 1 2; do
        { IFS= read -r line < <(read_own "$1"); } 2>/dev/null || true
        [ -n "$line" ] || [ $try = 2 ] || { sleep 0.1; continue; }
        break
    done
    printf '%s\n' "$line"
}

# holds_lock PID LOCK: whether process PID has the root's lock file open, as a box (or the start
# that becomes it) does for its life. A pid a box that ended left in the lock may name another
# program by now. Looked at through /proc, without taking the lock: a box starting meanwhile
# would find it taken and refuse its root. A lock that is a symbolic link is nobody's: a box
# refuses one.
holds_lock() {
    local id open
    id=$(stat -c '%d:%i' -- "$2" 2>/dev/null) || return 1
    open=$(stat -L -c '%d:%i' /proc/"$1"/fd/* 2>/dev/null) || true
    [[ $'\n'$open$'\n' == *$'\n'$id$'\n'* ]]
}
