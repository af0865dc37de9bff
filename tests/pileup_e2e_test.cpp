// tarvo-pileup on bad inputs: each stops with its message and status 2,
// and what was written before stays, in step, on standard output and in
// the sites file. And the panel's number reader against the library's.

#include "tarvo-pileup/freq.h"
#include "tests/run.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <random>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// Replaces every @P with the panel's path, @S with the sites file's and @B
// with the program's, which getopt's messages begin with.
std::string fill(std::string s, const std::string &panel, const std::string &sites)
{
    for (size_t at; (at = s.find("@P")) != std::string::npos;)
        s.replace(at, 2, panel);
    for (size_t at; (at = s.find("@S")) != std::string::npos;)
        s.replace(at, 2, sites);
    for (size_t at; (at = s.find("@B")) != std::string::npos;)
        s.replace(at, 2, PILEUP_BIN);
    return s;
}

const char PANEL[] = "# chrom pos ref alt af0 af1\n"
                     "chr1 10 A C 0.5 0.25\n"
                     "chr1\t20\tC\tG\t0.1\t0.9\n"
                     "chr2 5 G T 0 1\n";

// The line every failing pileup below begins with, and what it gives.
const char GOOD[] = "chr1\t10\tA\t3\t.,g\tII5\n";
const char OBS[] = "0 0 0.5 0.5 0 0 0.75 0.25 0 0 0.00013333333333333334 "
                   "0.00013333333333333334\n";
const char SITE[] = "chr1\t10\t2\t1\n";

const char PREFIX[] = "tarvo-pileup: standard input, line 2: ";

