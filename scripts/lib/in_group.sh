# Sourced by the scripts that build. in_group COMMAND...: runs COMMAND (a function too) in a
# process group of its own, with no input (a terminal's would stop it), and waits for it; its
# status is COMMAND's. SIGTERM, SIGHUP or SIGINT to the script end that whole group (cmake, the
# build tool and its compilers, which would otherwise build on, orphaned, holding build/'s lock)
# and then the script, by the same signal. A hang-up ignored from the start (nohup) stays
# ignored: the build goes on.

in_group_pid=

in_group_stop() {  # in_group_stop SIGNAL
    [ -z "$in_group_pid" ] || kill -TERM -- "-$in_group_pid" 2>/dev/null || true
    trap - "$1"
    kill "-$1" $$
}

in_group() {
    local sig status=0
    for sig in TERM HUP INT; do trap "in_group_stop $sig" $sig; done
    set -m  # only to give the job a process group of its own
    "$@" </dev/null &
    in_group_pid=$!
    set +m
    wait "$in_group_pid" || status=$?
    in_group_pid=
    trap - TERM HUP INT
    return $status
}
