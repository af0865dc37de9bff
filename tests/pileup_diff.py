#!/usr/bin/env python3
"""tarvo-pileup against a plain reading of the pileup format, on what
samtools mpileup makes of real reads (htslib-test's ce#1000.sam) and of
generated ones with every corner of the format: standard output and the
sites file must match byte for byte, and tarvo must read the numbers back
as the same doubles as a 17-digit form of them.

    pileup_diff.py TARVO_PILEUP TARVO GEN_READS [LAUNCHER...]

LAUNCHER, when given, starts both programs: an emulator for another
processor's build. Exits 77 (skipped) where samtools or htslib-test is missing, except in CI.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
from decimal import Decimal, getcontext

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "common"))
from observation import FREQS, MISSING  # noqa: E402  (common/observation.py)

PILEUP, TARVO, GEN = sys.argv[1:4]
LAUNCHER = sys.argv[4:]


def skip(why):
    if os.environ.get("CI") == "true":
        sys.exit("needed in CI: " + why)
    print(why + ": skipped")
    sys.exit(77)


def eps_of(q):
    getcontext().prec = 80
    return float(min(Decimal(1), Decimal(4) / 3 * Decimal(10) ** (Decimal(-q) / 10)))


EPS = [eps_of(q) for q in range(94)]


def shortest(x):
    """x as C++'s std::to_chars writes it: the fewest digits that read
    back as x, in fixed or scientific form, whichever is shorter (fixed on
    a tie)."""
    d = Decimal(repr(x)).normalize()
    if d == 0:
        return "-0" if repr(x).startswith("-") else "0"
    sign, digits, exp = d.as_tuple()
    digits = "".join(map(str, digits))
    e10 = exp + len(digits) - 1
    sci = digits[0] + ("." + digits[1:] if len(digits) > 1 else "")
    sci = ("-" if sign else "") + sci + "e%s%02d" % ("-" if e10 < 0 else "+", abs(e10))
    fixed = format(d, "f")
    return fixed if len(fixed) <= len(sci) else sci


# What the pileups showed, so that the test knows it met every corner.
SEEN = set()


def reads(bases, quals, ref):
    """The reads of a sample's columns that show a base: (code, quality)."""
    out, entries, i, q = [], 0, 0, 0
    while i < len(bases):
        c = bases[i]
        SEEN.add(c)
        i += 1
        if c == "^":
            SEEN.add("^" + bases[i])
            i += 1
        elif c == "$":
            pass
        elif c in "+-":
            j = i
            while bases[j].isdigit():
                j += 1
            i = j + int(bases[i:j])
        else:
            qual = ord(quals[q]) - 33
            SEEN.add(qual)
            q += 1
            entries += 1
            b = ref if c in ".," else c.upper()
            if b in "ACGT":
                out.append(("ACGT".index(b), qual))
            else:
                assert c in "Nn*#><", c
    assert q == len(quals)
    return out, entries


def expected(pileup, panel, n, sample, per_sample):
    obs, sites = [], []
    for line in pileup.splitlines():
        f = line.split("\t")
        chrom, pos, ref = f[0], int(f[1]), f[2].upper()
        depth, bases, quals = f[3 + (sample - 1) * per_sample:6 + (sample - 1) * per_sample]
        if (chrom, pos) not in panel:
            continue
        freq, pref = panel[(chrom, pos)]
        assert pref is None or pref == ref
        if depth == "0":
            continue
        got, entries = reads(bases, quals, ref)
        assert entries == int(depth)
        if not got:
            continue
        used = got[:n]
        codes = [c for c, _ in used] + [MISSING] * (n - len(used))
        rates = [EPS[q] for _, q in used] + [0.0] * (n - len(used))
        obs.append((codes, freq, rates))
        sites.append("%s\t%d\t%d\t%d\n" % (chrom, pos, len(used), len(got) - len(used)))
    return obs, "".join(sites)


def text(obs, number):
    return "".join(" ".join([str(c) for c in codes] + [number(v) for v in freq + rates]) + "\n"
                   for codes, freq, rates in obs)


def af(rng):
    return rng.choice(["0", "1", "0.5", "1e-3", "0.30000000000000004", "%.17g" % rng.random(),
                       repr(rng.random()), "%.3f" % rng.random()])


