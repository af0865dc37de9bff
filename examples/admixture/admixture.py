#!/usr/bin/python3
"""From simulated reads to local ancestry, through the tools a study uses.

    admixture.py [--bin DIR] [--work DIR] [--seed N]

Makes a random reference, two populations and a reference panel of them,
one admixed individual and its reads; aligns the reads, runs the README's
pipeline (samtools mpileup | tarvo-pileup | tarvo -a), sums the
log-likelihoods over windows of panel loci, calls each window's state and
compares the calls with the truth. Prints the share of windows called
right, writes loci.tsv, windows.tsv and ancestry.png in the work directory
(default build/admixture under the source tree) and takes the programs
from --bin (default build). Needs Debian's python3-numpy, samtools,
bcftools, bwa, art-nextgen-simulation-tools and gnuplot-nox; every random
draw comes from --seed, so a run is the same every time.
"""

import argparse
import os
import shlex
import subprocess
import sys
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

CHROM = "chr1"
LENGTH = 5_000_000      # bases of reference
SNPS = 8000             # biallelic panel loci
FST = 0.1               # Balding-Nichols differentiation of the two populations
PANEL = 20              # individuals per population in the panel
TRACT = 500_000         # mean ancestry tract length (exponential), bases
COVERAGE = 2.5          # read depth per haplotype: 5x for the individual
WINDOW = 160            # consecutive panel loci per window
BASES = np.array(list("ACGT"))


def sh(cmd, cwd):
    """Runs one shell command as a user would type it; stops on failure,
    naming the command (its own message is above, or in its log)."""
    print("$", cmd, flush=True)
    status = subprocess.run(["bash", "-o", "pipefail", "-ec", cmd], cwd=cwd).returncode
    if status != 0:
        sys.exit(f"admixture.py: exit status {status} from: {cmd}")


def write_fasta(path, name, seq):
    with open(path, "w") as f:
        f.write(f">{name}\n")
        for i in range(0, len(seq), 60):
            f.write(seq[i:i + 60] + "\n")


def populations(rng):
    """Positions, alleles and the two populations' alt frequencies."""
    pos = np.sort(rng.choice(np.arange(1000, LENGTH - 1000), SNPS, replace=False))
    ancestral = rng.uniform(0.05, 0.95, SNPS)
    c = (1 - FST) / FST
    af = np.stack([rng.beta(ancestral * c, (1 - ancestral) * c) for _ in range(2)], 1)
    return pos, af


def write_panel(path, samples_path, rng, ref, pos, alt, af):
    """The panel VCF: PANEL diploid individuals of each population."""
    names = [f"p{p}_{i + 1:02d}" for p in (0, 1) for i in range(PANEL)]
    with open(samples_path, "w") as f:
        for n in names:
            f.write(f"{n}\tpop{n[1]}\n")
    with open(path, "w") as f:
        f.write("##fileformat=VCFv4.2\n")
        f.write(f"##contig=<ID={CHROM},length={LENGTH}>\n")
        f.write('##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">\n')
        f.write("#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t"
                + "\t".join(names) + "\n")
        for k in range(SNPS):
            gt = [f"{int(rng.random() < af[k, p])}|{int(rng.random() < af[k, p])}"
                  for p in (0, 1) for _ in range(PANEL)]
            f.write(f"{CHROM}\t{pos[k] + 1}\t.\t{ref[pos[k]]}\t{alt[k]}\t.\t.\t.\tGT\t"
                    + "\t".join(gt) + "\n")


def mosaic(rng):
    """Tract boundaries and populations of one copy: alternating tracts of
    exponential length, the first from a random population."""
    ends, pops = [], []
    at, pop = 0, int(rng.integers(2))
    while at < LENGTH:
        at = min(LENGTH, at + int(rng.exponential(TRACT)) + 1)
        ends.append(at)
        pops.append(pop)
        pop = 1 - pop
    return np.array(ends), np.array(pops)


def ancestry_at(tracts, x):
    ends, pops = tracts
    return pops[np.searchsorted(ends, x, side="right")]