TEST(PileupRun, Table)
{
    char dir[] = "/tmp/pileup-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string panel = std::string(dir) + "/panel.tsv",
                      sites = std::string(dir) + "/sites.tsv";
    const std::string good = GOOD, obs = OBS, site = SITE, pre = PREFIX;
    const std::string usage =
        "usage: tarvo-pileup -r panel [-n numalleles] [-s sites] [-c sample] < pileup\n";
    const std::string two = "chr1\t10\tA\t1\t.\tI\t1\tC\tI\n";

    const struct {
        const char *name;
        std::string panel; // PANEL when empty
        std::vector<std::string> args;
        std::string in;
        std::string err;
        std::string out; // also what the sites file holds, as OBS to SITE
        int status;
    } rows[] = {
        // Runs that succeed, for the rows below to differ from.
        {"good", "", {}, good + "chr1\t15\tN\t1\t.\tI\nchr3\t1\tA\t1\t.\tI\n", "", obs, 0},
        {"no base read, depth 0", "", {}, good + "chr1\t20\tC\t2\tN*\tII\nchr2\t5\tG\t0\t*\t*\n",
         "", obs, 0},
        // The pileup.
        {"short line", "", {}, good + "chr1\t20\tC\t1\t.\n",
         pre + "5 columns; a pileup line has at least 6 (chromosome, position, reference base, "
               "depth, bases, qualities)\n", obs, 2},
        {"fewer qualities", "", {}, good + "chr1\t20\tC\t2\t.,\tI\n",
         pre + "fewer qualities (1) than bases\n", obs, 2},
        {"more qualities", "", {}, good + "chr1\t20\tC\t1\t.\tII\n",
         pre + "more qualities (2) than bases (1)\n", obs, 2},
        {"unknown character", "", {}, good + "chr1\t20\tC\t1\tX\tI\n",
         pre + "\"X\" in the bases column\n", obs, 2},
        {"control character", "", {}, good + "chr1\t20\tC\t1\t\r\tI\n",
         pre + "\"\\x0d\" in the bases column\n", obs, 2},
        {"^ at the end", "", {}, good + "chr1\t20\tC\t1\t.^\tI\n",
         pre + "\"^\" ends the bases, without its mapping quality\n", obs, 2},
        {"indel without length", "", {}, good + "chr1\t20\tC\t1\t.+A\tI\n",
         pre + "\"+\" without a length\n", obs, 2},
        {"indel past the end", "", {}, good + "chr1\t20\tC\t1\t.-3AC\tI\n",
         pre + "\"-3\" runs past the end of the bases\n", obs, 2},
        {"quality below !", "", {}, good + "chr1\t20\tC\t1\t.\t \n",
         pre + "quality \"\\x20\" is not Phred+33 (\"!\" to \"~\")\n", obs, 2},
        {"depth and bases differ", "", {}, good + "chr1\t20\tC\t3\t.,\tII\n",
         pre + "depth 3, but 2 bases\n", obs, 2},
        {"depth 0 with a base", "", {}, good + "chr1\t20\tC\t0\t.\tI\n",
         pre + "depth 0 needs \"*\" for bases and qualities\n", obs, 2},
        {"depth not a number", "", {}, good + "chr1\t20\tC\t-1\t.\tI\n",
         pre + "depth \"-1\" is not a number\n", obs, 2},
        {"position 0", "", {}, good + "chr1\t0\tC\t1\t.\tI\n",
         pre + "position \"0\" is not a number from 1\n", obs, 2},
        {"reference of two bases", "", {}, good + "chr1\t20\tCA\t1\t.\tI\n",
         pre + "reference base \"CA\" is not one character\n", obs, 2},
        {"columns change", "", {}, good + "chr1\t20\tC\t1\t.\tI\tx\n",
         pre + "7 columns where the first line has 6\n", obs, 2},
        {"position repeated", "", {}, good + "chr1\t10\tA\t1\t.\tI\n",
         pre + "position 10 of chr1 is not above the one before, 10\n", obs, 2},
        {"chromosome again", "", {},
         good + "chr2\t5\tG\t1\t.\tI\nchr1\t30\tA\t1\t.\tI\n",
         "tarvo-pileup: standard input, line 3: chromosome chr1 again, after others; a pileup "
         "has each chromosome's loci together\n",
         obs + "2 5 0 0 1 0 0 0 0 1 0.00013333333333333334 0\n", 2},
        {"no reference base", "", {}, good + "chr1\t20\tN\t1\tC\tI\n",
         pre + "reference base N at chr1 20: a pileup made without samtools mpileup -f, or a "
               "reference without a base there\n", obs, 2},
        {"other reference", "", {}, good + "chr1\t20\tA\t1\t.\tI\n",
         pre + "reference base A at chr1 20, but @P line 3 has ref C: the two were made on "
               "different references\n", obs, 2},
        {"no chromosome in the panel", "", {}, "1\t10\tA\t1\t.\tI\n",
         "tarvo-pileup: warning: no chromosome of the pileup (the last was 1) is in @P; are "
         "they named alike (chr1 or 1)?\n", "", 0},
        {"two samples without -c", "", {}, two,
         "tarvo-pileup: standard input, line 1: 9 columns: more than one sample, or extra "
         "columns from --output-* options; choose the sample with -c\n", "", 2},
        {"-c past the samples", "", {"-c", "3"}, two,
         "tarvo-pileup: standard input, line 1: -c 3: 9 columns hold fewer than 3 samples\n",
         "", 2},
        {"-c on a layout that is not clear", "", {"-c", "2"}, two.substr(0, two.size() - 1) +
         "\tx\tx\tx\tx\tx\tx\n",
         "tarvo-pileup: standard input, line 1: -c 2: 15 columns are 3 samples of 4 columns or "
         "2 of 6 (extra columns from --output-* options); cannot tell which are sample 2: make "
         "the pileup without those options\n", "", 2},
        // The panel: read through before the pileup.
        {"panel line of 7 columns", "chr1 10 A C 0.5 0.25 x\n", {}, good,
         "tarvo-pileup: @P, line 1: 7 columns; a panel line has 6 (chromosome, position, ref, "
         "alt, two frequencies of alt) or 10 (chromosome, position, frequencies of A, C, G, T "
         "in population 0 and in population 1)\n", "", 2},
        {"panel forms mixed", "chr1 10 A C 0.5 0.25\nchr1 11 1 0 0 0 1 0 0 0\n", {}, good,
         "tarvo-pileup: @P, line 2: 10 columns where the first locus has 6\n", "", 2},
        {"frequency above 1", "chr1 10 A C 1.5 0.25\n", {}, good,
         "tarvo-pileup: @P, line 1: frequency \"1.5\" is not a number from 0 to 1\n", "", 2},
        {"frequency nan", "\n#x\nchr1 10 1 0 0 0 nan 0 0 0\n", {}, good,
         "tarvo-pileup: @P, line 3: frequency \"nan\" is not a number from 0 to 1\n", "", 2},
        {"frequency missing", "chr1 10 A C . 0.25\n", {}, good,
         "tarvo-pileup: @P, line 1: frequency \".\" is not a number from 0 to 1\n", "", 2},
        {"not a base", "chr1 10 A N 0.5 0.25\n", {}, good,
         "tarvo-pileup: @P, line 1: \"N\" is not one of the bases A, C, G, T\n", "", 2},
        {"ref is alt", "chr1 10 A a 0.5 0.25\n", {}, good,
         "tarvo-pileup: @P, line 1: ref and alt are both A\n", "", 2},
        {"panel position repeated", "chr1 10 A C 0.5 0.25\nchr1 10 A G 0.5 0.25\n", {}, good,
         "tarvo-pileup: @P, line 2: position 10 of chr1 is not above the one before, 10\n", "",
         2},
        {"panel chromosome again",
         "chr1 10 A C 0.5 0.25\nchr2 1 A G 0.5 0.25\nchr1 20 A C 0 0\n", {}, good,
         "tarvo-pileup: @P, line 3: chromosome chr1 again, after others; its loci must come "
         "together (they began at line 1)\n", "", 2},
        {"panel position 0", "chr1 0 A C 0.5 0.25\n", {}, good,
         "tarvo-pileup: @P, line 1: position \"0\" is not a number from 1\n", "", 2},
        // The command line.
        {"no panel", "", {"-r"}, good,
         "@B: option requires an argument -- 'r'\n" + usage, "", 2},
        {"-n 0", "", {"-n", "0"}, good,
         "tarvo-pileup: -n 0: not a whole number from 1 to 1000000\n", "", 2},
        {"panel that is no file", "", {"-r", "/dev/null"}, good,
         "tarvo-pileup: /dev/null is not a plain file; the panel is read more than once\n", "",
         2},
    };
    for (const auto &row : rows) {
        {
            std::ofstream f(panel);
            f << (row.panel.empty() ? PANEL : row.panel);
        }
        unlink(sites.c_str());
        std::vector<std::string> args = {"-n", "2", "-s", sites};
        if (row.args.empty() || row.args[0] != "-r")
            args.insert(args.begin(), {"-r", panel});
        for (const auto &a : row.args)
            args.push_back(a);
        result got = run(PILEUP_BIN, args, row.in);
        EXPECT_EQ(row.status, got.status) << row.name;
        EXPECT_EQ(fill(row.err, panel, sites), got.err) << row.name;
        EXPECT_EQ(row.out, got.out) << row.name;
        // The sites file has a line for each observation written.
        std::string want_sites;
        if (row.out == obs)
            want_sites = site;
        else if (!row.out.empty())
            want_sites = site + "chr2\t5\t1\t0\n";
        EXPECT_EQ(want_sites, read_file(sites)) << row.name;
    }

    // A failure after many blocks of output: both files hold every
    // observation before it, and nothing of the line that failed.
    std::string many_panel, in, want, want_sites;
    for (int pos = 1; pos <= 20000; pos++) {
        std::string p = std::to_string(pos);
        many_panel += "chr1 " + p + " A C 0.5 0.25\n";
        in += "chr1\t" + p + "\tA\t3\t.,g\tII5\n";
        want += obs;
        want_sites += "chr1\t" + p + "\t2\t1\n";
    }
    {
        std::ofstream f(panel);
        f << many_panel;
    }
    result got = run(PILEUP_BIN, {"-r", panel, "-n", "2", "-s", sites}, in + "chr1\t20001\tA\n");
    EXPECT_EQ(2, got.status);
    EXPECT_EQ("tarvo-pileup: standard input, line 20001: 3 columns; a pileup line has at least "
              "6 (chromosome, position, reference base, depth, bases, qualities)\n",
              got.err);
    EXPECT_TRUE(got.out == want) << "observations before the failure";
    EXPECT_TRUE(read_file(sites) == want_sites) << "sites before the failure";
    unlink(panel.c_str());
    unlink(sites.c_str());
    rmdir(dir);
}

