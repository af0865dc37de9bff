// tarvo: likelihood of each ancestry state for a stream of observations.

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "common/about.h"
#include "common/error.h"
#include "tarvo/fmt.h"
#include "tarvo/likelihood.h"
#include "tarvo/loglik.h"
#include "tarvo/scan.h"

namespace {

// Sites the storage holds before the options are read.
const int DEFAULT_SITES = 50;

// Large enough that a read costs little per number, small enough to stay
// in the cache.
const size_t INPUT_BUFFER = 1 << 18;

const size_t OUTPUT_BUFFER = 1 << 16;

[[noreturn]] void usage()
{
    error("tarvo -t numobs -p ploidy < inputfile\n");
}

// Storage for the run, reused for every observation.
char inbuf[INPUT_BUFFER + SCAN_SLACK];
int *codes;
double *eps;
int cap; // sites that codes and eps hold

// Storage grows with the sites actually read rather than with -n, so a huge
// -n on a short input ends with the reading message, not a failed
// allocation.
void grow(int numalleles)
{
    long n = cap ? 2L * cap : DEFAULT_SITES;
    if (n > numalleles)
        n = numalleles;
    if (n <= cap)
        return;
    int *c = (int *)realloc(codes, (size_t)n * sizeof *codes);
    if (c)
        codes = c;
    double *e = (double *)realloc(eps, (size_t)n * sizeof *eps);
    if (e)
        eps = e;
    if (!c || !e)
        error("(tarvoprob) Out of memory\n");
    cap = (int)n;
}

// The input lives outside main so that it can be given back at exit.
scanner in;
off_t in_start; // where standard input stood at start; -1 when it cannot seek

// Runs at every exit, after success or failure: leaves a seekable standard
// input just past the last character a conversion consumed, where a plain
// stdio build leaves it, so that a second program sharing the file reads on
// from there. A pipe or terminal keeps what was read ahead; nothing can be
// given back to it.
void give_back()
{
    if (in_start >= 0)
        lseek(0, in_start + (off_t)scan_offset(&in), SEEK_SET);
}

void emit(const char *text, size_t n)
{
    if (fwrite(text, 1, n, stdout) != n)
        error("(tarvoprob) Error writing output: %s\n", strerror(errno));
}

const char HELP[] =
    "tarvo: likelihoods of the ancestry states of one individual. Reads\n"
    "observations on standard input and writes, for each, one line of\n"
    "tab-separated likelihoods on standard output.\n"
    "\n"
    "usage: tarvo -t numobs -p ploidy [-n numalleles] [-l] < inputfile\n"
    "       tarvo -a [-t numobs] -p ploidy [-n numalleles] [-l] < inputfile\n"
    "\n"
    "  -t numobs      observations to read, above 0 (required unless -a, no default)\n"
    "  -a             read observations until the input ends; with -t, at most\n"
    "                 numobs of them (default: off)\n"
    "  -p ploidy      copies per individual, 1 or 2 (required, no default)\n"
    "  -n numalleles  sites per observation (default 50)\n"
    "  -l             print the natural log of each likelihood, as %.6f (default: off):\n"
    "                 ln of the value printed without -l where that is a positive\n"
    "                 normal number; what it prints where that is a NaN; nan where\n"
    "                 it is negative; where it is 0, subnormal or inf, the log of\n"
    "                 the exact sums and products when every frequency and error\n"
    "                 rate used is finite (-inf for exactly 0, nan below 0), else\n"
    "                 -inf for 0 and inf for inf\n"
    "  --help         show this text and exit (as the first word only)\n"
    "  --version      show the version and exit (as the first word only)\n"
    "\n"
    "Exit status: 0 on success; 2 on any failure, with a message on standard error.\n"
    "Manual: man tarvo\n";
const char VERSION[] = "tarvo " TARVO_OSTREL_VERSION "\n";

// The last write of a run, checked like every other.
void flush()
{
    if (fflush(stdout) != 0)
        error("(tarvoprob) Error writing output: %s\n", strerror(errno));
}

// Prints what --help or --version asks for, and ends the run.
[[noreturn]] void say(const char *text)
{
    emit(text, strlen(text));
    flush();
    exit(0);
}

// The line of -l: the log of each state likelihood, by the rule of
// log_observation, which shows NaNs as the default output does.
char *log_line(char *p, const double *table, int ploidy, int numalleles, const double *freq)
{
    const int ns = nstates(ploidy);
    double lnL[3];
    log_observation(table, ploidy, numalleles, codes, eps, freq, lnL);
    for (int s = 0; s < ns; s++) {
        p = fmt_f(p, lnL[s]);
        *p++ = s < ns - 1 ? '\t' : '\n';
    }
    return p;
}

} // namespace

