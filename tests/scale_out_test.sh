#!/bin/bash
# The scale-out scripts against a single run of the program: the same
# standard output byte for byte, status 2 whenever any chunk fails, and the
# messages that say where.
#
#   scale_out_test.sh tarvo|ostrel SCRIPTS-DIR PROGRAM GENERATOR VERSION
#
# Exits 77 (skipped) when GNU parallel is not installed.
set -u
what=$1 scripts=$2 prog=$3 gen=$4 version=$5

if ! parallel --version 2>/dev/null | grep -q '^GNU parallel'; then
    echo "GNU parallel is not installed: skipped"
    exit 77
fi

# The scripts as they are in the source tree, which read the part both
# share from beside themselves.
source=$(cd "$(dirname "$0")/../scripts" && pwd)

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
. "$(dirname "$(realpath "$0")")/tally.sh"

# Stands in for ssh to other hosts: drops the options and the host name and
# runs the command here, with a temporary folder of its own.
cat > "$tmp/ssh" <<END
#!/bin/bash
while [[ \$1 == -* ]]; do shift; done
shift
[ "\$1" = -- ] && shift
mkdir -p "$tmp/remote"
TMPDIR="$tmp/remote" exec bash -c "\$*"
END
chmod +x "$tmp/ssh"
hosts="--ssh $tmp/ssh --sshlogin 2/node1,1/node2"

# split NAME INPUT STATUS PARALLEL-OPTIONS SCRIPT-ARGS -- PROGRAM-ARGS -- [PATTERN...]
# Runs the program once and the script split into chunks on INPUT; both
# must end with STATUS and write the same standard output. Each PATTERN
# must occur in the script's standard error, or must not when it starts
# with "!".
split() {
    name=$1 input=$2 want=$3 opts=$4
    shift 4
    local sargs=() pargs=()
    while [ "$1" != -- ]; do sargs+=("$1"); shift; done
    shift
    while [ "$1" != -- ]; do pargs+=("$1"); shift; done
    shift

    "$prog" "${pargs[@]}" < "$input" > "$tmp/one.out" 2> "$tmp/one.err"
    local one=$?
    PARALLEL=$opts "$scripts/$what-parallel" "${sargs[@]}" < "$input" \
        > "$tmp/split.out" 2> "$tmp/split.err"
    local got=$?

    [ "$one" -eq "$want" ] || fail "single run: status $one, want $want"
    [ "$got" -eq "$want" ] || fail "split run: status $got, want $want"
    cmp -s "$tmp/one.out" "$tmp/split.out" ||
        fail "outputs differ: $(wc -c < "$tmp/one.out") bytes single, $(wc -c < "$tmp/split.out") split"
    local p
    for p in "$@"; do
        if [ "${p:0:1}" = '!' ]; then
            ! grep -qF -- "${p:1}" "$tmp/split.err" || fail "stderr holds '${p:1}'"
        else
            grep -qF -- "$p" "$tmp/split.err" || fail "stderr lacks '$p'"
        fi
    done
    [ "$want" -ne 0 ] || [ ! -s "$tmp/split.err" ] || fail "stderr not empty: $(head -c 200 "$tmp/split.err")"
    # A failure: the chunk's message and the script's line, nothing else.
    [ "$want" -eq 0 ] || [ "$(wc -l < "$tmp/split.err")" -eq 2 ] ||
        fail "stderr is not two lines: $(head -c 300 "$tmp/split.err")"
    # After a failure parallel may stop a job on a host before the job has
    # removed its own script, so only clean runs must leave nothing there.
    [ "$want" -ne 0 ] || [ -z "$(ls -A "$tmp/remote" 2>/dev/null)" ] ||
        fail "files left on the hosts: $(ls "$tmp/remote")"
    rm -rf "$tmp/remote"
    echo "[$name] status $got, $(wc -l < "$tmp/split.out") lines out ($(wc -c < "$input") bytes in)"
}

