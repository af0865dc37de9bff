#!/bin/bash
# tarvo-hmm side by side with the `tarvo -a -l` that feeds it: the time
# each takes on the same loci, and tarvo-hmm's peak memory.
#
#   bench/hmm.sh [build-dir] [loci]
#
# Generates (once, under bench/data/hmm) one admixed individual at ploidy
# 2 drawn from tarvo-hmm's own model (m 0.3, T 10, 10 chromosomes on a
# PLINK map whose rate varies from 0.2 to 3 cM/Mb), 1,500,000 loci by
# default with 8 reads each, frequencies and error rates written in the
# shortest form that reads back exactly (as tarvo-pileup writes them), and
# the table tarvo's log-likelihoods make with the sites. Then times
# `tarvo -n 8 -a -p 2 -l` on the observations and tarvo-hmm estimating
# both parameters and their intervals, with the map, the tracts and the
# summary (RUNS runs each, default 3; each figure is the best run). The
# ratio is given on elapsed time and on processor time (user + system),
# which a busy machine disturbs less. Needs /usr/bin/time (Debian package
# "time") and the system's python3 with numpy. The first line of the
# output names the processor (bench/processor.sh).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
loci=${2:-1500000}
runs=${RUNS:-3}
data=$here/data/hmm
mkdir -p "$data"
py=/usr/bin/python3
[ -x /usr/bin/time ] || { echo "install /usr/bin/time: apt-get install time" >&2; exit 2; }
"$py" -c 'import numpy' 2> /dev/null || { echo "bench/hmm.sh needs python3-numpy" >&2; exit 2; }
cmake --build "$build" --target tarvo tarvo-hmm > /dev/null
"$here/processor.sh"

d=$data/$loci
if [ ! -s "$d.table.tsv" ]; then
    "$py" - "$d" "$loci" << 'PY'
import sys
import numpy as np

out, n = sys.argv[1], int(sys.argv[2])
rng = np.random.default_rng(21)
m, T, chroms, reads = 0.3, 10.0, 10, 8
per = n // chroms
with open(out + ".map", "w") as mp, open(out + ".sites.tsv", "w") as st, \
        open(out + ".obs.txt", "w") as ob:
    for c in range(chroms):
        name = "chr%d" % (c + 1)
        length = 150_000_000
        # The map: a point every megabase, the rate between 0.2 and 3 cM/Mb.
        bps = np.arange(0, length + 1, 1_000_000) + 1
        cms = np.concatenate([[0], np.cumsum(rng.uniform(0.2, 3, len(bps) - 1))])
        for i, (bp, cm) in enumerate(zip(bps, cms)):
            mp.write("%s\t%s_%d\t%r\t%d\n" % (name, name, i, float(cm), bp))
        k = n - per * (chroms - 1) if c == chroms - 1 else per
        pos = np.sort(rng.choice(np.arange(2, length), k, replace=False))
        morgans = np.interp(pos, bps, cms) / 100
        d = np.diff(morgans, prepend=morgans[0])
        redraw = rng.random((2, k)) < -np.expm1(-T * d)
        redraw[:, 0] = True
        fresh = rng.random((2, k)) < m
        # Each copy's ancestry: the draw at its last redraw.
        last = np.maximum.accumulate(np.where(redraw, np.arange(k), 0), axis=1)
        anc = np.take_along_axis(fresh, last, axis=1)
        f0 = rng.uniform(0.02, 0.98, k)
        f1 = np.clip(f0 + rng.normal(0, 0.3, k), 0.01, 0.99)
        ref = rng.integers(0, 4, k)
        alt = (ref + rng.integers(1, 4, k)) % 4
        freq = np.where(anc, f1, f0)  # each copy's frequency of ref
        allele = np.where(rng.random((2, k)) < freq, ref, alt)
        copy = rng.integers(0, 2, (k, reads))
        base = allele.T[np.arange(k)[:, None], copy]
        q = rng.integers(15, 41, (k, reads))
        eps = np.minimum(1.0, (4 / 3) * 10.0 ** (-q / 10))
        wrong = rng.random((k, reads)) < eps * 3 / 4
        base = np.where(wrong, (base + rng.integers(1, 4, (k, reads))) % 4, base)
        for i in range(k):
            fr = [0.0] * 8
            fr[ref[i]] = float(f0[i]); fr[alt[i]] = float(1 - f0[i])
            fr[4 + ref[i]] = float(f1[i]); fr[4 + alt[i]] = float(1 - f1[i])
            ob.write(" ".join(map(str, base[i])) + "\n" + " ".join(map(repr, fr)) + "\n"
                     + " ".join(map(repr, eps[i].tolist())) + "\n")
            st.write("%s\t%d\t%d\t0\n" % (name, pos[i], reads))
PY
    "$build/tarvo" -n 8 -a -p 2 -l < "$d.obs.txt" > "$d.lnL.txt"
    { printf '#chrom\tpos\treads_used\treads_left_out\tlnL_pop0_pop0\tlnL_pop0_pop1\tlnL_pop1_pop1\n'
      paste "$d.sites.tsv" "$d.lnL.txt"; } > "$d.table.tsv"
fi

. "$here/best.sh"
line() {
    awk -v name="$1" -v s="$secs" -v c="$cpu" -v r="$rss" -v n="$loci" 'BEGIN {
        if (s == 0) s = 0.005; if (c == 0) c = 0.005
        printf "%-10s %7.2f s  cpu %7.2f s  %6.0f ns/locus  RSS %7.1f MiB (%.1f bytes/locus)\n",
            name, s, c, c / n * 1e9, r / 1024, r * 1024 / n
    }'
}
printf '%d loci, ploidy 2, 8 reads each: observations %.0f MB, table %.0f MB\n' "$loci" \
    "$(awk -v b="$(stat -c %s "$d.obs.txt")" 'BEGIN { print b / 1e6 }')" \
    "$(awk -v b="$(stat -c %s "$d.table.tsv")" 'BEGIN { print b / 1e6 }')"
cat "$d.obs.txt" "$d.table.tsv" > /dev/null # into the page cache
best_in=$d.obs.txt
best "$runs" "$build/tarvo" -n 8 -a -p 2 -l
line tarvo
t_secs=$secs t_cpu=$cpu
best_in=$d.table.tsv
best "$runs" "$build/tarvo-hmm" --map "$d.map" --tracts "$data/tracts.bed" \
    --summary "$data/summary.tsv"
line tarvo-hmm
awk -v a="$t_secs" -v b="$secs" -v c="$t_cpu" -v e="$cpu" 'BEGIN {
    printf "ratio: tarvo-hmm takes %.2f times tarvo elapsed, %.2f times on processor time\n",
        b / (a ? a : 0.005), e / (c ? c : 0.005) }'
"$build/tarvo-hmm" -v --map "$d.map" < "$d.table.tsv" 2>&1 > /dev/null | tail -n 1
column -t "$data/summary.tsv"
