#include "tarvo/loglik.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "tarvo/likelihood.h"
#include "tarvo/products.h"
#include "tarvo/terms.h"

namespace {

// ln 2 in two parts: the first has 21 significant bits, so its product
// with any exponent below 2^32 is exact; the second holds the rest.
const double LN2_HI = 0x1.62e42p-1, LN2_LO = 0x1.fdf473de6af28p-22;

// Relative error allowed in a value whose logarithm is printed: keeps the
// logarithm within 1e-6 of the exact one.
const double CLOSE = 0x1p-21;

double ln_scaled(double v, long long e)
{
    double t = (double)e;
    return t * LN2_HI + (t * LN2_LO + std::log(v));
}

// v = f * 2^e with f in [1/2, 1) for a finite nonzero v; zero, infinite and
// NaN values come back unchanged with e = 0. Exact.
double split(double v, long long *e)
{
    uint64_t b;
    memcpy(&b, &v, sizeof b);
    int field = (int)(b >> 52) & 0x7ff;
    if (field == 0 || field == 0x7ff) { // rare: zero, subnormal, infinite, NaN
        int n = 0;
        if (std::isfinite(v))
            v = std::frexp(v, &n);
        *e = n;
        return v;
    }
    *e = field - 1022;
    b = (b & ~(0x7ffULL << 52)) | (1022ULL << 52);
    memcpy(&v, &b, sizeof v);
    return v;
}

// v * 2^d for d <= 0 and |v| in [1/4, 2); sets *lost where the result may
// have lost bits, which it can only below 2^-1020.
double scaled_down(double v, long long d, bool *lost)
{
    if (d >= -1020) {
        uint64_t b = (uint64_t)(d + 1023) << 52;
        double s;
        memcpy(&s, &b, sizeof s);
        return v * s;
    }
    *lost = true;
    return std::ldexp(v, d < -2000 ? -2000 : (int)d);
}

// ln of the sum of the n terms f[k] * 2^e[k], each a product of sites + 1
// factors rounded once each, where the rounding cannot change the result
// by more than CLOSE: always when the terms share a sign, and when they do
// not, unless they cancel deeply. Every factor is finite and no running
// product left the normal doubles, so each term is within (sites + 1) units
// of the last place of its exact value, and the sum within n more of the
// terms' sizes. False where the sum is too uncertain.
bool log_sum(const double *f, const long long *e, int n, long long sites, double *ln)
{
    bool any = false;
    long long top = 0;
    for (int k = 0; k < n; k++)
        if (f[k] != 0 && (!any || e[k] > top)) {
            top = e[k];
            any = true;
        }
    if (!any) {
        *ln = -HUGE_VAL; // every term exactly zero
        return true;
    }
    double sum = 0.0, size = 0.0;
    bool lost = false;
    for (int k = 0; k < n; k++)
        if (f[k] != 0) {
            double t = scaled_down(f[k], e[k] - top, &lost);
            sum += t;
            size += std::fabs(t);
        }
    const double u = 0x1p-53;
    double err = (double)(sites + n + 2) * u * size * 1.01 + (lost ? 0x1p-1000 : 0.0);
    if (!(err <= std::fabs(sum) * CLOSE))
        return false;
    *ln = sum < 0 ? std::numeric_limits<double>::quiet_NaN() : ln_scaled(sum, top);
    return true;
}

// A number sign * mag * 2^exp, mag held in 64-bit limbs, lowest first,
// with no zero limb on top; zero has none.
struct big {
    std::vector<uint64_t> mag;
    long long exp = 0;
    bool neg = false;
};

int bits(uint64_t v)
{
    return 64 - __builtin_clzll(v);
}

// Where the number's top bit lies: its value is below 2^top(b).
long long top(const big &b)
{
    return b.exp + 64LL * (long long)(b.mag.size() - 1) + bits(b.mag.back());
}

// b *= v for a finite v, keeping at most keep limbs; counts in *cut the
// times bits were dropped, each a relative error below 2^-(64 (keep - 1)).
void mul(big &b, double v, size_t keep, int *cut)
{
    if (v == 0 || b.mag.empty()) {
        b.mag.clear();
        return;
    }
    int e;
    double f = std::frexp(std::fabs(v), &e);
    uint64_t m = (uint64_t)std::ldexp(f, 53);
    b.exp += e - 53;
    b.neg ^= v < 0;
    unsigned __int128 carry = 0;
    for (auto &l : b.mag) {
        carry += (unsigned __int128)l * m;
        l = (uint64_t)carry;
        carry >>= 64;
    }
    if (carry)
        b.mag.push_back((uint64_t)carry);
    if (b.mag.size() > keep) {
        size_t drop = b.mag.size() - keep;
        bool nonzero = false;
        for (size_t i = 0; i < drop; i++)
            nonzero |= b.mag[i] != 0;
        *cut += nonzero;
        b.mag.erase(b.mag.begin(), b.mag.begin() + (long)drop);
        b.exp += 64LL * (long long)drop;
    }
}

// The value's size as a double and a power of two.
double approx(const big &b, long long *e)
{
    size_t n = b.mag.size();
    double v = (double)b.mag[n - 1];
    if (n > 1)
        v += std::ldexp((double)b.mag[n - 2], -64);
    *e = b.exp + 64LL * (long long)(n - 1);
    return v;
}

// log2 of a positive double times 2^e, roughly: enough to compare sizes.
double log2_of(double v, long long e)
{
    return std::log2(v) + (double)e;
}

// A bound on the error of a sum carried in big numbers: n parts, each
// below 2^top.
struct slack {
    double top = -HUGE_VAL;
    int n = 0;
};

// The genotypes' terms, each its weight times the product of the sites'
// double probabilities, carried in big numbers of at most keep limbs;
// records in sl what the cut limbs may have lost. Returns their number.
int exact_terms(const double *table, int ploidy, int numalleles, const int *codes,
                const double *eps, const double *w, size_t keep, big *term, slack *sl)
{
    const int nj = ploidy == 2 ? 4 : 1;
    int nt = 0;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < nj; j++, nt++) {
            big &b = term[nt];
            b.mag.assign(1, 1);
            int cut = 0;
            mul(b, w[nt], keep, &cut);
            for (int s = 0; s < numalleles && !b.mag.empty(); s++)
                if (codes[s] != MISSING)
                    mul(b, site(table[codes[s] * 16 + i * 4 + j], eps[s]), keep, &cut);
            if (cut && !b.mag.empty()) {
                long long x;
                double v = approx(b, &x);
                double bound = log2_of(v, x) + std::log2(2.0 * cut) - 64.0 * (keep - 1);
                sl->top = std::max(sl->top, bound);
                sl->n++;
            }
        }
    return nt;
}

