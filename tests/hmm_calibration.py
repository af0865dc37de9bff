#!/usr/bin/env python3
"""tarvo-hmm's posteriors are calibrated on data drawn from its own model.

    hmm_calibration.py TARVO TARVO-HMM            the test
    hmm_calibration.py TARVO TARVO-HMM [--panel N] [--fst F] [--chroms N] [--loci N]
                                                  a report, not a test

Many short chromosomes of an individual admixed in a single pulse
(gen/admix.py: each copy a two-state Markov chain along a genetic map
whose rate varies, written as a PLINK map), each locus with the two
populations' true frequencies as the panel and 1 to DEPTH reads drawn as
tests/calibration.py draws them (tarvo's model exactly), scored by
tarvo -a -l; then tarvo-hmm on the table:

1. with the true m and T: in each tenth of [0, 1] of each state's
   posterior, the mean posterior is within 0.02 of the share of loci truly
   in that state;
2. the same check must fail with T or m wrong (so that it can fail);
3. with m and T estimated: both truths lie in their 95% intervals, and
   the r-squared of pop1_copies against the true count is within 0.01 of
   what the true parameters give.

Posteriors along a chromosome move together, so a tenth's error is
judged by chromosomes, not loci: its standard error comes from the
chromosomes' sums, and a tenth counts as checked where three of them fit
in 0.02. All 30 must be checked, so that a change that starves the tenths
cannot pass quietly.

With --panel N the panel is instead estimated from N individuals per
population, by the README's recipe ((AC + 1) / (AN + 2) of the drawn
allele counts), while the reads still come from the true frequencies;
--fst F draws the frequencies as populations F_ST apart (Balding-Nichols)
instead of from Beta(0.5, 0.5), which differ far more than real ones;
--chroms and --loci size it. Any of them makes it a report: the script
prints the same tables and exits 0 whatever they show.

Exits 77 (skipped) without numpy (Debian package python3-numpy), except
in continuous integration (CI=true)."""

import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "gen"))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "common"))

try:
    import numpy as np
except ImportError:
    print("numpy is not installed (Debian package python3-numpy)")
    sys.exit(1 if os.environ.get("CI") == "true" else 77)

import admix                      # noqa: E402  (gen/admix.py)
from calibration import EPS, tenths  # noqa: E402  (tests/calibration.py)
import observation                # noqa: E402  (common/observation.py)

CHROMS = 35000       # independent chromosomes
LOCI = 20            # loci on each
LENGTH = 10_000_000  # bases of each; the map's mean rate makes it 10 cM
RATE = 1.0           # mean cM/Mb of the maps
M, T = 0.45, 40      # the pulse: share from population 1, generations ago
DEPTH = 4            # reads per locus, 1 to DEPTH
BETA = 0.5           # frequencies from Beta(BETA, BETA)
STATES = observation.state_names(2)


