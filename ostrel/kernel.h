#ifndef OSTREL_KERNEL_H
#define OSTREL_KERNEL_H

// The vector scanner, written once over a register type and compiled once
// per instruction set: each kernel file supplies the few operations that
// differ and includes this. Everything here has internal linkage, so the
// AVX2 build of it never stands in for the SSE2 one at link time.

#include <cstddef>
#include <cstdint>

namespace {

// A byte lane counts at most 255 before it wraps, so the byte counters are
// summed into c at least that often.
constexpr size_t max_rounds = 255;

// Adds the first k bytes of one step, all bases, given its A, C, G, T masks.
inline void add_prefix(uint32_t ma, uint32_t mc, uint32_t mg, uint32_t mt, unsigned k,
                       uint64_t c[5])
{
    uint32_t below = static_cast<uint32_t>((uint64_t{1} << k) - 1);
    unsigned na = __builtin_popcount(ma & below), nc = __builtin_popcount(mc & below),
             ng = __builtin_popcount(mg & below), nt = __builtin_popcount(mt & below);
    c[0] += na;
    c[1] += nc;
    c[2] += ng;
    c[3] += nt;
    c[4] += k - na - nc - ng - nt;
}

// V gives: reg, width (bytes a step), splat(byte), zero(), load(p),
// eq(a, b), either(a, b), sub(a, b), mask(a) (one bit a byte, first byte
// lowest) and sums(a, c, g, t), which packs the four byte-counter totals as
// 16-bit fields of one 64-bit value, A lowest.
template <typename V>
size_t scan_vec(const unsigned char *p, size_t n, uint64_t c[5])
{
    typedef typename V::reg reg;
    const size_t width = V::width;
    const uint32_t all = static_cast<uint32_t>((uint64_t{1} << width) - 1);
    const reg A = V::splat('A'), C = V::splat('C'), G = V::splat('G'), T = V::splat('T'),
              N = V::splat('N'), z = V::zero();

    // Adds the byte counters to c; of the `bases` bytes they cover, the
    // rest are N.
    auto fold = [&](reg ca, reg cc, reg cg, reg ct, size_t bases) {
        uint64_t v = V::sums(ca, cc, cg, ct);
        uint64_t na = v & 0xffff, nc = v >> 16 & 0xffff, ng = v >> 32 & 0xffff, nt = v >> 48;
        c[0] += na;
        c[1] += nc;
        c[2] += ng;
        c[3] += nt;
        c[4] += bases - na - nc - ng - nt;
    };
    size_t i = 0;

    while (n - i >= width) {
        size_t rounds = (n - i) / width;
        if (rounds > max_rounds)
            rounds = max_rounds;
        const size_t start = i;
        reg ca = z, cc = z, cg = z, ct = z;
        for (; rounds > 0; rounds--, i += width) {
            reg v = V::load(p + i);
            reg ea = V::eq(v, A), ec = V::eq(v, C), eg = V::eq(v, G), et = V::eq(v, T),
                en = V::eq(v, N);
            uint32_t ok = V::mask(V::either(V::either(ea, ec), V::either(V::either(eg, et), en)));
            if (ok != all) {
                if (i > start)
                    fold(ca, cc, cg, ct, i - start);
                unsigned k = __builtin_ctz(~ok);
                add_prefix(V::mask(ea), V::mask(ec), V::mask(eg), V::mask(et), k, c);
                return i + k;
            }
            // A match is -1 in its lane, so subtracting counts it.
            ca = V::sub(ca, ea);
            cc = V::sub(cc, ec);
            cg = V::sub(cg, eg);
            ct = V::sub(ct, et);
        }
        fold(ca, cc, cg, ct, i - start);
    }
    if (i == n)
        return n;
    if (n < width)
        return scan_scalar(p, n, c);

    // The last few bytes: take the final whole step again and shift out
    // the bytes already counted.
    unsigned skip = static_cast<unsigned>(width - (n - i));
    reg v = V::load(p + n - width);
    reg ea = V::eq(v, A), ec = V::eq(v, C), eg = V::eq(v, G), et = V::eq(v, T),
        en = V::eq(v, N);
    uint32_t ok = V::mask(V::either(V::either(ea, ec), V::either(V::either(eg, et), en))) >> skip;
    // Bits past the end are clear, so this stops at n - i at the latest.
    unsigned k = __builtin_ctz(~ok);
    add_prefix(V::mask(ea) >> skip, V::mask(ec) >> skip, V::mask(eg) >> skip,
               V::mask(et) >> skip, k, c);
    return i + k;
}

} // namespace

#endif
