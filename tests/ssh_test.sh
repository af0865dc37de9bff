#!/bin/bash
# The scale-out scripts over real ssh: two sshd on loopback addresses of
# their own, each with its own host key, key login with a throwaway key,
# the programs on the remote PATH. Split runs over both hosts and this
# machine must write what a single run writes; a chunk failing on a remote
# host must be reported exactly as one failing here; nothing may be left
# running afterwards. The daemons stop at the end, whatever the result.
#
#   ssh_test.sh BUILD-DIR GEN_TARVO GEN_BASES
#
# Exits 77 (skipped) without root, which sshd needs here, without GNU
# parallel, or without sshd; in continuous integration (CI=true), which
# installs it, a missing sshd is a failure. An sshd that exits or does not
# open its port fails the test in seconds. TEST_SSHD_OPTION, read by this
# script alone, is a line added to both sshd's configuration, so that a
# test of this script can start sshd that cannot start.
set -u
build=$(cd "$1" && pwd) || exit 2
gen_tarvo=$2 gen_bases=$3
. "$(dirname "$(realpath "$0")")/lib.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "sshd needs root to start here: skipped"
    exit 77
fi
if ! parallel --version 2>/dev/null | grep -q '^GNU parallel'; then
    echo "GNU parallel is not installed: skipped"
    exit 77
fi
sshd=/usr/sbin/sshd
[ -x "$sshd" ] && command -v ssh > /dev/null ||
    skip "no sshd or ssh (Debian package openssh-server)"

tmp=$(mktemp -d)
daemon_mark=$tmp daemon_logs=$tmp/log
stop() {
    stop_daemons
    rm -rf "$tmp"
}
trap stop EXIT
trap 'exit 2' INT TERM
. "$(dirname "$(realpath "$0")")/tally.sh"

# A port of its own for this run, on addresses nothing else listens on.
port=$((20000 + $$ % 20000))
mkdir -p /run/sshd "$tmp/bin" "$daemon_logs" || exit 2
cp "$build/tarvo" "$build/ostrel" "$tmp/bin/" || exit 2
ssh-keygen -q -t ed25519 -N '' -C throwaway -f "$tmp/id" || exit 2
cp "$tmp/id.pub" "$tmp/authorized_keys"
: > "$tmp/known_hosts"
for n in 2 3; do
    ssh-keygen -q -t ed25519 -N '' -f "$tmp/host$n" || exit 2
    echo "[127.0.0.$n]:$port $(cat "$tmp/host$n.pub")" >> "$tmp/known_hosts"
    cat > "$tmp/sshd$n.conf" <<END
ListenAddress 127.0.0.$n:$port
HostKey $tmp/host$n
PidFile none
AuthorizedKeysFile $tmp/authorized_keys
AuthenticationMethods publickey
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
StrictModes no
UsePAM no
SetEnv PATH=$tmp/bin:/usr/bin:/bin
${TEST_SSHD_OPTION:-}
END
    start_daemon sshd$n "$sshd" -D -f "$tmp/sshd$n.conf" -E "$daemon_logs/sshd$n.log"
done
for n in 2 3; do
    await 10 "sshd listening on 127.0.0.$n:$port" listening 127.0.0.$n $port
done
cat > "$tmp/ssh_config" <<END
Host h2
    HostName 127.0.0.2
Host h3
    HostName 127.0.0.3
Host *
    Port $port
    IdentityFile $tmp/id
    IdentitiesOnly yes
    UserKnownHostsFile $tmp/known_hosts
    StrictHostKeyChecking yes
    BatchMode yes
    LogLevel ERROR
    ConnectTimeout 10
    ServerAliveInterval 10
END
printf '#!/bin/sh\nexec ssh -F %s "$@"\n' "$tmp/ssh_config" > "$tmp/ssh"
chmod +x "$tmp/ssh"

name=login
logins() {
    local h
    for h in h2 h3; do
        [ "$(timeout 20 "$tmp/ssh" $h 'command -v tarvo' 2> /dev/null)" = "$tmp/bin/tarvo" ] || return 1
    done
}
await 30 "key login to both hosts with tarvo on the PATH" logins

export PATH=$tmp/bin:$PATH
unset TARVO OSTREL
# Programs of this test still running anywhere; the remote side ends a
# job up to a second after its connection is gone.
left() {
    local try
    for try in $(seq 30); do
        ps -eo args | grep -F "$tmp/bin/" | grep -vq grep || return 0
        sleep 0.2
    done
    fail "left running: $(ps -eo args | grep -F "$tmp/bin/" | grep -v grep)"
}

# run NAME SCRIPT-ARGS -- PROGRAM-ARGS -- INPUT HOSTS: the script over HOSTS
# must give the single run's status and output, and over the remote hosts
# alone the same status, output and standard error as with no hosts.
run() {
    name=$1
    shift
    local sargs=() pargs=()
    while [ "$1" != -- ]; do sargs+=("$1"); shift; done
    shift
    while [ "$1" != -- ]; do pargs+=("$1"); shift; done
    local input=$2 script=$build/${pargs[0]}-parallel
    "${pargs[@]}" < "$input" > "$tmp/one.out" 2> /dev/null
    local want=$?
    local opts="--ssh $tmp/ssh --block 512k"
    PARALLEL="$opts --sshlogin 2/h2,2/h3,:" "$script" "${sargs[@]}" < "$input" > "$tmp/all.out" 2> "$tmp/all.err"
    local all=$?
    PARALLEL="$opts --sshlogin 1/h2,1/h3" "$script" "${sargs[@]}" < "$input" > "$tmp/far.out" 2> "$tmp/far.err"
    local far=$?
    PARALLEL="--block 512k" "$script" "${sargs[@]}" < "$input" > "$tmp/near.out" 2> "$tmp/near.err"
    local near=$?
    [ "$all" -eq "$want" ] && [ "$far" -eq "$want" ] && [ "$near" -eq "$want" ] ||
        fail "status $all over both hosts and here, $far over both hosts, $near here; $want single"
    local f
    for f in all far near; do
        cmp -s "$tmp/one.out" "$tmp/$f.out" || fail "$f: output differs from the single run"
    done
    cmp -s "$tmp/near.err" "$tmp/far.err" ||
        fail "stderr over ssh: $(head -c 300 "$tmp/far.err"); here: $(head -c 300 "$tmp/near.err")"
    [ "$want" -ne 0 ] || [ ! -s "$tmp/all.err" ] || fail "stderr: $(head -c 300 "$tmp/all.err")"
    left
    echo "[$name] status $all, $(wc -l < "$tmp/all.out") lines out; stderr: $(head -c 200 "$tmp/far.err")"
}

"$gen_tarvo" 5000 > "$tmp/obs.txt"
sed '3001s/^[0-9]/x/' "$tmp/obs.txt" > "$tmp/obs-bad.txt"
"$gen_bases" 100 1500000 > "$tmp/bases.txt" 2> /dev/null
sed '10001s/A/a/' "$tmp/bases.txt" > "$tmp/bases-bad.txt"

run "tarvo" -p 2 -- tarvo -t 5000 -p 2 -- "$tmp/obs.txt"
run "tarvo, bad code at 3,001" -p 2 -- tarvo -t 5000 -p 2 -- "$tmp/obs-bad.txt"
run "ostrel" -- ostrel -- "$tmp/bases.txt"
run "ostrel, bad base at line 10,001" -- ostrel -- "$tmp/bases-bad.txt"

tally
