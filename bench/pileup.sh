#!/bin/bash
# tarvo-pileup side by side with the samtools mpileup that feeds it: the
# rate at which each gets through the same pileup text, and tarvo-pileup's
# peak memory on a dense panel and on deep reads.
#
#   bench/pileup.sh [build-dir]
#
# Generates (once, under bench/data/pileup) two chromosomes of 1.75 Mb read
# 30 times over, a panel of every one of their loci and its BED, then
# times `samtools mpileup -f ref.fa -l panel.bed` writing the pileup to a
# file and tarvo-pileup reading that file (RUNS times, default 3; each
# figure is the best run). The ratio is given on elapsed time and on
# processor time (user + system), which a busy machine disturbs less. A
# second set, 20 kb read 2000 times over, shows memory at depth. A third,
# 40 times over with -n 50, is timed against samtools mpileup -B -Q 0, and
# its output checked byte for byte against the plain build's
# (pileup_plain). Last, 10^6 loci as a million one-locus contigs and on 30
# chromosomes. The first line of the output names the processor
# (bench/processor.sh). Needs samtools, python3 and /usr/bin/time.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
runs=${RUNS:-3}
data=$here/data/pileup
mkdir -p "$data"
for tool in samtools python3 /usr/bin/time; do
    command -v "$tool" > /dev/null || { echo "bench/pileup.sh needs $tool" >&2; exit 2; }
done
cmake --build "$build" --target tarvo-pileup pileup_plain > /dev/null
"$here/processor.sh"

# make NAME CHROMS LENGTH DEPTH: reads, reference, panel and BED.
make() {
    local d=$data/$1
    [ -s "$d.bam" ] && return
    python3 "$here/../gen/gen_reads.py" "$d.fa" "$2" "$3" "$4" 1 |
        samtools sort -@2 -o "$d.bam" - 2> /dev/null
    samtools index "$d.bam"
    samtools faidx "$d.fa"
    # Every locus: the reference base, another as alt, two frequencies.
    awk 'BEGIN { OFS = "\t"; split("A C G T", b, " ") }
         /^>/ { chrom = substr($1, 2); pos = 0; next }
         { for (i = 1; i <= length($0); i++) {
               r = substr($0, i, 1); pos++
               a = b[(index("ACGT", r) % 4) + 1]
               print chrom, pos, r, a, (pos % 97) / 97, (pos % 89) / 89 } }' "$d.fa" > "$d.panel.tsv"
    awk 'BEGIN { OFS = "\t" } { print $1, $2 - 1, $2 }' "$d.panel.tsv" > "$d.bed"
}

. "$here/best.sh"

ratio() {
    awk -v a="$s_secs" -v b="$secs" -v c="$s_cpu" -v e="$cpu" 'BEGIN {
        printf "ratio: %.1f times samtools elapsed, %.1f times on processor time\n",
            a / (b ? b : 0.005), c / (e ? e : 0.005) }'
}

line() {
    awk -v name="$1" -v b="$bytes" -v s="$secs" -v c="$cpu" -v r="$rss" 'BEGIN {
        if (s == 0) s = 0.005; if (c == 0) c = 0.005
        printf "%-14s %7.2f s %7.0f MB/s  cpu %7.2f s %7.0f MB/s  RSS %7.1f MiB\n",
            name, s, b / 1e6 / s, c, b / 1e6 / c, r / 1024
    }'
}

for set in "wide 2 1750000 30" "deep 1 20000 2000"; do
    read -r name chroms length depth <<< "$set"
    make "$name" "$chroms" "$length" "$depth"
    d=$data/$name
    printf '\n%s: %d x %d bases read %dx, panel of %d loci (%.0f MB)\n' "$name" "$chroms" \
        "$length" "$depth" "$(wc -l < "$d.panel.tsv")" \
        "$(awk -v b="$(stat -c %s "$d.panel.tsv")" 'BEGIN { print b / 1e6 }')"
    best 1 sh -c 'samtools mpileup -f "$1.fa" -l "$1.bed" "$1.bam" > "$1.pileup" 2> /dev/null' \
        sh "$d"
    bytes=$(stat -c %s "$d.pileup")
    printf 'pileup %.1f MB, %d lines\n' "$(awk -v b="$bytes" 'BEGIN { print b / 1e6 }')" \
        "$(wc -l < "$d.pileup")"
    line "samtools"
    s_secs=$secs s_cpu=$cpu
    best "$runs" sh -c '"$1" -r "$2.panel.tsv" -s /dev/null < "$2.pileup" > /dev/null' \
        sh "$build/tarvo-pileup" "$d"
    line "tarvo-pileup"
    ratio
done

# The dense load: a panel of every locus read 40 times over, -n 50, against
# samtools without base alignment qualities (-B) or a quality floor (-Q 0),
# its fastest way to the same text. tarvo-pileup's output must be the same
# bytes as its plain build's (every number through the C++ library).
make dense 2 1750000 40
d=$data/dense
printf '\ndense: 2 x 1750000 bases read 40x, panel of %d loci, -n 50\n' "$(wc -l < "$d.panel.tsv")"
best 1 sh -c 'samtools mpileup -B -Q 0 -f "$1.fa" -l "$1.bed" "$1.bam" > "$1.pileup" 2> /dev/null' \
    sh "$d"
bytes=$(stat -c %s "$d.pileup")
line "samtools -B -Q 0"
s_secs=$secs s_cpu=$cpu
best "$runs" sh -c '"$1" -r "$2.panel.tsv" -n 50 -s /dev/null < "$2.pileup" > /dev/null' \
    sh "$build/tarvo-pileup" "$d"
line "tarvo-pileup"
ratio
"$build/tarvo-pileup" -r "$d.panel.tsv" -n 50 < "$d.pileup" > "$d.obs"
"$build/bench/pileup_plain" -r "$d.panel.tsv" -n 50 < "$d.pileup" | cmp - "$d.obs"
echo "output: the same bytes as the plain build's"
rm -f "$d.obs"

# Many contigs: a million one-locus contigs, as a scaffold-level assembly
# gives, against the same loci on 30 chromosomes; pileup text made here.
contigs() {
    local f=$data/contigs-$1
    [ -s "$f.pileup" ] && return
    awk -v k="$1" -v f="$f" 'BEGIN { OFS = "\t"
        for (i = 0; i < 1000000; i++) {
            if (k == 30) { c = "chr" int(i / 33334 + 1); p = i % 33334 + 1 } else { c = "ctg" i; p = 1 }
            print c, p, "A", "C", "0.5", "0.25" > (f ".panel.tsv")
            print c, p, "A", 3, ".,g", "II5" > (f ".pileup")
        } }'
}
printf '\ncontigs: 10^6 loci, 3 reads each\n'
for k in 30 1000000; do
    contigs "$k"
    f=$data/contigs-$k
    bytes=$(stat -c %s "$f.pileup")
    best "$runs" sh -c '"$1" -r "$2.panel.tsv" -s /dev/null < "$2.pileup" > /dev/null' \
        sh "$build/tarvo-pileup" "$f"
    line "$k chromosomes"
done
