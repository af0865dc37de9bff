// The number reader against the C library's sscanf with %n: for every
// stream, each conversion must agree on success, on the value's bits and on
// the characters consumed.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "tarvo/scan.h"
#include "tests/scan_compare.h"
#include "tests/util.h"

namespace {

// Every conversion of the text must agree with sscanf; returns how many
// converted.
int compare(const std::string &text, const std::string &kinds, size_t cap)
{
    scan_verdict v = scan_compare(text, kinds, cap);
    EXPECT_EQ("", v.error) << "in [" << text << "]";
    return v.done;
}

const char *const WORDS[] = {
    "inf", "INF", "Inf", "infinity", "INFINITY", "InFiNiTy", "infin", "infinit",
    "infx", "in", "i", "nan", "NaN", "NAN", "-nan", "+nan", "nan(1)", "nan()",
    "nan(abc_12)", "nan(", "nan(1", "na", "n", "-inf", "+infinity", "-INFINITYx",
    "0x1p-3", "0X1.8P-2", "0x", "0xg", "0x.p1", "0x1.fffffffffffffp1023",
    "-0x1p-1074", "0x1p-1075", "0x1P", "0x1p+", "0xABCdef", "0x.8", "0x1.",
    "1e", "2e+", "1e x", "1.5.3", "3.5", "5.", ".5", ".", "-.", "+.", ".e1",
    "e5", "-", "+", "--1", "+-1", "-+1", "1e-", "1E+05", "00012", "+3", "-0",
    "-0.0", "0e999999", "1e400", "1e-400", "4.9e-324", "2.4703282292062327e-324",
    "2.4703282292062328e-324", "2.2250738585072011e-308",
    "1.7976931348623157e308", "1.7976931348623159e308", "9007199254740993",
    "9007199254740992", "9007199254740991", "1e22", "1e23", "123456789e-22",
    "1e-22", "0.1", "0.30000000000000004", "4294967297", "99999999999999999999",
    "-99999999999999999999", "2147483647", "2147483648", "-2147483648",
    "-2147483649", "9223372036854775807", "9223372036854775808",
    "-9223372036854775808", "-9223372036854775809", "999999999999999999",
    "1000000000000000000", "12345678901234567890123", "1.0000000000000000000001",
    "0.000000000000000000000000000001", "1,5", "1_000", "x", "#", "\x80",
    "1e+308", "1e-308", "7e-10", "123.456e-5", "1.e5", "1.e", ".1e-3", "0.0123456",
    "0.00987654", "123.4567", "1234567.1234567", "-9999999.99999999", "0.000000000000001",
};

const char WS[] = " \t\n\v\f\r";

std::string digits(std::mt19937_64 &r, int n, bool lead_zeros)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += (char)('0' + (lead_zeros && r() % 3 == 0 ? 0 : r() % 10));
    return s;
}

std::string token(std::mt19937_64 &r)
{
    std::string t;
    switch (r() % 10) {
    case 0:
    case 1: // the everyday shape, as printed by %g and friends
        if (r() % 4 == 0)
            t += "+-"[r() % 2];
        t += digits(r, 1 + r() % 4, true);
        if (r() % 2)
            t += "." + digits(r, r() % 9, false);
        if (r() % 4 == 0)
            t += std::string("eE").substr(r() % 2, 1) + std::string("+-").substr(0, r() % 2) +
                 digits(r, 1 + r() % 3, true);
        break;
    case 2: // many digits: beyond every fast path
        t = digits(r, 15 + r() % 30, true);
        if (r() % 2)
            t.insert(r() % t.size(), ".");
        break;
    case 3:
    case 4:
        t = WORDS[r() % (sizeof WORDS / sizeof *WORDS)];
        break;
    case 5: // a word with a random character spliced in or cut off
        t = WORDS[r() % (sizeof WORDS / sizeof *WORDS)];
        if (r() % 2)
            t.insert(r() % (t.size() + 1), 1, "0123456789.eE+-xXpPnaif("[r() % 24]);
        else
            t.resize(r() % (t.size() + 1));
        break;
    case 6: // a small integer, possibly with a fractional tail
        t = std::to_string((int)(r() % 7) - 1);
        if (r() % 3 == 0)
            t += "." + digits(r, r() % 3, false);
        break;
    case 7: { // an exact printout of a random double
        double d = from_bits(r());
        char buf[64];
        snprintf(buf, sizeof buf, r() % 2 ? "%.17g" : "%.6g", d);
        t = buf;
        break;
    }
    case 8: { // a random printable mess
        int n = 1 + r() % 6;
        for (int i = 0; i < n; i++)
            t += (char)(33 + r() % 94);
        break;
    }
    default: { // decimal numbers of a typical workload
        char buf[64];
        snprintf(buf, sizeof buf, "%.6g", (double)(r() % 1000000) / 1e6);
        t = buf;
    }
    }
    return t;
}

