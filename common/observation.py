"""The observation format and the per-locus table's columns, for the
Python scripts: the same contract as common/observation.h states for the
programs (a change there is a change here).

An observation is one locus of one individual, on one line of items
separated by white space: n base codes, one a read (a code is the base's
place in BASES; MISSING pads a locus with fewer than n reads); FREQS
frequencies, of A, C, G, T in population 0 and then in population 1; n
error rates, in the order of the codes.

The per-locus table is tarvo-pileup's sites file (-s) beside tarvo's
log-likelihoods, line for line, under one '#' header naming the columns.
"""

BASES = "ACGT"
MISSING = 5
DEFAULT_SITES = 50
POPULATIONS = 2
FREQS = POPULATIONS * len(BASES)

# What tarvo-pileup -s writes for each observation.
SITE_COLUMNS = ("chrom", "pos", "reads_used", "reads_left_out")
LNL_PREFIX = "lnL_"


def state_names(ploidy):
    """The name of state k, k copies from population 1, for k from 0 to
    the ploidy: pop0 and pop1 for one copy, pop0_pop0, pop0_pop1 and
    pop1_pop1 for two."""
    return ["_".join(["pop0"] * (ploidy - k) + ["pop1"] * k) for k in range(ploidy + 1)]


def lnl_columns(ploidy):
    """The table's log-likelihood columns, in tarvo's order."""
    return [LNL_PREFIX + s for s in state_names(ploidy)]


def table_header(ploidy, sites=SITE_COLUMNS):
    """The table's header line, without its newline: the sites file's
    columns (or the ones given) and then the log-likelihoods."""
    return "#" + "\t".join(list(sites) + lnl_columns(ploidy))


def parts(line, n):
    """An observation line of n sites as its three parts (codes,
    frequencies, error rates), each a list of the items' texts."""
    items = line.split()
    if len(items) != 2 * n + FREQS:
        raise ValueError(f"an observation of {n} sites has {2 * n + FREQS} items, "
                         f"not {len(items)}")
    return items[:n], items[n:n + FREQS], items[n + FREQS:]
