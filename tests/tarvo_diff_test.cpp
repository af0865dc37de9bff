// The likelihood program against a plain scanf/printf rendering of the same
// rules, on random inputs, broken ones among them: standard output,
// standard error and exit status must be the same bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/run.h"

namespace {

const std::string BIN = TARVO_BIN, LITERAL = LITERAL_BIN;
// The switch every run of BIN gets: none for the path the processor picks,
// or the one that forces the plain path (tests/CMakeLists.txt builds both).
const std::string ISA = TARVO_ISA, SW = ISA.empty() ? "" : " " + ISA;

std::string real(std::mt19937_64 &r)
{
    static const char *const odd[] = {"inf", "-inf", "-nan", "nan", "0x1p-3", "1e-320", "1e308",
                                      "-0", "0", "1", ".5", "5.", "+0.25", "00012e-3",
                                      "1e400", "0.1e-2", "INFINITY", "2e+"};
    char buf[64];
    switch (r() % 12) {
    case 0:
        return odd[r() % (sizeof odd / sizeof *odd)];
    case 1:
        snprintf(buf, sizeof buf, "%.17g", std::uniform_real_distribution<double>(0, 1)(r));
        return buf;
    case 2:
        snprintf(buf, sizeof buf, "%e", std::uniform_real_distribution<double>(0, 1)(r));
        return buf;
    default:
        snprintf(buf, sizeof buf, "%.6g", std::uniform_real_distribution<double>(0, 1)(r));
        return buf;
    }
}

std::vector<std::string> observations(std::mt19937_64 &r, int numobs, int n)
{
    std::vector<std::string> tok;
    for (int o = 0; o < numobs; o++) {
        for (int g = 0; g < n; g++)
            tok.push_back(r() % 10 == 0 ? "5" : std::to_string(r() % 4));
        for (int f = 0; f < 8; f++)
            tok.push_back(real(r));
        for (int g = 0; g < n; g++)
            tok.push_back(r() % 3 ? std::to_string((double)(r() % 1000) / 10000).substr(0, 6)
                                  : real(r));
    }
    return tok;
}

std::string join(std::mt19937_64 &r, const std::vector<std::string> &tok)
{
    std::string s;
    for (size_t i = 0; i < tok.size(); i++)
        s += tok[i] + (r() % 5 == 0 ? "\n" : " ");
    return s;
}

void same(const std::vector<std::string> &args, const std::string &in)
{
    result want = run(LITERAL, args, in), got = run(BIN, with_switch(ISA, args), in);
    ASSERT_EQ(want.out, got.out) << in;
    ASSERT_EQ(want.err, got.err) << in;
    ASSERT_EQ(want.status, got.status) << in;
}

TEST(TarvoDiff, RandomAndBrokenInputs)
{
    static const char *const junk[] = {"x", "4", "-1", "6", "1e", "nan(", "3.5", "",
                                       "--2", "0x", ".", "+", "99999999999"};
    std::mt19937_64 r(31337);
    for (int it = 0; it < 400; it++) {
        int ploidy = 1 + r() % 2, numobs = 1 + r() % 6, n = (int)(r() % 10) - 1;
        auto tok = observations(r, numobs, n > 0 ? n : 0);
        std::string in;
        switch (r() % 4) {
        case 0: // one token replaced
            tok[r() % tok.size()] = junk[r() % (sizeof junk / sizeof *junk)];
            in = join(r, tok);
            break;
        case 1: // cut short at any byte
            in = join(r, tok);
            in.resize(r() % (in.size() + 1));
            break;
        case 2: // a stray NUL byte
            in = join(r, tok);
            in[r() % in.size()] = '\0';
            break;
        default:
            in = join(r, tok);
        }
        same({"-t", std::to_string(numobs), "-p", std::to_string(ploidy), "-n",
              std::to_string(n)},
             in);
        if (HasFatalFailure())
            return;
    }
}

TEST(TarvoDiff, ManyObservations)
{
    std::mt19937_64 r(8);
    std::string in = join(r, observations(r, 5000, 50));
    same({"-t", "5000", "-p", "2"}, in);
    same({"-t", "5000", "-p", "1"}, in);

    // NaN-heavy: NaNs of both signs, infinities and zeros among the
    // frequencies and error rates, so that most results are NaN and which
    // NaN survives is put to the test.
    static const char *const heavy[] = {"nan", "-nan", "inf", "-inf", "0", "-0"};
    auto tok = observations(r, 3000, 50);
    for (size_t k = 0; k < tok.size(); k++)
        if (k % (50 + 8 + 50) >= 50 && r() % 8 == 0)
            tok[k] = heavy[r() % 6];
    in = join(r, tok);
    same({"-t", "3000", "-p", "2"}, in);
    same({"-t", "3000", "-p", "1"}, in);
}

} // namespace

