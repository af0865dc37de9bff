// The scanner for processors with AVX2: 32 bytes a step. This file alone is
// built with -mavx2 -mpopcnt, and it runs only where choose_kernel finds
// both; it includes no header with inline code that other files share.
#include "ostrel/ostrel.h"

#include <immintrin.h>

namespace {

constexpr size_t width = 32;

// A byte lane counts at most 255 before it wraps, so the byte counters are
// summed into c at least that often.
constexpr size_t max_rounds = 255;

// Adds the A, C, G and T byte counters to c; of the `bases` bytes they
// cover, the rest are N.
void fold(__m256i a, __m256i cc, __m256i g, __m256i t, size_t bases,
          uint64_t c[5])
{
    const __m256i z = _mm256_setzero_si256();
    // A quarter's sum is at most 8 * 255, so the four sums share one 64-bit
    // lane as 16-bit fields and the four quarters add without carries.
    __m256i s = _mm256_or_si256(
        _mm256_or_si256(_mm256_sad_epu8(a, z),
                        _mm256_slli_epi64(_mm256_sad_epu8(cc, z), 16)),
        _mm256_or_si256(_mm256_slli_epi64(_mm256_sad_epu8(g, z), 32),
                        _mm256_slli_epi64(_mm256_sad_epu8(t, z), 48)));
    __m128i h = _mm_add_epi64(_mm256_castsi256_si128(s),
                              _mm256_extracti128_si256(s, 1));
    h = _mm_add_epi64(h, _mm_unpackhi_epi64(h, h));
    uint64_t v = static_cast<uint64_t>(_mm_cvtsi128_si64(h));
    uint64_t na = v & 0xffff, nc = v >> 16 & 0xffff, ng = v >> 32 & 0xffff,
             nt = v >> 48;
    c[0] += na;
    c[1] += nc;
    c[2] += ng;
    c[3] += nt;
    c[4] += bases - na - nc - ng - nt;
}

// Adds the first k bytes of one step, all bases, given its A, C, G, T masks.
void add_prefix(uint32_t ma, uint32_t mc, uint32_t mg, uint32_t mt,
                unsigned k, uint64_t c[5])
{
    uint32_t below = static_cast<uint32_t>((uint64_t{1} << k) - 1);
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

uint32_t mask(__m256i e)
{
    return static_cast<uint32_t>(_mm256_movemask_epi8(e));
}

} // namespace

size_t scan_avx2(const unsigned char *p, size_t n, uint64_t c[5])
{
    const __m256i A = _mm256_set1_epi8('A'), C = _mm256_set1_epi8('C'),
                  G = _mm256_set1_epi8('G'), T = _mm256_set1_epi8('T'),
                  N = _mm256_set1_epi8('N'), z = _mm256_setzero_si256();
    size_t i = 0;

    while (n - i >= width) {
        size_t rounds = (n - i) / width;
        if (rounds > max_rounds)
            rounds = max_rounds;
        const size_t start = i;
        __m256i ca = z, cc = z, cg = z, ct = z;
        for (; rounds > 0; rounds--, i += width) {
            __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + i));
            __m256i ea = _mm256_cmpeq_epi8(v, A), ec = _mm256_cmpeq_epi8(v, C),
                    eg = _mm256_cmpeq_epi8(v, G), et = _mm256_cmpeq_epi8(v, T),
                    en = _mm256_cmpeq_epi8(v, N);
            uint32_t ok = mask(_mm256_or_si256(
                _mm256_or_si256(ea, ec),
                _mm256_or_si256(_mm256_or_si256(eg, et), en)));
            if (ok != 0xffffffff) {
                if (i > start)
                    fold(ca, cc, cg, ct, i - start, c);
                unsigned k = __builtin_ctz(~ok);
                add_prefix(mask(ea), mask(ec), mask(eg), mask(et), k, c);
                return i + k;
            }
            // A match is -1 in its lane, so subtracting counts it.
            ca = _mm256_sub_epi8(ca, ea);
            cc = _mm256_sub_epi8(cc, ec);
            cg = _mm256_sub_epi8(cg, eg);
            ct = _mm256_sub_epi8(ct, et);
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
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + n - width));
    __m256i ea = _mm256_cmpeq_epi8(v, A), ec = _mm256_cmpeq_epi8(v, C),
            eg = _mm256_cmpeq_epi8(v, G), et = _mm256_cmpeq_epi8(v, T),
            en = _mm256_cmpeq_epi8(v, N);
    uint32_t ok = mask(_mm256_or_si256(
                      _mm256_or_si256(ea, ec),
                      _mm256_or_si256(_mm256_or_si256(eg, et), en))) >> skip;
    // Bits past the end are clear, so this stops at n - i at the latest.
    unsigned k = __builtin_ctz(~ok);
    add_prefix(mask(ea) >> skip, mask(ec) >> skip, mask(eg) >> skip,
               mask(et) >> skip, k, c);
    return i + k;
}
