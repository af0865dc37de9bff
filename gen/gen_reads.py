#!/usr/bin/env python3
"""Random reads on a random reference, as SAM on standard output, for
samtools to sort into a BAM.

    gen_reads.py REF.fa CHROMS LENGTH DEPTH SEED [corners]

REF.fa receives the reference: CHROMS chromosomes of LENGTH bases. Reads
of 100 bases cover it DEPTH times over, each with one base that may differ
from the reference and qualities from 20 to 40, as a short-read run gives.
With `corners`, reads are of any length from 20 to 150 and carry what a
pileup shows least often: soft and hard clips, insertions, deletions and
spliced gaps, N bases, every quality from 0 to 93, mapping qualities that
print as ^+ ^- ^$ ^^; and the reference has N runs.
"""
import random
import sys


def reference(rng, chroms, length, corners):
    seqs = []
    for _ in range(chroms):
        s = [rng.choice("ACGT") for _ in range(length)]
        if corners:
            for _ in range(3):
                at, n = rng.randrange(length - 20), rng.randrange(1, 20)
                s[at:at + n] = "N" * n
        seqs.append("".join(s))
    return seqs


def cigar(rng, span_max, corners):
    """Operations of a read: (op, length)."""
    if not corners:
        return [("M", 100)]
    ops = []
    if rng.random() < 0.3:
        ops.append(("H", rng.randrange(1, 10)))
    if rng.random() < 0.4:
        ops.append(("S", rng.randrange(1, 15)))
    ops.append(("M", rng.randrange(5, 30)))
    for _ in range(rng.randrange(0, 4)):
        ops.append((rng.choice("IDDN"), rng.randrange(1, 12)))
        ops.append(("M", rng.randrange(5, 30)))
    if rng.random() < 0.4:
        ops.append(("S", rng.randrange(1, 15)))
    if rng.random() < 0.3:
        ops.append(("H", rng.randrange(1, 10)))
    return ops


def read(rng, ref, ops, start, corners):
    seq, at = [], start
    for op, n in ops:
        if op == "M":
            for i in range(n):
                b = ref[at + i]
                if rng.random() < 0.01 or b == "N":
                    b = rng.choice("ACGT")
                if corners and rng.random() < 0.02:
                    b = "N"
                seq.append(b)
            at += n
        elif op in "IS":
            seq.extend(rng.choice("ACGTN" if corners else "ACGT") for _ in range(n))
        elif op in "DN":
            at += n
    return "".join(seq), at - start


def main():
    path, chroms, length, depth, seed = sys.argv[1], *map(int, sys.argv[2:6])
    corners = len(sys.argv) > 6 and sys.argv[6] == "corners"
    rng = random.Random(seed)
    seqs = reference(rng, chroms, length, corners)
    with open(path, "w") as fa:
        for k, s in enumerate(seqs):
            fa.write(">chr%d\n" % (k + 1))
            for i in range(0, len(s), 60):
                fa.write(s[i:i + 60] + "\n")
    out = sys.stdout
    out.write("@HD\tVN:1.6\tSO:unsorted\n")
    for k in range(chroms):
        out.write("@SQ\tSN:chr%d\tLN:%d\n" % (k + 1, length))
    # Every quality in turn, so that each shows up at some locus.
    all_quals = "".join(chr(33 + q) for q in range(94))
    mapqs = [3, 10, 12, 61, 0, 20, 60]
    # Everyday reads take their qualities from a pool, and one base in a
    # hundred differs: a random draw per base would make the generator,
    # not samtools, the slow part of the benchmark.
    pool = ["".join(chr(33 + rng.randrange(20, 41)) for _ in range(100)) for _ in range(4096)]
    n = 0
    for k, ref in enumerate(seqs):
        for _ in range(length * depth // 100):
            if not corners:
                start = rng.randrange(length - 100)
                seq = list(ref[start:start + 100])
                seq[rng.randrange(100)] = rng.choice("ACGT")
                out.write("r%d\t%d\tchr%d\t%d\t60\t100M\t*\t0\t0\t%s\t%s\n"
                          % (n, rng.choice((0, 16)), k + 1, start + 1, "".join(seq),
                             pool[rng.randrange(4096)]))
                n += 1
                continue
            ops = cigar(rng, length, corners)
            span = sum(m for op, m in ops if op in "MDN")
            if span >= length:
                continue
            start = rng.randrange(length - span)
            seq, _ = read(rng, ref, ops, start, corners)
            qual = "".join(all_quals[(n + i) % 94] for i in range(len(seq)))
            mapq = mapqs[n % len(mapqs)]
            flag = 16 if rng.random() < 0.5 else 0
            cig = "".join("%d%s" % (m, op) for op, m in ops)
            out.write("r%d\t%d\tchr%d\t%d\t%d\t%s\t*\t0\t0\t%s\t%s\n"
                      % (n, flag, k + 1, start + 1, mapq, cig, seq, qual))
            n += 1


main()
