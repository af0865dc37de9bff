#!/usr/bin/env python3
"""tarvo -l against its rule, state by state, with L the double the default
output prints for the state:

- L NaN: -l prints what the default prints;
- L negative (-inf too): nan;
- L a positive normal number: ln L, to 1e-9 before the printing;
- L +0, subnormal or +inf: where every frequency and error rate the state
  uses is finite, ln of the exact value of the same sums and products (the
  same double site probabilities and weights), to 1e-6 before the printing,
  -inf where that is 0 and nan where it is negative; else ln L.

    loglik_exact.py TARVO [LAUNCHER...]

LAUNCHER, when given, starts the program: an emulator for another
processor, or one for this processor without AVX2, which forces the
baseline build.

L is computed here as tarvo computes it, in doubles (Python's floats round
every operation the same way), and must print as the default output does.
The exact values are carried in integers over a power of two, on a table of
observations mixing everyday values with 0, 1, subnormals, values near
2^+-1000, negative ones, ones above 1, inf and NaN, for both ploidies and 0
to 400 sites, with the issue's examples among them; and, on long
observations whose terms cannot cancel (none negative), in 60-digit
decimals, whose exponents do not run out."""

import math
import os
import random
import shutil
import subprocess
import sys
from decimal import Context, Decimal, localcontext

CTX = Context(prec=60, Emin=-10**15, Emax=10**15)
with localcontext(CTX):
    LN2 = Decimal(2).ln()
INF = float("inf")


def site(t, e):
    return (1.0 - (e * 3.0) * 0.25) * t + ((1.0 - t) * e) * 0.25


def table(ploidy, k, i, j):
    return ((k == i) + ((k == j) if ploidy == 2 else 0)) / float(ploidy)


def genotypes(ploidy, F):
    """(i, j) and the weight of each state, as tarvo computes them."""
    for i in range(4):
        for j in range(4 if ploidy == 2 else 1):
            if ploidy == 2:
                yield i, j, [F[j] * F[i], F[i] * F[4 + j], F[4 + j] * F[4 + i]]
            else:
                yield i, j, [F[i], F[4 + i]]


def default(ploidy, codes, eps, F):
    """The default output's likelihoods."""
    L = [0.0] * (3 if ploidy == 2 else 2)
    for i, j, w in genotypes(ploidy, F):
        x = 1.0
        for k, e in zip(codes, eps):
            if k != 5:
                x = x * site(table(ploidy, k, i, j), e)
        for s in range(len(L)):
            L[s] = w[s] * x + L[s]
    return L


def exact(ploidy, codes, eps, F, state):
    """What -l must print for the state from the exact likelihood: "nan",
    "-inf", "inf" or ln of it as a Decimal. Carried in integers over a power
    of two, or for long observations in 60-digit decimals. A weight that
    overflowed (frequencies near 2^1000) makes its terms infinite."""
    ns = 3 if ploidy == 2 else 2
    if len(codes) > 2000:
        with localcontext(CTX):
            L = [Decimal(0)] * ns
            for i, j, w in genotypes(ploidy, F):
                f = Decimal(1)
                for k, e in zip(codes, eps):
                    if k != 5:
                        p = site(table(ploidy, k, i, j), e)
                        assert p >= 0, "long observations must not cancel"
                        f *= Decimal(p)
                for s in range(ns):
                    assert w[s] >= 0, "long observations must not cancel"
                    L[s] += Decimal(w[s]) * f
            return L[state].ln() if L[state] > 0 else "-inf"
    num, den = [0] * ns, [0] * ns  # each value num / 2^den
    infinite = [set() for _ in range(ns)]  # signs of the infinite terms
    for i, j, w in genotypes(ploidy, F):
        n, d = 1, 0
        for k, e in zip(codes, eps):
            if k != 5:
                a, b = site(table(ploidy, k, i, j), e).as_integer_ratio()
                n, d = n * a, d + b.bit_length() - 1
        for s in [state]:
            if math.isinf(w[s]):
                infinite[s].add("nan" if n == 0 else (w[s] > 0) == (n > 0))
                continue
            a, b = w[s].as_integer_ratio()
            a, b = n * a, d + b.bit_length() - 1
            top = max(den[s], b)
            num[s] = (num[s] << (top - den[s])) + (a << (top - b))
            den[s] = top
    n, d, inf = num[state], den[state], infinite[state]
    if inf:
        return "inf" if inf == {True} else "nan"
    with localcontext(CTX):
        return "nan" if n < 0 else "-inf" if n == 0 else Decimal(n).ln() - d * LN2


def used(ploidy, s, codes, eps, F):
    """The frequencies and error rates state s uses."""
    pops = [[0], [0, 1] if ploidy == 2 else [1], [1]][s]
    return [F[4 * p + a] for p in pops for a in range(4)] + \
        [e for k, e in zip(codes, eps) if k != 5]


