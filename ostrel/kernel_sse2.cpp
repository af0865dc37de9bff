// The scanner for every x86-64 processor: 16 bytes a step.
#include "ostrel/ostrel.h"

#include <emmintrin.h>

namespace {

constexpr size_t width = 16;

// A byte lane counts at most 255 before it wraps, so the byte counters are
// summed into c at least that often.
constexpr size_t max_rounds = 255;

// Adds the A, C, G and T byte counters to c; of the `bases` bytes they
// cover, the rest are N.
void fold(__m128i a, __m128i cc, __m128i g, __m128i t, size_t bases,
          uint64_t c[5])
{
    const __m128i z = _mm_setzero_si128();
    // A half's sum is at most 8 * 255, so the four sums share one 64-bit
    // lane as 16-bit fields and the two halves add without carries.
    __m128i s = _mm_or_si128(
        _mm_or_si128(_mm_sad_epu8(a, z),
                     _mm_slli_epi64(_mm_sad_epu8(cc, z), 16)),
        _mm_or_si128(_mm_slli_epi64(_mm_sad_epu8(g, z), 32),
                     _mm_slli_epi64(_mm_sad_epu8(t, z), 48)));
    s = _mm_add_epi64(s, _mm_unpackhi_epi64(s, s));
    uint64_t v = static_cast<uint64_t>(_mm_cvtsi128_si64(s));
    uint64_t na = v & 0xffff, nc = v >> 16 & 0xffff, ng = v >> 32 & 0xffff,
             nt = v >> 48;
    c[0] += na;
    c[1] += nc;
    c[2] += ng;
    c[3] += nt;
    c[4] += bases - na - nc - ng - nt;
}

// Adds the first k bytes of one step, all bases, given its A, C, G, T masks.
void add_prefix(unsigned ma, unsigned mc, unsigned mg, unsigned mt,
                unsigned k, uint64_t c[5])
{
    unsigned below = (1u << k) - 1;
    unsigned na = __builtin_popcount(ma & below),
             nc = __builtin_popcount(mc & below),
             ng = __builtin_popcount(mg & below),
             nt = __builtin_popcount(mt & below);
    c[0] += na;
    c[1] += nc;
    c[2] += ng;
    c[3] += nt;
    c[4] += k - na - nc - ng - nt;
}

} // namespace

size_t scan_sse2(const unsigned char *p, size_t n, uint64_t c[5])
{
    const __m128i A = _mm_set1_epi8('A'), C = _mm_set1_epi8('C'),
                  G = _mm_set1_epi8('G'), T = _mm_set1_epi8('T'),
                  N = _mm_set1_epi8('N'), z = _mm_setzero_si128();
    size_t i = 0;

    while (n - i >= width) {
        size_t rounds = (n - i) / width;
        if (rounds > max_rounds)
            rounds = max_rounds;
        const size_t start = i;
        __m128i ca = z, cc = z, cg = z, ct = z;
        for (; rounds > 0; rounds--, i += width) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
            __m128i ea = _mm_cmpeq_epi8(v, A), ec = _mm_cmpeq_epi8(v, C),
                    eg = _mm_cmpeq_epi8(v, G), et = _mm_cmpeq_epi8(v, T),
                    en = _mm_cmpeq_epi8(v, N);
            unsigned ok = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_or_si128(_mm_or_si128(ea, ec),
                             _mm_or_si128(_mm_or_si128(eg, et), en))));
            if (ok != 0xffff) {
                if (i > start)
                    fold(ca, cc, cg, ct, i - start, c);
                unsigned k = __builtin_ctz(~ok);
                add_prefix(_mm_movemask_epi8(ea), _mm_movemask_epi8(ec),
                           _mm_movemask_epi8(eg), _mm_movemask_epi8(et), k, c);
                return i + k;
            }
            // A match is -1 in its lane, so subtracting counts it.
            ca = _mm_sub_epi8(ca, ea);
            cc = _mm_sub_epi8(cc, ec);
            cg = _mm_sub_epi8(cg, eg);
            ct = _mm_sub_epi8(ct, et);
        }
        fold(ca, cc, cg, ct, i - start, c);
    }
    if (i == n)
        return n;
    if (n < width)
        return scan_scalar(p, n, c);

    // The last few bytes: take the final whole step again and shift out
    // the bytes already counted.
    unsigned skip = static_cast<unsigned>(width - (n - i));
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + n - width));
    __m128i ea = _mm_cmpeq_epi8(v, A), ec = _mm_cmpeq_epi8(v, C),
            eg = _mm_cmpeq_epi8(v, G), et = _mm_cmpeq_epi8(v, T),
            en = _mm_cmpeq_epi8(v, N);
    unsigned ok = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
                      _mm_or_si128(ea, ec),
                      _mm_or_si128(_mm_or_si128(eg, et), en)))) >> skip;
    // Bits past the end are clear, so this stops at n - i at the latest.
    unsigned k = __builtin_ctz(~ok);
    add_prefix(static_cast<unsigned>(_mm_movemask_epi8(ea)) >> skip,
               static_cast<unsigned>(_mm_movemask_epi8(ec)) >> skip,
               static_cast<unsigned>(_mm_movemask_epi8(eg)) >> skip,
               static_cast<unsigned>(_mm_movemask_epi8(et)) >> skip, k, c);
    return i + k;
}
