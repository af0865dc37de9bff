#!/usr/bin/env python3
"""Small admixed individuals for the workflow tests: a reference, a
6-column panel of biallelic SNPs, and one SAM of reads per sample.

    gen_reads.py DIR SAMPLES [SEED]

writes DIR/ref.fa, DIR/panel.tsv and DIR/s1.sam ... Each haplotype takes
its alleles at the panel's SNPs from one source population per
chromosome; reads carry base errors that follow their qualities, some
insertions, deletions, soft clips and N bases, and mapping qualities on
both sides of the workflow's -q 20, so the filters and the pileup's
corners all have something to do. Everything is fixed by the seed.
"""
import random
import sys

CHROMS = [("chr1", 6000), ("chr2", 5000), ("chr3", 4000)]
BASES = "ACGT"


def panel_sites(rng, length):
    """Every 20 to 40 bases a SNP, clear of the ends."""
    pos = rng.randint(20, 40)
    while pos < length - 20:
        yield pos
        pos += rng.randint(20, 40)


def haplotype(rng, seq, snps, pop):
    hap = list(seq)
    for pos, alt, afs in snps:
        if rng.random() < afs[pop]:
            hap[pos - 1] = alt
    return "".join(hap)


def read(rng, hap, name, chrom):
    length = rng.randint(40, 90)
    start = rng.randint(0, len(hap) - length - 30)
    cigar, seq = [], []
    ref = start
    clip = rng.randint(1, 6) if rng.random() < 0.1 else 0
    if clip:
        cigar.append(f"{clip}S")
        seq.append("".join(rng.choice(BASES) for _ in range(clip)))
    left, match = length, 0
    while left > 0:
        run = min(left, rng.randint(10, 60))
        seq.append(hap[ref:ref + run])
        ref += run
        left -= run
        match += run
        if left > 0 and rng.random() < 0.3:
            cigar.append(f"{match}M")
            match = 0
            if rng.random() < 0.5:
                n = rng.randint(1, 3)
                cigar.append(f"{n}I")
                seq.append("".join(rng.choice(BASES) for _ in range(n)))
            else:
                n = rng.randint(1, 3)
                cigar.append(f"{n}D")
                ref += n
    cigar.append(f"{match}M")
    seq = list("".join(seq))
    quals = []
    for i in range(len(seq)):
        q = rng.randint(2, 41)
        if rng.random() < 10 ** (-q / 10):
            seq[i] = rng.choice(BASES)
        if rng.random() < 0.005:
            seq[i] = "N"
        quals.append(chr(q + 33))
    flag = 16 if rng.random() < 0.5 else 0
    mapq = rng.choice([0, 10, 19, 20, 30, 60, 60, 60])
    return (f"{name}\t{flag}\t{chrom}\t{start + 1}\t{mapq}\t{''.join(cigar)}"
            f"\t*\t0\t0\t{''.join(seq)}\t{''.join(quals)}\n")


def main():
    out, samples = sys.argv[1], int(sys.argv[2])
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
    seqs, snps = {}, {}
    with open(f"{out}/ref.fa", "w") as fa, open(f"{out}/panel.tsv", "w") as panel:
        panel.write("#chrom\tpos\tref\talt\taf0\taf1\n")
        for chrom, length in CHROMS:
            seq = "".join(rng.choice(BASES) for _ in range(length))
            seqs[chrom] = seq
            fa.write(f">{chrom}\n")
            for i in range(0, length, 60):
                fa.write(seq[i:i + 60] + "\n")
            snps[chrom] = []
            for pos in panel_sites(rng, length):
                ref = seq[pos - 1]
                alt = rng.choice([b for b in BASES if b != ref])
                afs = (round(rng.random(), 3), round(rng.random(), 3))
                snps[chrom].append((pos, alt, afs))
                panel.write(f"{chrom}\t{pos}\t{ref}\t{alt}\t{afs[0]}\t{afs[1]}\n")
    for s in range(1, samples + 1):
        with open(f"{out}/s{s}.sam", "w") as sam:
            for chrom, length in CHROMS:
                sam.write(f"@SQ\tSN:{chrom}\tLN:{length}\n")
            for chrom, length in CHROMS:
                haps = [haplotype(rng, seqs[chrom], snps[chrom], rng.randint(0, 1))
                        for _ in range(2)]
                for r in range(length * 8 // 65):
                    sam.write(read(rng, rng.choice(haps), f"r{s}_{chrom}_{r}", chrom))


if __name__ == "__main__":
    main()
