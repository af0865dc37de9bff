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
#include "common/io.h"
#include "common/observation.h"
#include "tarvo/fmt.h"
#include "tarvo/isa.h"
#include "tarvo/likelihood.h"
#include "tarvo/loglik.h"
#include "tarvo/scan.h"

namespace {

// Large enough that a read costs little per number, small enough to stay
// in the cache.
const size_t INPUT_BUFFER = 1 << 18;

const size_t OUTPUT_BUFFER = 1 << 16;

[[noreturn]] void usage()
{
    error("tarvo -t numobs -p ploidy < inputfile\n");
}

// One observation, its storage reused for every one. The storage grows
// with the sites actually read rather than with -n, so a huge -n on a
// short input ends with the reading message, not a failed allocation.
struct observation {
    int *codes;
    double *eps;
    int cap; // sites that codes and eps hold
    double freq[FREQS];
};

// Doubles ob's storage, up to numalleles sites; the first call makes room
// for the default -n.
void grow(observation &ob, int numalleles)
{
    long n = ob.cap ? 2L * ob.cap : DEFAULT_SITES;
    if (n > numalleles)
        n = numalleles;
    if (n <= ob.cap)
        return;
    int *c = (int *)realloc(ob.codes, (size_t)n * sizeof *ob.codes);
    if (c)
        ob.codes = c;
    double *e = (double *)realloc(ob.eps, (size_t)n * sizeof *ob.eps);
    if (e)
        ob.eps = e;
    if (!c || !e)
        error("(tarvoprob) Out of memory\n");
    ob.cap = (int)n;
}

// Standard input, read through buf.
struct input {
    scanner sc;
    off_t start; // where standard input stood at start; -1 when it cannot seek
    char buf[INPUT_BUFFER + SCAN_SLACK];
};

// Runs at every exit once main has armed it, after success or failure
// (error ends a run from wherever it fails, with the input read ahead):
// leaves a seekable standard input just past the last character a
// conversion consumed, where a plain stdio build leaves it, so that a
// second program sharing the file reads on from there. A pipe or terminal
// keeps what was read ahead; nothing can be given back to it.
void give_back(void *arg)
{
    const input *in = static_cast<const input *>(arg);
    if (in->start >= 0)
        lseek(0, in->start + (off_t)scan_offset(&in->sc), SEEK_SET);
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
    "  -n numalleles  sites per observation (default " DEFAULT_SITES_TEXT ")\n"
    "  -l             print the natural log of each likelihood, as %.6f (default: off):\n"
    "                 ln of the value printed without -l where that is a positive\n"
    "                 normal number; what it prints where that is a NaN; nan where\n"
    "                 it is negative; where it is 0, subnormal or inf, the log of\n"
    "                 the exact sums and products when every frequency and error\n"
    "                 rate used is finite (-inf for exactly 0, nan below 0), else\n"
    "                 -inf for 0 and inf for inf\n"
    "  --isa=NAME     run the instruction set NAME: plain, avx2 (x86-64 only) or\n"
    "                 best, the best this processor runs (default: best)\n"
    "  --debug        write the instruction set that runs on standard error, and\n"
    "                 at the end how many numbers took the C library's slow path\n"
    "  --help         show this text and exit (as the first word only)\n"
    "  --version      show the version and exit (as the first word only)\n"
    "\n"
    "Exit status: 0 on success; 2 on any failure, with a message on standard error.\n"
    "Manual: man tarvo (in the sources: docs/tarvo.md)\n";
const char VERSION[] = "tarvo " TARVO_OSTREL_VERSION "\n";

// The last write of a run, checked like every other.
void flush()
{
    if (fflush(stdout) != 0)
        error("(tarvoprob) Error writing output: %s\n", strerror(errno));
}

// What the command line asks for.
struct options {
    int ploidy = -1, numalleles = DEFAULT_SITES;
    bool logs = false, all = false;
    bool debug = false; // --debug
    // -a without -t has no count, so the observations are counted in a
    // long: such a stream may hold more of them than an int counts.
    long last = LONG_MAX;
};

options parse(int argc, char **argv)
{
    const char optstring[] = "p:t:n:la";
    options o;
    int numobs = 0, c;
    bool counted = false;
    const isa_request r = isa_switch(argc, argv, optstring, tarvo_paths);
    if (r.refused) {
        // As getopt's diagnostics come before the usage text.
        fputs(r.refused, stderr);
        usage();
    }
    o.debug = r.debug;
    while ((c = getopt(r.argc, argv, optstring)) != -1) {
        switch (c) {
        case 'p':
            o.ploidy = (int)strtol(optarg, nullptr, 10);
            break;
        case 't':
            numobs = (int)strtol(optarg, nullptr, 10);
            counted = true;
            break;
        case 'n':
            o.numalleles = (int)strtol(optarg, nullptr, 10);
            break;
        case 'l':
            o.logs = true;
            break;
        case 'a':
            o.all = true;
            break;
        default:
            usage();
        }
    }
    if ((numobs <= 0 && (counted || !o.all)) || (o.ploidy != 1 && o.ploidy != 2))
        usage();
    if (counted)
        o.last = numobs;
    return o;
}

// The parts of the observation on the given line, read into ob.
struct reader {
    input &in;
    observation &ob;
    int numalleles;
    long line;

    void codes()
    {
        for (int g = 0; g < numalleles;) {
            if (g == ob.cap)
                grow(ob, numalleles);
            // Everyday codes in one go, as far as the storage reaches; the
            // rest one at a time.
            int run = scan_codes(&in.sc, ob.codes + g,
                                 (numalleles < ob.cap ? numalleles : ob.cap) - g);
            if (run > 0) {
                g += run;
                continue;
            }
            if (!scan_int(&in.sc, &ob.codes[g]))
                error("(tarvoprob) Error reading allele %d on line %ld\n", g, line);
            int k = ob.codes[g];
            if (!valid_code(k))
                error("(tarvoprob) Invalid allele code %d for allele %d on line %ld\n", k, g,
                      line);
            g++;
        }
    }

    void freqs()
    {
        int got = scan_doubles(&in.sc, ob.freq, FREQS);
        if (got < FREQS)
            error("(tarvoprob) Error reading probability of allele %d in population %d on "
                  "line %ld\n", got % NBASES, got / NBASES, line);
    }

    void eps()
    {
        int got;
        if (numalleles > 0 && (got = scan_doubles(&in.sc, ob.eps, numalleles)) < numalleles)
            error("(tarvoprob) Error reading eps of allele %d on line %ld\n", got, line);
    }
};

void read_observation(input &in, observation &ob, int numalleles, long line)
{
    reader r{in, ob, numalleles, line};
    each_part(r);
}

// Scores ob and writes its line: the likelihood of each state as %e or,
// with -l, its logarithm by the rule of log_observation as %.6f.
void write_line(const options &o, const double *table, const observation &ob)
{
    const int ns = nstates(o.ploidy);
    double L[MAX_STATES];
    char text[MAX_STATES * (FMT_F_MAX + 1)], *p = text;
    if (o.logs)
        log_observation(table, o.ploidy, o.numalleles, ob.codes, ob.eps, ob.freq, L);
    else
        score_observation(table, o.ploidy, o.numalleles, ob.codes, ob.eps, ob.freq, L);
    for (int s = 0; s < ns; s++) {
        p = o.logs ? fmt_f(p, L[s]) : fmt_e(p, L[s]);
        *p++ = s < ns - 1 ? '\t' : '\n';
    }
    emit(text, p - text);
}

} // namespace

int main(int argc, char **argv)
{
    if (const char *text = about(argc, argv, HELP, VERSION))
        say(text, "(tarvoprob) Error writing output");
    const options o = parse(argc, argv);
    if (o.debug)
        isa_report(tarvo_paths);
    double table[TABLE_SIZE];
    build_table(o.ploidy, table);

    // Static for the input's size; the fuzz harness runs main many times in
    // one process, so each run sets up the input afresh and keeps the
    // storage the earlier runs grew.
    static observation ob;
    static input in;
    grow(ob, DEFAULT_SITES);
    scan_open(&in.sc, 0, in.buf, INPUT_BUFFER);
    in.start = lseek(0, 0, SEEK_CUR);
    at_exit(give_back, &in);
    // A terminal keeps its line buffering so each line shows as it is made.
    if (!isatty(1))
        setvbuf(stdout, nullptr, _IOFBF, OUTPUT_BUFFER);

    // With -a, white space after the last observation is part of the end;
    // once the -t count is read, nothing past it is.
    for (long r = 0; r < o.last && !(o.all && scan_ended(&in.sc)); r++) {
        read_observation(in, ob, o.numalleles, r + 1);
        write_line(o, table, ob);
    }
    flush();
    // Numbers in forms the fast layers do not take (hexadecimal, very long
    // mantissas, odd exponents) cost many times more: the count tells why
    // a run is slow.
    if (o.debug)
        fprintf(stderr, "tarvo: %zu numbers read by the C library's scanf\n", in.sc.slowed);
    return 0;
}
