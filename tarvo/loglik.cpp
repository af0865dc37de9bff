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

// The everyday observation, where every product is finite and within 2^900
// of the largest, and every weight is zero or between 2^-100 and 2 in size.
// Then the products scaled by the largest one's power of two stay normal,
// and so do the terms, each weight times a scaled product, whose digits are
// those of the general way's terms: the terms add as the default adds them,
// w * f + L in genotype order, once for all states. False, having written
// nothing, where the general way must do it.
bool quick(const double *m, const long long *x, const double (*w)[16], int ns, int n,
           double *lnL)
{
    bool ok = true, any = false;
    long long top = 0;
    for (int k = 0; k < n; k++) {
        ok &= std::isfinite(m[k]);
        if (m[k] != 0 && (!any || x[k] > top)) {
            top = x[k];
            any = true;
        }
    }
    if (!ok || !any)
        return false;
    double p[16];
    for (int k = 0; k < n; k++) {
        // A zero product keeps its sign and needs no scale.
        long long d = m[k] == 0 ? 0 : x[k] - top;
        if (d < -900)
            return false;
        uint64_t b = (uint64_t)(d + 1023) << 52;
        double s;
        memcpy(&s, &b, sizeof s);
        p[k] = m[k] * s;
    }
    for (int s = 0; s < ns; s++)
        for (int k = 0; k < n; k++) {
            double a = std::fabs(w[s][k]);
            ok &= a == 0 || (a >= 0x1p-100 && a <= 2.0);
        }
    if (!ok)
        return false;
    const double t = (double)top;
    for (int s = 0; s < ns; s++) {
        double L = 0.0;
        for (int k = 0; k < n; k++)
            L = w[s][k] * p[k] + L;
        lnL[s] = t * LN2_HI + (t * LN2_LO + std::log(L));
    }
    return true;
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
            if (ploidy == 2) {
                w[0][n] = F0[j] * F0[i];
                w[1][n] = F0[i] * F1[j];
                w[2][n] = F1[j] * F1[i];
            } else {
                w[0][n] = F0[i];
                w[1][n] = F1[i];
            }
            mt[n] = m[g];
            xt[n] = x[g];
        }
    if (quick(mt, xt, w, ns, n, lnL))
        return;

    // Each term is the weight's fraction times the product, the exponents
    // added apart.
    double f[3][16];
    long long e[3][16];
    for (int s = 0; s < ns; s++)
        for (int k = 0; k < n; k++) {
            long long we;
            f[s][k] = split(w[s][k], &we) * mt[k];
            e[s][k] = we + xt[k];
        }
    for (int s = 0; s < ns; s++)
        lnL[s] = log_sum(f[s], e[s], n);
}