std::string stream(std::mt19937_64 &r, int ntok)
{
    std::string s;
    for (int i = 0; i < ntok; i++) {
        int nws = r() % 8 == 0 ? 0 : 1 + (r() % 4 == 0 ? r() % 3 : 0);
        for (int j = 0; j < nws; j++)
            s += WS[r() % 6];
        s += token(r);
    }
    if (r() % 2)
        s += WS[r() % 6];
    return s;
}

std::string kinds(std::mt19937_64 &r, int n)
{
    std::string k;
    for (int i = 0; i < n; i++)
        k += "dfbc"[r() % 4];
    return k;
}

// Every test runs on the portable reader and, where the processor has
// AVX2, on the run kernels.
class Scan : public both_paths {};

BOTH_PATHS(Reader, Scan, "portable");

TEST_P(Scan, AgreesWithSscanfOnSingleItems)
{
    for (const char *w : WORDS)
        for (const char *after : {"", " ", "\n7", "x", ".5", "e", "(", "  \t"}) {
            std::string text = std::string(w) + after;
            compare(text, "ff", 1 << 18);
            compare(text, "bbb", 1 << 18);
            compare(text, "dd", 1 << 18);
            compare(text, "df", 1 << 18);
        }
}

TEST_P(Scan, AgreesWithSscanfOnRandomStreams)
{
    std::mt19937_64 r(12345);
    long items = 0;
    for (int i = 0; i < 150000; i++) {
        int ntok = 1 + r() % 12;
        std::string text = stream(r, ntok);
        items += compare(text, kinds(r, ntok + 1), 1 << 18);
        if (HasFailure())
            return;
    }
    // Most streams hold a token that ends them early; enough must convert
    // for the comparison to mean something.
    EXPECT_GT(items, 300000);
}

// Long runs of the shapes the run kernels take, codes and "0." with up
// to 17 digits, broken now and then by white space runs, signs, exponents
// and other tokens, across the ends of small buffers.
TEST_P(Scan, AgreesOnLongEverydayRuns)
{
    std::mt19937_64 r(4711);
    long items = 0;
    for (int i = 0; i < 4000; i++) {
        std::string text, k;
        int n = 50 + r() % 200;
        bool codes = r() % 2;
        for (int j = 0; j < n; j++) {
            if (r() % 50 == 0)
                text += std::string(" \n\t\r\v\f").substr(r() % 6, 2);
            else
                text += WS[r() % 2 ? 0 : r() % 6];
            if (r() % 40 == 0)
                text += token(r);
            else if (codes)
                text += (char)('0' + r() % 7);
            else
                text += "0." + digits(r, r() % 18, r() % 2);
            if (r() % 30 == 0)
                codes = !codes;
            k += codes ? 'c' : "bf"[r() % 8 == 0];
        }
        text += WS[r() % 6];
        items += compare(text, k, r() % 2 ? 256 : 1 << 12);
        if (HasFailure())
            return;
    }
    EXPECT_GT(items, 100000);
}