namespace {

// Cut short at every byte, the worked example must end with the message for
// the item the cut fell in, and the lines of the whole observations before
// it intact.
TEST(TarvoDiff, TruncatedAtEveryByte)
{
    const std::string ex = "0 5 3\n0.7 0.1 0.1 0.1 0.1 0.1 0.1 0.7\n0.01 0.5 0.02\n"
                           "1 1 2\n0.25 0.25 0.25 0.25 0.4 0.3 0.2 0.1\n0.001 0.002 0.5\n";
    const std::vector<std::string> args = {"-t", "2", "-p", "2", "-n", "3"};
    result full = run(BIN, with_switch(ISA, args), ex);
    ASSERT_EQ(0, full.status);
    const std::string first = full.out.substr(0, full.out.find('\n') + 1);
    ASSERT_EQ("3.767950e-02\t1.242475e-01\t3.617950e-02\n", first);
    for (size_t cut = 0; cut < ex.size(); cut++) {
        std::string in = ex.substr(0, cut);
        result got = run(BIN, with_switch(ISA, args), in), want = run(LITERAL, args, in);
        EXPECT_EQ(want.out, got.out) << cut;
        EXPECT_EQ(want.err, got.err) << cut;
        EXPECT_EQ(want.status, got.status) << cut;
        // The last number of the input may be cut to a shorter number
        // rather than lost, so a cut can also complete the run; then only
        // that number's line may differ from the full run's.
        if (got.status == 0) {
            EXPECT_EQ(first, got.out.substr(0, first.size())) << cut;
            EXPECT_EQ(2, std::count(got.out.begin(), got.out.end(), '\n')) << cut;
            if (cut == ex.size() - 1) {
                EXPECT_EQ(full.out, got.out) << cut;
            }
            continue;
        }
        EXPECT_EQ(2, got.status) << cut;
        EXPECT_EQ(0u, got.err.find("(tarvoprob) Error reading ")) << cut;
        // The first line is out once the first observation's last number
        // has begun; a cut in that number shortens it.
        EXPECT_EQ(cut > ex.find("0.02") ? 1 : 0, std::count(got.out.begin(), got.out.end(), '\n'))
            << cut;
        if (cut >= ex.find("\n1 1 2")) {
            EXPECT_EQ(first, got.out) << cut;
        }
    }
}

} // namespace

namespace {

// Every way out leaves a shared input just past the last character a
// conversion consumed, failed conversions included, as the plain build
// leaves it.
TEST(TarvoDiff, InputLeftAsAPlainBuildLeavesIt)
{
    const std::string obs = "1 0.1 0.2 0.3 0.4 0.4 0.3 0.2 0.1 ", one = "-t 1 -p 1 -n 1";
    std::mt19937_64 r(2000);
    std::string many = join(r, observations(r, 2000, 50));
    struct row {
        std::string what, args, in;
        int runs;
        const char *to;
    };
    std::vector<row> rows = {
        {"success, data left", one, obs + "0.01\n1 2 3\n", 1, ""},
        {"usage", "-t 0 -p 1", obs, 1, ""},
        {"allele", "-t 1 -p 1 -n 2", "1 x 2\n", 1, ""},
        {"allele sign only", "-t 1 -p 1 -n 2", "1 -x 2\n", 1, ""},
        {"invalid code", "-t 1 -p 1 -n 2", "1 4 rest\n", 1, ""},
        {"probability", one, "1 0.5 0.5\n\n  x y\n", 1, ""},
        {"eps", one, obs + " +-1\n", 1, ""},
        {"end of input after white space", one, obs + " \n\n", 1, ""},
        {"write error", one, obs + "0.01\n1 2 3\n", 1, " >/dev/full"},
        {"two runs share the input", "-t 1000 -p 2", many, 2, ""},
    };
    // Slow-path tokens, on their own and across the end of the first
    // read: the last eps, followed by more input. Long fractions with long
    // exponents fill much of a read, or several.
    const std::string last[] = {"0.01", "0x1p-7", "1e x", "0x1.8p+x", "nan(1 x",
                                "0.1000000000000000000000000001", "nanx", "-x", "x",
                                "0." + std::string(99999, '0') + "1e1000000",
                                "-0." + std::string(150000, '0') + "5e0001500010",
                                "0." + std::string(600000, '0') + "7e600005"};
    const size_t edge = size_t(1) << 18;
    for (const std::string &t : last) {
        rows.push_back({t.substr(0, 20), one, obs + t + " rest\n", 1, ""});
        if (t.size() + obs.size() >= edge)
            continue;
        // Leading white space puts the token at byte `from`, so that the
        // first read ends a byte after it, right after it, inside it, after
        // its first byte, right before it.
        size_t n = t.size();
        for (size_t from : std::set<size_t>{edge - n - 1, edge - n, edge - n / 2, edge - 1, edge})
            rows.push_back({t.substr(0, 20) + " at " + std::to_string(from), one,
                            std::string(from - obs.size(), ' ') + obs + t + " rest\n", 1, ""});
    }
    for (auto &row : rows) {
        result want = sharing(LITERAL + " " + row.args, row.in, row.runs, row.to);
        result got = sharing(BIN + SW + " " + row.args, row.in, row.runs, row.to);
        EXPECT_EQ(want.out, got.out) << row.what;
        if (*row.to)
            continue; // the plain build does not check its writes
        EXPECT_EQ(want.err, got.err) << row.what;
        EXPECT_EQ(want.status, got.status) << row.what;
    }
}

} // namespace
