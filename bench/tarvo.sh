#!/bin/bash
# Throughput and peak memory of tarvo on a generated workload:
# 200,000 observations, 50 sites, one observation per line, for ploidy 2
# and 1, with and without -l, side by side with the plain scanf/printf
# build (tarvo_literal).
#
#   bench/tarvo.sh [build-dir] [observations]
#
# RUNS (default 5) runs of tarvo and LITERAL_RUNS (default 3) of the plain
# build; each figure is the best run. The ratio is given on elapsed time and
# on processor time (user + system), which a busy machine disturbs less.
# Needs /usr/bin/time (Debian package "time"). The first line of the output
# names the processor (bench/processor.sh).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
numobs=${2:-200000}
runs=${RUNS:-5}
literal_runs=${LITERAL_RUNS:-3}
data=$here/data
mkdir -p "$data"
input=$data/tarvo-$numobs.txt
literal=$build/objs/tests/tarvo_literal # built with the tests

cmake --build "$build" --target tarvo tarvo_literal gen_tarvo >/dev/null
[ -s "$input" ] || "$build/bench/gen_tarvo" "$numobs" > "$input"
[ -x /usr/bin/time ] || { echo "install /usr/bin/time: apt-get install time" >&2; exit 2; }

bytes=$(stat -c %s "$input")
cat "$input" > /dev/null # into the page cache

best_in=$input
. "$here/best.sh"

# line NAME: one line of figures for the last best().
line() {
    awk -v name="$1" -v b="$bytes" -v n="$numobs" -v s="$secs" -v c="$cpu" -v r="$rss" 'BEGIN {
        if (s == 0) s = 0.005; if (c == 0) c = 0.005
        printf "%-22s %6.2f s %6.0f MB/s  cpu %6.2f s %6.0f MB/s  %8.0f obs/s  RSS %.1f MiB\n",
            name, s, b / 1e6 / s, c, b / 1e6 / c, n / s, r / 1024
    }'
}

"$here/processor.sh"
printf 'input %.1f MB, %d observations\n' "$(awk -v b="$bytes" 'BEGIN { print b / 1e6 }')" "$numobs"
for p in 2 1; do
    "$build/tarvo" -t "$numobs" -p "$p" < "$input" > "$data/fast.out"
    "$literal" -t "$numobs" -p "$p" < "$input" > "$data/plain.out"
    cmp -s "$data/fast.out" "$data/plain.out" || { echo "ploidy $p: outputs differ" >&2; exit 1; }
    rm -f "$data/fast.out" "$data/plain.out"

    best "$runs" "$build/tarvo" -t "$numobs" -p "$p"
    fast_secs=$secs fast_cpu=$cpu
    line "tarvo -p $p"
    best "$runs" "$build/tarvo" -t "$numobs" -p "$p" -l
    line "tarvo -p $p -l"
    awk -v fs="$fast_secs" -v fc="$fast_cpu" -v s="$secs" -v c="$cpu" 'BEGIN {
        if (fs == 0) fs = 0.005; if (fc == 0) fc = 0.005
        printf "-l / default -p %d      %.2f times on elapsed time, %.2f times on processor time\n",
            '"$p"', s / fs, c / fc
    }'
    best "$literal_runs" "$literal" -t "$numobs" -p "$p"
    line "plain build -p $p"
    awk -v fs="$fast_secs" -v fc="$fast_cpu" -v s="$secs" -v c="$cpu" 'BEGIN {
        if (fs == 0) fs = 0.005; if (fc == 0) fc = 0.005
        printf "ratio -p %d             %.1f times on elapsed time, %.1f times on processor time\n",
            '"$p"', s / fs, c / fc
    }'
done
best "$runs" wc -l
line "wc -l"
