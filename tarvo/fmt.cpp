#include "tarvo/fmt.h"

#include <charconv>
#include <cstdint>
#include <cstring>

namespace {

typedef unsigned __int128 u128;

// Powers of ten as 128-bit truncations: 10^k = (t + d) * 2^s with the top
// bit of t set and 0 <= d < 1, for every k a number below 10^7 can need.
enum { NPOW = 330 };

struct pow128 {
    uint64_t hi, lo;
    int s;
};

// Built by the compiler, so that no run pays for it at start-up.
struct table {
    pow128 p[NPOW] = {};
    constexpr table()
    {
        // 10^k exactly, in 64-bit words, lowest first.
        uint64_t w[20] = {1};
        int n = 1;
        for (int k = 0; k < NPOW; k++) {
            int top = 64 * (n - 1) + (64 - __builtin_clzll(w[n - 1])); // bits in 10^k
            p[k].s = top - 128;
            p[k].hi = bitsat(w, n, top - 64);
            p[k].lo = bitsat(w, n, top - 128);
            uint64_t carry = 0;
            for (int i = 0; i < n; i++) {
                u128 x = (u128)w[i] * 10 + carry;
                w[i] = (uint64_t)x;
                carry = (uint64_t)(x >> 64);
            }
            if (carry)
                w[n++] = carry;
        }
    }
    // The 64 bits of w from bit b up; bits below 0 read as zeros.
    static constexpr uint64_t bitsat(const uint64_t *w, int n, int b)
    {
        uint64_t r = 0;
        for (int i = 0; i < 64; i++) {
            int j = b + i;
            if (j >= 0 && j / 64 < n && (w[j / 64] >> (j % 64)) & 1)
                r |= (uint64_t)1 << i;
        }
        return r;
    }
};

constexpr table tens;

// The integer part of m * 10^k * 2^e2 and the first 64 bits of its
// fraction, both a little low: the true value exceeds them by less than
// two units of the fraction's last bit. False when the shift falls outside
// what the words hold.
bool scale(uint64_t m, int k, int e2, uint64_t *ip, uint64_t *frac)
{
    const pow128 &t = tens.p[k];
    u128 a = (u128)m * t.lo, b = (u128)m * t.hi;
    u128 mid = (a >> 64) + (uint64_t)b;
    uint64_t w[4] = {(uint64_t)a, (uint64_t)mid, (uint64_t)(b >> 64) + (uint64_t)(mid >> 64), 0};
    int q = -(e2 + t.s) - 64; // the fraction's first bit
    if (q < 0 || q >= 128)
        return false;
    int i = q / 64, r = q % 64;
    if (r == 0) {
        *frac = w[i];
        *ip = w[i + 1];
    } else {
        *frac = w[i] >> r | w[i + 1] << (64 - r);
        *ip = w[i + 1] >> r | w[i + 2] << (64 - r);
    }
    return true;
}

// The seven significant digits of a normal v below 10^7 rounded to
// nearest, and its decimal exponent, or false when too close to a tie to
// tell by the truncated powers.
bool digits7(double v, uint64_t *n, int *exp10)
{
    uint64_t u;
    memcpy(&u, &v, sizeof u);
    int be = (int)(u >> 52 & 0x7ff);
    if (be == 0 || be == 0x7ff)
        return false; // zero, subnormal, inf, nan
    uint64_t m = (u & (((uint64_t)1 << 52) - 1)) | (uint64_t)1 << 52;
    int e2 = be - 1075;
    // floor(log10(v)) or one less: v lies in [2^(e2+52), 2^(e2+53)).
    int e = (int)((e2 + 52) * 78913L >> 18);
    for (int pass = 0; pass < 2; pass++, e++) {
        int k = 6 - e;
        uint64_t ip, frac;
        if (k < 0 || k >= NPOW || !scale(m, k, e2, &ip, &frac))
            return false;
        if (ip >= 10000000)
            continue; // e was one too low
        if (ip < 1000000)
            return false;
        const uint64_t half = (uint64_t)1 << 63;
        if (frac >= half - 4 && frac <= half + 4)
            return false;
        ip += frac > half;
        if (ip == 10000000) {
            ip = 1000000;
            e++;
        }
        *n = ip;
        *exp10 = e;
        return true;
    }
    return false;
}

} // namespace

// printf rounds the exact binary value to seven significant digits, ties
// to even. The digits come from a 128-bit truncation of the power of ten
// that brings them before the point; it errs by far less than the fraction
// bits it leaves, so the rounding is certain unless the fraction is within
// a few units of one half, and those values, with the special ones and
// those of seven digits before the point, go to std::to_chars. That is
// exact and rounds ties to even, as the C library's printf does in the
// default rounding mode, and spells the special values as printf does; the
// tests hold both paths equal to printf over random bit patterns.
char *fmt_e(char *out, double v)
{
    uint64_t n;
    int e;
    if (!digits7(v < 0 ? -v : v, &n, &e))
        return std::to_chars(out, out + FMT_E_MAX, v, std::chars_format::scientific, 6).ptr;
    char *p = out;
    if (v < 0)
        *p++ = '-';
    p[0] = (char)('0' + n / 1000000);
    p[1] = '.';
    uint64_t f = n % 1000000;
    for (int i = 7; i > 1; i--, f /= 10)
        p[i] = (char)('0' + f % 10);
    p[8] = 'e';
    p[9] = e < 0 ? '-' : '+';
    unsigned x = e < 0 ? -e : e;
    p += 10;
    if (x >= 100)
        *p++ = (char)('0' + x / 100);
    p[0] = (char)('0' + x / 10 % 10);
    p[1] = (char)('0' + x % 10);
    return p + 2;
}

// A double below 2^32 in size, v = M * 2^E, has v * 10^6 = M * 10^6 * 2^E,
// an integer of at most 73 bits shifted by E: the six decimals rounded to
// nearest, ties to even, as printf rounds, come from it exactly. The
// logarithms -l prints all take this way; the rest, and the special
// values, take to_chars.
char *fmt_f(char *out, double v)
{
    uint64_t b;
    memcpy(&b, &v, sizeof b);
    int field = (int)(b >> 52) & 0x7ff;
    if (field >= 1023 + 32)
        return std::to_chars(out, out + FMT_F_MAX, v, std::chars_format::fixed, 6).ptr;
    uint64_t m = b & ((1ULL << 52) - 1);
    int e = field - 1075;
    if (field)
        m |= 1ULL << 52;
    else
        e = -1074;
    u128 n = (u128)m * 1000000;
    uint64_t q; // round(v * 10^6); e is at most -21 here
    if (e > -80) {
        u128 rest = n & (((u128)1 << -e) - 1), half = (u128)1 << (-e - 1);
        q = (uint64_t)(n >> -e);
        q += rest > half || (rest == half && (q & 1));
    } else {
        q = 0; // below 2^73 * 2^-80: less than half a millionth
    }
    char *p = out;
    if (b >> 63)
        *p++ = '-';
    uint64_t whole = q / 1000000, frac = q % 1000000;
    p = std::to_chars(p, p + 12, whole).ptr;
    *p++ = '.';
    for (int i = 5; i >= 0; i--, frac /= 10)
        p[i] = (char)('0' + frac % 10);
    return p + 6;
}
