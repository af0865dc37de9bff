// The log output's scoring: the scaled genotype products against the plain
// products (both builds, bit for bit wherever the plain product stays
// normal), and the logarithms against the default scoring wherever its
// values are normal doubles.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tarvo/likelihood.h"
#include "tarvo/loglik.h"
#include "tests/loglik_compare.h"

namespace {

// Error rates of every kind: everyday ones, tiny ones whose site
// probabilities are subnormal, the ends of [0, 1], and (when wide) values
// outside it.
double rate(std::mt19937_64 &r, bool wide)
{
    static const double odd[] = {0.0, 1.0, 4.9e-324, 1e-310, 0x1p-30, 0x1.fffffffffffffp-31,
                                 1e-300, 1e-20, 0.999999, -0.0};
    static const double wild[] = {-0.5, 1.5, 3e300, -1e10, 7.0,
                                  std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
    switch (r() % 10) {
    case 0:
        return odd[r() % (sizeof odd / sizeof *odd)];
    case 1:
        return wide ? wild[r() % (sizeof wild / sizeof *wild)] : std::ldexp(1.0, -(int)(r() % 1070));
    default:
        return std::uniform_real_distribution<double>(0, r() % 2 ? 1 : 0.05)(r);
    }
}

TEST(LogLik, WorkedValues)
{
    const double FA[8] = {0.1, 0.2, 0.3, 0.4, 0.4, 0.3, 0.2, 0.1};
    const double FB[8] = {0.7, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.7};
    const double F0[8] = {0.0, 0.2, 0.3, 0.5, 0.4, 0.3, 0.2, 0.1};
    struct {
        int ploidy, n;
        std::vector<int> codes;
        std::vector<double> eps;
        const double *F;
        const char *want;
    } cases[] = {
        {1, 1, {2}, {0}, FA, "-1.203973 -1.609438"},
        {2, 3, {0, 5, 3}, {0.01, 0.5, 0.02}, FB, "-3.278639 -2.085480 -3.319263"},
        // Only genotype 0 holds allele 0, and population 0 has none of it.
        {1, 2, {0, 0}, {0, 0.1}, F0, "-inf -0.994252"},
        // Every product is 0.25^2000, far below the smallest double.
        {1, 2000, std::vector<int>(2000, 1), std::vector<double>(2000, 1.0), FA,
         "-2772.588722 -2772.588722"},
        // A subnormal site probability, 1e-320 / 4, in every weighted term
        // of state 0.
        {2, 1, {0}, {1e-320}, F0, "-738.213535 -1.609438 -0.916291"},
    };
    for (auto &c : cases) {
        double table[TABLE_SIZE], lnL[3];
        build_table(c.ploidy, table);
        log_observation(table, c.ploidy, c.n, c.codes.data(), c.eps.data(), c.F, lnL);
        std::string got;
        char buf[64];
        for (int s = 0; s < nstates(c.ploidy); s++) {
            snprintf(buf, sizeof buf, "%s%.6f", s ? " " : "", lnL[s]);
            got += buf;
        }
        EXPECT_EQ(c.want, got);
    }
}

// Error rates of every kind, outside [0, 1] too, against fixed frequencies.
TEST(LogLik, ScaledProductsKeepThePlainDigits)
{
    const double F[8] = {0.1, 0.2, 0.3, 0.4, 0.4, 0.3, 0.2, 0.1};
    std::mt19937_64 r(99);
    double table[3][TABLE_SIZE];
    build_table(1, table[1]);
    build_table(2, table[2]);
    for (int it = 0; it < 40000; it++) {
        const int ploidy = 1 + r() % 2;
        int n = it % 8 ? r() % 80 : r() % 2000;
        std::vector<int> codes(n);
        std::vector<double> eps(n);
        for (int g = 0; g < n; g++) {
            codes[g] = r() % 7 == 0 ? (int)MISSING : (int)(r() % 4);
            eps[g] = rate(r, it % 3 == 0);
        }
        loglik_verdict v =
            loglik_compare(table[ploidy], ploidy, n, codes.data(), eps.data(), F);
        ASSERT_EQ("", v.error) << "iteration " << it;
    }
}

// Frequencies and error rates in [0, 1]: wherever every default value is
// a normal double, the logarithm is that of the default value.
TEST(LogLik, LogOfTheDefaultWhereItIsNormal)
{
    std::mt19937_64 r(7);
    double table[3][TABLE_SIZE];
    build_table(1, table[1]);
    build_table(2, table[2]);
    double worst = 0;
    long compared = 0;
    for (int it = 0; it < 100000; it++) {
        const int ploidy = 1 + r() % 2;
        int n = r() % 4 ? r() % 40 : r() % 400;
        std::vector<int> codes(n);
        std::vector<double> eps(n);
        double F[8];
        for (int g = 0; g < n; g++) {
            codes[g] = r() % 7 == 0 ? (int)MISSING : (int)(r() % 4);
            eps[g] = rate(r, false);
        }
        for (double &f : F)
            f = r() % 8 ? std::uniform_real_distribution<double>(0, 1)(r)
                        : std::ldexp(1.0, -(int)(r() % 560));
        loglik_verdict v =
            loglik_compare(table[ploidy], ploidy, n, codes.data(), eps.data(), F);
        ASSERT_EQ("", v.error) << "iteration " << it;
        compared += v.compared;
        worst = std::max(worst, v.worst);
    }
    EXPECT_GT(compared, 30000);
    printf("%ld observations compared, worst |difference| %.3g\n", compared, worst);
}

} // namespace
