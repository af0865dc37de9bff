// tarvo-pileup on bad inputs: each stops with its message and status 2,
// and what was written before stays, in step, on standard output and in
// the sites file. And the panel's number reader against the library's.

#include "tarvo-pileup/freq.h"
#include "tests/run.h"

#include <gtest/gtest.h>

#include <algorithm>
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
        {"carriage return", "", {}, good + "chr1\t20\tC\t2\t.,\tII\r\n",
         pre + "the line ends in a carriage return (a file with DOS line ends); remove them, "
               "for example with tr -d '\\r'\n", obs, 2},
        {"base modifications of -M", "", {}, good + "chr1\t20\tC\t1\tC[+m179+h40]\tI\n",
         pre + "\"[\" in the bases column: base modifications, which samtools mpileup -M "
               "(--output-mods) writes there; make the pileup without that option\n", obs, 2},
        {"chromosome outside the panel again", "", {},
         good + "chr3\t1\tA\t1\t.\tI\nchr2\t5\tG\t1\t.\tI\nchr3\t2\tA\t1\t.\tI\n", "",
         obs + "2 5 0 0 1 0 0 0 0 1 0.00013333333333333334 0\n", 0},
        {"reference N, its read beyond -n", "chr1 10 0 1 0 0 0 0 1 0\n", {"-n", "1"},
         "chr1\t10\tN\t2\tA.\tII\n",
         "tarvo-pileup: standard input, line 1: reference base N at chr1 10: a pileup made "
         "without samtools mpileup -f, or a reference without a base there\n", "", 2},
        {"no reference base", "", {}, good + "chr1\t20\tN\t1\tC\tI\n",
         pre + "reference base N at chr1 20: a pileup made without samtools mpileup -f, or a "
               "reference without a base there\n", obs, 2},
        {"other reference", "", {}, good + "chr1\t20\tA\t1\t.\tI\n",
         pre + "reference base A at chr1 20, but @P line 3 has ref C: the two were made on "
               "different references\n", obs, 2},
        {"no chromosome in the panel", "", {}, "1\t10\tA\t1\t.\tI\n",
         "tarvo-pileup: warning: no chromosome of the pileup (the last was 1) is in @P; are "
         "they named alike (chr1 or 1)?\n", "", 0},
        {"empty pileup", "", {}, "",
         "tarvo-pileup: warning: no observation written: the pileup is empty; check that the "
         "reads and @P name the chromosomes alike (chr1 or 1) and are on the same reference "
         "build, and that samtools mpileup -l was given the panel's loci\n", "", 0},
        {"no read at a panel locus", "", {}, "chr1\t11\tA\t1\t.\tI\nchr2\t5\tG\t1\tN\tI\n",
         "tarvo-pileup: warning: no observation written: no read shows a base at a locus of "
         "the panel; check that the reads and @P name the chromosomes alike (chr1 or 1) and "
         "are on the same reference build, and that samtools mpileup -l was given the "
         "panel's loci\n", "", 0},
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
        {"frequencies beyond a double's range", "chr1 10 A C 1e-400 1e-320\n", {}, good, "",
         "0 0 1 0 0 0 1 1e-320 0 0 0.00013333333333333334 0.00013333333333333334\n", 0},
        {"panel with carriage returns", "chr1 10 A C 0.5 0.25\r\n", {}, good,
         "tarvo-pileup: @P, line 1: the line ends in a carriage return (a file with DOS line "
         "ends); remove them, for example with tr -d '\\r'\n", "", 2},
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
        {"sites file that is the panel", "", {"-s", panel}, good,
         "tarvo-pileup: -s @P is the panel; it would be overwritten\n", "", 2},
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
        // The sites file has a line for each observation written, and the
        // panel is as it was.
        std::string want_sites;
        if (!row.out.empty())
            want_sites = site;
        if (row.out.find('\n') + 1 < row.out.size())
            want_sites += "chr2\t5\t1\t0\n";
        EXPECT_EQ(want_sites, read_file(sites)) << row.name;
        EXPECT_EQ(row.panel.empty() ? PANEL : row.panel, read_file(panel)) << row.name;
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
    const std::string in_path = std::string(dir) + "/in", status = std::string(dir) + "/st";
    const std::string cmd = command(PILEUP_BIN) + " -r " + panel + " -n 2 -s " + sites;
    const std::string out_err = "tarvo-pileup: cannot write standard output: ";
    // What a run leaves when its output fails or its input is closed: on
    // standard output a start of the observations, and in the sites file
    // no line whose observation is not there in full.
    const struct {
        const char *name;
        std::string in;
        std::string shell; // @C: the command; @I: in_path
        std::string err;
    } failures[] = {
        {"line that fails", in + "chr1\t20001\tA\n", "@C < @I",
         "tarvo-pileup: standard input, line 20001: 3 columns; a pileup line has at least 6 "
         "(chromosome, position, reference base, depth, bases, qualities)\n"},
        {"disk full", in, "@C < @I > /dev/full", out_err + "No space left on device\n"},
        {"disk full at the end", GOOD, "@C < @I > /dev/full", out_err + "No space left on device\n"},
        {"standard output closed", in, "@C < @I >&-", out_err + "Bad file descriptor\n"},
        {"file size limit", in, "ulimit -f 200; trap '' XFSZ; @C < @I", out_err + "File too large\n"},
        {"pipe closed, SIGPIPE ignored", in,
         "trap '' PIPE; (@C < @I; echo $? > " + status + ") | true; exit $(cat " + status + ")",
         out_err + "Broken pipe\n"},
        {"standard input closed", in, "@C < @I <&-",
         "tarvo-pileup: cannot read standard input: Bad file descriptor\n"},
        // The pipe takes the whole input only once the panel's first pass
        // is over: the panel grows after it.
        {"panel changed during the run", in,
         "(cat @I; echo chr9 1 A C 0 0 >> " + panel + ") | @C",
         "tarvo-pileup: " + panel + " changed while it was read; run again on a panel that "
         "stays as it is\n"},
    };
    for (const auto &f : failures) {
        {
            std::ofstream o(in_path);
            o << f.in;
        }
        unlink(sites.c_str());
        std::string line = f.shell;
        line.replace(line.find("@I"), 2, in_path);
        line.replace(line.find("@C"), 2, cmd);
        result got = shell(line);
        EXPECT_EQ(2, got.status) << f.name;
        EXPECT_EQ(f.err, got.err) << f.name;
        const std::string s = read_file(sites);
        size_t whole = got.out.size() / obs.size();
        EXPECT_EQ(0u, want.compare(0, got.out.size(), got.out)) << f.name;
        EXPECT_EQ(0u, want_sites.compare(0, s.size(), s)) << f.name;
        EXPECT_LE((size_t)std::count(s.begin(), s.end(), '\n'), whole) << f.name;
        if (f.name == failures[0].name || f.name == failures[7].name) {
            EXPECT_TRUE(got.out == want) << "observations before the failure";
            EXPECT_TRUE(s == want_sites) << "sites before the failure";
        }
    }
    unlink(in_path.c_str());
    unlink(status.c_str());
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

