// The genotype products for every processor: the generic four-lane vectors,
// which the compiler splits into the baseline instruction set's.
#include "tarvo/products.h"

// GCC notes that a 32-byte vector passes differently with and without AVX;
// every function that takes one here has internal linkage and is inlined,
// so no call crosses builds.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "tarvo/loglanes.h"

namespace {

struct plain_ops {
    static m4 lanes(const m4 &c) { return c; }

    // Vectors pass by reference: the baseline build may not return a
    // 32-byte vector in registers.
    template <typename T>
    static void pick(const m4 &idx, const T &p, T &out)
    {
        out = (T){p[idx[0]], p[idx[1]], p[idx[2]], p[idx[3]]};
    }

    static void transpose(const v4 &a, const v4 &b, const v4 &c, v4 *p)
    {
        for (int s = 0; s < 4; s++)
            p[s] = (v4){a[s], b[s], c[s], 1.0};
    }
};

} // namespace

void products_plain(const double *table, int numalleles, const int *codes, const double *eps,
                    double *f)
{
    products<plain_ops>(table, numalleles, codes, eps, f);
}

void log_products_plain(const double *table, int numalleles, const int *codes,
                        const double *eps, double *f, double *m, long long *x)
{
    products_and_scaled<plain_ops>(table, numalleles, codes, eps, f, m, x);
}