def check(ploidy, codes, eps, F, d, g, seen):
    """The -l text g of each state against the rule, d the default's; the
    failures as text."""
    bad = []
    L = default(ploidy, codes, eps, F)
    if len(d) != len(L) or len(g) != len(L):
        return [f"{len(d)} default and {len(g)} -l values, want {len(L)}"]
    for s, (l, ds, gs) in enumerate(zip(L, d, g)):
        if math.isnan(l):
            kind, ok = "nan", "nan" in ds and gs == ds
        elif "%e" % l != ds:
            bad.append(f"state {s}: default prints {ds}, computed here {l!r}")
            continue
        elif l < 0:
            kind, ok = "negative", gs == "nan"
        elif l > 0 and l != INF and l >= sys.float_info.min:
            kind, ok = "normal", close(gs, Decimal(l).ln(CTX), Decimal("1e-9"))
        elif all(math.isfinite(v) for v in used(ploidy, s, codes, eps, F)):
            x = exact(ploidy, codes, eps, F, s)
            kind = "exact"
            ok = gs == x if isinstance(x, str) else close(gs, x, Decimal("1e-6"))
        else:
            kind = "infinite input"
            ok = gs == ("-inf" if l == 0 else "inf" if l == INF else None) or \
                (l != 0 and l != INF and close(gs, Decimal(l).ln(CTX), Decimal("1e-9")))
        seen[kind] = seen.get(kind, 0) + 1
        if not ok:
            bad.append(f"state {s} ({kind}): -l prints {gs}, default {ds}"
                       + (f", exact {x}" if kind == "exact" else ""))
    return bad


def close(text, want, tol):
    """Whether the printed text is want, give or take tol, rounded to six
    decimals."""
    try:
        return abs(Decimal(text) - want) <= tol + Decimal("5e-7")
    except ArithmeticError:
        return False


def text(codes, eps, F):
    return " ".join(map(str, codes)) + "\n" + " ".join(map(repr, F)) + "\n" + \
        " ".join(map(repr, eps)) + "\n"


def run(cmd, args, data):
    p = subprocess.run(cmd + args, input=data.encode(), capture_output=True)
    if p.returncode != 0 or p.stderr:
        sys.exit(f"tarvo {' '.join(args)}: status {p.returncode}, {p.stderr.decode()}")
    return p.stdout.decode()


# Values of every kind, for frequencies and error rates alike: at the rate
# given, one of the odd ones, infinite and NaN ones among them if wild.
def value(r, rate, wild):
    if r.random() >= rate:
        return r.random()
    odd = [0.0, -0.0, 1.0, 5e-324, 1.5e-323, 1e-310, r.random() * 2.2e-308,
           r.uniform(0.5, 1) * 2.0**1000, r.uniform(0.5, 1) * 2.0**-1000, 2.0**-1074 * 3,
           -r.random(), -1.0, -1e-200, -(2.0**1000), -(2.0**-1000), r.uniform(1, 4 / 3),
           1.5, 7.0, 1e10, 1e300, 1e-160, 4.4e-160, 4e-200]
    return r.choice(odd + ([INF, -INF, float("nan")] if wild else []))


def observation(r, n):
    """Some observations keep every value in range, so that the products
    underflow with no NaN or negative value on the way; others take odd
    values at a rate that leaves some states without a NaN at 400 sites."""
    rate = r.choice([0.0, 0.005, 0.02, 0.1, 0.3])
    wild = r.random() < 0.4
    if r.random() < 0.3:
        return cancelling(r, n, rate)
    codes = [5 if r.random() < 0.1 else r.randrange(4) for _ in range(n)]
    eps = [value(r, rate, wild) for _ in range(n)]
    F = [value(r, max(rate, 0.1), wild) for _ in range(8)]
    return codes, eps, F


def cancelling(r, n, rate):
    """Alleles 0 and 1 never show, so their genotypes' products are equal,
    and their frequencies are of opposite signs and the same size, or
    nearly: the terms cancel, exactly or down to a last bit, leaving what
    the other terms add, often far below the smallest double."""
    codes = [r.choice([2, 3, 3, 5]) for _ in range(n)]
    eps = [r.choice([r.random(), 1.0, r.random() * 1e-100, value(r, rate, False)])
           for _ in range(n)]
    F = [value(r, 0.5, False) for _ in range(8)]
    for p in (0, 4):
        F[p + 1] = -F[p] * r.choice([1.0, 1 + 2.0**-52, 1 - 2.0**-53, 1 - 2.0**-30])
        F[p + 2] *= r.choice([1.0, 2.0**-1000, 1e-300, 0.0])
    return codes, eps, F


# The examples: ploidy, codes, frequencies, error rates.
EXAMPLES = [
    (1, [0, 0], [0, 0, 1, 0, 0, 0, 1, 0], [-1e300, -1e300]),
    (1, [0, 0], [0, 0, 0, INF, 0, 0, 0, INF], [4e-200, 4e-200]),
    (1, [3, 3], [0, 0, 0, INF, 0, 0, 0, INF], [4e-200, 4e-200]),
    (1, [1, 1], [1e300, -1e-200, 0, 0, 1e300, -1e-200, 0, 0], [4e-200, 4e-200]),
    (1, [1, 1], [1e300, 0, 0, 0, 1e300, 0, 0, 0], [4e-160, 4.4e-160]),
    (1, [0], [1, -1, 1.5e-323, 0, 1, 0, 0, 0], [1]),
]

