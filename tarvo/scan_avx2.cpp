// The reader's run kernels for processors with AVX2 (this file alone is
// compiled with -mavx2). Item by item, finding where the next number
// begins waits on the end of the one before; here the white space of a
// block of 64 bytes is found at once, so each number's bounds come from a
// bit mask and the numbers convert side by side.

#include <immintrin.h>

#include "tarvo/digits.h"
#include "tarvo/everyday.h"
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

// A set of bytes as two tables of 16 for a vector byte shuffle, each
// written twice to fill both 128-bit lanes: byte c is in the set when
// lo[c & 15] & hi[c >> 4] is not zero. Each of the high nibbles 0-7 has a
// bit of its own; the bytes from 0x80 on have none.
struct nibbles {
    alignas(32) unsigned char lo[32];
    alignas(32) unsigned char hi[32];
    constexpr explicit nibbles(bool (*in)(char)) : lo(), hi()
    {
        for (int i = 0; i < 32; i++) {
            int n = i & 15;
            hi[i] = n < 8 ? (unsigned char)(1 << n) : 0;
            for (int h = 0; h < 8; h++)
                if (in((char)(h << 4 | n)))
                    lo[i] |= (unsigned char)(1 << h);
        }
    }
};

// The tables have no room for the bytes from 0x80 on.
constexpr bool ascii(bool (*in)(char))
{
    for (int c = 0x80; c < 0x100; c++)
        if (in((char)c))
            return false;
    return true;
}
static_assert(ascii(is_space) && ascii(is_code), "a rule holds a byte from 0x80 on");

constexpr nibbles space_nibbles(is_space);
constexpr nibbles code_nibbles(is_code);

// Bytes outside the set, lane by lane: the everyday rules applied as
// written, 32 bytes at once.
__m256i outside(__m256i x, const nibbles &t)
{
    __m256i lo = _mm256_shuffle_epi8(_mm256_load_si256((const __m256i *)t.lo), x);
    __m256i high = _mm256_and_si256(_mm256_srli_epi16(x, 4), _mm256_set1_epi8(0x0f));
    __m256i hi = _mm256_shuffle_epi8(_mm256_load_si256((const __m256i *)t.hi), high);
    return _mm256_cmpeq_epi8(_mm256_and_si256(lo, hi), _mm256_setzero_si256());
}

// The block of 64 bytes a kernel classifies at once.
struct block {
    __m256i lo, hi;
    uint64_t ws; // bit i: p[i] is white space
};

block load(const char *p)
{
    block b;
    b.lo = _mm256_loadu_si256((const __m256i *)p);
    b.hi = _mm256_loadu_si256((const __m256i *)(p + 32));
    b.ws = ~bits(outside(b.lo, space_nibbles), outside(b.hi, space_nibbles));
    return b;
}

// Numbers waiting for conversion: the eight bytes from the first digit on,
// how far to shift them so that the digits fill the top of the word, and
// the divisor.
struct ring {
    uint64_t word[8], shift[8];
    double den[8];
};

// Converts slots h to h + 3 into v[0..4).
void convert4(const ring *r, int h, double *v)
{
    __m256i x = _mm256_loadu_si256((const __m256i *)(r->word + h));
    x = _mm256_sub_epi8(x, _mm256_set1_epi8('0'));
    x = _mm256_sllv_epi64(x, _mm256_loadu_si256((const __m256i *)(r->shift + h)));
    // Digit pairs, then quads, each the more significant first; then the
    // two quads of a lane.
    x = _mm256_maddubs_epi16(x, _mm256_set1_epi16(10 | 1 << 8));
    x = _mm256_madd_epi16(x, _mm256_set1_epi32(100 | 1 << 16));
    x = _mm256_add_epi64(_mm256_mul_epu32(x, _mm256_set1_epi64x(10000)), _mm256_srli_epi64(x, 32));
    // Below 2^52, so placing it in the significand of 2^52 and taking 2^52
    // away is exact.
    const __m256i big = _mm256_set1_epi64x(0x4330000000000000);
    __m256d m = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(x, big)),
                              _mm256_castsi256_pd(big));
    _mm256_storeu_pd(v, _mm256_div_pd(m, _mm256_loadu_pd(r->den + h)));
}

} // namespace

// Everyday codes (everyday.h): sixteen of them fill 32 bytes.
int codes_avx2(const char *p, const char *e, int *v, int n, const char **stop)
{
    int i = 0;
    while (i < n && e - p >= 64) {
        block b = load(p);
        uint64_t code = (uint32_t)~_mm256_movemask_epi8(outside(b.lo, code_nibbles));
        // Bit 2k: the pair at 2k, 2k + 1 is white space and a code, and
        // white space follows.
        uint64_t good = b.ws & (code >> 1) & (b.ws >> 2) & 0x55555555;
        int k = __builtin_ctzll(~good & 0x0000000155555555) / 2; // at most 16
        if (k > n - i)
            k = n - i;
        // Each code is the high byte of a 16-bit lane.
        __m256i x = _mm256_srli_epi16(_mm256_sub_epi8(b.lo, _mm256_set1_epi8('0')), 8);
        __m256i c0 = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(x));
        __m256i c1 = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(x, 1));
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

// A number is "0." and 1 to 8 digits between white space: below 10^8, so
// the digits as an integer m and 10^digits are exact doubles, and the one
// correctly rounded division m / 10^digits is the value strtod gives.
//
// Each number's digits and divisor wait in a ring; four at a time are
// converted and divided in vector lanes, and each lane rounds as a scalar
// division does. A group waits until four more numbers are read, so that
// the stores of its operands are done: a wide load of four narrow stores
// still in flight would stall.
int doubles_avx2(const char *p, const char *e, double *v, int n, const char **stop)
{
    int i = 0, k = 0, h = 0; // v[i - k .. i) wait in slots h, h + 1, ... of the ring
    ring r;
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
            uint16_t lead;
            memcpy(&lead, p + t, sizeof lead);
            uint64_t want = ((uint64_t)1 << (nd & 15)) - 1;
            if (nd < 1 || nd > 8 || lead != ('0' | '.' << 8) ||
                ((digit >> (t + 2)) & want) != want) {
                odd = true;
                break;
            }
            int slot = (h + k++) & 7;
            r.word[slot] = load8(p + t + 2);
            r.shift[slot] = 8 * (8 - nd);
            r.den[slot] = pow10[nd];
            i++;
            if (k == 8) {
                convert4(&r, h, v + i - 8);
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
        convert4(&r, h, v + i - k);
    if (k > 0) {
        double t[4];
        convert4(&r, h, t);
        memcpy(v + i - k, t, (size_t)k * sizeof *t);
    }
    *stop = p;
    return i;
}
