#include "tarvo/likelihood.h"

#include <cstring>

int nstates(int ploidy)
{
    return ploidy == 2 ? 3 : 2;
}

void build_table(int ploidy, double *table)
{
    for (int k = 0; k < 4; k++)
        for (int i = 0; i < 4; i++)
            for (int j = 0; j < 4; j++) {
                int n = (k == i) + (ploidy == 2 ? (k == j) : 0);
                table[(k * 4 + i) * 4 + j] = (double)n / (double)ploidy;
            }
}

// The probability of the observed allele given table entry t; the order of
// the operations fixes the rounding of every result.
static inline double site(double t, double e)
{
    return (1.0 - (e * 3.0) * 0.25) * t + ((1.0 - t) * e) * 0.25;
}

// Four lanes of doubles and of their bits. Without AVX the compiler splits
// each operation into two SSE2 ones; either way every lane's product is the
// same single rounded multiplication.
typedef double v4 __attribute__((vector_size(32)));
typedef long long m4 __attribute__((vector_size(32)));

void score_observation(const double *table, int ploidy, int numalleles,
                       const int *codes, const double *eps,
                       const double *freq, double *L)
{
    const int ns = nstates(ploidy);
    const int nj = ploidy == 2 ? 4 : 1;

    // The table holds only 0, 1/2 and 1, so a site has at most three
    // distinct probabilities. They are computed once per site, and each
    // genotype (lane i * 4 + j) picks its own by bit masks: the same
    // operations on the same operands as evaluating the site probability
    // per genotype. With one copy the lanes j > 0 are computed and unused.
    m4 half[4][4], one[4][4];
    for (int k = 0; k < 4; k++)
        for (int q = 0; q < 4; q++) {
            v4 t;
            memcpy(&t, table + k * 16 + q * 4, sizeof t);
            half[k][q] = t == 0.5;
            one[k][q] = t == 1.0;
        }
    v4 f[4];
    for (auto &q : f)
        q = (v4){1.0, 1.0, 1.0, 1.0};

    for (int s = 0; s < numalleles; s++) {
        int k = codes[s];
        if (k == MISSING)
            continue;
        double e = eps[s];
        double p0 = site(0.0, e), ph = site(0.5, e), p1 = site(1.0, e);
        m4 b0 = (m4)(v4){p0, p0, p0, p0};
        m4 dh = (m4)(v4){ph, ph, ph, ph} ^ b0;
        m4 d1 = (m4)(v4){p1, p1, p1, p1} ^ b0;
        for (int q = 0; q < 4; q++)
            f[q] = f[q] * (v4)(b0 ^ (dh & half[k][q]) ^ (d1 & one[k][q]));
    }

    double fg[16];
    memcpy(fg, f, sizeof fg);
    for (int s = 0; s < ns; s++)
        L[s] = 0.0;
    const double *F0 = freq, *F1 = freq + 4;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < nj; j++) {
            double x = fg[i * 4 + j];
            if (ploidy == 2) {
                double w0 = F0[j] * F0[i];
                double w1 = F0[i] * F1[j];
                double w2 = F1[j] * F1[i];
                L[0] = w0 * x + L[0];
                L[1] = w1 * x + L[1];
                L[2] = w2 * x + L[2];
            } else {
                double w0 = F0[i];
                double w1 = F1[i];
                L[0] = w0 * x + L[0];
                L[1] = w1 * x + L[1];
            }
        }
}
