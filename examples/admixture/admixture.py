#!/usr/bin/python3
"""From simulated reads to local ancestry, through the tools a study uses.

    admixture.py [--bin DIR] [--work DIR] [--seed N] [--ship DIR]

Makes a random reference, two populations and a reference panel of them,
a genetic map whose rate varies along the chromosome (written as a PLINK
map), and one individual admixed in a single pulse: each copy of its
chromosome a two-state Markov chain along that map, as tarvo-hmm models
it (gen/admix.py). Simulates its reads, aligns them, runs the README's
pipeline (samtools mpileup | tarvo-pileup | tarvo -a) and then tarvo-hmm
on the per-locus table. Prints the estimated proportion and generations
with their intervals against the truth, the share of loci called right
and the r-squared of pop1_copies against the true count; writes loci.tsv,
genetic.map, posterior.tsv, tracts.bed, summary.tsv and ancestry.png in
the work directory (default build/admixture under the source tree) and
takes the programs from --bin (default build). With --ship DIR, also
copies the table, the map and the truth to DIR as admixed.loci.tsv,
admixed.map and admixed.truth.tsv (the quick start's data). Needs
Debian's python3-numpy, samtools, bcftools, bwa,
art-nextgen-simulation-tools and gnuplot-nox; every random draw comes
from --seed, so a run is the same every time.
"""

import argparse
import os
import shlex
import shutil
import subprocess
import sys
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "gen"))
sys.path.insert(0, os.path.join(ROOT, "common"))
import admix  # noqa: E402  (gen/admix.py: the single pulse along a map)
import observation  # noqa: E402  (common/observation.py: the format the programs share)

CHROM = "chr1"
LENGTH = 5_000_000      # bases of reference
SNPS = 8000             # biallelic panel loci
FST = 0.1               # Balding-Nichols differentiation of the two populations
PANEL = 20              # individuals per population in the panel
MAP_RATE = 3.0          # mean cM/Mb of the genetic map: 15 cM in all
MAP_STEP = 100_000      # bases between the map's points
M = 0.3                 # share of ancestry from population 1
T = 80                  # generations since the pulse
COVERAGE = 2.5          # read depth per haplotype: 5x for the individual
NUMALLELES = 50         # tarvo-pileup -n of the read checks
BASES = np.array(list(observation.BASES))
STATES = observation.state_names(2)


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


def score(work, bindir):
    """The README's pipeline: pileup, observations, log-likelihoods, and
    one table of the loci and their scores, loci.tsv."""
    tp = shlex.quote(os.path.join(bindir, "tarvo-pileup"))
    tv = shlex.quote(os.path.join(bindir, "tarvo"))
    sh("samtools mpileup -f ref.fa -l panel.bed sample.bam 2> mpileup.log "
       f"| {tp} -r panel.tsv -s sites.tsv | {tv} -a -p 2 -l > lnL.txt", work)
    header = shlex.quote(observation.table_header(2))
    sh(f"{{ printf '%s\\n' {header}; paste sites.tsv lnL.txt; }} > loci.tsv", work)


def table(path):
    """A table with one '#' header line, as a dict of columns by the
    header's own names (numbers where the column holds them)."""
    with open(path) as f:
        names = f.readline().lstrip("#").rstrip("\n").split("\t")
        rows = [line.rstrip("\n").split("\t") for line in f]
    cols = {}
    for i, name in enumerate(names):
        col = [r[i] for r in rows]
        try:
            cols[name] = np.array(col, dtype=float)
        except ValueError:
            cols[name] = np.array(col)
    return cols


def read_checks(work, bindir, ref, haps):
    """The two usual causes of miscalibration, measured on the reads:
    reference bias (at heterozygous loci the alt allele should be half of
    the reads that show either allele) and the qualities (at homozygous
    loci the share of wrong bases should be the mean of 3 eps / 4)."""
    tp = shlex.quote(os.path.join(bindir, "tarvo-pileup"))
    sh("samtools mpileup -f ref.fa -l panel.bed sample.bam 2> mpileup.log "
       f"| {tp} -r panel.tsv -n {NUMALLELES} -s sites-check.tsv > observations.txt", work)
    alt = either = wrong = reads = 0
    expected = 0.0
    code = {b: i for i, b in enumerate(observation.BASES)}
    with open(os.path.join(work, "sites-check.tsv")) as sites, \
            open(os.path.join(work, "observations.txt")) as obs:
        for site, line in zip(sites, obs):
            x, n = int(site.split()[1]) - 1, int(site.split()[2])
            codes, _, eps = observation.parts(line, NUMALLELES)
            codes, eps = [int(c) for c in codes[:n]], eps[:n]
            h = [code[haps[0][x]], code[haps[1][x]]]
            if h[0] != h[1]:
                alt += codes.count(h[1] if haps[0][x] == ref[x] else h[0])
                either += sum(c in h for c in codes)
            else:
                wrong += sum(c != h[0] for c in codes)
                reads += n
                expected += sum(0.75 * float(e) for e in eps)
    print(f"reads at heterozygous loci showing the alt allele: {alt / either:.3f} "
          f"of {either}")
    print(f"wrong bases at homozygous loci: {wrong / reads:.5f} of {reads}; "
          f"the qualities say {expected / reads:.5f}")


