#ifndef OSTREL_KERNEL_H
#define OSTREL_KERNEL_H

// The vector scanner, written once over a register type and compiled once
// per instruction set: each kernel file supplies the few operations that
// differ and includes this. Everything here has internal linkage, so the
// AVX2 build of it never stands in for the SSE2 one at link time.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// V gives: reg, width (bytes a step, dividing 64), splat(byte), load(p),
// eq(a, b), either(a, b) and mask(a) (one bit a byte, first byte lowest).
//
// The bases are counted 64 bytes at a time from one bit mask per base, as
// running totals; a line's counts are then the totals at its newline less
// those at the one before, so a line costs a mark, not a pass of its own.
template <typename V>
size_t scan_vec(const unsigned char *p, size_t n, mark *m, size_t *lines, uint32_t c[4])
{
    typedef typename V::reg reg;
    const reg A = V::splat('A'), C = V::splat('C'), G = V::splat('G'), T = V::splat('T'),
              N = V::splat('N'), NL = V::splat('\n');
    uint32_t t[4] = {0, 0, 0, 0};
    size_t k = 0, i = 0;
    unsigned char tail[64];

    while (i < n) {
        const unsigned char *q = p + i;
        if (n - i < 64) {
            // NUL is neither base nor newline, so the padding stops the
            // scan at n.
            memset(tail, 0, sizeof tail);
            memcpy(tail, q, n - i);
            q = tail;
        }
        uint64_t ma = 0, mc = 0, mg = 0, mt = 0, mn = 0, ok = 0;
        for (unsigned s = 0; s < 64; s += V::width) {
            reg v = V::load(q + s);
            reg ea = V::eq(v, A), ec = V::eq(v, C), eg = V::eq(v, G), et = V::eq(v, T),
                en = V::eq(v, NL);
            reg any = V::either(V::either(V::either(ea, ec), V::either(eg, et)),
                                V::either(en, V::eq(v, N)));
            ma |= uint64_t{V::mask(ea)} << s;
            mc |= uint64_t{V::mask(ec)} << s;
            mg |= uint64_t{V::mask(eg)} << s;
            mt |= uint64_t{V::mask(et)} << s;
            mn |= uint64_t{V::mask(en)} << s;
            ok |= uint64_t{V::mask(any)} << s;
        }
        unsigned stop = 64;
        if (~ok != 0) {
            stop = __builtin_ctzll(~ok);
            uint64_t keep = (uint64_t{1} << stop) - 1;
            ma &= keep;
            mc &= keep;
            mg &= keep;
            mt &= keep;
            mn &= keep;
        }
        // A line's counts: the totals before this block and the bases of
        // the block up to its newline.
        for (; mn != 0; mn &= mn - 1) {
            uint64_t below = mn ^ (mn - 1);
            unsigned j = __builtin_ctzll(mn);
            m[k].at = static_cast<uint32_t>(i + j);
            m[k].c[0] = t[0] + static_cast<uint32_t>(__builtin_popcountll(ma & below));
            m[k].c[1] = t[1] + static_cast<uint32_t>(__builtin_popcountll(mc & below));
            m[k].c[2] = t[2] + static_cast<uint32_t>(__builtin_popcountll(mg & below));
            m[k].c[3] = t[3] + static_cast<uint32_t>(__builtin_popcountll(mt & below));
            if (++k == max_marks) {
                *lines = k;
                memcpy(c, m[k - 1].c, sizeof m[k - 1].c);
                return i + j + 1;
            }
        }
        t[0] += static_cast<uint32_t>(__builtin_popcountll(ma));
        t[1] += static_cast<uint32_t>(__builtin_popcountll(mc));
        t[2] += static_cast<uint32_t>(__builtin_popcountll(mg));
        t[3] += static_cast<uint32_t>(__builtin_popcountll(mt));
        i += stop;
        if (stop < 64)
            break;
    }
    *lines = k;
    memcpy(c, t, sizeof t);
    return i;
}

} // namespace

#endif
