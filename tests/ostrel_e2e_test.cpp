#include "ostrel/ostrel.h"
#include "tests/ostrel_literal.h"
#include "tests/run.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The switch of each path the tables run on: the one the processor picks,
// and the plain kernel, forced.
const char *const paths[] = {"", "--isa=plain"};

std::mt19937_64 rng(77);

// Equal strings; otherwise where they part, without printing megabytes.
testing::AssertionResult same(const std::string &got, const std::string &want)
{
    if (got == want)
        return testing::AssertionSuccess();
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i])
        i++;
    size_t from = i < 20 ? 0 : i - 20;
    return testing::AssertionFailure()
           << "differ at byte " << i << " of " << got.size() << " (want "
           << want.size() << "): got \"" << got.substr(from, 40) << "\", want \""
           << want.substr(from, 40) << "\"";
}

void expect_run(const std::string &in, const result &want, const std::string &what,
                const std::vector<std::string> &args = {})
{
    for (const char *sw : paths) {
        result got = run(OSTREL_BIN, with_switch(sw, args), in);
        EXPECT_TRUE(same(got.out, want.out)) << sw << ": " << what;
        EXPECT_EQ(got.err, want.err) << sw << ": " << what;
        EXPECT_EQ(got.status, want.status) << sw << ": " << what;
    }
}


// --help: a summary on standard output, status 0, whatever follows it.
TEST(OstrelRun, Help)
{
    result r = run(OSTREL_BIN, {"--help", "x"}, "ACGTN\n");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(0u, r.out.find("ostrel: "));
    for (const char *part : {"\nusage: ostrel < inputfile\n", "\n  --help ", "\n  --version ",
                             "\nExit status: "})
        EXPECT_NE(std::string::npos, r.out.find(part)) << part;
    const std::string man = "Manual: man ostrel (in the sources: docs/ostrel.md)\n";
    EXPECT_EQ(r.out.size() - man.size(), r.out.rfind(man));
}

TEST(OstrelRun, Table)
{
    const struct {
        const char *name;
        std::vector<std::string> args;
        std::string in;
        result want;
    } rows[] = {
        {"empty input", {}, "", {"", "", 0}},
        {"newline only", {}, "\n", {"0\t0\t0\t0\t0\n", "", 0}},
        {"each base once", {}, "ACGTN\n", {"1\t1\t1\t1\t1\n", "", 0}},
        {"several lines", {}, "NNAG\n\nTTTT\n",
         {"1\t0\t1\t0\t2\n0\t0\t0\t0\t0\n0\t0\t0\t4\t0\n", "", 0}},
        {"words ignored", {"-h", "--version", "x"}, "ACGTN\n",
         {"1\t1\t1\t1\t1\n", "", 0}},
        {"--version", {"--version"}, "ACGTN\n", {"ostrel " TARVO_OSTREL_VERSION "\n", "", 0}},
        {"last line unterminated", {}, "A\nACG", {"1\t0\t0\t0\t0\n1\t1\t0\t0\t0\n", "", 0}},
        {"dropped last byte unchecked", {}, "ACGx", {"1\t1\t1\t0\t0\n", "", 0}},
        {"lone final byte", {}, "\r", {"0\t0\t0\t0\t0\n", "", 0}},
        {"lower case", {}, "ACGT\nacgt\nACGT\n", {"1\t1\t1\t1\t0\n", "Invalid base: a\n", 2}},
        {"carriage return", {}, "ACGT\r\n", {"", "Invalid base: \r\n", 2}},
        {"first of several", {}, "AC\nGGxyz\n", {"1\t1\t0\t0\t0\n", "Invalid base: x\n", 2}},
        {"NUL byte", {}, std::string("AC\0G\n", 5), {"", std::string("Invalid base: \0\n", 16), 2}},
        {"byte above 127", {}, "NN\xff\n", {"", "Invalid base: \xff\n", 2}},
        {"space before newline", {}, "ACGT \n", {"", "Invalid base:  \n", 2}},
        {"invalid before dropped byte", {}, "AxC", {"", "Invalid base: x\n", 2}},
    };
    for (auto &row : rows) {
        // --help and --version answer instead of reading the input.
        const bool about = !row.args.empty() && row.args[0].compare(0, 2, "--") == 0;
        if (!about) {
            EXPECT_EQ(ostrel_literal(row.in).out, row.want.out) << "model: " << row.name;
        }
        expect_run(row.in, row.want, row.name, row.args);
    }
}

