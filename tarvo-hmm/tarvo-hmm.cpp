// tarvo-hmm: per-locus log-likelihoods of ancestry states to posteriors
// along each chromosome, ancestry tracts, and the admixture proportion and
// date with their intervals.

#include "common/about.h"
#include "common/error.h"
#include "common/observation.h"
#include "tarvo-hmm/fit.h"
#include "tarvo-hmm/gmap.h"
#include "tarvo-hmm/loci.h"
#include "tarvo-hmm/model.h"
#include "tarvo-hmm/numbers.h"
#include "tarvo-hmm/out.h"
#include "common/lines.h"
#include "tarvo-hmm/table.h"
#include "tarvo/fmt.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <string>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace {

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
const char USAGE[] = "usage: tarvo-hmm [-m P] [-g T] [--map FILE | -r RATE] [-d CM] "
                     "[--tracts FILE] [--summary FILE] [-v] [table]\n";

[[noreturn]] void say(const char *text)
{
    size_t n = strlen(text);
    if (write(1, text, n) != static_cast<ssize_t>(n))
        error("tarvo-hmm: cannot write standard output: %s\n", strerror(errno));
    exit(0);
}

double number(const char *opt, const char *arg)
{
    char *end;
    errno = 0;
    double v = strtod(arg, &end);
    if (errno || end == arg || *end || !std::isfinite(v))
        error("tarvo-hmm: %s %s: not a number\n", opt, arg);
    return v;
}

struct options {
    double m = NAN, T = NAN, rate = 1, thin = 0;
    const char *map = nullptr, *tracts = nullptr, *summary = nullptr, *input = nullptr;
    int digits = 0; // 0: the fixed formats
    bool verbose = false;
};

