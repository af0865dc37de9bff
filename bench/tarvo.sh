#!/bin/bash
# Throughput and peak memory of tarvo on generated workloads, side by side
# with the plain scanf/printf build (tarvo_literal):
#
#   six        gen_tarvo's 200,000 observations of 50 sites, one per line,
#              frequencies and error rates with six significant digits
#   shortest   the same values in the shortest form that reads back as the
#              same double (16 or 17 digits mostly), as tarvo-pileup writes
#
# each for ploidy 2 and 1, with and without -l; then -l against the
# default where every state underflows (examples/manysites.txt repeated to
# 9,000 observations of 2,500 sites); then the pipeline's own load,
# tarvo-pileup's output for a simulated individual read 8 times over
# (gen/gen_reads.py, samtools mpileup), read by `tarvo -a -l` (skipped
# without samtools).
#
#   bench/tarvo.sh [build-dir] [observations]
#
# RUNS (default 5) runs of tarvo and LITERAL_RUNS (default 3) of the plain
# build; each figure is the best run. The ratio is given on elapsed time and
# on processor time (user + system), which a busy machine disturbs less.
# Every load is checked first: tarvo's output without -l must be the plain
# build's, byte for byte (the plain build has no -l). Needs /usr/bin/time (Debian package "time"). The first
# line of the output names the processor (bench/processor.sh).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
numobs=${2:-200000}
runs=${RUNS:-5}
literal_runs=${LITERAL_RUNS:-3}
data=$here/data
mkdir -p "$data"
literal=$build/objs/tests/tarvo_literal # built with the tests

cmake --build "$build" --target tarvo tarvo_literal gen_tarvo >/dev/null
[ -x /usr/bin/time ] || { echo "install /usr/bin/time: apt-get install time" >&2; exit 2; }

. "$here/best.sh"

# line NAME: one line of figures for the last best().
line() {
    awk -v name="$1" -v b="$bytes" -v n="$nobs" -v s="$secs" -v c="$cpu" -v r="$rss" 'BEGIN {
        if (s == 0) s = 0.005; if (c == 0) c = 0.005
        printf "%-24s %6.2f s %6.0f MB/s  cpu %6.2f s %6.0f MB/s  %8.0f obs/s  RSS %.1f MiB\n",
            name, s, b / 1e6 / s, c, b / 1e6 / c, n / s, r / 1024
    }'
}

# ratio TEXT: the last best() against the one saved in base_secs, base_cpu.
ratio() {
    awk -v t="$1" -v fs="$base_secs" -v fc="$base_cpu" -v s="$secs" -v c="$cpu" 'BEGIN {
        if (fs == 0) fs = 0.005; if (fc == 0) fc = 0.005; if (s == 0) s = 0.005; if (c == 0) c = 0.005
        printf "%-24s %.2f times on elapsed time, %.2f times on processor time\n", t, s / fs, c / fc
    }'
}

# same ARGS...: tarvo and the plain build write the same bytes on $best_in.
same() {
    "$build/tarvo" "$@" < "$best_in" > "$data/fast.out"
    "$literal" "$@" < "$best_in" > "$data/plain.out"
    cmp -s "$data/fast.out" "$data/plain.out" || { echo "$best_in $*: outputs differ" >&2; exit 1; }
    rm -f "$data/fast.out" "$data/plain.out"
}

# load NAME FILE: tarvo, tarvo -l and the plain build, for both ploidies.
load() {
    best_in=$2
    bytes=$(stat -c %s "$best_in") nobs=$numobs
    cat "$best_in" > /dev/null # into the page cache
    printf '\n%s: %.1f MB, %d observations\n' "$1" "$(awk -v b="$bytes" 'BEGIN { print b / 1e6 }')" \
        "$numobs"
    for p in 2 1; do
        same -t "$numobs" -p "$p"
        best "$runs" "$build/tarvo" -t "$numobs" -p "$p"
        base_secs=$secs base_cpu=$cpu
        line "tarvo -p $p"
        best "$runs" "$build/tarvo" -t "$numobs" -p "$p" -l
        line "tarvo -p $p -l"
        ratio "-l / default -p $p"
        best "$literal_runs" "$literal" -t "$numobs" -p "$p"
        line "plain build -p $p"
        ratio "plain build / tarvo -p $p"
    done
}

"$here/processor.sh"
six=$data/tarvo-$numobs.txt shortest=$data/tarvo-shortest-$numobs.txt
[ -s "$six" ] || "$build/bench/gen_tarvo" "$numobs" > "$six"
[ -s "$shortest" ] || "$build/bench/gen_tarvo" "$numobs" 20261208 shortest > "$shortest"
load six "$six"
load shortest "$shortest"
best_in=$six
best "$runs" wc -l
line "wc -l (six)"

# Every state underflows: -l needs the scaled products beside the default.
many=$data/manysites-9000.txt
[ -s "$many" ] || for ((i = 0; i < 3000; i++)); do cat "$here/../examples/manysites.txt"; done > "$many"
best_in=$many bytes=$(stat -c %s "$many") nobs=9000
printf '\nmanysites: %.1f MB, 9000 observations of 2500 sites\n' \
    "$(awk -v b="$bytes" 'BEGIN { print b / 1e6 }')"
same -t 9000 -p 2 -n 2500
best "$runs" "$build/tarvo" -t 9000 -p 2 -n 2500
base_secs=$secs base_cpu=$cpu
line "tarvo -p 2"
best "$runs" "$build/tarvo" -t 9000 -p 2 -n 2500 -l
line "tarvo -p 2 -l"
ratio "-l / default"

# The pipeline's own load: one individual, 2 chromosomes of 1 Mb read 8
# times over, a panel of every locus, 8 reads per observation.
if command -v samtools > /dev/null && command -v python3 > /dev/null; then
    cmake --build "$build" --target tarvo-pileup > /dev/null
    d=$data/individual
    if [ ! -s "$d.obs" ]; then
        python3 "$here/../gen/gen_reads.py" "$d.fa" 2 1000000 8 7 |
            samtools sort -o "$d.bam" - 2> /dev/null
        samtools faidx "$d.fa"
        awk 'BEGIN { OFS = "\t"; split("A C G T", b, " ") }
             /^>/ { chrom = substr($1, 2); pos = 0; next }
             { for (i = 1; i <= length($0); i++) {
                   r = substr($0, i, 1); pos++
                   print chrom, pos, r, b[(index("ACGT", r) % 4) + 1], (pos % 97) / 97,
                       (pos % 89) / 89 } }' "$d.fa" > "$d.panel.tsv"
        samtools mpileup -f "$d.fa" "$d.bam" 2> /dev/null |
            "$build/tarvo-pileup" -r "$d.panel.tsv" -n 8 > "$d.obs"
    fi
    best_in=$d.obs bytes=$(stat -c %s "$d.obs") nobs=$(wc -l < "$d.obs")
    printf '\npipeline: tarvo-pileup -n 8 output, %.1f MB, %d observations\n' \
        "$(awk -v b="$bytes" 'BEGIN { print b / 1e6 }')" "$nobs"
    same -t "$nobs" -p 2 -n 8
    best "$runs" "$build/tarvo" -a -p 2 -n 8
    base_secs=$secs base_cpu=$cpu
    line "tarvo -a -p 2"
    best "$runs" "$build/tarvo" -a -p 2 -n 8 -l
    line "tarvo -a -p 2 -l"
    ratio "-l / default"
else
    echo "pipeline load skipped: it needs samtools and python3"
fi