// The panel's number reader at the ends of a double's range, where the
// C++ library refuses what rounds to zero or infinity: the double that
// strtod, which rounds those too, gives; and refusals of what is no number.
TEST(PileupNumber, RangeEnds)
{
    const char *good[] = {"0.25", "1e-320", "1e-400", "2.4e-324", "2.5e-324", "4.9e-324",
                          "2.2250738585072011e-308", "0.0000001e-330", "1e400", "1e-99999",
                          "1"};
    for (const char *t : good) {
        double got = -1, want = strtod(t, nullptr);
        ASSERT_TRUE(read_number(t, strlen(t), &got)) << t;
        EXPECT_EQ(0, memcmp(&got, &want, sizeof got)) << t;
    }
    const char *bad[] = {"", ".", "1e", "1e-400x", "0x1p-3", " 1", "1e-400 ", "+1"};
    for (const char *t : bad) {
        double v;
        EXPECT_FALSE(read_number(t, strlen(t), &v)) << t;
    }
}

// The first pass's check without a value against the reader: what it
// takes is a number from 0 to 1, on random short texts of the characters
// numbers are made of; and it takes the forms panels write.
TEST(PileupNumber, PlainFraction)
{
    std::mt19937_64 rng(22);
    const char pick[] = "0011..59e-";
    for (int i = 0; i < 200000; i++) {
        std::string t;
        for (size_t k = rng() % 9; k > 0; k--)
            t += pick[rng() % 10];
        double v;
        if (plain_fraction(t.data(), t.size())) {
            ASSERT_TRUE(read_number(t.data(), t.size(), &v) && v >= 0 && v <= 1) << t;
        }
    }
    for (const char *t : {"0", "1", "0.25", ".5", "1.000", "0.", "0.000001"})
        EXPECT_TRUE(plain_fraction(t, strlen(t))) << t;
}

} // namespace
