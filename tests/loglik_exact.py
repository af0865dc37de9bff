#!/usr/bin/env python3
"""tarvo -l against an exact evaluation of the same formula on long
observations whose likelihoods lie far below the smallest double.

    loglik_exact.py TARVO

The site probabilities and the weights are computed as tarvo computes them,
in doubles (Python's floats round every operation the same way); the
products and sums over them are carried in 60-digit decimals, whose
exponents do not run out, and so is the logarithm. Every printed value must
be the exact one rounded to six decimals, or, where the exact value lies
within 1e-6 of a rounding tie, within 1.5e-6 of it (1e-6 for the value,
half a unit of the last decimal for the printing)."""

import random
import subprocess
import sys
from decimal import ROUND_HALF_EVEN, Context, Decimal, localcontext

CTX = Context(prec=60, Emin=-10**15, Emax=10**15)
SIX = Decimal("0.000001")


def site(t, e):
    return (1.0 - (e * 3.0) * 0.25) * t + ((1.0 - t) * e) * 0.25


def exact(ploidy, codes, eps, F):
    """ln of each state likelihood, in 60-digit decimals."""
    nj, ns = (4, 3) if ploidy == 2 else (1, 2)
    L = [Decimal(0)] * ns
    with localcontext(CTX):
        for i in range(4):
            for j in range(nj):
                # The three site probabilities as doubles, then exactly.
                f = Decimal(1)
                for k, e in zip(codes, eps):
                    if k == 5:
                        continue
                    t = ((k == i) + ((k == j) if ploidy == 2 else 0)) / float(ploidy)
                    f *= Decimal(site(t, e))
                if ploidy == 2:
                    w = [F[j] * F[i], F[i] * F[4 + j], F[4 + j] * F[4 + i]]
                else:
                    w = [F[i], F[4 + i]]
                for s in range(ns):
                    L[s] += Decimal(w[s]) * f
        return [x.ln() if x > 0 else None for x in L]


def observation(rnd, n, rate, freq):
    codes = [5 if rnd.random() < 0.1 else rnd.randrange(4) for _ in range(n)]
    eps = [rate(rnd) for _ in range(n)]
    F = [freq(rnd) for _ in range(8)]
    return codes, eps, F


def absent(rnd, n, rate, freq):
    """Every site shows allele 0, which population 0 lacks: state 0 rests
    on the products that take the smallest site probability at every
    site."""
    codes, eps, F = observation(rnd, n, rate, freq)
    return [0] * n, eps, [0.0] + F[1:]


def tiny(rnd):
    """Error rates whose site probabilities are subnormal, with 1 and
    everyday ones among them."""
    return rnd.choice([2e-323, 1e-320, 1e-310, 2.5e-308, 1.0, rnd.random()])


# name, ploidy, sites, error rate, frequency, whether the default output
# must be all zeros, and the maker of the observation
CASES = [
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
    ("30 sites", 2, 30, lambda r: r.uniform(0, 1), lambda r: r.random(), False),
]


def text(ploidy, codes, eps, F):
    return " ".join(map(str, codes)) + "\n" + " ".join(map(repr, F)) + "\n" + \
        " ".join(map(repr, eps)) + "\n"


def run(tarvo, args, data):
    p = subprocess.run([tarvo] + args, input=data.encode(), capture_output=True)
    if p.returncode != 0 or p.stderr:
        sys.exit(f"tarvo {' '.join(args)}: status {p.returncode}, {p.stderr.decode()}")
    return p.stdout.decode()


def main():
    tarvo = sys.argv[1]
    rnd = random.Random(20261208)
    failures, worst, values = 0, Decimal(0), 0
    for name, ploidy, n, rate, freq, zeros, *make in CASES:
        codes, eps, F = (make[0] if make else observation)(rnd, n, rate, freq)
        data = text(ploidy, codes, eps, F)
        args = ["-t", "1", "-p", str(ploidy), "-n", str(n)]
        default = run(tarvo, args, data).split()
        got = run(tarvo, args + ["-l"], data).split()
        want = exact(ploidy, codes, eps, F)
        if zeros and any(v != "0.000000e+00" for v in default):
            print(f"FAIL [{name}]: default output {default}, want all zeros")
            failures += 1
        line = []
        for g, w in zip(got, want):
            values += 1
            if w is None:
                ok = g == "-inf"
                line.append(f"{g} (exactly zero)")
            else:
                err = abs(Decimal(g) - w)
                worst = max(worst, err)
                rounded = w.quantize(SIX, rounding=ROUND_HALF_EVEN)
                tie = abs(abs(w - rounded) - SIX / 2)
                ok = Decimal(g) == rounded or (tie <= 2 * SIX and err <= Decimal("1.5e-6"))
                line.append(f"{g} (exact {w:.9f})")
            if not ok:
                failures += 1
        print(f"[{name}] {'ok' if len(got) == len(want) and not failures else 'FAIL'}: "
              + ", ".join(line))
        if len(got) != len(want):
            failures += 1
    print(f"{values} values, worst |printed - exact| {worst:.3g}, {failures} failures")
    sys.exit(1 if failures else 0)


main()