// Tokens one by one, each with what may follow it glued on.
TEST_P(Scan, AgreesWithSscanfOnRandomTokens)
{
    std::mt19937_64 r(2468);
    static const char *const after[] = {"", " ", "\n", "x", ".", "e", "5", "(", "-"};
    for (int i = 0; i < 300000; i++) {
        std::string text = token(r) + after[r() % 9];
        compare(text, r() % 2 ? "f" : "d", 1 << 12);
        if (HasFailure())
            return;
    }
}

TEST_P(Scan, AgreesAcrossBufferBoundaries)
{
    std::mt19937_64 r(777);
    for (size_t cap : {256, 257, 300, 511, 1000}) {
        for (int i = 0; i < 3000; i++) {
            std::string text = stream(r, 40 + r() % 80);
            compare(text, kinds(r, 200), cap);
            if (HasFailure())
                return;
        }
    }
}

TEST_P(Scan, ItemsLongerThanTheBuffer)
{
    std::string zeros(5000, '0');
    struct {
        std::string text, kinds;
        int converted;
    } cases[] = {
        {zeros + "1.5 2", "ff", 2},
        {"0." + zeros + "1e5003 7", "fd", 2},
        {zeros + "42 " + zeros + "7 3", "ddd", 3},
        {"1" + zeros + " 3", "df", 2},
        {"nan(" + zeros + ") 1", "ff", 1}, // the parenthesis stays unread
        {std::string(3000, ' ') + "5 " + std::string(3000, '\n') + "6", "dd", 2},
    };
    for (auto &c : cases)
        EXPECT_EQ(c.converted, compare(c.text, c.kinds, 1024)) << c.text.substr(0, 40);

    // A long fraction and a long exponent must add up exactly, and a huge
    // exponent saturates whatever the fraction: in the program's buffer,
    // with the token inside one read, across the end of the first read, or
    // several reads long, followed by white space or by the end of input.
    auto z = [](size_t n) { return std::string(n, '0'); };
    const std::string longs[] = {
        "0." + z(99999) + "1e1000000",
        "-0." + z(99999) + "1e1000000",
        "0." + z(99977) + "1e1000000",
        "0." + z(99999) + "1e0001000000",
        "0." + z(150000) + "5e1500010",
        "-0." + z(150000) + "5e+1500010",
        "0." + z(150000) + "1234e150010",
        "0." + z(150000) + "1234e150020",
        "0." + z(150000) + "1e-1000000",
        "1." + z(150000) + "1e-1000000",
        "0." + z(200000) + "1e100000000000000000000000000",
        "-0." + z(200000) + "1e-100000000000000000000000000",
        z(200000) + "7e0000000000000000000000000000005",
        "0." + z(600000) + "7e600005",
        "0." + z(1000000) + "25e1000003",
        "-0." + z(1000000) + "25e10000000",
    };
    const size_t cap = 1 << 18;
    for (const std::string &t : longs)
        for (auto after : {std::make_pair("", 1), {" ", 1}, {"\n0 0.5", 3}, {"\t-1e1000000 ", 2}})
            for (size_t lead : {(size_t)0, cap - 1000}) {
                std::string text = std::string(lead, ' ') + t + after.first;
                EXPECT_EQ(after.second, compare(text, "ffff", cap))
                    << t.substr(0, 20) << "..." << t.substr(t.size() - 20) << " at " << lead;
            }
}

