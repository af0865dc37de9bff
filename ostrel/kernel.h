#ifndef OSTREL_KERNEL_H
#define OSTREL_KERNEL_H

// The vector kernel, written once over a register type and compiled once
// per instruction set: each kernel file supplies the few operations that
// differ and includes this. Everything here has internal linkage, so the
// AVX2 build of it never stands in for the SSE2 one at link time.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// The bits set in x. Without a popcount instruction the compiler would call
// a library routine; the same sum in a few steps inline costs less.
inline uint32_t ones(uint64_t x)
{
#if defined(__POPCNT__) || defined(__aarch64__)
    return static_cast<uint32_t>(__builtin_popcountll(x));
#else
    x -= x >> 1 & 0x5555555555555555;
    x = (x & 0x3333333333333333) + (x >> 2 & 0x3333333333333333);
    x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0f;
    return static_cast<uint32_t>(x * 0x0101010101010101 >> 56);
#endif
}

// One bit a byte of a block of 64, first byte lowest: A, C, G, T, the
// newlines, and every byte that is a base or a newline.
struct block {
    uint64_t a, c, g, t, nl, ok;
};

// V gives: reg, width (bytes a step, dividing 64), splat(byte), zero(),
// load(p), eq(a, b), either(a, b), sub(a, b), mask(a) (one bit a byte,
// first byte lowest) and sums(a, c, g, t), which packs the four byte-counter
// totals as 16-bit fields of one 64-bit value, A lowest.
template <typename V>
inline block classify(const unsigned char *q)
{
    typedef typename V::reg reg;
    block b = {0, 0, 0, 0, 0, 0};
    uint64_t n = 0;
    for (unsigned s = 0; s < 64; s += V::width) {
        reg v = V::load(q + s);
        b.a |= uint64_t{V::mask(V::eq(v, V::splat('A')))} << s;
        b.c |= uint64_t{V::mask(V::eq(v, V::splat('C')))} << s;
        b.g |= uint64_t{V::mask(V::eq(v, V::splat('G')))} << s;
        b.t |= uint64_t{V::mask(V::eq(v, V::splat('T')))} << s;
        b.nl |= uint64_t{V::mask(V::eq(v, V::splat('\n')))} << s;
        n |= uint64_t{V::mask(V::eq(v, V::splat('N')))} << s;
    }
    b.ok = b.a | b.c | b.g | b.t | b.nl | n;
    return b;
}

// A byte lane counts at most 255 before it wraps, so the byte counters are
// summed at least that often.
constexpr size_t max_rounds = 255;

// Counts the bases of a long stretch without a newline a step at a time in
// byte counters, cheaper than a block's masks: from p[i], adds the A, C,
// G, T of whole steps of bases to t and returns the index of the first
// step that holds anything else, or that does not fit before n.
template <typename V>
size_t run(const unsigned char *p, size_t n, size_t i, uint32_t t[4])
{
    typedef typename V::reg reg;
    const uint32_t all = static_cast<uint32_t>((uint64_t{1} << V::width) - 1);
    const reg A = V::splat('A'), C = V::splat('C'), G = V::splat('G'), T = V::splat('T'),
              N = V::splat('N'), z = V::zero();
    for (;;) {
        size_t rounds = (n - i) / V::width, r = 0;
        if (rounds > max_rounds)
            rounds = max_rounds;
        reg ca = z, cc = z, cg = z, ct = z;
        for (; r < rounds; r++, i += V::width) {
            reg v = V::load(p + i);
            reg ea = V::eq(v, A), ec = V::eq(v, C), eg = V::eq(v, G), et = V::eq(v, T);
            if (V::mask(V::either(V::either(ea, ec), V::either(V::either(eg, et), V::eq(v, N)))) !=
                all)
                break;
            // A match is -1 in its lane, so subtracting counts it.
            ca = V::sub(ca, ea);
            cc = V::sub(cc, ec);
            cg = V::sub(cg, eg);
            ct = V::sub(ct, et);
        }
        uint64_t sum = V::sums(ca, cc, cg, ct);
        t[0] += static_cast<uint32_t>(sum & 0xffff);
        t[1] += static_cast<uint32_t>(sum >> 16 & 0xffff);
        t[2] += static_cast<uint32_t>(sum >> 32 & 0xffff);
        t[3] += static_cast<uint32_t>(sum >> 48);
        if (r < max_rounds)
            return i;
    }
}

// The bases are counted 64 bytes at a time from one bit mask per base, as
// running totals; a line's counts are then the totals at its newline less
// those at the one before, so a line costs a mark, not a pass of its own.
// After two blocks in a row without a newline, a long line is under way,
// and its bases go to run until the next block that holds something else.
template <typename V>
size_t count_vec(const unsigned char *p, size_t n, mark *m, size_t *lines, uint32_t c[4])
{
    uint32_t ta = 0, tc = 0, tg = 0, tt = 0;
    size_t k = 0, i = 0;
    unsigned quiet = 0;
    unsigned char tail[64];

    for (;;) {
        if (quiet >= 2) {
            uint32_t t[4] = {ta, tc, tg, tt};
            i = run<V>(p, n, i, t);
            ta = t[0], tc = t[1], tg = t[2], tt = t[3];
            quiet = 0;
        }
        block b;
        if (n - i >= 64) {
            b = classify<V>(p + i);
        } else {
            if (i == n)
                break;
            // NUL is neither base nor newline, so the padding stops the
            // count at n.
            memset(tail, 0, sizeof tail);
            memcpy(tail, p + i, n - i);
            b = classify<V>(tail);
        }
        unsigned stop = 64;
        if (b.ok != ~uint64_t{0}) {
            stop = __builtin_ctzll(~b.ok);
            uint64_t keep = (uint64_t{1} << stop) - 1;
            b.a &= keep;
            b.c &= keep;
            b.g &= keep;
            b.t &= keep;
            b.nl &= keep;
        }
        quiet = b.nl == 0 ? quiet + 1 : 0;
        // A line's counts: the totals before this block and the bases of
        // the block up to its newline.
        for (; b.nl != 0; b.nl &= b.nl - 1) {
            uint64_t below = b.nl ^ (b.nl - 1);
            unsigned j = __builtin_ctzll(b.nl);
            m[k].at = static_cast<uint32_t>(i + j);
            m[k].c[0] = ta + ones(b.a & below);
            m[k].c[1] = tc + ones(b.c & below);
            m[k].c[2] = tg + ones(b.g & below);
            m[k].c[3] = tt + ones(b.t & below);
            if (++k == max_marks) {
                *lines = k;
                memcpy(c, m[k - 1].c, sizeof m[k - 1].c);
                return i + j + 1;
            }
        }
        ta += ones(b.a);
        tc += ones(b.c);
        tg += ones(b.g);
        tt += ones(b.t);
        i += stop;
        if (stop < 64)
            break;
    }
    *lines = k;
    c[0] = ta;
    c[1] = tc;
    c[2] = tg;
    c[3] = tt;
    return i;
}

} // namespace

#endif
