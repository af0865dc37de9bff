#!/bin/bash
# The tests that start daemons, each started with a daemon that cannot
# start, must end within 30 seconds with the reason in their output, and
# leave nothing running and nothing in their temporary folder. A Slurm
# controller whose address does not resolve, and slurmd where no cgroup
# file system is mounted (the test run in a mount namespace of its own,
# /sys/fs/cgroup unmounted there), are lacks of the machine: skipped, a
# failure in CI. An sshd that refuses its configuration is a failure, with
# sshd's own message.
#
#   daemons_test.sh TESTS-DIR SLURM-TEST-ARGS... -- SSH-TEST-ARGS...
#
# Exits 77 (skipped) where the tests themselves skip for another reason
# (no root, a package missing).
set -u
tests=$1
shift
slurm_args=()
while [ "$1" != -- ]; do slurm_args+=("$1"); shift; done
shift
ssh_args=("$@")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
. "$(dirname "$(realpath "$0")")/tally.sh"

# TEST|SETTINGS (;-separated)|CGROUP (mounted or none)|STATUS|what the
# output must hold
while IFS='|' read -r test settings cgroup want message; do
    name="$test, $settings, cgroup $cgroup"
    IFS=';' read -ra env <<< "$settings"
    if [ "$test" = slurm_test.sh ]; then args=("${slurm_args[@]}"); else args=("${ssh_args[@]}"); fi
    hide=()
    if [ "$cgroup" = none ]; then
        if ! unshare --mount true 2> /dev/null; then
            echo "[$name] no mount namespace here: not run"
            continue
        fi
        hide=(unshare --mount sh -c 'umount -R /sys/fs/cgroup 2> /dev/null; exec "$@"' sh)
    fi
    mkdir "$tmp/run" || exit 2
    began=$(date +%s%N)
    # The bound only ends this test if the one checked hangs.
    out=$(env -u CI TMPDIR="$tmp/run" "${env[@]}" "${hide[@]}" \
        timeout -k 5 120 bash "$tests/$test" "${args[@]}" 2>&1)
    status=$?
    took=$((($(date +%s%N) - began) / 1000000))
    if [ $status -eq 77 ] && [[ $out != *"$message"* ]]; then
        echo "${out##*$'\n'}"
        exit 77
    fi
    [ $status -eq "$want" ] || fail "status $status, not $want: $out"
    [ $took -le 30000 ] || fail "took $took ms"
    [[ $out == *"$message"* ]] || fail "no \"$message\" in: $out"
    left=$(pgrep -af -- "$tmp/run/") && fail "left running: $left"
    [ -z "$(ls -A "$tmp/run")" ] || fail "left in its temporary folder: $(ls -A "$tmp/run")"
    echo "[$name] status $status in $took ms: $(grep -m 1 -F -- "$message" <<< "$out")"
    rm -rf "$tmp/run"
done <<'END'
slurm_test.sh|TEST_SLURM_ADDR=nohost.invalid|mounted|77|a host name in slurm.conf does not resolve
slurm_test.sh|TEST_SLURM_ADDR=nohost.invalid;CI=true|mounted|1|FAIL: a host name in slurm.conf does not resolve
slurm_test.sh||none|77|no usable cgroup file system on /sys/fs/cgroup
ssh_test.sh|TEST_SSHD_OPTION=NoSuchOption yes|mounted|1|Bad configuration option: NoSuchOption
END

tally
