// tarvo: likelihood of each ancestry state for a stream of observations.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "common/error.h"
#include "tarvo/fmt.h"
#include "tarvo/likelihood.h"
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

void emit(const char *text, size_t n)
{
    if (fwrite(text, 1, n, stdout) != n)
        error("(tarvoprob) Error writing output: %s\n", strerror(errno));
}

} // namespace

int main(int argc, char **argv)
{
    int ploidy = -1, numobs = 0, numalleles = DEFAULT_SITES;
    int c;

    while ((c = getopt(argc, argv, "p:t:n:")) != -1) {
        switch (c) {
        case 'p':
            ploidy = (int)strtol(optarg, nullptr, 10);
            break;
        case 't':
            numobs = (int)strtol(optarg, nullptr, 10);
            break;
        case 'n':
            numalleles = (int)strtol(optarg, nullptr, 10);
            break;
        default:
            usage();
        }
    }
    if (numobs <= 0 || (ploidy != 1 && ploidy != 2))
        usage();

    double table[TABLE_SIZE];
    build_table(ploidy, table);
    const int ns = nstates(ploidy);

    grow(DEFAULT_SITES);
    scanner in;
    scan_open(&in, 0, inbuf, INPUT_BUFFER);
    // A terminal keeps its line buffering so each line shows as it is made.
    if (!isatty(1))
        setvbuf(stdout, nullptr, _IOFBF, OUTPUT_BUFFER);

    double freq[8], L[3];
    char text[3 * (FMT_E_MAX + 1)];
    for (int r = 0; r < numobs; r++) {
        const int line = r + 1;
        for (int g = 0; g < numalleles; g++) {
            if (g == cap)
                grow(numalleles);
            // Everyday codes in one go; the rest, and any code after them,
            // one at a time.
            g += scan_codes(&in, codes + g, (numalleles < cap ? numalleles : cap) - g);
            if (g == numalleles)
                break;
            if (g == cap)
                grow(numalleles);
            if (!scan_int(&in, &codes[g]))
                error("(tarvoprob) Error reading allele %d on line %d\n", g, line);
            int k = codes[g];
            if ((k < 0 || k > 3) && k != MISSING)
                error("(tarvoprob) Invalid allele code %d for allele %d on line %d\n",
                      k, g, line);
        }
        int got = scan_doubles(&in, freq, 8);
        if (got < 8)
            error("(tarvoprob) Error reading probability of allele %d in population %d on "
                  "line %d\n", got % 4, got / 4, line);
        if (numalleles > 0 && (got = scan_doubles(&in, eps, numalleles)) < numalleles)
            error("(tarvoprob) Error reading eps of allele %d on line %d\n", got, line);

        score_observation(table, ploidy, numalleles, codes, eps, freq, L);
        char *p = text;
        for (int s = 0; s < ns; s++) {
            p = fmt_e(p, L[s]);
            *p++ = s < ns - 1 ? '\t' : '\n';
        }
        emit(text, p - text);
    }
    if (fflush(stdout) != 0)
        error("(tarvoprob) Error writing output: %s\n", strerror(errno));
    return 0;
}