# usage NAME ARGS...: the script refuses ARGS with its usage text, status 2.
usage() {
    name=$1
    shift
    PARALLEL= "$scripts/$what-parallel" "$@" < /dev/null > "$tmp/u.out" 2> "$tmp/u.err"
    local got=$?
    [ "$got" -eq 2 ] || fail "status $got, want 2"
    [ ! -s "$tmp/u.out" ] || fail "wrote to standard output"
    grep -qF "$what-parallel " "$tmp/u.err" || fail "no usage text: $(cat "$tmp/u.err")"
}

# broken NAME PARALLEL-OPTIONS ARGS...: parallel itself fails, so no chunk
# reports anything; the script must still end with status 2.
broken() {
    name=$1
    local opts=$2
    shift 2
    printf 'ACGT\n' | PARALLEL=$opts "$scripts/$what-parallel" "$@" > /dev/null 2>&1
    local got=$?
    [ "$got" -eq 2 ] || fail "status $got, want 2"
}

# empty: no input, no chunks, no output, status 0.
empty() {
    name="empty input"
    "$scripts/$what-parallel" "$@" < /dev/null > "$tmp/e.out" 2> "$tmp/e.err"
    local got=$?
    [ "$got" -eq 0 ] || fail "status $got, want 0"
    [ ! -s "$tmp/e.out" ] && [ ! -s "$tmp/e.err" ] || fail "wrote something"
}

# left: no process of the program copy below may outlive a run.
left() { ps -eo args | grep -F -- "$odd" | grep -v grep; }

# ends NAME ARGS...: a run on $big, cut short by its reader or a signal,
# must end as a filter ends and leave nothing running.
ends() {
    name=$1
    shift
    "$scripts/$what-parallel" "$@" < "$big" 2> "$tmp/h.err" | head -c 10 > /dev/null
    local st=("${PIPESTATUS[@]}")
    [ "${st[0]}" -eq 141 ] || fail "closed pipe: status ${st[0]}, want 141 (SIGPIPE)"
    [ ! -s "$tmp/h.err" ] || fail "closed pipe: stderr: $(head -c 200 "$tmp/h.err")"
    [ -z "$(left)" ] || fail "closed pipe: left running: $(left)"
    local delay got
    local run feed
    for delay in 0.5 1.5; do
        # Input that does not end while the test holds the pipe open, so
        # the run is still going when the signal comes, however fast it is.
        rm -f "$tmp/fifo"
        mkfifo "$tmp/fifo"
        exec 7<>"$tmp/fifo"
        "$scripts/$what-parallel" "$@" < "$tmp/fifo" > /dev/null 2> "$tmp/s.err" &
        run=$!
        cat "$big" >&7 &
        feed=$!
        sleep $delay
        kill -TERM $run
        wait $run
        got=$?
        kill $feed 2>/dev/null
        wait $feed 2>/dev/null
        exec 7>&-
        [ "$got" -eq 2 ] || fail "TERM after $delay s: status $got, want 2"
        [ ! -s "$tmp/s.err" ] || fail "TERM after $delay s: stderr: $(head -c 200 "$tmp/s.err")"
        [ -z "$(left)" ] || fail "TERM after $delay s: left running: $(left)"
    done
    "$scripts/$what-parallel" "$@" < /tmp > "$tmp/d.out" 2> "$tmp/d.err"
    got=$?
    [ "$got" -eq 2 ] || fail "directory as input: status $got, want 2"
    [ "$(cat "$tmp/d.err")" = "$what-parallel: Error reading input: Is a directory" ] ||
        fail "directory as input: stderr: $(cat "$tmp/d.err")"
    [ ! -s "$tmp/d.out" ] || fail "directory as input: wrote output"
    [ "$("$scripts/$what-parallel" --version)" = "$what-parallel $version" ] ||
        fail "--version: $("$scripts/$what-parallel" --version)"
    "$scripts/$what-parallel" --help > "$tmp/help" || fail "--help: status $?"
    grep -q "^Usage: $what-parallel " "$tmp/help" && grep -q "man $what-parallel" "$tmp/help" ||
        fail "--help: $(head -3 "$tmp/help")"
    echo "[$name] closed pipe, TERM, directory as input, --help, --version"
}