def simulate(rng, panel, fst=0.0):
    """Map, table of scored loci (as text), the true count at each locus
    and each locus's chromosome index."""
    # Ascending positions: sorted draws, each moved past the ones before.
    pos = np.sort(rng.integers(1, LENGTH - LOCI, size=(CHROMS, LOCI)), 1) + np.arange(LOCI)
    bases, mcm = admix.genetic_map(rng, LENGTH, RATE, 1_000_000, CHROMS)
    maps = [(f"c{c}", bases, mcm[c]) for c in range(CHROMS)]
    cm = admix.centimorgans(bases, mcm, pos)
    pops = admix.copies(rng, cm, M, T).reshape(-1, 2).astype(int)
    n = len(pops)
    rows = np.arange(n)
    ref = rng.integers(4, size=n)
    alt = (ref + rng.integers(1, 4, size=n)) % 4
    if fst:
        # Balding-Nichols around an ancestral frequency, as populations
        # that split from one are (the admixture example's).
        c = (1 - fst) / fst
        anc = rng.uniform(0.05, 0.95, size=(n, 1))
        af = rng.beta(anc * c, (1 - anc) * c, size=(n, 2))
    else:
        af = rng.beta(BETA, BETA, size=(n, 2))
    # Frequencies in thousandths, so that their text is exact and quick.
    af = np.clip(np.rint(af * 1000), 1, 999) / 1000
    # Reads as tests/calibration.py draws them, from the copies' alleles.
    carries = rng.random((n, 2)) < af[rows[:, None], pops]
    alleles = np.where(carries, alt[:, None], ref[:, None])
    depth = rng.integers(1, DEPTH + 1, size=n)
    used = np.arange(DEPTH)[None, :] < depth[:, None]
    q = rng.integers(0, 26, size=(n, DEPTH))
    base = alleles[rows[:, None], rng.integers(2, size=(n, DEPTH))]
    base = np.where(rng.random((n, DEPTH)) < EPS[q], rng.integers(4, size=(n, DEPTH)), base)
    # Every number's text comes from a table, which keeps this quick.
    if panel:
        # The README's recipe on N diploid individuals' allele counts,
        # printed as its awk prints them.
        an = 2 * panel
        count = rng.binomial(an, af)
        table = [f"{(c + 1) / (an + 2):.6g}" for c in range(an + 1)]
        other = [f"{1 - (c + 1) / (an + 2):.6g}" for c in range(an + 1)]
    else:
        count = np.rint(af * 1000).astype(int)
        table = [f"{k / 1000:.3f}" for k in range(1001)]
        other = [f"{1 - k / 1000:.3f}" for k in range(1001)]
    table, other = np.array(table, dtype=object), np.array(other, dtype=object)
    F = np.full((n, observation.FREQS), "0", dtype=object)
    for p in (0, 1):
        F[rows, 4 * p + alt] = table[count[:, p]]
        F[rows, 4 * p + ref] = other[count[:, p]]
    codes = np.array([str(k) for k in range(observation.MISSING + 1)],
                     dtype=object)[np.where(used, base, observation.MISSING)]
    eps = np.where(used, np.array([repr(e) for e in EPS], dtype=object)[q], "0")
    columns = [c.tolist() for c in np.hstack([codes, F, eps]).T]
    lines = [" ".join(r) for r in zip(*columns)]
    return maps, pos.reshape(-1), depth, lines, pops.sum(1)


def score(tarvo, obs):
    with tempfile.TemporaryFile() as f:
        f.write(("\n".join(obs) + "\n").encode())
        f.seek(0)
        run = subprocess.run([tarvo, "-a", "-p", "2", "-n", str(DEPTH), "-l"],
                             stdin=f, stdout=subprocess.PIPE, check=True)
    lines = run.stdout.decode().splitlines()
    if len(lines) != len(obs):
        sys.exit(f"tarvo: {len(lines)} lines for {len(obs)} loci")
    return lines


def write_table(path, pos, depth, lnl):
    with open(path, "w") as f:
        f.write(observation.table_header(2) + "\n")
        for i, (p, d, line) in enumerate(zip(pos, depth, lnl)):
            f.write(f"c{i // LOCI}\t{p}\t{d}\t0\t{line}\n")


def run_hmm(hmm, work, args):
    """Posteriors (loci x states, columns by the header's names),
    pop1_copies, and the summary as a dict."""
    out, summary = os.path.join(work, "post.tsv"), os.path.join(work, "summary.tsv")
    with open(out, "w") as f:
        subprocess.run([hmm, "--map", os.path.join(work, "map"), "--summary", summary]
                       + args + [os.path.join(work, "loci.tsv")], stdout=f, check=True)
    with open(out) as f:
        names = f.readline().lstrip("#").split()
    table = np.loadtxt(out, usecols=range(2, len(names)), ndmin=2)
    col = {n: table[:, i - 2] for i, n in enumerate(names) if i >= 2}
    with open(summary) as f:
        head, line = f.read().splitlines()
    return (np.stack([col["post_" + s] for s in STATES], 1), col["pop1_copies"],
            dict(zip(head.lstrip("#").split("\t"), line.split("\t"))))


