// The likelihood program as a user runs it: arguments and standard input
// in; exact standard output, standard error and exit status out.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/run.h"

namespace {

const std::string BIN = TARVO_BIN;
// The switch every run gets: none for the path the processor picks, or the
// one that forces the plain path (tests/CMakeLists.txt builds both).
const std::string ISA = TARVO_ISA, SW = ISA.empty() ? "" : " " + ISA;
const std::string USAGE = "tarvo -t numobs -p ploidy < inputfile\n";
const std::string EX = "0 5 3\n0.7 0.1 0.1 0.1 0.1 0.1 0.1 0.7\n0.01 0.5 0.02\n";
const std::string EX2 = "3.767950e-02\t1.242475e-01\t3.617950e-02\n";
const std::string EX1 = "3.722500e-03\t2.222500e-03\n";
const std::string FREQ = " 0.1 0.2 0.3 0.4 0.4 0.3 0.2 0.1 ";

std::string msg(const std::string &m)
{
    return "(tarvoprob) " + m + "\n";
}

struct row {
    const char *name;
    std::vector<std::string> args;
    std::string in, out, err;
    int status;
};

void check(const row &c, sink to = sink::capture)
{
    result r = run(BIN, with_switch(ISA, c.args), c.in, to);
    EXPECT_EQ(c.out, r.out) << c.name;
    EXPECT_EQ(c.err, r.err) << c.name;
    EXPECT_EQ(c.status, r.status) << c.name;
}

TEST(TarvoCli, Options)
{
    const row rows[] = {
        {"no options", {}, EX, "", USAGE, 2},
        {"-t 0", {"-t", "0", "-p", "2"}, EX, "", USAGE, 2},
        {"-t -3", {"-t", "-3", "-p", "2"}, EX, "", USAGE, 2},
        {"-t without digits", {"-t", "abc", "-p", "2"}, EX, "", USAGE, 2},
        {"-p 0", {"-t", "1", "-p", "0"}, EX, "", USAGE, 2},
        {"-p 3", {"-t", "1", "-p", "3"}, EX, "", USAGE, 2},
        {"-p -1", {"-t", "1", "-p", "-1"}, EX, "", USAGE, 2},
        {"no -p", {"-t", "1", "-n", "3"}, EX, "", USAGE, 2},
        {"-a, no -p", {"-a", "-n", "3"}, EX, "", USAGE, 2},
        {"-a -t 0", {"-a", "-t", "0", "-p", "2", "-n", "3"}, EX, "", USAGE, 2},
        {"-a, -t without digits", {"-a", "-tx", "-p", "2", "-n", "3"}, EX, "", USAGE, 2},
        {"-t without argument", {"-p", "2", "-t"}, EX, "",
         BIN + ": option requires an argument -- 't'\n" + USAGE, 2},
        {"unknown option", {"-x", "-t", "1", "-p", "2"}, EX, "",
         BIN + ": invalid option -- 'x'\n" + USAGE, 2},
        {"--version", {"--version"}, EX, "tarvo " TARVO_OSTREL_VERSION "\n", "", 0},
        {"--help after the first word", {"-t", "1", "--help", "-p", "2"}, EX, "",
         BIN + ": invalid option -- '-'\n" + USAGE, 2},
        {"last -p counts", {"-p", "1", "-p", "2", "-t", "1", "-n", "3"}, EX, EX2, "", 0},
        {"attached arguments", {"-t1", "-p1", "-n3"}, EX, EX1, "", 0},
        {"options after words", {"foo", "-t", "1", "bar", "-p2", "-n3"}, EX, EX2, "", 0},
        {"-t 2x is 2", {"-t", "2x", "-p", "2", "-n", "3"}, EX + EX, EX2 + EX2, "", 0},
        {"input after the last observation is not read", {"-t", "1", "-p", "2", "-n", "3"},
         EX + "junk", EX2, "", 0},
        {"-n 0", {"-t", "2", "-p", "1", "-n", "0"}, FREQ + FREQ,
         "1.000000e+00\t1.000000e+00\n1.000000e+00\t1.000000e+00\n", "", 0},
        {"-n -5", {"-t", "1", "-p", "2", "-n", "-5"}, FREQ,
         "1.000000e+00\t1.000000e+00\t1.000000e+00\n", "", 0},
        {"-l", {"-t", "1", "-p", "2", "-n", "3", "-l"}, EX, "-3.278639\t-2.085480\t-3.319263\n",
         "", 0},
        {"-l among the others, ploidy 1", {"-lt1", "-p1", "-n3"}, EX, "-5.593360\t-6.109123\n",
         "", 0},
        {"-l, a likelihood of zero", {"-t", "1", "-p", "1", "-n", "1", "-l"},
         "1 0.5 0 0.5 0 0.5 0.5 0 0 0", "-inf\t-0.693147\n", "", 0},
        {"-l takes no argument", {"-t", "1", "-p", "2", "-l3"}, EX, "",
         BIN + ": invalid option -- '3'\n" + USAGE, 2},
    };
    for (auto &c : rows)
        check(c);
}

// --help: a summary on standard output that names every option, status 0,
// whatever follows it.
TEST(TarvoCli, Help)
{
    result r = run(BIN, {"--help", "-t", "1"}, EX);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(0u, r.out.find("tarvo: "));
    for (const char *part : {"\nusage: tarvo -t numobs -p ploidy [-n numalleles] [-l] < inputfile\n",
                             "\n  -t ", "\n  -a ", "\n  -p ", "\n  -n ", "\n  -l ", "\n  --help ",
                             "\n  --version ", "\nExit status: "})
        EXPECT_NE(std::string::npos, r.out.find(part)) << part;
    const std::string man = "Manual: man tarvo (in the sources: docs/tarvo.md)\n";
    EXPECT_EQ(r.out.size() - man.size(), r.out.rfind(man));
}

TEST(TarvoCli, InputErrors)
{
    const std::vector<std::string> p2 = {"-t", "2", "-p", "2", "-n", "3"};
    const row rows[] = {
        {"empty input", p2, "", "", msg("Error reading allele 0 on line 1"), 2},
        {"ends after the second codes", p2, EX + "0 5 3\n", EX2,
         msg("Error reading probability of allele 0 in population 0 on line 2"), 2},
        {"letter at the fourth code", {"-t", "1", "-p", "1", "-n", "5"}, "0 1 2 x 3",
         "", msg("Error reading allele 3 on line 1"), 2},
        {"bad frequency", p2, "0 5 3 0.7 0.1 0.1 0.1 0.1 0.1 zz", "",
         msg("Error reading probability of allele 2 in population 1 on line 1"), 2},
        {"missing eps", p2, EX + "1 1 1" + FREQ + "0.1 0.2", EX2,
         msg("Error reading eps of allele 2 on line 2"), 2},
        {"code 4", p2, "0 4 3", "", msg("Invalid allele code 4 for allele 1 on line 1"), 2},
        {"code -1", p2, "-1", "", msg("Invalid allele code -1 for allele 0 on line 1"), 2},
        {"code 6 on line 2", p2, EX + "0 1 6", EX2,
         msg("Invalid allele code 6 for allele 2 on line 2"), 2},
        {"code wraps to 32 bits", p2, "99999999999", "",
         msg("Invalid allele code 1215752191 for allele 0 on line 1"), 2},
        {"code wraps to a valid one", {"-t", "1", "-p", "2", "-n", "1"},
         "4294967297" + FREQ + "0", "2.000000e-01\t2.500000e-01\t3.000000e-01\n", "", 0},
        {"a code written 3.5", p2, "3.5 1 1", "",
         msg("Error reading allele 1 on line 1"), 2},
        {"huge -n on a short input", {"-t", "1", "-p", "2", "-n", "2000000000"}, "0 1 2\n",
         "", msg("Error reading allele 3 on line 1"), 2},
        {"NUL byte", p2, std::string("0 5\0 3", 6), "", msg("Error reading allele 2 on line 1"),
         2},
        {"-l, ends after the second codes", {"-l", "-t", "2", "-p", "2", "-n", "3"},
         EX + "0 5 3\n", "-3.278639\t-2.085480\t-3.319263\n",
         msg("Error reading probability of allele 0 in population 0 on line 2"), 2},
    };
    for (auto &c : rows)
        check(c);
}

// Under -l a likelihood that is NaN shows as the default output shows it,
// and a negative one, which has no logarithm, as nan.
TEST(TarvoCli, LogNaNsAsTheDefault)
{
    const std::string in[] = {
        "nan 0 0 0 -0.5 0 0 0",   // a NaN weight; a negative one
        "-nan 0.1 0 0 inf 0 0 0", // inf * 0 in the weighted sum
        "0.2 0.2 0.2 0.2 -inf 1 1 1",
    };
    for (auto &i : in) {
        result d = run(BIN, with_switch(ISA, {"-t", "1", "-p", "1", "-n", "0"}), i),
               l = run(BIN, with_switch(ISA, {"-t", "1", "-p", "1", "-n", "0", "-l"}), i);
        ASSERT_EQ(0, d.status);
        ASSERT_EQ(0, l.status);
        size_t tab = d.out.find('\t'), ltab = l.out.find('\t');
        std::string ds[] = {d.out.substr(0, tab), d.out.substr(tab + 1, d.out.size() - tab - 2)};
        std::string ls[] = {l.out.substr(0, ltab), l.out.substr(ltab + 1, l.out.size() - ltab - 2)};
        for (int s = 0; s < 2; s++) {
            if (ds[s].find("nan") != std::string::npos) {
                EXPECT_EQ(ds[s], ls[s]) << i;
            } else if (ds[s][0] == '-') {
                EXPECT_EQ("nan", ls[s]) << i;
            }
        }
    }
}

TEST(TarvoCli, SitesBeyondFifty)
{
    // Missing sites change nothing, so 60 sites whose last ten are missing
    // must score as the first fifty do.
    std::string codes, eps;
    for (int g = 0; g < 50; g++) {
        codes += std::to_string(g % 4) + " ";
        eps += "0.0" + std::to_string(g % 9 + 1) + " ";
    }
    std::string tail_codes(20, ' '), tail_eps;
    for (int g = 0; g < 10; g++) {
        tail_codes[2 * g] = '5';
        tail_eps += "0.5 ";
    }
    result fifty = run(BIN, with_switch(ISA, {"-t", "1", "-p", "2"}), codes + FREQ + eps);
    result sixty = run(BIN, with_switch(ISA, {"-t", "1", "-p", "2", "-n", "60"}),
                       codes + tail_codes + FREQ + eps + tail_eps);
    EXPECT_EQ(0, fifty.status);
    EXPECT_EQ(0, sixty.status);
    EXPECT_EQ(fifty.out, sixty.out);
    EXPECT_EQ(2, std::count(sixty.out.begin(), sixty.out.end(), '\t')) << sixty.out;
}

TEST(TarvoCli, FailedWrites)
{
    const std::vector<std::string> args = {"-t", "1", "-p", "2", "-n", "3"};
    check({"full disk", args, EX, "", msg("Error writing output: No space left on device"), 2},
          sink::devfull);
    check({"closed output", args, EX, "", msg("Error writing output: Bad file descriptor"), 2},
          sink::closed);
    check({"-l, full disk", {"-t", "1", "-p", "2", "-n", "3", "-l"}, EX, "",
           msg("Error writing output: No space left on device"), 2},
          sink::devfull);
}

TEST(TarvoCli, ClosedPipeIsQuiet)
{
    result b = run_host("/bin/bash",
                        {"-c", "yes '0" + FREQ + "0.01' | head -n 200000 | " + command(BIN) + SW +
                                   " -t 200000 -p 1 -n 1 | head -c 1 >/dev/null; "
                                   "echo ${PIPESTATUS[2]}"},
                        "");
    EXPECT_EQ("141\n", b.out); // killed by SIGPIPE, nothing on standard error
    EXPECT_EQ("", b.err);
}

// The examples as listed are tests/examples_test.cpp's; without -l the
// many-site one is all zeros.
TEST(TarvoCli, ManySitesExampleWithoutLogs)
{
    std::string zeros;
    for (int r = 0; r < 3; r++)
        zeros += "0.000000e+00\t0.000000e+00\t0.000000e+00\n";
    check({"manysites without -l", {"-t", "3", "-p", "2", "-n", "2500"},
           read_file(std::string(EXAMPLES) + "/manysites.txt"), zeros, "", 0});
}

// One run of the program on a seekable input, then cat: standard output
// holds its lines and then what it left of the input; the status is the
// program's.
result then_rest(const std::string &args, const std::string &in)
{
    return run_host("/bin/sh", {"-c", command(BIN) + SW + " " + args + "; s=$?; cat; exit $s"},
                    in);
}

// -a reads what -t K reads, K being the observations the input begins: the
// same lines, message, status and input left for the next program, whether
// the input ends after an observation, after white space or inside one.
// -a -t K stops after K observations as -t K does.
TEST(TarvoCli, ToTheEndOfTheInput)
{
    std::mt19937_64 r(15);
    struct {
        const char *name, *opts;
        int n, obs;
        std::string tail; // after the last observation
    } rows[] = {
        {"ploidy 2", "-p 2 -n 3", 3, 4, "\n"},
        {"ploidy 1, no newline at the end", "-p1 -n3", 3, 4, ""},
        {"-l, white space at the end", "-l -p 2 -n 3", 3, 3, " \n\t\n \r\f\v"},
        {"-l, ploidy 1", "-p 1 -n 2 -l", 2, 3, "\n"},
        {"-n 0", "-p 1 -n 0", 0, 5, " "},
        {"default sites", "-p 2", 50, 3, "\n"},
        {"not a number after the last", "-p 2 -n 3", 3, 2, "\n x 1"},
    };
    for (auto &row : rows) {
        std::string in;
        std::vector<size_t> starts; // where each observation, begun or whole, starts
        for (int o = 0; o < row.obs; o++) {
            starts.push_back(in.size());
            std::vector<std::string> tok;
            for (int g = 0; g < row.n; g++)
                tok.push_back(std::to_string(r() % 5 == 4 ? 5 : r() % 4));
            for (int f = 0; f < 8; f++)
                tok.push_back("0." + std::to_string(1 + r() % 999));
            for (int g = 0; g < row.n; g++)
                tok.push_back("0.0" + std::to_string(1 + r() % 99));
            for (size_t i = 0; i < tok.size(); i++)
                in += tok[i] + (i + 1 == tok.size() ? "" : r() % 8 ? " " : "\n\t");
            if (o + 1 < row.obs)
                in += "\n";
        }
        size_t junk = row.tail.find_first_not_of(" \t\n\v\f\r");
        if (junk != std::string::npos)
            starts.push_back(in.size() + junk);
        in += row.tail;
        // Whole, empty, ending with the white space before the last begun
        // observation, and cut anywhere.
        std::vector<size_t> cuts = {in.size(), 0, starts.back()};
        for (int k = 0; k < 8; k++)
            cuts.push_back(r() % in.size());
        for (size_t cut : cuts) {
            std::string part = in.substr(0, cut);
            long k = std::count_if(starts.begin(), starts.end(), [&](size_t s) { return s < cut; });
            result got = then_rest(std::string("-a ") + row.opts, part);
            // No observation begun: an empty run, not -t 0's usage message.
            std::string rest = part.substr(part.find_last_not_of(" \t\n\v\f\r") + 1);
            result want = k ? then_rest("-t " + std::to_string(k) + " " + row.opts, part)
                            : result{rest, "", 0};
            std::string what = std::string(row.name) + ", cut at " + std::to_string(cut);
            // A normal end takes the white space at the end with it.
            if (want.status == 0 && want.out.size() >= rest.size() &&
                want.out.compare(want.out.size() - rest.size(), rest.size(), rest) == 0)
                want.out.resize(want.out.size() - rest.size());
            EXPECT_EQ(want.out, got.out) << what;
            EXPECT_EQ(want.err, got.err) << what;
            EXPECT_EQ(want.status, got.status) << what;
        }
        // With -t, at most that many: fewer than the input holds, leaving
        // the rest unread, or more, ending with the input.
        for (int k : {1, row.obs - 1, row.obs + 2}) {
            std::string t = "-t " + std::to_string(k) + " " + row.opts;
            result got = then_rest("-a " + t, in),
                   want = then_rest(k < row.obs ? t : std::string("-a ") + row.opts, in);
            EXPECT_EQ(want.out, got.out) << row.name << ", -a -t " << k;
            EXPECT_EQ(want.err, got.err) << row.name << ", -a -t " << k;
            EXPECT_EQ(want.status, got.status) << row.name << ", -a -t " << k;
        }
    }
}

// White space of any kind and amount between the numbers changes nothing.
TEST(TarvoCli, LayoutOfTheInputDoesNotMatter)
{
    std::mt19937_64 r(5);
    std::vector<std::string> tok;
    for (int o = 0; o < 6; o++) {
        for (int g = 0; g < 7; g++)
            tok.push_back(std::to_string(g % 3 == 2 ? 5 : (o + g) % 4));
        for (int f = 0; f < 8; f++)
            tok.push_back("0." + std::to_string(1 + (o * 8 + f) % 9));
        for (int g = 0; g < 7; g++)
            tok.push_back(std::to_string(g + 1) + "e-3");
    }
    std::string lines;
    for (size_t i = 0; i < tok.size(); i++)
        lines += tok[i] + ((i + 1) % 22 == 0 ? "\n" : " ");
    const std::vector<std::string> args = {"-t", "6", "-p", "2", "-n", "7"};
    result want = run(BIN, with_switch(ISA, args), lines);
    ASSERT_EQ(0, want.status);
    ASSERT_EQ(6, std::count(want.out.begin(), want.out.end(), '\n'));
    const char *ws = " \t\n\v\f\r";
    for (int variant = 0; variant < 40; variant++) {
        std::string in = variant % 2 ? "\n\n" : "";
        for (auto &t : tok) {
            in += t;
            for (int k = 0, n = 1 + r() % 3; k < n; k++)
                in += ws[r() % 6];
        }
        result got = run(BIN, with_switch(ISA, args), in);
        EXPECT_EQ(want.out, got.out) << in;
        EXPECT_EQ(0, got.status);
    }
}

} // namespace

namespace {

// Storage grows with the sites read; when memory runs out the run says so.
TEST(TarvoCli, OutOfMemory)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
    if (emulated())
        GTEST_SKIP() << "the emulator needs more address space than the limit leaves";
    result r = run_host("/bin/bash",
                        {"-c", "ulimit -v 100000; yes 0 | head -c 40000000 | " + BIN + SW +
                                   " -t 1 -p 1 -n 100000000 >/dev/null"},
                        "");
    EXPECT_EQ(msg("Out of memory"), r.err);
    EXPECT_EQ(2, r.status);
}

} // namespace