def write_picture_data(path, pos, post, dose, pops):
    """What ancestry.gp draws, one line per scored locus: its position and
    the span it stands for (to the midpoints with its neighbours), in Mb;
    the stacked posteriors; pop1_copies; the true population of each copy
    and the true count."""
    mid = (pos[1:] + pos[:-1]) / 2
    left = np.concatenate([[pos[0] - 0.5], mid])
    right = np.concatenate([mid, [pos[-1] + 0.5]])
    cum = np.cumsum(post, axis=1)
    with open(path, "w") as f:
        f.write("#pos_mb\tleft_mb\tright_mb\tcum_pop0_pop0\tcum_pop0_pop1\tpop1_copies\t"
                "copy1\tcopy2\ttrue_copies\n")
        for i in range(len(pos)):
            f.write(f"{pos[i] / 1e6:.6f}\t{left[i] / 1e6:.6f}\t{right[i] / 1e6:.6f}\t"
                    f"{cum[i, 0]:.6f}\t{cum[i, 1]:.6f}\t{dose[i]:.6f}\t"
                    f"{pops[i, 0]}\t{pops[i, 1]}\t{pops[i].sum()}\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--bin", default=os.path.join(ROOT, "build"))
    ap.add_argument("--work", default=os.path.join(ROOT, "build", "admixture"))
    ap.add_argument("--seed", type=int, default=16)
    ap.add_argument("--ship", metavar="DIR",
                    help="copy the table, map and truth to DIR as admixed.*")
    a = ap.parse_args()
    work, bindir = a.work, os.path.abspath(a.bin)
    for prog in ("tarvo", "tarvo-pileup", "tarvo-hmm"):
        if not os.access(os.path.join(bindir, prog), os.X_OK):
            sys.exit(f"admixture.py: no {prog} in {bindir} (cmake --build build "
                     "--target tarvo tarvo-pileup tarvo-hmm, or --bin DIR)")
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

    # The genetic map, and the admixed individual: each copy's population
    # at every panel locus by the single pulse along the map, alleles
    # drawn from that population, written as two haplotypes.
    bases, cm = admix.genetic_map(rng, LENGTH, MAP_RATE, MAP_STEP)
    admix.write_map(os.path.join(work, "genetic.map"), [(CHROM, bases, cm)])
    pops = admix.copies(rng, admix.centimorgans(bases, cm, pos + 1), M, T)
    haps = []
    for c in (0, 1):
        hap = ref.copy()
        carries = rng.random(SNPS) < af[np.arange(SNPS), pops[:, c]]
        hap[pos[carries]] = alt[carries]
        haps.append(hap)
        write_fasta(os.path.join(work, f"hap{c}.fa"), CHROM, "".join(hap))

    # Reads from both copies, aligned to the reference.
    for c in (0, 1):
        sh(f"art_illumina -q -na -ss HS25 -p -l 150 -f {COVERAGE} -m 400 -s 50 "
           f"-rs {a.seed + c} -d hap{c} -i hap{c}.fa -o hap{c}_ > art{c}.log 2>&1", work)
    sh("cat hap0_1.fq hap1_1.fq > reads_1.fq && cat hap0_2.fq hap1_2.fq > reads_2.fq", work)
    sh("samtools faidx ref.fa && bwa index ref.fa 2> bwa-index.log", work)
    sh("bwa mem -t 2 -K 10000000 -R '@RG\\tID:sample\\tSM:sample' ref.fa reads_1.fq reads_2.fq "
       "2> bwa-mem.log | samtools sort -@ 2 -o sample.bam - && samtools index sample.bam",
       work)
    score(work, bindir)
    hmm = shlex.quote(os.path.join(bindir, "tarvo-hmm"))
    sh(f"{hmm} --map genetic.map --tracts tracts.bed --summary summary.tsv loci.tsv "
       "> posterior.tsv", work)
    elapsed = time.time() - start

    loci, out = table(os.path.join(work, "loci.tsv")), table(os.path.join(work, "posterior.tsv"))
    summary = {k: v[0] for k, v in table(os.path.join(work, "summary.tsv")).items()}
    index = np.searchsorted(pos + 1, out["pos"])
    if not (pos[index] + 1 == out["pos"]).all():
        sys.exit("admixture.py: posterior.tsv has a position that is not a panel locus")
    truth = pops[index].sum(1)
    post = np.stack([out["post_" + s] for s in STATES], 1)
    dose = out["pop1_copies"]
    write_picture_data(os.path.join(work, "picture.tsv"), out["pos"], post, dose, pops[index])
    sh(f"gnuplot -e \"dir='{work}'\" {shlex.quote(os.path.join(HERE, 'ancestry.gp'))}", work)

    print(f"{len(loci['pos'])} of {SNPS} panel loci covered by a read, "
          f"{loci['reads_used'].mean():.2f} reads on average; "
          f"{len(out['pos'])} scored by tarvo-hmm")
    share = pops.mean()
    print(f"proportion from population 1: {summary['proportion']:.4f} "
          f"[{summary['proportion_low']:.4f}, {summary['proportion_high']:.4f}]; "
          f"truth {M} (drawn: {share:.4f} of the copies' loci)")
    print(f"generations since admixture: {summary['generations']:.1f} "
          f"[{summary['generations_low']:.1f}, {summary['generations_high']:.1f}]; truth {T}")
    called = post.argmax(1) == truth
    print(f"loci called right: {called.mean():.3f}")
    print(f"r2 of pop1_copies against the true count: "
          f"{np.corrcoef(dose, truth)[0, 1] ** 2:.3f}")
    read_checks(work, bindir, ref, haps)
    if a.ship:
        shutil.copyfile(os.path.join(work, "loci.tsv"), os.path.join(a.ship, "admixed.loci.tsv"))
        shutil.copyfile(os.path.join(work, "genetic.map"), os.path.join(a.ship, "admixed.map"))
        with open(os.path.join(a.ship, "admixed.truth.tsv"), "w") as f:
            f.write("#proportion\tgenerations\tseed\n")
            f.write(f"{M}\t{T}\t{a.seed}\n")
    print(f"simulation, alignment and pipeline: {elapsed:.0f} s; all: {time.time() - start:.0f} s")


if __name__ == "__main__":
    main()
