#!/usr/bin/env python3
"""tarvo's likelihoods are calibrated: loci drawn from the model itself,
scored by tarvo -a -l and turned into posteriors with the prior they were
drawn from, give in every tenth of [0, 1] a mean posterior within 0.02 of
the share of loci truly in that state.

    calibration.py TARVO

Each locus: a state from the prior of an individual with 40% of its
ancestry from population 1; a random pair of bases as the two alleles, with
each population's frequency of the second drawn from Beta(0.5, 0.5), which
makes many loci tell the populations apart, so that the posteriors fill
all of [0, 1]; a genotype, one copy from each population the state names;
1 to 12 reads, each from a copy picked at random, each with a base quality
Q from 0 to 25 turned into eps = min(1, (4/3) 10^(-Q/10)), and with chance
eps a uniform base instead of the copy's. That is tarvo's model exactly,
so a departure beyond sampling noise is a fault in the scoring. (The
qualities stop at 25 so that the error rates weigh: with qualities up to
40, error rates written three times too large still passed.)

A tenth is checked where it holds enough loci that 0.02 is at least three
standard errors of its share (a tenth with fewer could miss by chance
though nothing is wrong); all 30 must qualify, so a change that starves
the table cannot pass quietly. Exits 77 (skipped) without numpy (Debian
package python3-numpy), except in continuous integration (CI=true)."""

import os
import subprocess
import sys
import tempfile
from decimal import Decimal, localcontext

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "common"))
from observation import FREQS, MISSING, state_names  # noqa: E402  (common/observation.py)

try:
    import numpy as np
except ImportError:
    print("numpy is not installed (Debian package python3-numpy)")
    sys.exit(1 if os.environ.get("CI") == "true" else 77)

LOCI = 1000000
SHARE = 50000
DEPTH = 12
ALPHA = 0.4
PRIOR = np.array([(1 - ALPHA) ** 2, 2 * ALPHA * (1 - ALPHA), ALPHA ** 2])
TOLERANCE = 0.02


def phred_eps():
    """eps for Q = 0 to 40 as tarvo-pileup has it: min(1, (4/3) 10^(-Q/10))
    worked out in 50 digits and rounded once to a double."""
    with localcontext() as c:
        c.prec = 50
        return np.array([float(min(Decimal(1), Decimal(4) / 3 * Decimal(10) ** (Decimal(-q) / 10)))
                         for q in range(41)])


EPS = phred_eps()


def draw(rng, n):
    """n observation rows in tarvo's order, and their true states."""
    state = rng.choice(3, size=n, p=PRIOR)
    ref = rng.integers(4, size=n)
    alt = (ref + rng.integers(1, 4, size=n)) % 4
    af = rng.beta(0.5, 0.5, size=(n, 2))
    F = np.zeros((n, FREQS))
    rows = np.arange(n)
    for pop in (0, 1):
        F[rows, 4 * pop + ref] = 1.0 - af[:, pop]
        F[rows, 4 * pop + alt] = af[:, pop]
    # The population of each copy: state 0 both 0, 1 one of each, 2 both 1.
    pops = np.stack([state >= 2, state >= 1], axis=1).astype(int)
    carries_alt = rng.random((n, 2)) < af[rows[:, None], pops]
    copies = np.where(carries_alt, alt[:, None], ref[:, None])
    depth = rng.integers(1, DEPTH + 1, size=n)
    used = np.arange(DEPTH)[None, :] < depth[:, None]
    q = rng.integers(0, 26, size=(n, DEPTH))
    eps = EPS[q]
    base = copies[rows[:, None], rng.integers(2, size=(n, DEPTH))]
    wrong = rng.random((n, DEPTH)) < eps
    base = np.where(wrong, rng.integers(4, size=(n, DEPTH)), base)
    codes = np.where(used, base, MISSING)
    eps = np.where(used, eps, 0.0)
    return np.hstack([codes, F, eps]), state


def tenths(post, state, names, se):
    """The calibration table this test and tarvo-hmm's print: for each
    state, the loci by tenth of their posterior, the mean posterior against
    the share of them truly in the state. se(sel, s, mean) is the standard
    error of the difference in the tenth sel of state s; a tenth is checked
    where three of them fit in TOLERANCE. Returns (checked, off)."""
    checked = off = 0
    print("state      tenth    loci  mean-posterior  share-true  difference  std-error")
    for s in range(post.shape[1]):
        tenth = np.minimum(9, (post[:, s] * 10).astype(int))
        for k in range(10):
            sel = tenth == k
            n = int(sel.sum())
            if n == 0:
                print(f"{names[s]:9}  {k:5}  {n:6}")
                continue
            mean, share = post[sel, s].mean(), (state[sel] == s).mean()
            e = se(sel, s, mean)
            enough = 3 * e <= TOLERANCE
            bad = enough and abs(share - mean) > TOLERANCE
            checked += enough
            off += bad
            note = " OFF" if bad else ("" if enough else " (too few to check)")
            print(f"{names[s]:9}  {k:5}  {n:6}  {mean:14.4f}  {share:10.4f}  "
                  f"{share - mean:+10.4f}  {e:9.4f}{note}")
    print(f"{checked} of {10 * post.shape[1]} tenths checked, {off} off by more than {TOLERANCE}")
    return checked, off


def main():
    tarvo = sys.argv[1]
    rng = np.random.default_rng(20261208)
    fmt = " ".join(["%d"] * DEPTH + ["%.17g"] * (FREQS + DEPTH))
    states = []
    # Drawn and written a share at a time, to keep the memory small.
    with tempfile.TemporaryFile() as obs:
        for _ in range(LOCI // SHARE):
            rows, state = draw(rng, SHARE)
            np.savetxt(obs, rows, fmt=fmt)
            states.append(state)
        obs.seek(0)
        run = subprocess.run([tarvo, "-a", "-p", "2", "-n", str(DEPTH), "-l"],
                             stdin=obs, stdout=subprocess.PIPE, check=True)
    state = np.concatenate(states)
    lnl = np.fromstring(run.stdout, sep=" ").reshape(-1, 3)
    if len(lnl) != LOCI:
        sys.exit(f"{len(lnl)} lines of output for {LOCI} loci")
    w = lnl + np.log(PRIOR)
    w = np.exp(w - w.max(axis=1, keepdims=True))
    post = w / w.sum(axis=1, keepdims=True)

    checked, off = tenths(post, state, state_names(2),
                          lambda sel, s, mean: np.sqrt(max(mean * (1 - mean), 1e-4) / sel.sum()))
    if checked < 30 or off:
        sys.exit(1)


if __name__ == "__main__":
    main()