def calibration(post, state, title):
    """Prints the tenths, chromosomes as the units of the standard error
    (the loci of one are not independent); returns (checked, off)."""
    chrom = np.arange(len(state)) // LOCI

    def se(sel, s, mean):
        d = np.bincount(chrom[sel], weights=(state[sel] == s) - post[sel, s], minlength=CHROMS)
        return np.sqrt((d ** 2).sum()) / sel.sum()

    print(title)
    return tenths(post, state, STATES, se)


def r2(x, y):
    return np.corrcoef(x, y)[0, 1] ** 2


def main():
    global CHROMS, LOCI
    ap = argparse.ArgumentParser()
    ap.add_argument("tarvo")
    ap.add_argument("hmm")
    ap.add_argument("--panel", type=int, default=0,
                    help="panel from N individuals per population (a report)")
    ap.add_argument("--fst", type=float, default=0.0,
                    help="frequencies by Balding-Nichols with this F_ST (a report)")
    ap.add_argument("--chroms", type=int, default=CHROMS, help="chromosomes (a report)")
    ap.add_argument("--loci", type=int, default=LOCI, help="loci a chromosome (a report)")
    ap.add_argument("--seed", type=int, default=20261208)
    a = ap.parse_args()
    CHROMS, LOCI = a.chroms, a.loci
    report = a.panel or a.fst or (CHROMS, LOCI) != (ap.get_default("chroms"), ap.get_default("loci"))
    rng = np.random.default_rng(a.seed)
    maps, pos, depth, obs, state = simulate(rng, a.panel, a.fst)
    failures = []
    with tempfile.TemporaryDirectory() as work:
        admix.write_map(os.path.join(work, "map"), maps)
        write_table(os.path.join(work, "loci.tsv"), pos, depth, score(a.tarvo, obs))
        print(f"{CHROMS} chromosomes of {LOCI} loci, m = {M}, T = {T}, "
              + (f"F_ST {a.fst}, " if a.fst else "")
              + (f"panel from {a.panel} individuals per population" if a.panel
                 else "the true frequencies as the panel"))

        post, dose, _ = run_hmm(a.hmm, work, ["-m", str(M), "-g", str(T)])
        checked, off = calibration(post, state, f"with the true m and T (-m {M} -g {T}):")
        true_r2 = r2(dose, state)
        print(f"r2 of pop1_copies against the true count: {true_r2:.4f}")
        if checked < 30 or off:
            failures.append("the posteriors with the true m and T are not calibrated")

        for wrong in (["-m", str(M), "-g", str(4 * T)], ["-m", str(M + 0.2), "-g", str(T)]):
            post, _, _ = run_hmm(a.hmm, work, wrong)
            _, off = calibration(post, state, f"with {' '.join(wrong)}, which must be off:")
            if not off:
                failures.append(f"the check passes with {' '.join(wrong)}")

        post, dose, s = run_hmm(a.hmm, work, [])
        print("estimated: proportion {proportion} [{proportion_low}, {proportion_high}], "
              "generations {generations} [{generations_low}, {generations_high}]".format(**s))
        for what, truth in (("proportion", M), ("generations", T)):
            if not float(s[what + "_low"]) <= truth <= float(s[what + "_high"]):
                failures.append(f"the {what} interval misses {truth}")
        est_r2 = r2(dose, state)
        print(f"r2 of pop1_copies against the true count: {est_r2:.4f} "
              f"(true parameters: {true_r2:.4f})")
        if abs(est_r2 - true_r2) > 0.01:
            failures.append(f"r2 {est_r2:.4f} with the estimates, {true_r2:.4f} with the truth")
        calibration(post, state, "with the estimates (shown, not checked):")
    if report:
        return
    for f in failures:
        print("FAIL:", f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