// The bits the nonzero terms span: their values lie below 2^*hi and their
// lowest bits at 2^*lo or above. False when every term is zero.
bool span(const big *term, int nt, long long *hi, long long *lo)
{
    bool any = false;
    for (int k = 0; k < nt; k++)
        if (!term[k].mag.empty()) {
            *hi = any ? std::max(*hi, top(term[k])) : top(term[k]);
            *lo = any ? std::min(*lo, term[k].exp) : term[k].exp;
            any = true;
        }
    return any;
}

// Adds b into acc, a two's complement number whose lowest bit is 2^lo;
// true when bits of b below lo were dropped.
bool add_at(std::vector<uint64_t> &acc, const big &b, long long lo)
{
    const size_t nacc = acc.size();
    bool cut = false;
    std::vector<uint64_t> v(nacc, 0);
    long long sh = b.exp - lo;
    for (size_t l = 0; l < b.mag.size(); l++) {
        long long at = sh + 64LL * (long long)l; // bit position of limb l
        uint64_t x = b.mag[l];
        if (at <= -64) {
            cut |= x != 0;
            continue;
        }
        if (at < 0) {
            cut |= (x << (64 + at)) != 0;
            v[0] |= x >> -at;
            continue;
        }
        size_t q = (size_t)(at / 64);
        int r = (int)(at % 64);
        v[q] |= x << r;
        if (r && q + 1 < nacc)
            v[q + 1] |= x >> (64 - r);
    }
    unsigned __int128 c = b.neg ? 1 : 0;
    for (size_t l = 0; l < nacc; l++) {
        c += (unsigned __int128)acc[l] + (b.neg ? ~v[l] : v[l]);
        acc[l] = (uint64_t)c;
        c >>= 64;
    }
    return cut;
}

// The two's complement acc, lowest bit 2^lo, as a sign and magnitude.
big signed_magnitude(std::vector<uint64_t> acc, long long lo)
{
    big sum;
    sum.neg = acc.back() >> 63;
    if (sum.neg) {
        unsigned __int128 c = 1;
        for (auto &l : acc) {
            c += (uint64_t)~l;
            l = (uint64_t)c;
            c >>= 64;
        }
    }
    while (!acc.empty() && acc.back() == 0)
        acc.pop_back();
    sum.mag = acc;
    sum.exp = lo;
    return sum;
}