# A copy of the program in a folder whose name parallel would rewrite.
mkdir "$tmp/a {} b{=1=}" || exit 2
odd="$tmp/a {} b{=1=}/$what"
cp "$prog" "$odd" || exit 2

# A copy of a file with one line changed by a sed expression.
spoil() { sed "$2" "$1" > "$3"; }

case $what in
tarvo)
    export TARVO=$prog
    big=$tmp/big.txt
    "$gen" 200000 > "$big"
    spoil "$big" '100001s/^[0-9]/x/' "$tmp/bad-read.txt"

    # Three sites per observation, one per line, ending without a newline
    # and with blank lines in between, which a count by wc -l would get
    # wrong.
    awk 'BEGIN {
        for (o = 0; o < 3000; o++) {
            printf "%d %d %d", o % 4, 5, (o * 7) % 4
            printf " 0.1 0.2 0.3 0.4 0.%d 0.3 0.2 0.1", o % 9 + 1
            printf " 0.0%d 0.5 1e-%d", o % 10, o % 7 + 1
            printf o % 500 == 7 ? "\n \n\n" : o < 2999 ? "\n" : ""
        } }' > "$tmp/three.txt"
    spoil "$tmp/three.txt" '1200s/^[0-9]/4/' "$tmp/bad-code.txt"

    split "200,000 observations, ploidy 2" "$big" 0 '--block 4M' \
        -p 2 -- -t 200000 -p 2 --
    split "200,000 observations, bad code at 100,001" "$tmp/bad-read.txt" 2 '--block 4M' \
        -p 2 -- -t 200000 -p 2 -- \
        "(tarvoprob) Error reading allele 0 on line " \
        "tarvo-parallel: failed at observation 100001 of the input" \
        "!on line 100001"
    split "blank lines, no final newline, -n 3, ploidy 1" "$tmp/three.txt" 0 '--block 4k' \
        -p 1 -n 3 -- -t 3000 -p 1 -n 3 --
    split "invalid allele code" "$tmp/bad-code.txt" 2 '--block 4k -j 3' \
        -p2 -n3 -- -t 3000 -p 2 -n 3 -- \
        "(tarvoprob) Invalid allele code 4 for allele 0 on line " \
        "tarvo-parallel: failed at observation 1194 of the input"
    split "two hosts" "$tmp/three.txt" 0 "$hosts --block 16k" \
        -p 2 -n 3 -- -t 3000 -p 2 -n 3 --
    split "-l, 3,000 observations" "$tmp/three.txt" 0 '--block 4k' \
        -p 2 -n 3 -l -- -t 3000 -p 2 -n 3 -l --
    scripts=$source split "run from the source tree" "$tmp/three.txt" 0 '--block 4k' \
        -p 2 -n 3 -l -- -t 3000 -p 2 -n 3 -l --
    split "two hosts, invalid allele code" "$tmp/bad-code.txt" 2 "$hosts --block 16k" \
        -p 2 -n 3 -- -t 3000 -p 2 -n 3 -- \
        "tarvo-parallel: failed at observation 1194 of the input"
    TARVO=$odd split "{}, {=...=} and spaces in TARVO, two hosts" "$tmp/bad-code.txt" 2 "$hosts --block 16k" \
        -p 2 -n 3 -- -t 3000 -p 2 -n 3 -- \
        "(tarvoprob) Invalid allele code 4 for allele 0 on line " \
        "tarvo-parallel: failed at observation 1194 of the input"
    TARVO=$odd ends "tarvo" -p 2

    usage "no -p"
    usage "ploidy 3" -p 3
    usage "-t is the script's" -t 5 -p 2
    usage "extra word" -p 2 obs.txt
    usage "-n not a number" -p 2 -n "1; touch $tmp/oops"
    empty -p 2
    broken "unknown parallel option" --no-such-option -p 2
    broken "host unreachable" '--ssh /bin/false --sshlogin 1/node1' -p 2
    ;;