def frequencies(work):
    """The README's recipe for the panel: per-population allele counts of
    the biallelic SNPs called in both populations, one copy of each allele
    added (a population's frequency is never 0 or 1), and the BED of the
    loci."""
    sh("bcftools view -m2 -M2 -v snps panel.vcf.gz -Ou "
       "| bcftools +fill-tags -Ou -- -S pops.txt -t AC,AN "
       "| bcftools view -i 'INFO/AN_pop0>0 && INFO/AN_pop1>0' -Ou "
       "| bcftools query "
       "-f '%CHROM\\t%POS\\t%REF\\t%ALT\\t%AC_pop0\\t%AN_pop0\\t%AC_pop1\\t%AN_pop1\\n' "
       "| awk -v OFS='\\t' '{ print $1, $2, $3, $4, ($5 + 1) / ($6 + 2), ($7 + 1) / ($8 + 2) }' "
       "> panel.tsv", work)
    sh("awk -v OFS='\\t' '!/^#/ { print $1, $2 - 1, $2 }' panel.tsv > panel.bed", work)


def score(work, bindir, panel, tag=""):
    """The README's pipeline: pileup, observations, log-likelihoods, and
    one table of the loci and their scores, loci{tag}.tsv."""
    tp = shlex.quote(os.path.join(bindir, "tarvo-pileup"))
    tv = shlex.quote(os.path.join(bindir, "tarvo"))
    sh("samtools mpileup -f ref.fa -l panel.bed sample.bam 2> mpileup.log "
       f"| {tp} -r {panel} -s sites{tag}.tsv | {tv} -a -p 2 -l > lnL{tag}.txt", work)
    sh("{ printf '#chrom\\tpos\\treads_used\\treads_left_out\\t"
       "lnL_pop0_pop0\\tlnL_pop0_pop1\\tlnL_pop1_pop1\\n'; "
       f"paste sites{tag}.tsv lnL{tag}.txt; }} > loci{tag}.tsv", work)
    return np.genfromtxt(os.path.join(work, f"loci{tag}.tsv"), names=True, dtype=None,
                         encoding="ascii")


def posterior(lnl, prior):
    w = lnl + np.log(prior)
    w = np.exp(w - w.max(axis=-1, keepdims=True))
    return w / w.sum(axis=-1, keepdims=True)


def reliability(post, state):
    """Mean posterior against the share truly in the state, per tenth."""
    rows = []
    for s in range(3):
        tenth = np.minimum(9, (post[:, s] * 10).astype(int))
        for k in range(10):
            sel = tenth == k
            if sel.any():
                rows.append((s, k, int(sel.sum()), post[sel, s].mean(),
                             (state[sel] == s).mean()))
    return rows


def print_reliability(title, rows):
    """The table, with each share's standard error, and the tenths where
    the two differ by more than 0.05 and by more than three standard
    errors (beyond what the number of loci explains)."""
    print(title)
    print("  state  tenth   loci  mean posterior  share true  difference  std. error")
    off = 0
    for s, k, n, m, t in rows:
        se = np.sqrt(m * (1 - m) / n)
        bad = abs(t - m) > max(0.05, 3 * se)
        off += bad
        print(f"  {s:5}  {k:5}  {n:5}  {m:14.3f}  {t:10.3f}  {t - m:+10.3f}  {se:10.3f}"
              + ("  off" if bad else ""))
    print(f"  tenths off by more than 0.05 and three standard errors: {off}")
    return off


def read_checks(work, bindir, ref, haps):
    """The two usual causes of miscalibration, measured on the reads:
    reference bias (at heterozygous loci the alt allele should be half of
    the reads that show either allele) and the qualities (at homozygous
    loci the share of wrong bases should be the mean of 3 eps / 4)."""
    tp = shlex.quote(os.path.join(bindir, "tarvo-pileup"))
    sh("samtools mpileup -f ref.fa -l panel.bed sample.bam 2> mpileup.log "
       f"| {tp} -r panel.tsv -n 50 -s sites-check.tsv > observations.txt", work)
    alt = either = wrong = reads = 0
    expected = 0.0
    code = {b: i for i, b in enumerate("ACGT")}
    with open(os.path.join(work, "sites-check.tsv")) as sites, \
            open(os.path.join(work, "observations.txt")) as obs:
        for site, line in zip(sites, obs):
            x, n = int(site.split()[1]) - 1, int(site.split()[2])
            f = line.split()
            codes = [int(c) for c in f[:n]]
            h = [code[haps[0][x]], code[haps[1][x]]]
            if h[0] != h[1]:
                alt += codes.count(h[1] if haps[0][x] == ref[x] else h[0])
                either += sum(c in h for c in codes)
            else:
                wrong += sum(c != h[0] for c in codes)
                reads += n
                expected += sum(0.75 * float(e) for e in f[58:58 + n])
    print(f"reads at heterozygous loci showing the alt allele: {alt / either:.3f} "
          f"of {either}")
    print(f"wrong bases at homozygous loci: {wrong / reads:.5f} of {reads}; "
          f"the qualities say {expected / reads:.5f}")


