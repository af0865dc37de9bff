"""Admixed chromosomes as tarvo-hmm models them, for the calibration test
and the admixture example: a single pulse of admixture T generations ago
with a share m from population 1. Each copy of a chromosome is its own
two-state Markov chain along the genetic map: between loci d Morgans
apart, with r = 1 - exp(-T d), the copy keeps its population with chance
1 - r and otherwise draws it afresh from (1 - m, m); the first locus draws
it from (1 - m, m). Genetic maps have a rate that varies from one interval
to the next, and are written as PLINK .map files.

Imported, not run: needs numpy."""

import numpy as np


def genetic_map(rng, length, mean_rate, spacing, count=None):
    """Points of a map over bases 1..length, one every `spacing` bases
    (the last at `length`), as (bases, centimorgans); with `count`, that
    many maps on the same points, centimorgans of shape (count, points).
    Each interval's rate is drawn from a Gamma of shape 0.5 around
    `mean_rate` cM/Mb, so that some intervals are ten times the mean (hot
    spots) and many far below it (cold ones)."""
    bases = np.unique(np.concatenate([np.arange(1, length, spacing), [length]]))
    shape = (len(bases) - 1,) if count is None else (count, len(bases) - 1)
    rates = rng.gamma(0.5, mean_rate / 0.5, size=shape)
    steps = rates * np.diff(bases) / 1e6
    cm = np.concatenate([np.zeros(shape[:-1] + (1,)), np.cumsum(steps, axis=-1)], axis=-1)
    return bases, cm


def centimorgans(bases, cm, pos):
    """Genetic positions of `pos` by linear interpolation between the
    map's points; outside them the first or last interval's rate carries
    on. With several maps on the same bases (cm of shape (maps, points)),
    pos has shape (maps, loci)."""
    pos = np.asarray(pos)
    i = np.clip(np.searchsorted(bases, pos, side="right"), 1, len(bases) - 1)
    if cm.ndim == 1:
        lo, hi = cm[i - 1], cm[i]
    else:
        lo, hi = np.take_along_axis(cm, i - 1, -1), np.take_along_axis(cm, i, -1)
    return lo + (pos - bases[i - 1]) * (hi - lo) / (bases[i] - bases[i - 1])


def write_map(path, maps):
    """maps: (chrom, bases, cm) triples, written in PLINK .map form:
    chromosome, marker id, centimorgans, base position."""
    with open(path, "w") as f:
        for chrom, bases, cm in maps:
            for i, (b, c) in enumerate(zip(bases, cm)):
                f.write(f"{chrom}\t{chrom}_m{i}\t{c:.8f}\t{b}\n")


def copies(rng, cm, m, T, ncopies=2):
    """Population (0 or 1) of each copy at each locus: cm holds the loci's
    genetic positions, shape (chromosomes, loci) or (loci,); the result has
    shape cm.shape + (ncopies,). The loci of a chromosome must ascend."""
    given = np.shape(cm)
    cm = np.atleast_2d(np.asarray(cm, dtype=float))
    shape = cm.shape + (ncopies,)
    pop = np.empty(shape, dtype=np.int8)
    pop[:, 0] = rng.random((shape[0], ncopies)) < m
    r = 1.0 - np.exp(-T * np.diff(cm, axis=1) / 100.0)
    for j in range(1, shape[1]):
        redraw = rng.random((shape[0], ncopies)) < r[:, j - 1, None]
        fresh = rng.random((shape[0], ncopies)) < m
        pop[:, j] = np.where(redraw, fresh, pop[:, j - 1])
    return pop.reshape(given + (ncopies,))