ostrel)
    export OSTREL=$prog
    big=$tmp/big.txt
    "$gen" 100 30000000 > "$big" 2> /dev/null
    spoil "$big" '150001s/A/a/' "$tmp/bad.txt"
    printf 'ACGT\n\nNNNN\nGATTACA\n\n\nTTTTTTTTTTTTTTTTTT\nACG' > "$tmp/small.txt"
    { for i in 1 2 3 4 5; do cat "$tmp/small.txt"; echo; done; cat "$tmp/small.txt"; } > "$tmp/smalls.txt"
    printf 'ACGT\nNNNN\nAC\r\nGG\n' > "$tmp/crlf.txt"
    # A stand-in for ostrel that notes each chunk it gets and is killed by
    # a signal at the line KILL, here in the first of about a hundred
    # chunks.
    printf '#!/bin/sh\necho >> %s\nwhile read -r l; do [ "$l" = KILL ] && kill -SEGV $$; echo "$l"; done\n' \
        "$tmp/chunks" > "$tmp/crash"
    chmod +x "$tmp/crash"
    for i in $(seq 1 2000); do echo "line $i"; [ "$i" -ne 5 ] || echo KILL; done > "$tmp/crash.txt"

    split "297,029 lines of 100 bases" "$big" 0 '--block 1M' -- --
    split "invalid base at line 150,001" "$tmp/bad.txt" 2 '--block 1M' -- -- \
        "Invalid base: a" "ostrel-parallel: failed at line 150001 of the input"
    scripts=$source split "run from the source tree, invalid base" "$tmp/bad.txt" 2 '--block 1M' -- -- \
        "Invalid base: a" "ostrel-parallel: failed at line 150001 of the input"
    split "two hosts" "$big" 0 "$hosts --block 2M" -- --
    split "two hosts, invalid base" "$tmp/bad.txt" 2 "$hosts --block 2M" -- -- \
        "Invalid base: a" "ostrel-parallel: failed at line 150001 of the input"
    OSTREL=$odd split "{}, {=...=} and spaces in OSTREL, two hosts" "$tmp/bad.txt" 2 "$hosts --block 2M" -- -- \
        "Invalid base: a" "ostrel-parallel: failed at line 150001 of the input"
    OSTREL=$odd ends "ostrel"
    split "empty lines, no final newline, tiny chunks" "$tmp/smalls.txt" 0 '--block 20' -- --
    split "carriage return" "$tmp/crlf.txt" 2 '--block 5' -- -- \
        $'Invalid base: \r' "ostrel-parallel: failed at line 3 of the input"

    # The stand-in's output has no single run to compare with: the signal
    # must become status 2 after the lines before it, and the run must
    # stop well before the last chunk.
    name="chunk killed by a signal"
    OSTREL=$tmp/crash PARALLEL='--block 200' "$scripts/ostrel-parallel" \
        < "$tmp/crash.txt" > "$tmp/crash.out" 2> "$tmp/crash.err"
    got=$?
    [ "$got" -eq 2 ] || fail "status $got, want 2"
    seq 1 5 | sed 's/^/line /' | cmp -s - "$tmp/crash.out" || fail "output is not lines 1 to 5"
    grep -qF "failed at line 6 of the input" "$tmp/crash.err" || fail "stderr: $(cat "$tmp/crash.err")"
    ran=$(wc -l < "$tmp/chunks") chunks=$(($(wc -c < "$tmp/crash.txt") / 200))
    [ "$ran" -lt $((chunks * 3 / 4)) ] || fail "$ran of about $chunks chunks ran"
    echo "[$name] status $got, $ran of about $chunks chunks ran"

    usage "a word" words
    empty
    broken "unknown parallel option" --no-such-option
    broken "host unreachable" '--ssh /bin/false --sshlogin 1/node1'
    ;;
*)
    echo "unknown program $what"
    exit 2
    ;;
esac

[ ! -e "$tmp/oops" ] || fail "-n reached a shell"
tally
