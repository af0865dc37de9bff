# Daemons for the tests that need real ones (sshd, munged, slurmctld,
# slurmd), sourced by those tests. Each daemon runs in the foreground as
# the test's own child, its output in a log; waiting for it checks that it
# is still alive, so that a daemon that could not start fails the test in
# seconds, its last log lines in the message, instead of leaving the test
# waiting for a client's own time-out; stopping it signals exactly the
# process started, after checking that the pid still names it.
#
# The test sets daemon_mark, a path every daemon's command line holds (its
# temporary folder), and daemon_logs, the folder of their logs, before it
# starts any. It may define lacks(): given nothing, it prints in one line
# what this machine lacks that the daemons need, judged from their logs,
# or nothing; where it prints something the test is skipped, not failed.

daemon_pids=()
daemon_names=()

# skip REASON: the test cannot run here. In continuous integration
# (CI=true), which installs and sets up what the tests need, that is a
# failure.
skip() {
    if [ "${CI:-}" = true ]; then
        echo "FAIL: $1"
        exit 1
    fi
    echo "$1: skipped"
    exit 77
}

# start_daemon NAME COMMAND [ARG]...: COMMAND in the foreground, as this
# shell's child, its output appended to daemon_logs/NAME.out. Called from
# the test's own shell, not a subshell, so that the daemon is its child.
start_daemon() {
    local name=$1
    shift
    "$@" >> "$daemon_logs/$name.out" 2>&1 &
    daemon_pids+=($!)
    daemon_names+=("$name")
    # Until the forked shell has run the command, the pid names a copy of
    # this shell.
    local try
    for try in $(seq 100); do
        ! alive $! || ours $! && break
        sleep 0.01
    done
}

# alive PID: PID is a child of this shell that has not exited. Until this
# shell reaps a child, its pid is not given to another process.
alive() {
    local stat
    read -r stat 2> /dev/null < "/proc/$1/stat" || return 1
    # After the command's name in parentheses: the state and the parent.
    stat=(${stat##*) })
    [ "${stat[0]}" != Z ] && [ "${stat[1]}" = "$$" ]
}

# ours PID: PID is a live child of this shell and runs a command whose
# command line holds daemon_mark.
ours() {
    local args=()
    alive "$1" && mapfile -d '' args 2> /dev/null < "/proc/$1/cmdline" &&
        [[ "${args[*]}" == *"$daemon_mark"* ]]
}

# daemon_log_tail: the last lines of every log of the daemons.
daemon_log_tail() {
    local f
    for f in "$daemon_logs"/*; do
        [ -s "$f" ] || continue
        echo "--- ${f##*/}:"
        tail -n 5 "$f"
    done
}

# gone: sets daemon_gone to the first daemon that has exited, with its
# status, and succeeds; fails while all run. Not in a subshell: only this
# shell can reap its children and learn their status.
gone() {
    local i status
    for i in "${!daemon_pids[@]}"; do
        alive "${daemon_pids[i]}" && continue
        wait "${daemon_pids[i]}" 2> /dev/null
        status=$?
        daemon_gone="${daemon_names[i]} (pid ${daemon_pids[i]}) exited with status $status"
        return 0
    done
    return 1
}

# daemon_trouble WHAT: ends the test because WHAT went wrong: skipped where
# lacks() finds the machine lacking, failed otherwise, with the daemons'
# last log lines.
daemon_trouble() {
    local why=
    declare -F lacks > /dev/null && why=$(lacks)
    [ -z "$why" ] || skip "$why ($1)"
    echo "FAIL: $1"
    daemon_log_tail
    exit 1
}

# await SECONDS WHAT COMMAND [ARG]...: runs COMMAND until it succeeds,
# checking between tries that every daemon started still runs and, once a
# second, that lacks() finds nothing: a daemon may keep running, retrying
# what cannot succeed here. A daemon gone, a lack, or SECONDS passed ends
# the test through daemon_trouble. COMMAND must return promptly: bound
# client calls with timeout.
await() {
    local seconds=$1 what=$2 asked=$SECONDS
    shift 2
    local end=$((SECONDS + seconds))
    until "$@"; do
        gone && daemon_trouble "$daemon_gone while waiting for $what"
        if [ $SECONDS -ne $asked ] && declare -F lacks > /dev/null; then
            asked=$SECONDS
            [ -z "$(lacks)" ] || daemon_trouble "waiting for $what"
        fi
        [ $SECONDS -lt $end ] || daemon_trouble "no $what within $seconds s"
        sleep 0.05
    done
}

# listening ADDRESS PORT: a TCP socket listens on ADDRESS (IPv4) and PORT.
listening() {
    local a b c d hex
    IFS=. read -r a b c d <<< "$1"
    printf -v hex '%02X%02X%02X%02X:%04X' "$d" "$c" "$b" "$a" "$2"
    grep -q "^ *[0-9]*: $hex 00000000:0000 0A" /proc/net/tcp
}

# stop_daemons: newest first, each daemon still this shell's child and
# still holding daemon_mark is sent SIGTERM, and SIGKILL if it has not
# ended 5 seconds later; each that has ended is reaped. A pid that names
# anything else is left alone, and so is a daemon that ignores SIGKILL
# (stuck in the kernel): waiting for it would hang the test.
stop_daemons() {
    local i pid try
    for ((i = ${#daemon_pids[@]} - 1; i >= 0; i--)); do
        pid=${daemon_pids[i]}
        if ours "$pid"; then
            kill -TERM "$pid"
            for try in $(seq 100); do
                alive "$pid" || break
                sleep 0.05
            done
            ours "$pid" && kill -KILL "$pid" && sleep 0.1
        fi
        alive "$pid" || wait "$pid" 2> /dev/null
    done
    daemon_pids=()
    daemon_names=()
}
