// The reader's block kernels for processors with AVX2 (this file alone is
// compiled with -mavx2 -mbmi). Item by item, finding where the next number
// begins waits on the end of the one before; here the white space of 64
// bytes is found at once, so each number's bounds come from a bit mask and
// the numbers convert side by side.

#include <immintrin.h>

#include "tarvo/digits.h"
#include "tarvo/scan.h"

namespace {

uint64_t bits(__m256i lo, __m256i hi)
{
    return (uint32_t)_mm256_movemask_epi8(lo) | (uint64_t)(uint32_t)_mm256_movemask_epi8(hi) << 32;
}

// Bytes in [from, from + n) unsigned, lane by lane.
__m256i within(__m256i x, char from, char n)
{
    __m256i d = _mm256_sub_epi8(x, _mm256_set1_epi8(from));
    return _mm256_cmpeq_epi8(_mm256_min_epu8(d, _mm256_set1_epi8(n - 1)), d);
}

// White space as isspace() has it in the C locale: blank, and tab to
// carriage return.
__m256i space(__m256i x)
{
    return _mm256_or_si256(_mm256_cmpeq_epi8(x, _mm256_set1_epi8(' ')), within(x, '\t', 5));
}

struct block {
    __m256i lo, hi;
    uint64_t ws; // bit i: p[i] is white space
};

block load(const char *p)
{
    block b;
    b.lo = _mm256_loadu_si256((const __m256i *)p);
    b.hi = _mm256_loadu_si256((const __m256i *)(p + 32));
    b.ws = bits(space(b.lo), space(b.hi));
    return b;
}

void div4(double *v, const double *den)
{
    _mm256_storeu_pd(v, _mm256_div_pd(_mm256_loadu_pd(v), _mm256_loadu_pd(den)));
}

} // namespace

// A code is one byte 0-3 or 5 with white space on both sides: scanf "%d"
// reads that byte alone. Sixteen of them fill 32 bytes.
int codes_avx2(const char *p, const char *e, int *v, int n, const char **stop)
{
    int i = 0;
    while (i < n && e - p >= 64) {
        block b = load(p);
        __m256i c = _mm256_or_si256(within(b.lo, '0', 4), _mm256_cmpeq_epi8(b.lo, _mm256_set1_epi8('5')));
        uint64_t code = (uint32_t)_mm256_movemask_epi8(c);
        // Bit 2k: the pair at 2k, 2k + 1 is white space and a code, and
        // white space follows.
        uint64_t good = b.ws & (code >> 1) & (b.ws >> 2) & 0x55555555;
        int k = __builtin_ctzll(~good & 0x0000000155555555) / 2; // at most 16
        if (k > n - i)
            k = n - i;
        // Each code is the high byte of a 16-bit lane.
        __m256i w = _mm256_srli_epi16(_mm256_sub_epi8(b.lo, _mm256_set1_epi8('0')), 8);
        __m256i c0 = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(w));
        __m256i c1 = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(w, 1));
        if (n - i >= 16) {
            _mm256_storeu_si256((__m256i *)(v + i), c0);
            _mm256_storeu_si256((__m256i *)(v + i + 8), c1);
        } else {
            int t[16];
            _mm256_storeu_si256((__m256i *)t, c0);
            _mm256_storeu_si256((__m256i *)(t + 8), c1);
            memcpy(v + i, t, (size_t)k * sizeof *t);
        }
        i += k;
        p += 2 * k;
        if (k < 16)
            break;
    }
    *stop = p;
    return i;
}

// A number is "0." and 1 to 15 digits between white space: below 10^15,
// so the digits as an integer m and 10^digits are exact doubles, and the
// one correctly rounded division m / 10^digits is the value strtod gives.
// The divisions, the slowest step, go four to an instruction; each lane
// rounds as a scalar division does. A group of four waits until four more
// items are read, so that the stores of its operands are done: a wide load
// of four narrow stores still in flight would stall.
int doubles_avx2(const char *p, const char *e, double *v, int n, const char **stop)
{
    int i = 0, k = 0, h = 0; // v[i - k .. i) wait for their divisors den[h ...) in a ring
    double den[8];
    while (i < n && e - p >= 64) {
        block b = load(p);
        if (!(b.ws & 1))
            break;
        uint64_t digit = bits(within(b.lo, '0', 10), within(b.hi, '0', 10));
        uint64_t rest = b.ws & (b.ws - 1); // white space after p[cur]
        int cur = 0;
        bool odd = false;
        while (i < n && rest) {
            int end = __builtin_ctzll(rest);
            rest &= rest - 1;
            int t = cur + 1, nd = end - t - 2;
            if (end == t) { // more white space
                cur = end;
                continue;
            }
            uint64_t want = ((uint64_t)1 << (nd & 15)) - 1;
            if (nd < 1 || nd > 15 || p[t] != '0' || p[t + 1] != '.' ||
                ((digit >> (t + 2)) & want) != want) {
                odd = true;
                break;
            }
            const char *d = p + t + 2;
            uint64_t m = nd <= 8 ? val8(load8(d), nd)
                                 : val8(load8(d), 8) * ipow10[nd - 8] + val8(load8(d + 8), nd - 8);
            v[i++] = (double)m;
            den[(h + k++) & 7] = pow10[nd];
            if (k == 8) {
                div4(v + i - 8, den + h);
                h ^= 4;
                k = 4;
            }
            cur = end;
        }
        p += cur;
        if (odd || cur == 0) // an item for the portable path, or one that spans the block
            break;
    }
    for (; k >= 4; k -= 4, h ^= 4)
        div4(v + i - k, den + h);
    for (int j = 0; j < k; j++)
        v[i - k + j] /= den[(h + j) & 7];
    *stop = p;
    return i;
}