// The exact sum of the genotypes' terms whose rounded sum was too
// uncertain: carried in big numbers, as many bits as needed. Each round
// keeps keep limbs of every product and adds the terms in a window of bits
// below the largest; until the error both can make is below CLOSE of the
// sum, the next round keeps twice as many. With enough limbs nothing is
// dropped, so it ends.
double log_exact(const double *table, int ploidy, int numalleles, const int *codes,
                 const double *eps, const double *w)
{
    for (size_t keep = 4;; keep *= 2) {
        big term[16];
        slack sl;
        int nt = exact_terms(table, ploidy, numalleles, codes, eps, w, keep, term, &sl);
        long long hi, lo;
        if (!span(term, nt, &hi, &lo))
            return -HUGE_VAL;
        // The window: bits from lo up to hi and a limb for the sign and the
        // carries.
        lo = std::max(lo, hi - 64LL * (long long)keep - 128);
        std::vector<uint64_t> acc((size_t)((hi - lo) / 64 + 2), 0);
        bool cut = false;
        for (int k = 0; k < nt; k++)
            if (!term[k].mag.empty())
                cut |= add_at(acc, term[k], lo);
        if (cut) {
            sl.top = std::max(sl.top, (double)lo);
            sl.n += nt;
        }
        big sum = signed_magnitude(std::move(acc), lo);
        if (sum.mag.empty()) {
            if (!sl.n)
                return -HUGE_VAL;
            continue;
        }
        long long x;
        double v = approx(sum, &x);
        if (sl.n && sl.top + std::log2((double)sl.n) > log2_of(v, x) + std::log2(CLOSE))
            continue;
        return sum.neg ? std::numeric_limits<double>::quiet_NaN() : ln_scaled(v, x);
    }
}

} // namespace

// The states whose likelihood the default gives as 0, subnormal or +inf,
// marked in not_normal, from the products m * 2^x kept with a separate power
// of two.
static void log_not_normal(const double *table, int ploidy, int numalleles, const int *codes,
                       const double *eps, const double *freq, const double *L,
                       const bool *not_normal, const double *m, const long long *x, double *lnL)
{

    // The weights as the default computes them, and the products, in the
    // order of the genotypes' terms.
    const int ns = nstates(ploidy), nj = ploidy == 2 ? 4 : 1;
    const double *F0 = freq, *F1 = freq + 4;
    double w[3][16], mt[16];
    long long xt[16];
    int n = 0;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < nj; j++, n++) {
            const int g = i * 4 + j;
            double wg[3];
            weights(ploidy, freq, i, j, wg);
            for (int s = 0; s < ns; s++)
                w[s][n] = wg[s];
            mt[n] = m[g];
            xt[n] = x[g];
        }
    for (int s = 0; s < ns; s++) {
        if (!not_normal[s])
            continue;
        // The frequencies the state weighs by: population 0's, 1's or both.
        const bool pop0 = s == 0 || (ploidy == 2 && s == 1), pop1 = s == ns - 1 || s == 1;
        bool finite = true;
        for (int a = 0; a < 4; a++)
            finite &= (!pop0 || std::isfinite(F0[a])) && (!pop1 || std::isfinite(F1[a]));
        // A weight that overflowed makes the exact value infinite, as L is:
        // the default's L is NaN unless every such term is of one sign. An
        // infinite error rate at an observed site makes every product NaN,
        // and so L.
        for (int k = 0; k < n; k++)
            finite &= std::isfinite(w[s][k]);
        if (!finite) {
            lnL[s] = std::log(L[s]);
            continue;
        }
        double f[16];
        long long e[16];
        for (int k = 0; k < n; k++) {
            long long we;
            f[k] = split(w[s][k], &we) * mt[k];
            e[k] = we + xt[k];
        }
        if (!log_sum(f, e, n, numalleles, &lnL[s]))
            lnL[s] = log_exact(table, ploidy, numalleles, codes, eps, w[s]);
    }
}

void log_observation(const double *table, int ploidy, int numalleles,
                     const int *codes, const double *eps,
                     const double *freq, double *lnL)
{
    // The default products and the scaled ones in one pass: an observation
    // whose likelihoods underflow needs both, and computing the scaled ones
    // beside the default ones costs little more than the default ones alone,
    // whose chain of one multiplication per site leaves the processor idle.
    double f[16], m[16], L[3];
    long long x[16];
    log_products(table, numalleles, codes, eps, f, m, x);
    score_products(table, ploidy, numalleles, codes, eps, freq, f, L);
    bool not_normal[3] = {}, any = false;
    for (int s = 0; s < nstates(ploidy); s++) {
        if (std::isnan(L[s]))
            lnL[s] = L[s];
        else if (L[s] < 0)
            lnL[s] = std::numeric_limits<double>::quiet_NaN();
        else if (std::isnormal(L[s]))
            lnL[s] = std::log(L[s]);
        else
            any = not_normal[s] = true;
    }
    if (any)
        log_not_normal(table, ploidy, numalleles, codes, eps, freq, L, not_normal, m, x, lnL);
}
