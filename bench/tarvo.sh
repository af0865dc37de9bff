#!/bin/bash
# Throughput and peak memory of tarvo on a generated workload:
# 200,000 observations, ploidy 2, 50 sites, one observation per line; the
# default output and -l, run in turn so that both see the same load on the
# machine.
#
#   bench/tarvo.sh [build-dir] [observations]
#
# Needs /usr/bin/time (Debian package "time") for the peak RSS.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
numobs=${2:-200000}
data=$here/data
mkdir -p "$data"
input=$data/tarvo-$numobs.txt

cmake --build "$build" --target tarvo gen_tarvo >/dev/null
[ -s "$input" ] || "$build/bench/gen_tarvo" "$numobs" > "$input"
[ -x /usr/bin/time ] || { echo "install /usr/bin/time: apt-get install time" >&2; exit 2; }

bytes=$(stat -c %s "$input")
cat "$input" > /dev/null # into the page cache

# Best time of five runs of each; peak RSS over all of them.
best= best_l= peak= peak_l=
for i in 1 2 3 4 5; do
    for opt in "" -l; do
        /usr/bin/time -f '%e %M' -o "$data/time.txt" \
            "$build/tarvo" -t "$numobs" -p 2 $opt < "$input" > /dev/null
        read -r secs rss < "$data/time.txt"
        if [ -z "$opt" ]; then
            if [ -z "$best" ] || awk "BEGIN{exit !($secs < $best)}"; then best=$secs; fi
            if [ -z "$peak" ] || [ "$rss" -gt "$peak" ]; then peak=$rss; fi
        else
            if [ -z "$best_l" ] || awk "BEGIN{exit !($secs < $best_l)}"; then best_l=$secs; fi
            if [ -z "$peak_l" ] || [ "$rss" -gt "$peak_l" ]; then peak_l=$rss; fi
        fi
    done
done
wc_secs=$( { /usr/bin/time -f '%e' wc -l < "$input" > /dev/null; } 2>&1 )

awk -v b="$bytes" -v s="$best" -v l="$best_l" -v n="$numobs" -v r="$peak" -v rl="$peak_l" \
    -v w="$wc_secs" 'BEGIN {
    if (s == 0) s = 0.005; if (l == 0) l = 0.005; if (w == 0) w = 0.005
    printf "input            %.1f MB, %d observations\n", b / 1e6, n
    printf "tarvo            %.2f s, %.0f MB/s, %.0f observations/s\n", s, b / 1e6 / s, n / s
    printf "tarvo -l         %.2f s, %.0f MB/s, %.2f times the default\n", l, b / 1e6 / l, l / s
    printf "peak RSS         %.1f MiB, -l %.1f MiB\n", r / 1024, rl / 1024
    printf "wc -l            %.2f s, %.0f MB/s\n", w, b / 1e6 / w
}'