// --help and --version, as for the other programs.
TEST(PileupRun, About)
{
    result r = run(PILEUP_BIN, {"--help", "-x"}, "");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(0u, r.out.find("tarvo-pileup: "));
    EXPECT_NE(std::string::npos, r.out.find("\nusage: tarvo-pileup -r panel"));
    EXPECT_NE(std::string::npos, r.out.find("\nManual: man tarvo-pileup (in the sources: docs/tarvo-pileup.md)\n"));
    r = run(PILEUP_BIN, {"--version"}, "");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("tarvo-pileup " TARVO_OSTREL_VERSION "\n", r.out);
}

} // namespace

namespace {

// The panel's number reader against the C++ library's full conversion on
// random decimals around its fast path's limits: the same double, and
// the same refusals.
TEST(PileupNumber, AgainstFromChars)
{
    std::mt19937_64 rng(15);
    const char pick[] = "0123456789.";
    for (int i = 0; i < 1000000; i++) {
        std::string s;
        size_t len = 1 + rng() % 19;
        for (size_t k = 0; k < len; k++)
            s += pick[rng() % (k == 1 ? 11 : 10 + (rng() % 8 == 0))];
        if (rng() % 50 == 0)
            s += "e-3";
        double got = -1, want = -1;
        bool ok = read_number(s.data(), s.size(), &got);
        auto r = std::from_chars(s.data(), s.data() + s.size(), want);
        bool want_ok = r.ec == std::errc() && r.ptr == s.data() + s.size();
        ASSERT_EQ(want_ok, ok) << s;
        if (ok) {
            ASSERT_EQ(0, memcmp(&got, &want, sizeof got)) << s;
        }
    }
}

} // namespace
