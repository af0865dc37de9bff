// fmt_e and fmt_f against the C library's printf "%e" and "%.6f", on the
// bits that matter.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "tarvo/fmt.h"
#include "tests/util.h"

namespace {

// d as one of our formatters writes it, fmt_e unless told otherwise.
std::string ours(double d, char *(*fmt)(char *, double) = fmt_e)
{
    char buf[FMT_F_MAX];
    return std::string(buf, fmt(buf, d));
}

// d as printf writes it with one conversion, "%e" unless told otherwise.
std::string libc(double d, const char *conv = "%e")
{
    char buf[400];
    snprintf(buf, sizeof buf, conv, d);
    return buf;
}

TEST(Fmt, SpecialValues)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct {
        double v;
        const char *text;
    } cases[] = {
        {0.0, "0.000000e+00"},
        {-0.0, "-0.000000e+00"},
        {inf, "inf"},
        {-inf, "-inf"},
        {nan, "nan"},
        {-nan, "-nan"},
        {from_bits(0x7ff0000000000001), "nan"}, // signalling
        {from_bits(0xfff8000000000123), "-nan"},
        {DBL_MAX, "1.797693e+308"},
        {-DBL_MAX, "-1.797693e+308"},
        {DBL_MIN, "2.225074e-308"},
        {from_bits(1), "4.940656e-324"},
        {1e300, "1.000000e+300"},
        {1.0, "1.000000e+00"},
        {9.9999995, "9.999999e+00"},
        {9.9999996, "1.000000e+01"},
        {12345665.0, "1.234566e+07"}, // a tie goes to the even digit
        {12345675.0, "1.234568e+07"},
        {3.767950e-02, "3.767950e-02"},
    };
    for (auto &c : cases) {
        EXPECT_EQ(c.text, ours(c.v)) << c.text;
        EXPECT_EQ(libc(c.v), ours(c.v)) << c.text;
    }
}

TEST(Fmt, RandomBitPatternsMatchPrintf)
{
    std::mt19937_64 r(2026);
    for (long i = 0; i < 4000000; i++) {
        uint64_t u = r();
        double d = from_bits(u);
        std::string a = ours(d), b = libc(d);
        ASSERT_EQ(b, a) << std::hex << u;
    }
}

// Random bits rarely land on values close to a rounding tie; integers with
// a tail of exactly five at the eighth digit and values near powers of ten
// do.
TEST(Fmt, TiesAndDecadesMatchPrintf)
{
    std::mt19937_64 r(7);
    for (long i = 0; i < 1000000; i++) {
        double d = (double)(r() % 100000000) * (r() % 2 ? 1 : 10) + 5;
        ASSERT_EQ(libc(d), ours(d)) << d;
        double p = std::pow(10.0, (int)(r() % 600) - 300);
        double q = std::nextafter(p, (r() % 2) ? 0.0 : DBL_MAX);
        ASSERT_EQ(libc(q), ours(q)) << q;
        ASSERT_EQ(libc(-p), ours(-p)) << p;
    }
}

// fmt_f against printf "%.6f": special values, the widest text, random bit
// patterns, values of the size logarithms take, values a hair from a tie
// at the seventh decimal and exact ties (odd multiples of 2^-7).
TEST(Fmt, FixedMatchesPrintf)
{
    const double special[] = {0.0, -0.0, INFINITY, -INFINITY, NAN, -NAN, DBL_MAX, -DBL_MAX,
                              DBL_MIN, from_bits(1), 0.0000005, 0.0000015, -2772.588722239781,
                              -0.9999995, 1e15, -1234.5678915, 4294967295.9999995,
                              -4294967296.0000005, 0.0078125, -0.0234375, 3.0390625};
    for (double d : special)
        EXPECT_EQ(libc(d, "%.6f"), ours(d, fmt_f)) << d;
    EXPECT_EQ(FMT_F_MAX, (int)ours(-DBL_MAX, fmt_f).size());
    std::mt19937_64 r(11);
    for (long i = 0; i < 300000; i++) {
        double d = from_bits(r());
        ASSERT_EQ(libc(d, "%.6f"), ours(d, fmt_f)) << d;
        double t = -((double)(r() % 100000000000) + 0.5) / 1e6;
        ASSERT_EQ(libc(t, "%.6f"), ours(t, fmt_f)) << t;
        double l = -std::ldexp(std::uniform_real_distribution<double>(0, 1)(r), (int)(r() % 40));
        ASSERT_EQ(libc(l, "%.6f"), ours(l, fmt_f)) << l;
    }
}

} // namespace
