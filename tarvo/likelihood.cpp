#include "tarvo/likelihood.h"
#include "tarvo/nanrule.h"
#include "tarvo/products.h"
#include "tarvo/terms.h"

void build_table(int ploidy, double *table)
{
    for (int k = 0; k < 4; k++)
        for (int i = 0; i < 4; i++)
            for (int j = 0; j < 4; j++) {
                int n = (k == i) + (ploidy == 2 ? (k == j) : 0);
                table[(k * 4 + i) * 4 + j] = (double)n / (double)ploidy;
            }
}

// The genotype products one genotype and one site at a time, each
// operation under the NaN rule.
static void products_ruled(const double *table, int numalleles, const int *codes,
                           const double *eps, ruled *f)
{
    for (int g = 0; g < 16; g++) {
        f[g] = 1.0;
        for (int s = 0; s < numalleles; s++)
            if (codes[s] != MISSING)
                f[g] = f[g] * site<ruled>(table[codes[s] * 16 + g], eps[s]);
    }
}

// The likelihoods from the genotype products, lane i * 4 + j, as the rules
// order them: for plain doubles, and under the NaN rule. The ploidy is a
// constant here, so the weights take no branch and no loop count.
template <int ploidy, typename T>
static void states(const T *fg, const double *freq, T *L)
{
    const int ns = ploidy == 2 ? 3 : 2, nj = ploidy == 2 ? 4 : 1;
    for (int s = 0; s < ns; s++)
        L[s] = 0.0;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < nj; j++) {
            T x = fg[i * 4 + j], w[3];
            weights(ploidy, freq, i, j, w);
            for (int s = 0; s < ns; s++)
                L[s] = w[s] * x + L[s];
        }
}

template <typename T>
static void states(const T *fg, int ploidy, const double *freq, T *L)
{
    if (ploidy == 2)
        states<2>(fg, freq, L);
    else
        states<1>(fg, freq, L);
}

static void score_ruled(const double *table, int ploidy, int numalleles, const int *codes,
                        const double *eps, const double *freq, double *L)
{
    ruled fg[16], R[3];
    products_ruled(table, numalleles, codes, eps, fg);
    states(fg, ploidy, freq, R);
    for (int s = 0; s < nstates(ploidy); s++)
        L[s] = R[s].v;
}

void score_products(const double *table, int ploidy, int numalleles, const int *codes,
                    const double *eps, const double *freq, const double *fg, double *L)
{
    states(fg, ploidy, freq, L);

    // Every operation passes a NaN on, so a NaN among the values used
    // reaches the result: only an observation whose result holds one, which
    // is rare, pays for the NaN rule.
    for (int s = 0; s < nstates(ploidy); s++)
        if (L[s] != L[s]) {
            score_ruled(table, ploidy, numalleles, codes, eps, freq, L);
            return;
        }
}

void score_observation(const double *table, int ploidy, int numalleles,
                       const int *codes, const double *eps,
                       const double *freq, double *L)
{
    double fg[16];
    genotype_products(table, numalleles, codes, eps, fg);
    score_products(table, ploidy, numalleles, codes, eps, freq, fg, L);
}