def make_panel(rng, pileup, path, columns, extra_chroms):
    """A panel over about two thirds of the pileup's loci of known
    reference base, and loci and a chromosome the pileup lacks; the
    chromosomes in reverse order of the pileup's."""
    loci = {}
    for line in pileup.splitlines():
        f = line.split("\t")
        loci.setdefault(f[0], []).append((int(f[1]), f[2].upper()))
    panel, out = {}, ["# a panel for the test\n"]
    for chrom in list(reversed(list(loci))) + extra_chroms:
        at = dict(loci.get(chrom, []))
        last = max(at, default=100) + 50
        for pos in range(1, last):
            if pos in at and (at[pos] not in "ACGT" or rng.random() < 0.3):
                continue
            if pos not in at and rng.random() < 0.9:
                continue
            sep = rng.choice(["\t", " ", " \t "])
            if columns == 6:
                ref = at.get(pos, rng.choice("ACGT"))
                alt = rng.choice([b for b in "ACGT" if b != ref])
                a0, a1 = af(rng), af(rng)
                fr = [0.0] * FREQS
                for k, a in enumerate([float(a0), float(a1)]):
                    fr[4 * k + "ACGT".index(ref)] = 1 - a
                    fr[4 * k + "ACGT".index(alt)] = a
                panel[(chrom, pos)] = (fr, ref)
                out.append(sep.join([chrom, str(pos), ref, alt, a0, a1]) + "\n")
            else:
                fs = [af(rng) for _ in range(FREQS)]
                panel[(chrom, pos)] = ([float(v) for v in fs], None)
                out.append(sep.join([chrom, str(pos)] + fs) + "\n")
            if rng.random() < 0.01:
                out.append("#" + out[-1])
    with open(path, "w") as f:
        f.write("".join(out))
    return panel


def run(args, stdin, stderr=None):
    return subprocess.run(args, input=stdin, stdout=subprocess.PIPE, stderr=stderr,
                          check=True).stdout


def main():
    if not shutil.which("samtools"):
        skip("samtools is not installed")
    data = "/usr/share/htslib-test/test"
    if not os.path.exists(data + "/ce#1000.sam"):
        skip("htslib-test is not installed")
    work = tempfile.mkdtemp()
    try:
        compare(work, data)
    finally:
        shutil.rmtree(work)


def compare(work, data):
    rng = random.Random(15)
    w = lambda name: os.path.join(work, name)
    run(["samtools", "sort", "-o", w("ce.bam"), data + "/ce#1000.sam"], b"")
    shutil.copy(data + "/ce.fa", w("ce.fa"))
    sam = run([sys.executable, GEN, w("g.fa"), "3", "4000", "25", "7", "corners"], b"")
    run(["samtools", "sort", "-o", w("g.bam"), "-"], sam)
    # A second sample: half of the same reads.
    run(["samtools", "view", "-b", "-s", "0.5", "-o", w("h.bam"), w("g.bam")], b"")
    # (name, mpileup arguments, panel columns, -c, columns per sample)
    cases = [
        ("ce", ["-f", w("ce.fa"), w("ce.bam")], 6, None, 3),
        ("ce-all-qualities", ["-B", "-Q", "0", "-f", w("ce.fa"), w("ce.bam")], 10, None, 3),
        ("generated", ["-B", "-Q", "0", "--reverse-del", "-f", w("g.fa"), w("g.bam")], 10,
         None, 3),
        ("generated-6", ["-B", "-Q", "0", "-f", w("g.fa"), w("g.bam")], 6, None, 3),
        ("two-samples-mq", ["-B", "-Q", "0", "-s", "-f", w("g.fa"), w("g.bam"), w("h.bam")],
         10, 2, 4),
    ]
    checked = 0
    for name, margs, columns, sample, per_sample in cases:
        pileup = run(["samtools", "mpileup"] + margs, b"", stderr=subprocess.DEVNULL).decode()
        panel = make_panel(rng, pileup, w("panel.tsv"), columns, ["chrUn"])
        for n in (3, 50):
            obs, sites = expected(pileup, panel, n, sample or 1, per_sample)
            args = [PILEUP, "-r", w("panel.tsv"), "-n", str(n), "-s", w("sites.tsv")]
            if sample:
                args += ["-c", str(sample)]
            got = run(LAUNCHER + args, pileup.encode())
            want = text(obs, shortest).encode()
            got_sites = open(w("sites.tsv")).read()
            if got != want or got_sites != sites:
                for g, e in zip(got.decode().splitlines(), want.decode().splitlines()):
                    if g != e:
                        print("got  " + g + "\nwant " + e)
                        break
                sys.exit("%s -n %d: output or sites differ" % (name, n))
            if not obs:
                sys.exit("%s: no observations; the test checks nothing" % name)
            # tarvo reads the shortest forms as the doubles a 17-digit
            # form of the same values gives.
            tarvo = LAUNCHER + [TARVO, "-a", "-p", "2", "-n", str(n), "-l"]
            full = text(obs, lambda v: "%.17g" % v).encode()
            scores = run(tarvo, got)
            if scores != run(tarvo, full) or scores.count(b"\n") != len(obs):
                sys.exit("%s -n %d: tarvo reads other numbers" % (name, n))
            checked += len(obs)
            print("%s -n %d: %d observations identical" % (name, n, len(obs)))
    corners = set(range(94)) | set("^$+-.,ACGTacgtNn*#><") | {"^+", "^-", "^$", "^^"}
    if corners - SEEN:
        sys.exit("never met in a pileup: %s" % sorted(map(str, corners - SEEN)))
    print("%d observations checked" % checked)


main()
