#include "tarvo/loglik.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "tarvo/likelihood.h"
#include "tarvo/loglanes.h"

void scaled_base(const double *table, int numalleles, const int *codes, const double *eps,
                 double *m, long long *x)
{
    scaled_lanes(table, numalleles, codes, eps, m, x);
}

namespace {

// ln 2 in two parts: the first has 21 significant bits, so its product
// with any exponent below 2^32 is exact; the second holds the rest.
const double LN2_HI = 0x1.62e42p-1, LN2_LO = 0x1.fdf473de6af28p-22;

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

// v * 2^d for d <= 0 and v in [1/4, 2): exact unless the result is too
// small to matter next to a term of at least 1/4.
double down(double v, long long d)
{
    if (d >= -1020) {
        uint64_t b = (uint64_t)(d + 1023) << 52;
        double s;
        memcpy(&s, &b, sizeof s);
        return v * s;
    }
    return std::ldexp(v, d < -2000 ? -2000 : (int)d);
}

// ln of sum over n terms of f[g] * 2^e[g], added in the order given.
// Every term is scaled to the largest finite nonzero one, which keeps
// every finite sum between 2^-1022 and 32 times the largest term.
double log_sum(const double *f, const long long *e, int n)
{
    bool any = false;
    long long top = 0;
    for (int g = 0; g < n; g++)
        if (f[g] != 0 && std::isfinite(f[g]) && (!any || e[g] > top)) {
            top = e[g];
            any = true;
        }
    double sum = 0.0;
    for (int g = 0; g < n; g++)
        if (f[g] != 0)
            sum += std::isfinite(f[g]) ? down(f[g], e[g] - top) : f[g];
    double t = (double)top;
    return t * LN2_HI + (t * LN2_LO + std::log(sum));
}

} // namespace

void log_observation(const double *table, int ploidy, int numalleles,
                     const int *codes, const double *eps,
                     const double *freq, double *lnL)
{
    double m[16];
    long long x[16];
#if defined(__x86_64__)
    if (use_avx2)
        scaled_avx2(table, numalleles, codes, eps, m, x);
    else
#endif
        scaled_base(table, numalleles, codes, eps, m, x);

    // Each term is the weight, as the default computes it, times the
    // product: the weight's fraction times m, the exponents added apart.
    const int ns = nstates(ploidy), nj = ploidy == 2 ? 4 : 1;
    const double *F0 = freq, *F1 = freq + 4;
    double f[3][16];
    long long e[3][16];
    int n = 0;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < nj; j++, n++) {
            const int g = i * 4 + j;
            double w[3];
            if (ploidy == 2) {
                w[0] = F0[j] * F0[i];
                w[1] = F0[i] * F1[j];
                w[2] = F1[j] * F1[i];
            } else {
                w[0] = F0[i];
                w[1] = F1[i];
            }
            for (int s = 0; s < ns; s++) {
                long long we;
                f[s][n] = split(w[s], &we) * m[g];
                e[s][n] = we + x[g];
            }
        }
    for (int s = 0; s < ns; s++)
        lnL[s] = log_sum(f[s], e[s], n);
}
