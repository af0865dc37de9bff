// tarvo-hmm on bad inputs: each stops with its message and status 2, and
// leaves no tracts or summary file, nor a temporary one, behind. And a
// good run leaves both.

#include "tarvo-hmm/loci.h"
#include "tarvo-hmm/model.h"
#include "tarvo-hmm/numbers.h"
#include "tarvo/fmt.h"
#include "tests/run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <random>
#include <dirent.h>
#include <sys/stat.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <cstring>
#include <vector>

namespace {

const char HEAD[] = "#chrom\tpos\treads_used\treads_left_out\tlnL_pop0_pop0\tlnL_pop0_pop1\t"
                    "lnL_pop1_pop1\n";
const char L1[] = "chr1\t100\t8\t0\t-1.5\t-2\t-7.25\n";
const char L2[] = "chr1\t2000\t8\t0\t-3\t-0.5\t-1\n";

std::vector<std::string> listing(const std::string &dir)
{
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    while (dirent *e = d ? readdir(d) : nullptr)
        if (e->d_name[0] != '.')
            names.push_back(e->d_name);
    if (d)
        closedir(d);
    return names;
}

void clear(const std::string &dir)
{
    for (const std::string &n : listing(dir))
        unlink((dir + "/" + n).c_str());
}

std::string fill(std::string s, const std::string &dir)
{
    for (size_t at; (at = s.find("@D")) != std::string::npos;)
        s.replace(at, 2, dir);
    return s;
}

TEST(HmmRun, BadInputs)
{
    char dirbuf[] = "/tmp/hmm-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dirbuf));
    const std::string dir = dirbuf, out = dir + "/out";
    ASSERT_EQ(0, mkdir(out.c_str(), 0700));
    {
        std::ofstream(dir + "/g.map") << "# chrom id cM bp\nchr1 a 0 50\nchr1 b 1.5 5000\n";
        std::ofstream(dir + "/bad.map") << "chr1 a 0 50\nchr1 b 1.5 40\n";
        std::ofstream(dir + "/t.tsv") << HEAD << L1 << "chr1\t90\t8\t0\t-1\t-1\t-1\n";
    }
    const std::string h = HEAD, l1 = L1, l2 = L2, pre = "tarvo-hmm: standard input, line ";
    const struct {
        std::vector<std::string> args;
        std::string in, err;
    } cases[] = {
        {{}, "", pre + "1: no header; the input is empty\n"},
        {{}, l1, pre + "1: no header; the table begins with a line #chrom\tpos\t...\tlnL_... "
                       "naming its columns\n"},
        {{}, "#chrom\tpos\tlnL\n" + l1, pre + "1: the header has 0 lnL_ columns; it needs 2 "
                                               "(ploidy 1) or 3 (ploidy 2)\n"},
        {{}, "#chrom\tpos\tlnL_a\tlnL_b\tlnL_c\tlnL_d\n",
         pre + "1: the header has 4 lnL_ columns; it needs 2 (ploidy 1) or 3 (ploidy 2)\n"},
        {{}, "#chrom\tpos\tlnL_pop1\tlnL_pop0\n",
         pre + "1: lnL_ column 1 is lnL_pop1; expected lnL_pop0\n"},
        {{}, "#pos\tlnL_pop0\tlnL_pop1\n", pre + "1: the header names no chrom column\n"},
        {{}, h, pre + "2: no loci; the table ends after its header\n"},
        {{}, h + l1 + "chr1\t200\t8\t0\t-1\t-2\n", pre + "3: 6 columns; the header has 7\n"},
        {{}, h + "chr1\t200\t8\t0\t-1\t-2\t-3\t-4\t-5\n", pre + "2: 9 columns; the header has 7\n"},
        {{}, h + "chr1\t20x\t8\t0\t-1\t-2\t-3\n",
         pre + "2: position '20x' is not a whole number\n"},
        {{}, h + "chr1\t0\t8\t0\t-1\t-2\t-3\n", pre + "2: position 0; positions count from 1\n"},
        {{}, h + "chr1\t200\t8\t0\t-1\t-2.5e\t-3\n",
         pre + "2: log-likelihood '-2.5e' is not a number\n"},
        {{}, h + "chr1\t200\t8\t0\t-1\t\t-3\n", pre + "2: log-likelihood '' is not a number\n"},
        {{}, h + "chr1\t200\t8\t0\t-1\tnan\t-3\n",
         pre + "2: log-likelihood nan; only -inf may stand for an impossible state\n"},
        {{}, h + "chr1\t200\t8\t0\tinf\t-1\t-3\n",
         pre + "2: log-likelihood inf; only -inf may stand for an impossible state\n"},
        {{}, h + "chr1\t200\t8\t0\t-inf\t-inf\t-inf\n",
         pre + "2: every state is impossible (all -inf)\n"},
        {{}, h + l1 + "chr2\t5\t8\t0\t-1\t-1\t-1\n" + l2,
         pre + "4: chromosome chr1 again, after others; the table has each chromosome's loci "
               "together\n"},
        {{}, h + l2 + l1, pre + "3: position 100 of chr1 is not above the one before, 2000\n"},
        {{}, h + l1 + l1, pre + "3: position 100 of chr1 is not above the one before, 100\n"},
        {{"-m", "0"}, h + l1,
         "tarvo-hmm: -m 0: the proportion must lie between 0 and 1, both excluded\n"},
        {{"-m", "1"}, h + l1,
         "tarvo-hmm: -m 1: the proportion must lie between 0 and 1, both excluded\n"},
        {{"-g", "0"}, h + l1, "tarvo-hmm: -g 0: the generations must be positive\n"},
        {{"-g", "-3"}, h + l1, "tarvo-hmm: -g -3: the generations must be positive\n"},
        {{"-g", "x"}, h + l1, "tarvo-hmm: -g x: not a number\n"},
        {{"--map", "@D/none.map"}, h + l1,
         "tarvo-hmm: cannot open map @D/none.map: No such file or directory\n"},
        {{"--map", "@D/bad.map"}, h + l1,
         "tarvo-hmm: @D/bad.map, line 2: base position 40 of chr1 is not above the one "
         "before, 50\n"},
        {{"--map", "@D/g.map"}, h + l1 + "chr2\t5\t8\t0\t-1\t-1\t-1\n",
         pre + "3: chromosome chr2 is not in the map @D/g.map\n"},
        {{"@D/t.tsv"}, "",
         "tarvo-hmm: @D/t.tsv, line 3: position 90 of chr1 is not above the one before, "
         "100\n"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args{"--tracts", out + "/t.bed", "--summary", out + "/s.tsv"};
        for (const std::string &a : c.args)
            args.push_back(fill(a, dir));
        result r = run(HMM_BIN, args, c.in);
        SCOPED_TRACE(c.in);
        EXPECT_EQ(fill(c.err, dir), r.err);
        EXPECT_EQ(2, r.status);
        EXPECT_EQ(std::vector<std::string>{}, listing(out));
        clear(out);
    }

    // The same outputs from a good run: both files, nothing else.
    result r = run(HMM_BIN, {"--tracts", out + "/t.bed", "--summary", out + "/s.tsv"},
                   h + l1 + l2);
    EXPECT_EQ(0, r.status) << r.err;
    std::vector<std::string> files = listing(out);
    std::sort(files.begin(), files.end());
    EXPECT_EQ((std::vector<std::string>{"s.tsv", "t.bed"}), files);
    EXPECT_EQ(0u, read_file(out + "/t.bed").find("#chrom\tstart\tend\tstate\tloci\tmean_posterior\n"));
    clear(out);
    // Through a symbolic link, as /dev/stdout is one: the link stays and
    // the summary goes after what its file holds.
    std::ofstream(out + "/target") << "x\n";
    ASSERT_EQ(0, symlink("target", (out + "/link").c_str()));
    r = run(HMM_BIN, {"--summary", out + "/link"}, h + l1 + l2);
    EXPECT_EQ(0, r.status) << r.err;
    struct stat st;
    EXPECT_TRUE(lstat((out + "/link").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_EQ(0u, read_file(out + "/target").find("x\n#loci\tchromosomes\t"));
    clear(out);
    rmdir(out.c_str());
    clear(dir);
    rmdir(dir.c_str());
}

// The short ways against the library's, on numbers shaped like the
// table's (tarvo -l's six decimals, shortest round-trip forms, -inf) and
// the posteriors' (in [0, 2], and halves of the sixth decimal).
TEST(HmmNumbers, AgainstLibrary)
{
    std::mt19937_64 rng(21);
    std::uniform_real_distribution<double> lnl(-5000, 0), unit(0, 2);
    std::vector<std::string> texts = {"-inf", "0", "-0", "-0.000000", "5.", ".5", "-", ".",
                                      "1e5", "-12.5e-3", "123456789012345",
                                      "1234567890123456", "-0.1234567890123456", "00012.50"};
    std::vector<double> values = {0, 1, 2, 0.5, 1e-7, 4.9999999999999998e-7, 5e-7,
                                  999.9999995, 1000, -1, std::nextafter(0.0000025, 1)};
    char buf[FMT_F_MAX + 1];
    for (int i = 0; i < 200000; i++) {
        double x = lnl(rng);
        snprintf(buf, sizeof buf, i % 3 ? "%.6f" : "%.17g", i % 7 ? x : x / 1e3);
        texts.push_back(buf);
        double y = unit(rng);
        values.push_back(i % 2 ? y : (std::floor(y * 1e6) + 0.5) / 1e6);
    }
    for (const std::string &t : texts) {
        double want, got = 0;
        auto r = std::from_chars(t.data(), t.data() + t.size(), want);
        bool ok = r.ec == std::errc() && r.ptr == t.data() + t.size();
        ASSERT_EQ(ok, read_double(t.data(), t.data() + t.size(), &got)) << t;
        if (ok) {
            ASSERT_EQ(0, memcmp(&want, &got, sizeof got)) << t;
        }
    }
    for (double v : values) {
        char want[400];
        snprintf(want, sizeof want, "%.6f", v);
        ASSERT_EQ(std::string(want), std::string(buf, fmt_f(buf, v))) << v;
    }
}

// The pass with derivatives: two chromosomes at a time against each
// chromosome alone, and its gradient and Hessian in (m, ln T) against
// central differences of the plain pass, at both ploidies.
TEST(HmmModel, Derivatives)
{
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> lnl(-12, 0), gap(1e-5, 0.02);
    for (int states : {2, 3}) {
        loci all;
        std::vector<loci> one(5);
        loci_init(&all, states);
        for (size_t c = 0; c < one.size(); c++) {
            loci_init(&one[c], states);
            const size_t n = c == 3 ? 1 : 50 + 700 * c;
            all.chroms.push_back({"c", all.n, n});
            one[c].chroms.push_back({"c", 0, n});
            for (size_t i = 0; i < n; i++) {
                double v[3] = {lnl(rng), lnl(rng), i % 9 ? lnl(rng) : -HUGE_VAL};
                double d = i ? gap(rng) : 0;
                loci_add(&all, v, d, i);
                loci_add(&one[c], v, d, i);
            }
        }
        const double m = 0.3, T = 25;
        pass p = forward_d(all, m, T), sum{0, {0, 0}, {0, 0, 0}, NO_LOCUS};
        for (const loci &o : one) {
            pass q = forward_d(o, m, T);
            sum.lnl += q.lnl;
            for (int i = 0; i < 2; i++)
                sum.g[i] += q.g[i];
            for (int i = 0; i < 3; i++)
                sum.h[i] += q.h[i];
        }
        EXPECT_NEAR(sum.lnl, p.lnl, 1e-12 * std::fabs(p.lnl));
        EXPECT_NEAR(forward(all, m, T).lnl, p.lnl, 1e-12 * std::fabs(p.lnl));
        for (int i = 0; i < 2; i++)
            EXPECT_NEAR(sum.g[i], p.g[i], 1e-9 * (1 + std::fabs(p.g[i])));
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(sum.h[i], p.h[i], 1e-9 * (1 + std::fabs(p.h[i])));
        // f(m, tau) and its differences with steps of 1e-4.
        auto f = [&](double dm, double dt) { return forward(all, m + dm, T * std::exp(dt)).lnl; };
        const double e = 1e-4;
        double gm = (f(e, 0) - f(-e, 0)) / (2 * e), gt = (f(0, e) - f(0, -e)) / (2 * e);
        double hmm = (f(e, 0) - 2 * f(0, 0) + f(-e, 0)) / (e * e);
        double htt = (f(0, e) - 2 * f(0, 0) + f(0, -e)) / (e * e);
        double hmt = (f(e, e) - f(e, -e) - f(-e, e) + f(-e, -e)) / (4 * e * e);
        EXPECT_NEAR(gm, p.g[0], 1e-5 * (1 + std::fabs(gm)));
        EXPECT_NEAR(gt, p.g[1], 1e-5 * (1 + std::fabs(gt)));
        EXPECT_NEAR(hmm, p.h[0], 1e-3 * (1 + std::fabs(hmm)));
        EXPECT_NEAR(hmt, p.h[1], 1e-3 * (1 + std::fabs(hmt)));
        EXPECT_NEAR(htt, p.h[2], 1e-3 * (1 + std::fabs(htt)));
        loci_free(&all);
        for (loci &o : one)
            loci_free(&o);
    }
}

} // namespace
