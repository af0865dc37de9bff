#!/usr/bin/env python3
"""tarvo-hmm against a sum over every path of every copy's ancestry, in
60-digit arithmetic: posteriors and log-likelihood with m and T given, on
short chromosomes (up to 7 loci, ploidy 1 and 2, random distances, -inf
and very negative log-likelihoods, with and without a map). Then the
estimate and the ends of its intervals against a search over the
program's own exact log-likelihood.

    hmm_exact.py TARVO_HMM [EMULATOR...]
"""
import itertools
import os
import random
import subprocess
import sys
import tempfile
from decimal import Decimal, getcontext
from fractions import Fraction

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "common"))
import observation  # noqa: E402  (common/observation.py: the table's state names)

getcontext().prec = 60
PROG = sys.argv[2:] + [sys.argv[1]]
NAMES = {p: observation.state_names(p) for p in (1, 2)}
failures = 0


def fail(what):
    global failures
    failures += 1
    print("FAIL:", what)


def run(args, table, tmp):
    path = os.path.join(tmp, "t.tsv")
    with open(path, "w") as f:
        f.write(table)
    out = subprocess.run(PROG + args + ["--digits", "17", "--summary", tmp + "/s.tsv", path],
                         capture_output=True, text=True)
    if out.returncode != 0:
        raise SystemExit("tarvo-hmm failed: %s\n%s" % (args, out.stderr))
    summary = open(tmp + "/s.tsv").read().splitlines()[1].split("\t")
    rows = [l.split("\t") for l in out.stdout.splitlines()[1:]]
    return rows, summary


def cm_at(points, bp):
    """Linear interpolation with the end intervals carried on, exactly."""
    i = 0
    while i + 2 < len(points) and points[i + 1][0] <= bp:
        i += 1
    (a, ca), (b, cb) = points[i], points[i + 1]
    return ca + (cb - ca) * Fraction(bp - a, b - a)


def exact(chroms, ploidy, m, T):
    """Per chromosome, sum over every path of each copy's ancestry."""
    m, T = Decimal(m), Decimal(T)
    pi = [1 - m, m]
    lnl, post = Decimal(0), []
    for loci in chroms:
        n = len(loci)
        em = [[Decimal(x).exp() if x != float("-inf") else Decimal(0) for x in l[1]]
              for l in loci]
        rs = [None] + [1 - (-T * Decimal(l[2].numerator) / Decimal(l[2].denominator)).exp()
                       for l in loci[1:]]
        total = Decimal(0)
        acc = [[Decimal(0)] * (ploidy + 1) for _ in range(n)]
        for path in itertools.product(range(2), repeat=n * ploidy):
            p = Decimal(1)
            for c in range(ploidy):
                a = path[c * n:(c + 1) * n]
                p *= pi[a[0]]
                for i in range(1, n):
                    p *= (1 - rs[i]) * (a[i] == a[i - 1]) + rs[i] * pi[a[i]]
            counts = [sum(path[c * n + i] for c in range(ploidy)) for i in range(n)]
            for i in range(n):
                p *= em[i][counts[i]]
            if p == 0:
                continue
            total += p
            for i in range(n):
                acc[i][counts[i]] += p
        lnl += total.ln()
        post += [[a / total for a in row] for row in acc]
    return lnl, post


def close(a, b, rel=1e-9):
    # Below the doubles' range a posterior can only be 0.
    return abs(Decimal(a) - b) <= Decimal(rel) * abs(b) + Decimal("1e-300")


def lnl_value():
    r = random.random()
    if r < 0.12:
        return float("-inf")
    if r < 0.2:
        return -random.uniform(700, 5000)
    return -random.expovariate(0.2)


