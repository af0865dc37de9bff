#include "tarvo/likelihood.h"
#include "tarvo/cpu.h"
#include "tarvo/lanes.h"
#include "tarvo/nanrule.h"

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

void products_base(const double *table, int numalleles, const int *codes, const double *eps,
                   double *f)
{
    lanes(table, numalleles, codes, eps, f);
}

bool use_avx2 = cpu_avx2();

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
// order them: for plain doubles, and under the NaN rule.
template <typename T>
static void states(const T *fg, int ploidy, const double *freq, T *L)
{
    const int ns = nstates(ploidy);
    const int nj = ploidy == 2 ? 4 : 1;
    for (int s = 0; s < ns; s++)
        L[s] = 0.0;
    const double *F0 = freq, *F1 = freq + 4;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < nj; j++) {
            T x = fg[i * 4 + j];
            if (ploidy == 2) {
                T w0 = T(F0[j]) * T(F0[i]);
                T w1 = T(F0[i]) * T(F1[j]);
                T w2 = T(F1[j]) * T(F1[i]);
                L[0] = w0 * x + L[0];
                L[1] = w1 * x + L[1];
                L[2] = w2 * x + L[2];
            } else {
                T w0 = F0[i];
                T w1 = F1[i];
                L[0] = w0 * x + L[0];
                L[1] = w1 * x + L[1];
            }
        }
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

void score_observation(const double *table, int ploidy, int numalleles,
                       const int *codes, const double *eps,
                       const double *freq, double *L)
{
    double fg[16];
#if defined(__x86_64__)
    if (use_avx2)
        products_avx2(table, numalleles, codes, eps, fg);
    else
#endif
        products_base(table, numalleles, codes, eps, fg);
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