int main(int argc, char **argv)
{
    int ploidy = -1, numobs = 0, numalleles = DEFAULT_SITES;
    bool logs = false, all = false, counted = false;
    int c;

    if (const char *text = about(argc, argv, HELP, VERSION))
        say(text);
    while ((c = getopt(argc, argv, "p:t:n:la")) != -1) {
        switch (c) {
        case 'p':
            ploidy = (int)strtol(optarg, nullptr, 10);
            break;
        case 't':
            numobs = (int)strtol(optarg, nullptr, 10);
            counted = true;
            break;
        case 'n':
            numalleles = (int)strtol(optarg, nullptr, 10);
            break;
        case 'l':
            logs = true;
            break;
        case 'a':
            all = true;
            break;
        default:
            usage();
        }
    }
    if ((numobs <= 0 && (counted || !all)) || (ploidy != 1 && ploidy != 2))
        usage();
    // -a without -t has no count, so the observations are counted in a
    // long: such a stream may hold more of them than an int counts.
    const long last = counted ? numobs : LONG_MAX;

    double table[TABLE_SIZE];
    build_table(ploidy, table);
    const int ns = nstates(ploidy);

    grow(DEFAULT_SITES);
    scan_open(&in, 0, inbuf, INPUT_BUFFER);
    in_start = lseek(0, 0, SEEK_CUR);
    // The fuzz harness runs main many times in one process.
    static bool registered = false;
    if (!registered && atexit(give_back) == 0)
        registered = true;
    // A terminal keeps its line buffering so each line shows as it is made.
    if (!isatty(1))
        setvbuf(stdout, nullptr, _IOFBF, OUTPUT_BUFFER);

    double freq[8], L[3];
    char text[3 * (FMT_F_MAX + 1)];
    // With -a, white space after the last observation is part of the end;
    // once numobs are read, nothing past them is.
    for (long r = 0; r < last && !(all && scan_ended(&in)); r++) {
        const long line = r + 1;
        for (int g = 0; g < numalleles;) {
            if (g == cap)
                grow(numalleles);
            // Everyday codes in one go, as far as the storage reaches; the
            // rest one at a time.
            int run = scan_codes(&in, codes + g, (numalleles < cap ? numalleles : cap) - g);
            if (run > 0) {
                g += run;
                continue;
            }
            if (!scan_int(&in, &codes[g]))
                error("(tarvoprob) Error reading allele %d on line %ld\n", g, line);
            int k = codes[g];
            if ((k < 0 || k > 3) && k != MISSING)
                error("(tarvoprob) Invalid allele code %d for allele %d on line %ld\n",
                      k, g, line);
            g++;
        }
        int got = scan_doubles(&in, freq, 8);
        if (got < 8)
            error("(tarvoprob) Error reading probability of allele %d in population %d on "
                  "line %ld\n", got % 4, got / 4, line);
        if (numalleles > 0 && (got = scan_doubles(&in, eps, numalleles)) < numalleles)
            error("(tarvoprob) Error reading eps of allele %d on line %ld\n", got, line);

        if (logs) {
            emit(text, log_line(text, table, ploidy, numalleles, freq) - text);
            continue;
        }
        score_observation(table, ploidy, numalleles, codes, eps, freq, L);
        char *p = text;
        for (int s = 0; s < ns; s++) {
            p = fmt_e(p, L[s]);
            *p++ = s < ns - 1 ? '\t' : '\n';
        }
        emit(text, p - text);
    }
    flush();
    return 0;
}