SITES = [0, 1, 2, 3, 5, 8, 13, 30, 60, 120, 250, 400]
PER_GROUP = 60


# Long observations with everyday values, whose likelihoods lie far below
# the smallest double: name, ploidy, sites, error rate, frequency and
# whether the default output must be all zeros.
def absent(r, n, rate, freq):
    """Every site shows allele 0, which population 0 lacks: state 0 rests
    on the products that take the smallest site probability at every
    site."""
    eps = [rate(r) for _ in range(n)]
    return [0] * n, eps, [0.0] + [freq(r) for _ in range(7)]


def long_one(r, n, rate, freq):
    codes = [5 if r.random() < 0.1 else r.randrange(4) for _ in range(n)]
    return codes, [rate(r) for _ in range(n)], [freq(r) for _ in range(8)]


def tiny(r):
    """Error rates whose site probabilities are subnormal, with 1 and
    everyday ones among them."""
    return r.choice([2e-323, 1e-320, 1e-310, 2.5e-308, 1.0, r.random()])


LONG = [
    ("1,200 sites, everyday error rates", 2, 1200,
     lambda r: r.uniform(0.001, 0.05), lambda r: r.random(), True),
    ("20,000 sites, allele 0 everywhere, error rates near 2^-30", 1, 20000,
     lambda r: r.uniform(2**-30, 2**-29), lambda r: r.random(), False, absent),
    ("100,000 sites, ploidy 1", 1, 100000,
     lambda r: r.uniform(0, 0.1), lambda r: r.random(), True),
    ("100,000 sites, error rates near 2^-30", 2, 100000,
     lambda r: r.uniform(2**-30, 2**-29), lambda r: r.random(), True),
    ("3,000 sites, subnormal site probabilities, tiny weights", 2, 3000,
     tiny, lambda r: r.choice([1e-170, 3e-160, 0.0, 1.0, r.random()]), True),
    ("40,000 sites, error rates 1 and near it", 1, 40000,
     lambda r: r.choice([1.0, 0.999999, 0.75]), lambda r: r.random(), True),
]


def group(cmd, ploidy, n, obs):
    """Runs one batch of observations of n sites with and without -l; the
    failures."""
    data = "".join(text(c, e, F) for c, e, F in obs)
    args = ["-t", str(len(obs)), "-p", str(ploidy), "-n", str(n)]
    d = run(cmd, args, data).splitlines()
    g = run(cmd, args + ["-l"], data).splitlines()
    if len(d) != len(obs) or len(g) != len(obs):
        return [f"ploidy {ploidy}, {n} sites: {len(d)} and {len(g)} lines for {len(obs)}"], [d, g]
    return None, [d, g]


def main():
    cmd = sys.argv[2:] + [sys.argv[1]]
    if len(cmd) > 1 and not shutil.which(cmd[0]):
        print(f"{cmd[0]} is not installed: skipped")
        sys.exit(1 if os.environ.get("CI") == "true" else 77)
    r = random.Random(20261208)
    seen, failures = {}, 0

    def report(where, bad):
        nonlocal failures
        for b in bad:
            print(f"FAIL [{where}]: {b}")
        failures += len(bad)

    batches = [(p, len(c), [(c, e, F)], f"example {x + 1}")
               for x, (p, c, F, e) in enumerate(EXAMPLES)]
    for ploidy in (1, 2):
        for n in SITES:
            batches.append((ploidy, n, [observation(r, n) for _ in range(PER_GROUP)],
                            f"ploidy {ploidy}, {n} sites"))
    for name, ploidy, n, rate, freq, zeros, *make in LONG:
        batches.append((ploidy, n, [(make[0] if make else long_one)(r, n, rate, freq)], name))
    for ploidy, n, obs, where in batches:
        bad, (d, g) = group(cmd, ploidy, n, obs)
        if bad:
            report(where, bad)
            continue
        for o, (c, e, F) in enumerate(obs):
            report(f"{where}, observation {o + 1}",
                   check(ploidy, c, e, F, d[o].split("\t"), g[o].split("\t"), seen))
        if where in [x[0] for x in LONG] and d[0].split("\t") != ["0.000000e+00"] * len(d[0].split("\t")) \
                and [x for x in LONG if x[0] == where][0][5]:
            report(where, [f"default output {d[0]}, want all zeros"])
        if len(obs) == 1:
            print(f"[{where}] default {d[0]}, -l {g[0]}")
    print("states checked: " + ", ".join(f"{k} {v}" for k, v in sorted(seen.items())))
    for kind in ("nan", "negative", "normal", "exact", "infinite input"):
        if seen.get(kind, 0) < 5:
            report("table", [f"only {seen.get(kind, 0)} states of kind {kind}"])
    print(f"{failures} failures")
    sys.exit(1 if failures else 0)


main()