// The numbers every shortest round-trip printer writes (16 or 17
// significant digits), and the ones that decide rounding: the halfway
// points between neighbouring doubles nearest each power of ten, exact and
// cut to 16 - 25 digits, and random doubles of every exponent, subnormals
// included, with 16 - 19 digits and longer, in fixed and exponent form.
// Each stream starts with padding, so that its numbers fall at and across
// the end of a small buffer.
TEST_P(Scan, AgreesOnLongMantissas)
{
    std::mt19937_64 r(1618);
    std::vector<std::string> tokens;
    auto add = [&](const char *fmt, auto... x) {
        char buf[1024];
        snprintf(buf, sizeof buf, fmt, x...);
        tokens.push_back(buf);
    };
    for (int e = -325; e <= 308; e++) {
        double d = std::strtod(("1e" + std::to_string(e)).c_str(), nullptr);
        for (double n : {std::nextafter(d, 0.0), d, std::nextafter(d, HUGE_VAL)}) {
            // long double holds the 54 bits of a halfway point exactly
            long double half = ((long double)n + (long double)std::nextafter(n, HUGE_VAL)) / 2;
            for (int digits : {15, 16, 17, 18, 19, 20, 25, 800})
                add("%.*Le", digits, half);
        }
    }
    for (int i = 0; i < 6000; i++) {
        uint64_t u = r();
        if (i % 4 == 0)
            u &= 0x800fffffffffffff; // subnormal
        double d = std::fabs(from_bits(u));
        if (!std::isfinite(d))
            continue;
        char buf[64];
        *std::to_chars(buf, buf + 63, d).ptr = '\0';
        tokens.push_back(buf);
        add("%.*e", 15 + (int)(r() % 5), d);
        add("%.*e", 20 + (int)(r() % 20), d);
        double f = (double)(r() >> 11) / 9007199254740992.0 / std::pow(10.0, (double)(r() % 6));
        *std::to_chars(buf, buf + 63, f, std::chars_format::fixed).ptr = '\0';
        tokens.push_back(buf);
        add("%.*f", 16 + (int)(r() % 14), f);
    }
    std::shuffle(tokens.begin(), tokens.end(), r);
    long items = 0;
    for (size_t at = 0; at < tokens.size(); at += 40) {
        std::string text(r() % 300, ' '), k;
        for (size_t t = at; t < at + 40 && t < tokens.size(); t++) {
            text += (r() % 2 ? "-" : "") + tokens[t] + WS[r() % 6];
            k += "bf"[r() % 4 == 0];
        }
        items += compare(text, k, r() % 2 ? 256 : 1 << 18);
        if (HasFailure())
            return;
    }
    EXPECT_EQ((long)tokens.size(), items);
}

// A fast path that quietly stopped taking the everyday numbers would pass
// every agreement test and lose the speed, so count what went slow: on
// six significant digits, and on the shortest round-trip form that
// tarvo-pileup writes.
TEST_P(Scan, EverydayNumbersStayOnTheFastPath)
{
    for (bool shortest : {false, true}) {
        std::mt19937_64 r(99);
        std::string text;
        for (int i = 0; i < 20000; i++) {
            char buf[64];
            int n = snprintf(buf, sizeof buf, "%d ", (int)(r() % 6));
            if (shortest) {
                double d = (double)(r() >> 11) / 9007199254740992.0 / (i % 3 ? 1 : 1000);
                *std::to_chars(buf + n, buf + 60, d).ptr = '\0';
            } else {
                snprintf(buf + n, sizeof buf - n, "%.6g", (double)(r() % 1000000) / 1e6);
            }
            text += buf + std::string("\n");
        }
        text += "7 ";
        int fd = memfd(text);
        scanner s;
        std::vector<char> buf(4096 + SCAN_SLACK);
        scan_open(&s, fd, buf.data(), 4096);
        int v;
        double d;
        for (int i = 0; i < 20000; i++) {
            ASSERT_TRUE(scan_int(&s, &v));
            ASSERT_TRUE(one_double(&s, &d));
        }
        ASSERT_TRUE(scan_int(&s, &v));
        EXPECT_EQ(0u, s.slowed) << (shortest ? "shortest round trips" : "six digits");
        EXPECT_FALSE(scan_int(&s, &v));
        close(fd);
    }
}

TEST_P(Scan, EndOfInputAfterWhiteSpaceIsAFailure)
{
    for (const char *text : {"", " ", "\n\n\t", "1 ", "1\n \v"}) {
        int fd = memfd(text);
        scanner s;
        std::vector<char> buf(256 + SCAN_SLACK);
        scan_open(&s, fd, buf.data(), 256);
        int v;
        if (strchr(text, '1')) {
            EXPECT_TRUE(scan_int(&s, &v));
        }
        EXPECT_FALSE(scan_int(&s, &v)) << "[" << text << "]";
        double d;
        EXPECT_FALSE(one_double(&s, &d));
        close(fd);
    }
}

} // namespace