def case(rng_case, tmp):
    ploidy = random.choice([1, 2])
    nchrom = random.randint(1, 3)
    use_map = random.random() < 0.5
    rate = random.choice([0.3, 1, 7.5, 60])
    m = random.uniform(0.02, 0.98)
    T = random.choice([random.uniform(1, 30), random.uniform(30, 3000)])
    table = observation.table_header(ploidy, ("chrom", "pos")) + "\n"
    maptext, chroms, left_out = "", [], 0
    thin = Fraction(repr(random.uniform(0.01, 1.5))) if random.random() < 0.4 else 0
    for c in range(nchrom):
        name = "c%d" % c
        # One chromosome in ten has a single locus: the start alone.
        n = 1 if random.random() < 0.1 else random.randint(2, 7)
        pos = sorted(random.sample(range(1, 3_000_000), n))
        points = []
        if use_map:
            bps = sorted(random.sample(range(1, 3_000_000), random.randint(2, 4)))
            cmv = 0.0
            for bp in bps:
                cmv += round(random.uniform(0, 3), 3)
                points.append((bp, Fraction(repr(cmv))))
                maptext += "%s\tm%d\t%s\t%d\n" % (name, bp, repr(cmv), bp)
        # -d keeps a locus CM or more after the last kept one.
        loci, kept_cm = [], None
        for p in pos:
            ls = [lnl_value() for _ in range(ploidy + 1)]
            if all(x == float("-inf") for x in ls):
                ls[random.randrange(ploidy + 1)] = -1.5
            table += "%s\t%d\t%s\n" % (name, p, "\t".join(repr(x) for x in ls))
            cm = cm_at(points, p) if use_map else Fraction(p) * Fraction(repr(rate)) / 10**6
            if kept_cm is not None and cm - kept_cm < thin:
                left_out += 1
                continue
            loci.append((p, ls, Fraction(0) if kept_cm is None else (cm - kept_cm) / 100))
            kept_cm = cm
        chroms.append((name, loci))
    args = ["-m", repr(m), "-g", repr(T), "-d", repr(float(thin)), "--tracts", tmp + "/t.bed"]
    if use_map:
        with open(tmp + "/g.map", "w") as f:
            f.write("# chrom id cM bp\n" + maptext)
        args += ["--map", tmp + "/g.map"]
    else:
        args += ["-r", repr(rate)]
    rows, summary = run(args, table, tmp)
    want_lnl, want_post = exact([c[1] for c in chroms], ploidy, repr(m), repr(T))
    what = "case %d (ploidy %d, %s)" % (rng_case, ploidy, " ".join(args))
    if not close(summary[-1], want_lnl):
        fail("%s: lnL %s, exact %s" % (what, summary[-1], want_lnl))
    counts = [str(len(want_post)), str(nchrom), str(left_out)]
    if summary[:3] != counts or [summary[i] for i in (4, 5, 7, 8)] != ["."] * 4:
        fail("%s: summary %s, want %s and . for the fixed bounds" % (what, summary, counts))
    if len(rows) != len(want_post):
        fail("%s: %d lines, %d loci" % (what, len(rows), len(want_post)))
        return
    for row, want in zip(rows, want_post):
        got = row[2:2 + ploidy + 1]
        copies = sum(k * w for k, w in enumerate(want))
        if not all(close(g, w) for g, w in zip(got, want)) or not close(row[-1], copies):
            fail("%s: %s %s: %s, exact %s" % (what, row[0], row[1], row[2:],
                                              ["%.12e" % w for w in want]))
    # The tracts: runs of the same most probable state.
    want_tracts, at = [], 0
    for name, loci in chroms:
        for i, (p, _, _) in enumerate(loci):
            post = want_post[at + i]
            best = max(range(ploidy + 1), key=lambda k: (post[k], -k))
            if i and want_tracts[-1][3] == best:
                want_tracts[-1][2] = p
                want_tracts[-1][4].append(post[best])
            else:
                want_tracts.append([name, p - 1, p, best, [post[best]]])
        at += len(loci)
    got = [l.split("\t") for l in open(tmp + "/t.bed").read().splitlines()[1:]]
    if len(got) != len(want_tracts):
        fail("%s: %d tracts, want %d" % (what, len(got), len(want_tracts)))
        return
    for g, w in zip(got, want_tracts):
        if (g[:5] != [w[0], str(w[1]), str(w[2]), NAMES[ploidy][w[3]], str(len(w[4]))]
                or not close(g[5], sum(w[4]) / len(w[4]))):
            fail("%s: tract %s, want %s" % (what, g, w))


