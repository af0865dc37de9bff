#include "tarvo/likelihood.h"
#include "tarvo/lanes.h"

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

static bool avx2()
{
    __builtin_cpu_init(); // this runs before main, perhaps before the library's own set-up
    return __builtin_cpu_supports("avx2");
}

bool use_avx2 = avx2();

void score_observation(const double *table, int ploidy, int numalleles,
                       const int *codes, const double *eps,
                       const double *freq, double *L)
{
    const int ns = nstates(ploidy);
    const int nj = ploidy == 2 ? 4 : 1;
    double fg[16];
    if (use_avx2)
        products_avx2(table, numalleles, codes, eps, fg);
    else
        products_base(table, numalleles, codes, eps, fg);

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
