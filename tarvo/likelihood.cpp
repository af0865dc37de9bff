#include "tarvo/likelihood.h"

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

// The table holds only 0, 1/2 and 1, so a site has at most three distinct
// probabilities. They are computed once per site and each genotype picks
// its own by class: the same operations on the same operands as evaluating
// site() per genotype, at a sixth of the cost.
static int klass(double t)
{
    return t == 0.0 ? 0 : t == 1.0 ? 2 : 1;
}

void score_observation(const double *table, int ploidy, int numalleles,
                       const int *codes, const double *eps,
                       const double *freq, double *L)
{
    const int ns = nstates(ploidy);
    const int nj = ploidy == 2 ? 4 : 1;
    const int ng = 4 * nj;
    const double tv[3] = {0.0, 0.5, 1.0};
    unsigned char cls[4][16];
    double f[16];

    for (int k = 0; k < 4; k++)
        for (int i = 0; i < 4; i++)
            for (int j = 0; j < nj; j++)
                cls[k][i * nj + j] = (unsigned char)klass(table[(k * 4 + i) * 4 + j]);
    for (int g = 0; g < ng; g++)
        f[g] = 1.0;

    for (int s = 0; s < numalleles; s++) {
        int k = codes[s];
        if (k == MISSING)
            continue;
        double e = eps[s];
        double p[3] = {site(tv[0], e), site(tv[1], e), site(tv[2], e)};
        const unsigned char *c = cls[k];
        for (int g = 0; g < ng; g++)
            f[g] = f[g] * p[c[g]];
    }

    for (int s = 0; s < ns; s++)
        L[s] = 0.0;
    const double *F0 = freq, *F1 = freq + 4;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < nj; j++) {
            double fg = f[i * nj + j];
            if (ploidy == 2) {
                double w0 = F0[j] * F0[i];
                double w1 = F0[i] * F1[j];
                double w2 = F1[j] * F1[i];
                L[0] = w0 * fg + L[0];
                L[1] = w1 * fg + L[1];
                L[2] = w2 * fg + L[2];
            } else {
                double w0 = F0[i];
                double w1 = F1[i];
                L[0] = w0 * fg + L[0];
                L[1] = w1 * fg + L[1];
            }
        }
}