def lnl_at(table, tmp, m, T):
    return float(run(["-m", repr(m), "-g", repr(T), "-r", "2"], table, tmp)[1][-1])


def golden(f, a, b, steps=40):
    """The maximum of a unimodal f on [a, b]."""
    g = (5 ** 0.5 - 1) / 2
    c, d = b - g * (b - a), a + g * (b - a)
    fc, fd = f(c), f(d)
    for _ in range(steps):
        if fc > fd:
            b, d, fd = d, c, fc
            c = b - g * (b - a)
            fc = f(c)
        else:
            a, c, fc = c, d, fd
            d = a + g * (b - a)
            fd = f(d)
    return max(fc, fd)


def estimation(tmp):
    """A simulated individual: the estimate must be the maximum a search
    finds, and at each end of an interval the profile must be 1.92 down."""
    random.seed(7)
    m, T = 0.35, 40
    table = observation.table_header(2, ("chrom", "pos")) + "\n"
    for c in range(4):
        cop, last = [random.random() < m for _ in range(2)], None
        for p in sorted(random.sample(range(1, 20_000_000), 60)):
            if last is not None:
                r = 1 - 2.718281828459045 ** (-T * (p - last) * 2e-8)
                cop = [(random.random() < m) if random.random() < r else a for a in cop]
            last = p
            k = sum(cop)
            table += "c%d\t%d\t%s\n" % (c, p, "\t".join(
                repr(-(1.5 * (j - k)) ** 2 + random.gauss(0, 1)) for j in range(3)))
    _, s = run(["-r", "2"], table, tmp)
    em, mlo, mhi, eT, Tlo, Thi, lnl = map(float, s[3:10])
    import math
    best = golden(lambda lm: golden(lambda lt: lnl_at(table, tmp, lm, math.exp(lt)),
                                    0, math.log(10000), 30), 0.01, 0.99, 30)
    if not (lnl >= best - 1e-6 and lnl - best < 1e-3):
        fail("estimate: lnL %.9f at m %g T %g; the search's maximum %.9f" % (lnl, em, eT, best))
    for lm in (mlo, mhi):
        prof = golden(lambda lt: lnl_at(table, tmp, lm, math.exp(lt)), 0, math.log(10000), 40)
        if abs(prof - (lnl - 1.920729410347062)) > 2e-3:
            fail("interval of m: profile at %g is %.6f, want %.6f" % (lm, prof, lnl - 1.9207))
    for lt in (Tlo, Thi):
        prof = golden(lambda x: lnl_at(table, tmp, x, lt), 1e-6, 1 - 1e-6, 40)
        if abs(prof - (lnl - 1.920729410347062)) > 2e-3:
            fail("interval of T: profile at %g is %.6f, want %.6f" % (lt, prof, lnl - 1.9207))
    # T fixed: m alone, and no interval for T.
    _, s = run(["-r", "2", "-g", "40"], table, tmp)
    fixed = golden(lambda lm: lnl_at(table, tmp, lm, 40.0), 0.01, 0.99, 40)
    if s[6:9] != ["40", ".", "."] or abs(float(s[9]) - fixed) > 1e-6:
        fail("with -g 40: summary %s; the search's maximum %.9f" % (s, fixed))
    print("estimate m %g [%g, %g], T %g [%g, %g], lnL %.6f; search %.6f"
          % (em, mlo, mhi, eT, Tlo, Thi, lnl, best))


def main():
    random.seed(2026)
    with tempfile.TemporaryDirectory() as tmp:
        cases = 60
        for i in range(cases):
            case(i, tmp)
        print("%d cases of enumerated paths" % cases)
        estimation(tmp)
    if failures:
        raise SystemExit("%d failures" % failures)
    print("ok")


main()