// Reads are read_size bytes at file offsets that are multiples of it; these
// put each kind of line end and each invalid byte next to those offsets.
TEST(OstrelRun, LinesAcrossReads)
{
    for (size_t edge : {read_size, 2 * read_size})
        for (size_t pos = edge - 2; pos <= edge + 2; pos++) {
            std::string body = random_bases(rng, pos) + "\n" + random_bases(rng, 90) + "\n";
            std::string at = "@ " + std::to_string(pos);
            // pos is the index of the first line's newline.
            expect_run(body, ostrel_literal(body), "newline" + at);
            std::string s = body;
            s[pos] = 'x';
            expect_run(s, ostrel_literal(s), "invalid byte" + at);
            s = body;
            s[pos - 1] = 'x';
            expect_run(s, ostrel_literal(s), "invalid last byte of line" + at);
            s = body.substr(0, pos + 1);
            s[pos] = 'x';
            expect_run(s, ostrel_literal(s), "input ends in invalid byte" + at);
            s[pos] = 'T';
            expect_run(s, ostrel_literal(s), "input ends without newline" + at);
            expect_run(s + "\n", ostrel_literal(s + "\n"), "input ends with newline" + at);
        }
}

TEST(OstrelRun, LongLinesAndManyLines)
{
    std::string in = random_bases(rng, 3 * read_size + 7) + "\n";
    for (int i = 0; i < 20000; i++)
        in += random_bases(rng, rng() % (i % 100 == 0 ? 5000 : 150)) + "\n";
    // Counts around the largest a short line's tally takes from a table.
    for (size_t n = 998; n <= 1001; n++)
        in += std::string(n, "ACGTN"[n % 5]) + random_bases(rng, n % 3) + "\n";
    in += random_bases(rng, 2 * read_size) + "ACGNT";
    expect_run(in, ostrel_literal(in), "mixed lengths");
    // A late invalid byte still leaves every earlier tally on standard output.
    in[in.size() - read_size] = 'n';
    expect_run(in, ostrel_literal(in), "mixed lengths, late invalid byte");
}

TEST(OstrelRun, OutputFailures)
{
    const struct {
        std::string in;
        sink out;
        result want;
    } rows[] = {
        {"ACGT\n", sink::devfull, {"", "Error writing output: No space left on device\n", 2}},
        {"ACGT\n", sink::closed, {"", "Error writing output: Bad file descriptor\n", 2}},
        {"", sink::devfull, {"", "", 0}},
        {"", sink::closed, {"", "", 0}},
        {"AC\nAx\n", sink::devfull, {"", "Invalid base: x\n", 2}},
    };
    for (const char *sw : paths)
        for (auto &row : rows) {
            result got = run(OSTREL_BIN, with_switch(sw, {}), row.in, row.out);
            EXPECT_EQ(got.err, row.want.err) << sw << ": " << row.in;
            EXPECT_EQ(got.status, row.want.status) << sw << ": " << row.in;
        }
}

TEST(OstrelRun, DirectoryOnInput)
{
    for (const char *sw : paths) {
        result got = run(OSTREL_BIN, with_switch(sw, {}), "", sink::capture, "/");
        EXPECT_EQ(got.out, "");
        EXPECT_EQ(got.err, "Error reading input: Is a directory\n");
        EXPECT_EQ(got.status, 2);
    }
}

TEST(OstrelRun, ClosedPipeEndsQuietlyBySignal)
{
    result got = shell("yes ACGT | head -c 10000000 | { " + command(OSTREL_BIN) +
                       "; echo \"status $?\" >&2; } | head -c 1");
    EXPECT_EQ(got.out, "1");
    EXPECT_EQ(got.err, "status 141\n"); // 128 + SIGPIPE
}

// Reads from fd until `want` bytes have come, or nothing comes for 10 s.
std::string read_for(int fd, size_t want)
{
    std::string s;
    char buf[256];
    pollfd p = {fd, POLLIN, 0};
    while (s.size() < want && poll(&p, 1, 10000) == 1) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        s.append(buf, static_cast<size_t>(n));
    }
    return s;
}

// A pseudo-terminal's two ends, or -1 and the reason where none can be
// opened, as in a container without /dev/pts.
struct terminal {
    int master = -1, tty = -1;
    std::string why;
};

terminal open_terminal()
{
    terminal t;
    const char *name = nullptr;
    if ((t.master = posix_openpt(O_RDWR | O_NOCTTY)) < 0)
        t.why = "posix_openpt";
    else if (grantpt(t.master) != 0)
        t.why = "grantpt";
    else if (unlockpt(t.master) != 0)
        t.why = "unlockpt";
    else if (!(name = ptsname(t.master)) || (t.tty = open(name, O_RDWR | O_NOCTTY)) < 0)
        t.why = "opening the terminal";
    if (t.tty < 0) {
        t.why += std::string(": ") + strerror(errno);
        if (t.master >= 0)
            close(t.master);
        t.master = -1;
    }
    return t;
}

