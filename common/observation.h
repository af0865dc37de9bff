#ifndef COMMON_OBSERVATION_H
#define COMMON_OBSERVATION_H

// The contract between the programs that write observations (tarvo-pileup,
// gen_tarvo) and tarvo, which reads them, and between the per-locus table
// and tarvo-hmm, which reads it. common/observation.py states the same for
// the Python scripts: a change here is a change there.
//
// An observation is one locus of one individual, on one line of items
// separated by white space, in the order of each_part below:
//
//   n base codes, one a read;  FREQS frequencies;  n error rates
//
// n is -n, the same at both ends of a pipe. A locus with fewer than n
// reads is padded with MISSING; the error rate beside a MISSING code is
// never used.

#include <string>

// A read's base code is its place in BASES. MISSING is a digit of its own,
// so that every valid code is one byte on the line.
constexpr char BASES[] = "ACGT";
constexpr int NBASES = sizeof BASES - 1;
enum { MISSING = 5 };
static_assert(MISSING >= NBASES && MISSING <= 9, "a code is one digit");

constexpr bool valid_code(int k)
{
    return (k >= 0 && k < NBASES) || k == MISSING;
}

// Reads an observation holds unless -n says otherwise; the text is what
// --help shows, and the number is read from it so the two cannot differ.
#define DEFAULT_SITES_TEXT "50"

constexpr int text_value(const char *s, int v = 0)
{
    return *s ? text_value(s + 1, v * 10 + (*s - '0')) : v;
}
constexpr int DEFAULT_SITES = text_value(DEFAULT_SITES_TEXT);

// The frequencies of A, C, G, T in population 0, then in population 1.
constexpr int POPULATIONS = 2;
constexpr int FREQS = POPULATIONS * NBASES;

// The order of the parts on the line, for the reader and every writer:
// each passes its own codes(), freqs() and eps(), which read or write
// that part where the one before it ended.
template <class Parts> void each_part(Parts &parts)
{
    parts.codes();
    parts.freqs();
    parts.eps();
}

// The ancestry states an observation is scored for: k copies from
// population 1, k from 0 to the ploidy (1 or 2).
constexpr int MAX_PLOIDY = 2;
constexpr int nstates(int ploidy)
{
    return ploidy + 1;
}
constexpr int MAX_STATES = nstates(MAX_PLOIDY);

// The per-locus table names its column of state k's log-likelihood
// LNL_PREFIX + state_name(ploidy, k).
constexpr char LNL_PREFIX[] = "lnL_";

// The name of state k at the given ploidy: pop0 and pop1 for one copy,
// pop0_pop0, pop0_pop1 and pop1_pop1 for two. Every column header and
// tract label is made from it.
inline std::string state_name(int ploidy, int k)
{
    std::string s;
    for (int c = 0; c < ploidy; c++) {
        if (c)
            s += '_';
        s += c < ploidy - k ? "pop0" : "pop1";
    }
    return s;
}

#endif
