// The scoring core: the worked values, and bit-for-bit agreement with a
// literal reading of the rules (every genotype, every site, table lookups)
// on random observations, special values included: NaNs down to their sign
// and payload.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tarvo/likelihood.h"
#include "tarvo/nanrule.h"
#include "tests/literal_score.h"
#include "tests/util.h"

namespace {

std::string show(const double *L, int ns)
{
    std::string s;
    char buf[32];
    for (int i = 0; i < ns; i++) {
        snprintf(buf, sizeof buf, "%e%s", L[i], i < ns - 1 ? " " : "");
        s += buf;
    }
    return s;
}

const double FA[8] = {0.1, 0.2, 0.3, 0.4, 0.4, 0.3, 0.2, 0.1};
const double FB[8] = {0.7, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.7};

TEST(Likelihood, Table)
{
    double t1[TABLE_SIZE], t2[TABLE_SIZE];
    build_table(1, t1);
    build_table(2, t2);
    EXPECT_EQ(1.0, t2[(0 * 4 + 0) * 4 + 0]);
    EXPECT_EQ(0.5, t2[(1 * 4 + 1) * 4 + 3]);
    EXPECT_EQ(0.5, t2[(3 * 4 + 1) * 4 + 3]);
    EXPECT_EQ(0.0, t2[(2 * 4 + 1) * 4 + 3]);
    EXPECT_EQ(1.0, t1[(2 * 4 + 2) * 4 + 3]); // j has no say with one copy
    EXPECT_EQ(0.0, t1[(2 * 4 + 3) * 4 + 2]);
}

TEST(Likelihood, WorkedValues)
{
    struct {
        int ploidy, n;
        std::vector<int> codes;
        std::vector<double> eps;
        const double *F;
        const char *want;
    } cases[] = {
        {1, 1, {2}, {0}, FA, "3.000000e-01 2.000000e-01"},
        {2, 1, {0}, {0}, FA, "1.000000e-01 2.500000e-01 4.000000e-01"},
        {1, 0, {}, {}, FA, "1.000000e+00 1.000000e+00"},
        {2, -4, {}, {}, FA, "1.000000e+00 1.000000e+00 1.000000e+00"},
        {2, 3, {5, 5, 5}, {0.3, 0.2, 0.1}, FA, "1.000000e+00 1.000000e+00 1.000000e+00"},
        // eps 1: every site is a uniform draw, 0.25 whatever the genotype
        {2, 2, {0, 3}, {1, 1}, FA, "6.250000e-02 6.250000e-02 6.250000e-02"},
        {2, 3, {0, 5, 3}, {0.01, 0.5, 0.02}, FB, "3.767950e-02 1.242475e-01 3.617950e-02"},
        {1, 3, {0, 5, 3}, {0.01, 0.5, 0.02}, FB, "3.722500e-03 2.222500e-03"},
    };
    for (auto &c : cases) {
        double table[TABLE_SIZE], L[3];
        build_table(c.ploidy, table);
        score_observation(table, c.ploidy, c.n, c.codes.data(), c.eps.data(), c.F, L);
        EXPECT_EQ(c.want, show(L, nstates(c.ploidy)));
    }
}

TEST(Likelihood, AbsentAlleleWithoutErrorAddsNothing)
{
    // Only genotypes holding allele 1 survive a site that saw allele 1 with
    // eps 0: for one copy that is genotype 1 alone.
    double table[TABLE_SIZE], L[3];
    int codes[] = {1};
    double eps[] = {0};
    build_table(1, table);
    score_observation(table, 1, 1, codes, eps, FA, L);
    EXPECT_EQ(FA[1], L[0]);
    EXPECT_EQ(FA[5], L[1]);
}

double pick(std::mt19937_64 &r)
{
    static const double odd[] = {0.0, -0.0, 1.0, 0.5, 1e-300, 1e300, -1.0, 2.0,
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::signaling_NaN(),
                                 from_bits(0xfff0000000000123), // signalling, with a payload
                                 from_bits(0x7ff8000000000456),
                                 4.9e-324};
    switch (r() % 8) {
    case 0:
        return odd[r() % (sizeof odd / sizeof *odd)];
    case 1:
        return from_bits(r());
    default:
        return std::uniform_real_distribution<double>(0, 1)(r);
    }
}

#if defined(__x86_64__)
// The NaN rule is x86's own: each operation of a ruled value gives what the
// instruction gives with the operands in the order written, first operand
// first.
TEST(Likelihood, NanRuleIsWhatX86Does)
{
    const double v[] = {std::numeric_limits<double>::quiet_NaN(),
                        -std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::signaling_NaN(),
                        from_bits(0xfff0000000000123), from_bits(0x7ff8000000000456),
                        std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity(), 0.0, -0.0, 1.5};
    for (double a : v)
        for (double b : v) {
            double m = a, s = a, d = a;
            asm("mulsd %1, %0" : "+x"(m) : "x"(b));
            asm("addsd %1, %0" : "+x"(s) : "x"(b));
            asm("subsd %1, %0" : "+x"(d) : "x"(b));
            EXPECT_EQ(bits(m), bits((ruled(a) * b).v)) << a << " * " << b;
            EXPECT_EQ(bits(s), bits((ruled(a) + b).v)) << a << " + " << b;
            EXPECT_EQ(bits(d), bits((ruled(a) - b).v)) << a << " - " << b;
        }
}
#endif

// Both builds of the genotype products, whichever this processor would run.
class Builds : public both_paths<&use_avx2> {};

BOTH_PATHS(Likelihood, Builds, "baseline");

TEST_P(Builds, AgreeBitForBitWithTheLiteralRules)
{
    std::mt19937_64 r(4242);
    double t[3][TABLE_SIZE];
    build_table(1, t[1]);
    build_table(2, t[2]);
    for (int it = 0; it < 200000; it++) {
        int ploidy = 1 + r() % 2;
        int n = r() % 60;
        std::vector<int> codes(n);
        std::vector<double> eps(n);
        double F[8];
        for (int g = 0; g < n; g++) {
            codes[g] = r() % 6 == 0 ? 5 : r() % 4;
            eps[g] = r() % 4 ? std::uniform_real_distribution<double>(0, 0.1)(r) : pick(r);
        }
        for (double &f : F)
            f = pick(r);
        double want[3], got[3];
        literal_score(t[ploidy], ploidy, n, codes.data(), eps.data(), F, want);
        score_observation(t[ploidy], ploidy, n, codes.data(), eps.data(), F, got);
        for (int s = 0; s < nstates(ploidy); s++)
            ASSERT_EQ(bits(want[s]), bits(got[s])) << "iteration " << it << " state " << s;
    }
}

} // namespace