TEST(OstrelRun, TerminalGetsEachTallyBeforeTheNextLine)
{
    terminal t = open_terminal();
    if (t.master < 0) {
        // Continuous integration must run every test.
        const char *ci = getenv("CI");
        ASSERT_FALSE(ci && std::string(ci) == "true") << "no pseudo-terminal: " << t.why;
        GTEST_SKIP() << "no pseudo-terminal here (" << t.why << ")";
    }
    const int master = t.master;
    termios raw;
    ASSERT_EQ(tcgetattr(master, &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(master, TCSANOW, &raw), 0);
    int feed[2];
    ASSERT_EQ(pipe(feed), 0);

    const std::string cmd = "exec " + command(OSTREL_BIN); // behind the emulator, if any
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int tty = t.tty;
        dup2(feed[0], 0);
        dup2(tty, 1);
        close(feed[1]);
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(feed[0]);
    close(t.tty);
    // The pipe stays open, so a tally can only come out before the next line.
    for (std::string line : {"ACGT\n", "NNNNNNNNNN\n"}) {
        ASSERT_EQ(write(feed[1], line.data(), line.size()), (ssize_t)line.size());
        std::string want = ostrel_literal(line).out;
        EXPECT_EQ(read_for(master, want.size()), want);
    }
    close(feed[1]);
    int st;
    waitpid(pid, &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    close(master);
}

} // namespace

namespace {

// Cut short at every byte, a worked example keeps the tallies of its whole
// lines, tallies a last partial line without its last byte, and fails only
// once the invalid byte is followed by at least one more.
TEST(OstrelRun, TruncatedAtEveryByte)
{
    const std::string ex = "ACGTN\nNNAG\n\nACG\nACxT\nGG\n";
    const size_t bad = ex.find('x');
    for (size_t cut = 0; cut <= ex.size(); cut++) {
        std::string in = ex.substr(0, cut);
        result want = ostrel_literal(in);
        EXPECT_EQ(cut > bad + 1 ? 2 : 0, want.status) << cut;
        if (cut > bad + 1) {
            EXPECT_EQ("1\t1\t1\t1\t1\n1\t0\t1\t0\t2\n0\t0\t0\t0\t0\n1\t1\t1\t0\t0\n", want.out);
        }
        expect_run(in, want, "cut at " + std::to_string(cut));
    }
}

} // namespace

namespace {

// Each way out leaves a shared input where a plain getline build leaves
// it: past the newline of the last line read.
TEST(OstrelRun, InputLeftAsAPlainBuildLeavesIt)
{
    const std::string rest = "ACGT\nrest\n";
    const std::string a = random_bases(rng, 2 * read_size + 5);
    const struct {
        std::string what, in;
        int runs;
        const char *to;
    } rows[] = {
        {"success", "AC\nGT\n", 1, ""},
        {"invalid base", "AC\nAxG\n" + rest, 1, ""},
        {"invalid base on the last line", "AC\nAxG", 1, ""},
        {"invalid NUL", std::string("AC\n\0\n", 5) + rest, 1, ""},
        {"bad line longer than one read", "AC\nx" + a + "\n" + rest, 1, ""},
        {"bad byte a read into a long line", a.substr(0, read_size) + "x" + a + "\n" + rest, 1, ""},
        {"bad line to the end of input", "x" + a, 1, ""},
        {"second run reads on after a bad line", "AC\nAx\nGG\nNN\nxx\n" + rest, 2, ""},
        {"write error at the end", "AC\nGT\n", 1, " >/dev/full"},
        {"write error and invalid base", "AC\nAx\n" + rest, 1, " >/dev/full"},
    };
    for (auto &row : rows) {
        result want = sharing(OSTREL_LITERAL_BIN, row.in, row.runs, row.to);
        result got = sharing(OSTREL_BIN, row.in, row.runs, row.to);
        EXPECT_TRUE(same(got.out, want.out)) << row.what;
        EXPECT_EQ(got.err, want.err) << row.what;
        EXPECT_EQ(got.status, want.status) << row.what;
    }
    // The bad byte and the newline that ends its line on each side of a read.
    for (size_t edge : {read_size, 2 * read_size})
        for (size_t bad = edge - 2; bad <= edge + 1; bad++)
            for (size_t nl = bad + 1; nl <= edge + 2; nl++) {
                std::string in = a.substr(0, 5) + "\n" + a.substr(0, nl - 6) + "\n" + rest;
                in[bad] = 'x';
                std::string at = " bad " + std::to_string(bad) + " newline " + std::to_string(nl);
                result want = sharing(OSTREL_LITERAL_BIN, in, 1, "");
                result got = sharing(OSTREL_BIN, in, 1, "");
                EXPECT_TRUE(same(got.out, want.out)) << at;
                EXPECT_EQ(got.status, want.status) << at;
            }
}

} // namespace
