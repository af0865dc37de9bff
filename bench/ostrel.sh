#!/bin/sh
# Throughput and peak memory of ostrel on two generated loads of 256 MiB:
# 60,000-base lines and 100-base lines, about 2% N, from a fixed seed.
# Each load is first checked against the generator's own counts, then timed
# (best of RUNS, input redirected from a file in the page cache, output to
# /dev/null) in turns with `wc -l` on the same file; the ratio is ostrel's
# throughput as a share of wc's.
#
# Usage: bench/ostrel.sh [BUILD_DIR]    (default: build beside bench/; the
#        script builds the targets ostrel and gen_bases there)
# The first line of the output names the processor (bench/processor.sh).
# Environment: RUNS (default 7), TMPDIR for the 512 MiB of data.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
runs=${RUNS:-7}
bin=$build/ostrel
gen=$build/bench/gen_bases
size=268435456

cmake --build "$build" --target ostrel gen_bases >/dev/null
[ -x /usr/bin/time ] || {
    echo "needs GNU time for peak memory: apt-get install -y time" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT INT TERM

# race FILE: the shortest wall times (ns) of $runs runs each of ostrel and
# `wc -l` on FILE, the two taking turns so that both see the same moments
# of a busy machine.
race() {
    bo=
    bw=
    i=0
    while [ $i -lt "$runs" ]; do
        s=$(date +%s%N)
        "$bin" < "$1" > /dev/null
        e=$(date +%s%N)
        t=$((e - s))
        if [ -z "$bo" ] || [ $t -lt "$bo" ]; then bo=$t; fi
        s=$(date +%s%N)
        wc -l < "$1" > /dev/null
        e=$(date +%s%N)
        t=$((e - s))
        if [ -z "$bw" ] || [ $t -lt "$bw" ]; then bw=$t; fi
        i=$((i + 1))
    done
    echo "$bo $bw"
}

"$here/processor.sh"
printf '%-10s %10s %12s %11s %8s %9s\n' load bytes "ostrel MB/s" "wc -l MB/s" "ostrel/wc" "peak RSS"
for line in 60000 100; do
    f=$dir/lines$line
    "$gen" $line $size 42 > "$f" 2> "$f.sum"
    got=$("$bin" < "$f" | awk '{ for (b = 1; b <= 5; b++) s[b] += $b }
        END { printf "%d %d %d %d %d\n", s[1], s[2], s[3], s[4], s[5] }')
    if [ "$got" != "$(cat "$f.sum")" ]; then
        echo "ostrel miscounts $line-base lines: $got, want $(cat "$f.sum")" >&2
        exit 1
    fi
    bytes=$(stat -c %s "$f")
    set -- $(race "$f")
    rss=$(/usr/bin/time -f %M "$bin" < "$f" 2>&1 > /dev/null)
    printf '%-10s %10d %12d %11d %8d%% %5d KiB\n' "$line-base" "$bytes" \
        $((bytes * 1000 / $1)) $((bytes * 1000 / $2)) $(($2 * 100 / $1)) "$rss"
done
