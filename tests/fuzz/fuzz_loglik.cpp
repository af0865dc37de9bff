// The scaled genotype products of the log output on any observation: both
// builds must agree, each product must keep the plain product's digits
// wherever the plain product stays normal, and with frequencies and error
// rates in [0, 1] the logarithm must be that of the default value wherever
// that is normal. The first byte picks the ploidy and how often each site
// repeats (long observations from short inputs); then 8 frequencies of 8
// bytes each, then per site a code byte and 8 bytes of error rate.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tarvo/likelihood.h"
#include "tarvo/loglik.h"
#include "tarvo/products.h"
#include "tests/literal_score.h"

namespace {

void fail(const char *what, int g)
{
    fprintf(stderr, "%s, genotype %d\n", what, g);
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 + 64)
        return 0;
    const int ploidy = 1 + (data[0] & 1), repeat = 1 + ((data[0] >> 1) & 63);
    double F[8];
    memcpy(F, data + 1, sizeof F);
    std::vector<int> codes;
    std::vector<double> eps;
    for (size_t at = 65; at + 9 <= size; at += 9) {
        double e;
        memcpy(&e, data + at + 1, sizeof e);
        for (int k = 0; k < repeat; k++) {
            codes.push_back(data[at] % 5 == 4 ? (int)MISSING : data[at] % 5);
            eps.push_back(e);
        }
    }
    const int n = (int)codes.size();
    double table[TABLE_SIZE];
    build_table(ploidy, table);

    double m[16], m2[16];
    long long x[16], x2[16];
    scaled_plain(table, n, codes.data(), eps.data(), m, x);
#if defined(__x86_64__)
    const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        scaled_avx2(table, n, codes.data(), eps.data(), m2, x2);
#else
    const bool avx2 = false; // the AVX2 build is an x86-64 one
#endif
    for (int g = 0; g < 16; g++) {
        // Which of two NaNs a product keeps depends on the operand order.
        if (avx2 && !(std::isnan(m[g]) && std::isnan(m2[g])) &&
            (memcmp(&m[g], &m2[g], sizeof m[g]) != 0 || x[g] != x2[g]))
            fail("the builds differ", g);
        bool normal;
        double f =
            literal_product<double>(table, g / 4, g % 4, n, codes.data(), eps.data(), &normal);
        if (normal && f != std::ldexp(m[g], (int)x[g]))
            fail("digits differ from the plain product", g);
    }

    double L[3], lnL[3];
    score_observation(table, ploidy, n, codes.data(), eps.data(), F, L);
    log_observation(table, ploidy, n, codes.data(), eps.data(), F, lnL);
    bool in_range = true, normal = true;
    for (double f : F)
        in_range &= f >= 0 && f <= 1;
    for (double e : eps)
        in_range &= e >= 0 && e <= 1;
    for (int s = 0; s < nstates(ploidy); s++)
        normal &= std::isnormal(L[s]);
    for (int s = 0; in_range && normal && s < nstates(ploidy); s++)
        if (!(std::fabs(lnL[s] - std::log(L[s])) <= 1e-9))
            fail("the log is not that of the default", s);
    return 0;
}
