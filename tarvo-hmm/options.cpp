#include "tarvo-hmm/options.h"

#include "common/about.h"
#include "common/error.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

const char HELP[] =
    "tarvo-hmm: local ancestry along the genome. Reads the per-locus table of\n"
    "ancestry-state log-likelihoods (#chrom pos ... lnL_...) and writes each\n"
    "locus's posterior state probabilities, found by a hidden Markov model of a\n"
    "single pulse of admixture T generations ago with a share m from\n"
    "population 1; m and T are estimated by maximum likelihood unless given.\n"
    "\n"
    "usage: tarvo-hmm [options] [table]     (no table or -: standard input)\n"
    "\n"
    "  -m P            fix the proportion from population 1 (0 < P < 1)\n"
    "  -g T            fix the generations since admixture (T > 0)\n"
    "  --map FILE      genetic map, PLINK .map (chrom id cM bp), interpolated\n"
    "  -r RATE         without a map: centimorgans per megabase (default 1)\n"
    "  -d CM           keep a locus only CM centimorgans or more after the last\n"
    "                  kept one of its chromosome (default 0: keep all)\n"
    "  --tracts FILE   write the tracts of most probable state (BED, header)\n"
    "  --summary FILE  write loci, chromosomes, left out, proportion, generations\n"
    "                  with 95% profile-likelihood intervals, and lnL\n"
    "  --digits N      print numbers with N significant digits (for checks)\n"
    "  -v              report each likelihood pass on standard error\n"
    "  --help          show this text and exit (as the first word only)\n"
    "  --version       show the version and exit (as the first word only)\n"
    "\n"
    "Standard output: #chrom pos post_<state>... pop1_copies, one line per kept\n"
    "locus. Exit status: 0 on success; 2 on any failure, with a message.\n"
    "Manual: man tarvo-hmm (in the sources: docs/tarvo-hmm.md)\n";
const char VERSION[] = "tarvo-hmm " TARVO_OSTREL_VERSION "\n";

namespace {

const char USAGE[] = "usage: tarvo-hmm [-m P] [-g T] [--map FILE | -r RATE] [-d CM] "
                     "[--tracts FILE] [--summary FILE] [-v] [table]\n";

double number(const char *opt, const char *arg)
{
    char *end;
    errno = 0;
    double v = strtod(arg, &end);
    if (errno || end == arg || *end || !std::isfinite(v))
        error("tarvo-hmm: %s %s: not a number\n", opt, arg);
    return v;
}

enum { MAP = 256, TRACTS, SUMMARY, DIGITS };

// Option c with its argument into o.
void take(options &o, int c, const char *arg)
{
    switch (c) {
    case 'm':
        o.m = number("-m", arg);
        if (!(o.m > 0 && o.m < 1))
            error("tarvo-hmm: -m %s: the proportion must lie between 0 and 1, both "
                  "excluded\n",
                  arg);
        break;
    case 'g':
        o.T = number("-g", arg);
        if (!(o.T > 0))
            error("tarvo-hmm: -g %s: the generations must be positive\n", arg);
        break;
    case 'r':
        o.rate = number("-r", arg);
        if (!(o.rate > 0))
            error("tarvo-hmm: -r %s: the rate must be positive\n", arg);
        break;
    case 'd':
        o.thin = number("-d", arg);
        if (!(o.thin >= 0))
            error("tarvo-hmm: -d %s: the distance must not be negative\n", arg);
        break;
    case MAP:
        o.map = arg;
        break;
    case TRACTS:
        o.tracts = arg;
        break;
    case SUMMARY:
        o.summary = arg;
        break;
    case DIGITS: {
        double d = number("--digits", arg);
        if (!(d >= 1 && d <= 17 && d == std::floor(d)))
            error("tarvo-hmm: --digits %s: not a whole number from 1 to 17\n", arg);
        o.digits = static_cast<int>(d);
        break;
    }
    case 'v':
        o.verbose = true;
        break;
    default:
        error("%s", USAGE);
    }
}

} // namespace

options parse(int argc, char **argv)
{
    static const option longs[] = {{"map", required_argument, nullptr, MAP},
                                   {"tracts", required_argument, nullptr, TRACTS},
                                   {"summary", required_argument, nullptr, SUMMARY},
                                   {"digits", required_argument, nullptr, DIGITS},
                                   {nullptr, 0, nullptr, 0}};
    options o;
    int c;
    while ((c = getopt_long(argc, argv, "m:g:r:d:v", longs, nullptr)) != -1)
        take(o, c, optarg);
    if (argc - optind > 1)
        error("%s", USAGE);
    if (optind < argc && strcmp(argv[optind], "-") != 0)
        o.input = argv[optind];
    return o;
}