def windows(loci, pos, truth, tracts):
    """Sums the log-likelihoods over windows of WINDOW consecutive panel
    loci and calls each window. Summing treats the loci as independent
    given the state, which holds here: every allele was drawn on its own
    from its tract's population."""
    index = np.searchsorted(pos + 1, loci["pos"])
    assert (pos[index] + 1 == loci["pos"]).all()
    lnl = np.stack([loci["lnL_pop0_pop0"], loci["lnL_pop0_pop1"], loci["lnL_pop1_pop1"]], 1)
    nwin = SNPS // WINDOW
    win = index // WINDOW
    keep = win < nwin
    sums = np.zeros((nwin, 3))
    np.add.at(sums, win[keep], lnl[keep])
    first = pos[np.arange(nwin) * WINDOW]
    last = pos[np.arange(nwin) * WINDOW + WINDOW - 1]
    true = np.array([np.bincount(truth[w * WINDOW:(w + 1) * WINDOW], minlength=3).argmax()
                     for w in range(nwin)])
    # Away from tract edges: no tract of either copy ends inside the window.
    edge = np.array([any(((t[0][:-1] > f) & (t[0][:-1] <= l)).any() for t in tracts)
                     for f, l in zip(first, last)])
    return dict(lnl=lnl, state=truth[index], sums=sums,
                count=np.bincount(win[keep], minlength=nwin), first=first, last=last,
                post=posterior(sums, np.full(3, 1 / 3)), true=true, edge=edge)


def accuracy(w):
    right = w["post"].argmax(1) == w["true"]
    return right.mean(), right[~w["edge"]].mean()


def write_windows(path, w):
    with open(path, "w") as f:
        f.write("#chrom\tstart\tend\tloci\tlnL_pop0_pop0\tlnL_pop0_pop1\tlnL_pop1_pop1\t"
                "post_pop0_pop0\tpost_pop0_pop1\tpost_pop1_pop1\tcall\ttrue\tedge\n")
        for k in range(len(w["sums"])):
            f.write(f"{CHROM}\t{w['first'][k] + 1}\t{w['last'][k] + 1}\t{w['count'][k]}\t"
                    + "\t".join(f"{x:.6f}" for x in w["sums"][k]) + "\t"
                    + "\t".join(f"{x:.4f}" for x in w["post"][k])
                    + f"\t{w['post'][k].argmax()}\t{w['true'][k]}\t{int(w['edge'][k])}\n")