options parse(int argc, char **argv)
{
    enum { MAP = 256, TRACTS, SUMMARY, DIGITS };
    static const option longs[] = {{"map", required_argument, nullptr, MAP},
                                   {"tracts", required_argument, nullptr, TRACTS},
                                   {"summary", required_argument, nullptr, SUMMARY},
                                   {"digits", required_argument, nullptr, DIGITS},
                                   {nullptr, 0, nullptr, 0}};
    options o;
    int c;
    while ((c = getopt_long(argc, argv, "m:g:r:d:v", longs, nullptr)) != -1) {
        switch (c) {
        case 'm':
            o.m = number("-m", optarg);
            if (!(o.m > 0 && o.m < 1))
                error("tarvo-hmm: -m %s: the proportion must lie between 0 and 1, both "
                      "excluded\n",
                      optarg);
            break;
        case 'g':
            o.T = number("-g", optarg);
            if (!(o.T > 0))
                error("tarvo-hmm: -g %s: the generations must be positive\n", optarg);
            break;
        case 'r':
            o.rate = number("-r", optarg);
            if (!(o.rate > 0))
                error("tarvo-hmm: -r %s: the rate must be positive\n", optarg);
            break;
        case 'd':
            o.thin = number("-d", optarg);
            if (!(o.thin >= 0))
                error("tarvo-hmm: -d %s: the distance must not be negative\n", optarg);
            break;
        case MAP:
            o.map = optarg;
            break;
        case TRACTS:
            o.tracts = optarg;
            break;
        case SUMMARY:
            o.summary = optarg;
            break;
        case DIGITS: {
            double d = number("--digits", optarg);
            if (!(d >= 1 && d <= 17 && d == std::floor(d)))
                error("tarvo-hmm: --digits %s: not a whole number from 1 to 17\n", optarg);
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
    if (argc - optind > 1)
        error("%s", USAGE);
    if (optind < argc && strcmp(argv[optind], "-") != 0)
        o.input = argv[optind];
    return o;
}

// Reads the table into l, keeping the loci that thinning leaves.
void load(const options &o, gmap &g, lines *in, loci *l)
{
    const char *p;
    size_t len;
    table t;
    t.name = in->name;
    if (!next_line(in, &p, &len))
        error("tarvo-hmm: %s, line 1: no header; the input is empty\n", in->name);
    table_header(&t, p, len);
    loci_init(l, t.states);

    std::unordered_set<std::string> done;
    std::string chrom;
    gmap_walk w{};
    uint64_t last = 0;
    double kept_cm = 0;
    row r;
    while (next_line(in, &p, &len)) {
        table_row(&t, p, len, in->line, &r);
        bool first = r.chrom_len != chrom.size() || memcmp(r.chrom, chrom.data(), chrom.size()) != 0;
        if (first) {
            if (!chrom.empty())
                done.insert(chrom);
            chrom.assign(r.chrom, r.chrom_len);
            if (done.count(chrom))
                error("tarvo-hmm: %s, line %ld: chromosome %s again, after others; the table "
                      "has each chromosome's loci together\n",
                      in->name, in->line, chrom.c_str());
            if (!gmap_start(&g, chrom, &w))
                error("tarvo-hmm: %s, line %ld: chromosome %s is not in the map %s\n", in->name,
                      in->line, chrom.c_str(), o.map);
            l->chroms.push_back({chrom, l->n, 0});
        } else if (r.pos <= last) {
            error("tarvo-hmm: %s, line %ld: position %llu of %s is not above the one before, "
                  "%llu\n",
                  in->name, in->line, (unsigned long long)r.pos, chrom.c_str(),
                  (unsigned long long)last);
        }
        // Without a map the distance comes from the positions' difference,
        // exact whatever their size.
        double cm = o.map ? gmap_cm(&w, r.pos) : 0;
        double step = first  ? 0
                      : o.map ? cm - kept_cm
                              : static_cast<double>(r.pos - l->pos[l->n - 1]) * o.rate * 1e-6;
        last = r.pos;
        if (!first && step < o.thin) {
            l->left_out++;
            continue;
        }
        loci_add(l, r.lnl, first ? 0 : step / 100, r.pos);
        l->chroms.back().count++;
        kept_cm = cm;
    }
    if (l->n == 0)
        error("tarvo-hmm: %s, line %ld: no loci; the table ends after its header\n", in->name,
              in->line + 1);
}

// Numbers in the output: the fixed formats, or --digits significant ones.
struct numfmt {
    int digits;
    char *put(char *at, double v, int decimals) const
    {
        if (digits)
            return at + snprintf(at, 32, "%.*g", digits, v);
        if (decimals == 6)
            return fmt_f(at, v);
        return at + snprintf(at, 400, "%.*f", decimals, v);
    }
};

void tab_put(std::string &s, const numfmt &f, double v, int decimals)
{
    char buf[FMT_F_MAX + 1];
    s += '\t';
    s.append(buf, f.put(buf, v, decimals));
}

// Posterior lines on standard output and the tracts, in the input's order.
void write_loci(const loci &l, const double *post, const numfmt &f, FILE *tracts)
{
    const int S = l.states, P = S - 1;
    std::vector<std::string> names;
    for (int k = 0; k < S; k++)
        names.push_back(state_name(P, k));
    std::string line = "#chrom\tpos";
    for (int k = 0; k < S; k++)
        line += "\tpost_" + names[k];
    line += "\tpop1_copies\n";
    out_write(stdout, "standard output", line.data(), line.size());
    if (tracts) {
        static const char head[] = "#chrom\tstart\tend\tstate\tloci\tmean_posterior\n";
        out_write(tracts, "the tracts", head, sizeof head - 1);
    }
    std::string tr;
    std::vector<char> lb;
    char num[24];
    for (const chrom_span &c : l.chroms) {
        // The line: the name once, then position and numbers, each number
        // at most FMT_F_MAX bytes.
        lb.resize(c.name.size() + 32 + (S + 1) * (FMT_F_MAX + 1));
        memcpy(lb.data(), c.name.data(), c.name.size());
        lb[c.name.size()] = '\t';
        int state = -1;
        size_t run = 0;
        uint64_t start = 0;
        double sum = 0;
        for (size_t i = c.first; i <= c.first + c.count; i++) {
            const double *p = post + i * S;
            int best = 0;
            if (i < c.first + c.count)
                for (int k = 1; k < S; k++)
                    best = p[k] > p[best] ? k : best;
            if (tracts && run && (i == c.first + c.count || best != state)) {
                tr = c.name;
                tr += '\t';
                tr.append(num, std::to_chars(num, num + sizeof num, start - 1).ptr);
                tr += '\t';
                tr.append(num, std::to_chars(num, num + sizeof num, l.pos[i - 1]).ptr);
                tr += '\t';
                tr += names[state];
                tr += '\t';
                tr.append(num, std::to_chars(num, num + sizeof num, run).ptr);
                tab_put(tr, f, sum / static_cast<double>(run), 6);
                tr += '\n';
                out_write(tracts, "the tracts", tr.data(), tr.size());
                run = 0;
            }
            if (i == c.first + c.count)
                break;
            if (!run) {
                state = best;
                start = l.pos[i];
                sum = 0;
            }
            run++;
            sum += p[best];

            char *at = std::to_chars(lb.data() + c.name.size() + 1, lb.data() + lb.size(),
                                     l.pos[i]).ptr;
            double copies = 0;
            for (int k = 0; k < S; k++) {
                *at++ = '\t';
                at = f.put(at, p[k], 6);
                copies += k * p[k];
            }
            *at++ = '\t';
            at = f.put(at, copies, 6);
            *at++ = '\n';
            out_write(stdout, "standard output", lb.data(), static_cast<size_t>(at - lb.data()));
        }
    }
}

void write_summary(FILE *out, const loci &l, const estimate &e, double lnl, const numfmt &f)
{
    std::string s = "#loci\tchromosomes\tleft_out\tproportion\tproportion_low\tproportion_high"
                    "\tgenerations\tgenerations_low\tgenerations_high\tlnL\n";
    s += std::to_string(l.n) + '\t' + std::to_string(l.chroms.size()) + '\t' +
         std::to_string(l.left_out);
    tab_put(s, f, e.m, 6);
    if (e.m_fixed) {
        s += "\t.\t.";
    } else {
        tab_put(s, f, e.m_lo, 6);
        tab_put(s, f, e.m_hi, 6);
    }
    tab_put(s, f, e.T, 2);
    if (e.T_fixed) {
        s += "\t.\t.";
    } else {
        tab_put(s, f, e.T_lo, 2);
        tab_put(s, f, e.T_hi, 2);
    }
    tab_put(s, f, lnl, 6);
    s += '\n';
    out_write(out, "the summary", s.data(), s.size());
}

} // namespace

int main(int argc, char **argv)
{
    if (const char *text = about(argc, argv, HELP, VERSION))
        say(text);
    const options o = parse(argc, argv);

    static gmap g;
    g.rate = o.rate;
    if (o.map)
        gmap_read(&g, o.map);

    int fd = 0;
    const char *name = "standard input";
    if (o.input) {
        fd = open(o.input, O_RDONLY);
        if (fd < 0)
            error("tarvo-hmm: cannot open %s: %s\n", o.input, strerror(errno));
        name = o.input;
    }
    static lines in;
    lines_open(&in, fd, name, "tarvo-hmm");
    static loci l;
    load(o, g, &in, &l);
    lines_close(&in);
    if (fd)
        close(fd);

    estimate e = fit(l, o.m, o.T, o.verbose);
    std::vector<double> post(l.n * static_cast<size_t>(l.states));
    pass p = e.bad == NO_LOCUS ? posteriors(l, e.m, e.T, post.data()) : pass{0, {}, {}, e.bad};
    if (p.bad != NO_LOCUS) {
        size_t c = 0;
        while (c + 1 < l.chroms.size() && l.chroms[c + 1].first <= p.bad)
            c++;
        error("tarvo-hmm: %s: no state is possible at %s %llu given the loci before it on "
              "its chromosome (they are too close on the genetic map for the change of "
              "state the log-likelihoods demand)\n",
              name, l.chroms[c].name.c_str(), (unsigned long long)l.pos[p.bad]);
    }
    if (e.m_edge)
        fprintf(stderr, "tarvo-hmm: warning: the likelihood is highest at the bound of the "
                        "proportion searched, %g; the estimate is that bound\n", e.m);
    if (e.T_edge)
        fprintf(stderr, "tarvo-hmm: warning: the likelihood is highest at the bound of the "
                        "generations searched, %g; the estimate and that side of its interval "
                        "are that bound\n", e.T);
    if (o.verbose)
        fprintf(stderr, "tarvo-hmm: %d passes to the estimate, %d for the intervals, 1 for the "
                        "posteriors\n", e.passes_fit, e.passes_interval);

    const numfmt f{o.digits};
    static outfile tracts, summary;
    if (o.tracts)
        out_open(&tracts, o.tracts);
    if (o.summary)
        out_open(&summary, o.summary);
    static char obuf[1 << 16];
    setvbuf(stdout, obuf, _IOFBF, sizeof obuf);
    write_loci(l, post.data(), f, o.tracts ? tracts.f : nullptr);
    if (o.summary)
        write_summary(summary.f, l, e, p.lnl, f);
    out_close(stdout, "standard output");
    if (o.tracts)
        out_commit(&tracts);
    if (o.summary)
        out_commit(&summary);
    loci_free(&l);
    return 0;
}