def write_truth(path, tracts):
    """Rows 0 and 1: the tracts of each copy and their population; row 2:
    the state they make together."""
    with open(path, "w") as f:
        for c, (ends, pops) in enumerate(tracts):
            starts = np.concatenate([[0], ends[:-1]])
            for s, e, p in zip(starts, ends, pops):
                f.write(f"{c}\t{s}\t{e}\t{p}\n")
        cuts = np.unique(np.concatenate([[0], tracts[0][0], tracts[1][0]]))
        for s, e in zip(cuts[:-1], cuts[1:]):
            f.write(f"2\t{s}\t{e}\t{ancestry_at(tracts[0], s) + ancestry_at(tracts[1], s)}\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--bin", default=os.path.join(ROOT, "build"))
    ap.add_argument("--work", default=os.path.join(ROOT, "build", "admixture"))
    ap.add_argument("--seed", type=int, default=16)
    a = ap.parse_args()
    work, bindir = a.work, os.path.abspath(a.bin)
    for prog in ("tarvo", "tarvo-pileup"):
        if not os.access(os.path.join(bindir, prog), os.X_OK):
            sys.exit(f"admixture.py: no {prog} in {bindir} (cmake --build build "
                     "--target tarvo tarvo-pileup, or --bin DIR)")
    os.makedirs(work, exist_ok=True)
    rng = np.random.default_rng(a.seed)
    start = time.time()

    # Reference, populations, panel.
    ref = BASES[rng.integers(4, size=LENGTH)]
    pos, af = populations(rng)
    alt = np.array([rng.choice([b for b in "ACGT" if b != ref[p]]) for p in pos])
    write_fasta(os.path.join(work, "ref.fa"), CHROM, "".join(ref))
    write_panel(os.path.join(work, "panel.vcf"), os.path.join(work, "pops.txt"),
                rng, ref, pos, alt, af)
    sh("bcftools view -Oz -o panel.vcf.gz panel.vcf && bcftools index -f panel.vcf.gz", work)
    frequencies(work)

    # The admixed individual: two mosaic copies, alleles from the tract's
    # population, written as two haplotypes.
    tracts = [mosaic(rng), mosaic(rng)]
    truth = np.zeros(SNPS, dtype=int)
    haps = []
    for c, t in enumerate(tracts):
        pop = ancestry_at(t, pos)
        truth += pop
        hap = ref.copy()
        carries = rng.random(SNPS) < af[np.arange(SNPS), pop]
        hap[pos[carries]] = alt[carries]
        haps.append(hap)
        write_fasta(os.path.join(work, f"hap{c}.fa"), CHROM, "".join(hap))
    write_truth(os.path.join(work, "truth.tsv"), tracts)

    # Reads from both copies, aligned to the reference.
    for c in (0, 1):
        sh(f"art_illumina -q -na -ss HS25 -p -l 150 -f {COVERAGE} -m 400 -s 50 "
           f"-rs {a.seed + c} -d hap{c} -i hap{c}.fa -o hap{c}_ > art{c}.log 2>&1", work)
    sh("cat hap0_1.fq hap1_1.fq > reads_1.fq && cat hap0_2.fq hap1_2.fq > reads_2.fq", work)
    sh("samtools faidx ref.fa && bwa index ref.fa 2> bwa-index.log", work)
    sh("bwa mem -t 2 -K 10000000 -R '@RG\\tID:sample\\tSM:sample' ref.fa reads_1.fq reads_2.fq "
       "2> bwa-mem.log | samtools sort -@ 2 -o sample.bam - && samtools index sample.bam",
       work)
    loci = score(work, bindir, "panel.tsv")
    elapsed = time.time() - start

    w = windows(loci, pos, truth, tracts)
    write_windows(os.path.join(work, "windows.tsv"), w)
    sh(f"gnuplot -e \"dir='{work}'\" {shlex.quote(os.path.join(HERE, 'ancestry.gp'))}", work)
    print(f"{len(loci)} of {SNPS} panel loci covered by a read, "
          f"{loci['reads_used'].mean():.2f} reads on average")
    print(f"{len(w['sums'])} windows of {WINDOW} panel loci, "
          f"{int((~w['edge']).sum())} away from tract edges")
    total, clean = accuracy(w)
    print(f"windows called right: {total:.3f}")
    print(f"windows away from tract edges called right: {clean:.3f}")
    prior = np.bincount(w["state"], minlength=3) / len(w["state"])
    print_reliability(f"reliability of the per-locus posteriors, prior "
                      f"{prior[0]:.3f} {prior[1]:.3f} {prior[2]:.3f} (the true shares):",
                      reliability(posterior(w["lnl"], prior), w["state"]))

    # The same reads against two other panels, to tell the panel's share
    # of the errors from the reads': the bare frequencies of the panel's
    # 40 copies, and the populations' true frequencies.
    sh("bcftools view -m2 -M2 -v snps panel.vcf.gz -Ou "
       "| bcftools +fill-tags -Ou -- -S pops.txt -t AF,AN "
       "| bcftools view -i 'INFO/AN_pop0>0 && INFO/AN_pop1>0' -Ou "
       "| bcftools query -f '%CHROM\\t%POS\\t%REF\\t%ALT\\t%AF_pop0\\t%AF_pop1\\n' "
       "> panel-af.tsv", work)
    with open(os.path.join(work, "panel-true.tsv"), "w") as f:
        for k in range(SNPS):
            f.write(f"{CHROM}\t{pos[k] + 1}\t{ref[pos[k]]}\t{alt[k]}\t"
                    f"{af[k, 0]!r}\t{af[k, 1]!r}\n")
    for tag, what in (("-af", "bare panel frequencies"), ("-true", "true frequencies")):
        d = windows(score(work, bindir, f"panel{tag}.tsv", tag), pos, truth, tracts)
        total, clean = accuracy(d)
        print(f"with the {what}: windows called right {total:.3f}, "
              f"away from tract edges {clean:.3f}")
        print_reliability(f"reliability with the {what}:",
                          reliability(posterior(d["lnl"], prior), d["state"]))
    read_checks(work, bindir, ref, haps)
    print(f"simulation, alignment and pipeline: {elapsed:.0f} s; all: {time.time() - start:.0f} s")


if __name__ == "__main__":
    main()
