// tarvo-hmm: per-locus log-likelihoods of ancestry states to posteriors
// along each chromosome, ancestry tracts, and the admixture proportion and
// date with their intervals.

#include "common/about.h"
#include "common/error.h"
#include "common/io.h"
#include "tarvo-hmm/fit.h"
#include "tarvo-hmm/gmap.h"
#include "tarvo-hmm/load.h"
#include "tarvo-hmm/loci.h"
#include "tarvo-hmm/model.h"
#include "tarvo-hmm/options.h"
#include "tarvo-hmm/out.h"
#include "tarvo-hmm/write.h"

#include <cstdio>
#include <vector>

namespace {

// The locus where the posteriors' pass found no state possible ends the
// run, named by its chromosome and position.
[[noreturn]] void impossible(const char *name, const loci &l, size_t bad)
{
    size_t c = 0;
    while (c + 1 < l.chroms.size() && l.chroms[c + 1].first <= bad)
        c++;
    error("tarvo-hmm: %s: no state is possible at %s %llu given the loci before it on "
          "its chromosome (they are too close on the genetic map for the change of "
          "state the log-likelihoods demand)\n",
          name, l.chroms[c].name.c_str(), (unsigned long long)l.pos[bad]);
}

// What the estimate leaves a user to know: a maximum on a bound, and with
// -v the passes it took.
void report(const estimate &e, bool verbose)
{
    if (e.m_edge)
        fprintf(stderr, "tarvo-hmm: warning: the likelihood is highest at the bound of the "
                        "proportion searched, %g; the estimate is that bound\n", e.m);
    if (e.T_edge)
        fprintf(stderr, "tarvo-hmm: warning: the likelihood is highest at the bound of the "
                        "generations searched, %g; the estimate and that side of its interval "
                        "are that bound\n", e.T);
    if (verbose)
        fprintf(stderr, "tarvo-hmm: %d passes to the estimate, %d for the intervals, 1 for the "
                        "posteriors\n", e.passes_fit, e.passes_interval);
}

// Standard output, the tracts and the summary; the files appear under
// their names only once all are written.
void write_outputs(const options &o, const loci &l, const double *post, const estimate &e,
                   double lnl)
{
    const numfmt f{o.digits};
    static outfile tracts, summary;
    if (o.tracts)
        out_open(&tracts, o.tracts);
    if (o.summary)
        out_open(&summary, o.summary);
    static char obuf[1 << 16];
    setvbuf(stdout, obuf, _IOFBF, sizeof obuf);
    write_loci(l, post, f, o.tracts ? tracts.f : nullptr);
    if (o.summary)
        write_summary(summary.f, l, e, lnl, f);
    out_close(stdout, "standard output");
    if (o.tracts)
        out_commit(&tracts);
    if (o.summary)
        out_commit(&summary);
}

} // namespace

int main(int argc, char **argv)
{
    if (const char *text = about(argc, argv, HELP, VERSION))
        say(text, "tarvo-hmm: cannot write standard output");
    const options o = parse(argc, argv);

    static gmap g;
    g.rate = o.rate;
    if (o.map)
        gmap_read(&g, o.map);
    static loci l;
    const char *name = load(o, g, &l);

    estimate e = fit(l, o.m, o.T, o.verbose);
    std::vector<double> post(l.n * static_cast<size_t>(l.states));
    pass p = e.bad == NO_LOCUS ? posteriors(l, e.m, e.T, post.data()) : pass{0, {}, {}, e.bad};
    if (p.bad != NO_LOCUS)
        impossible(name, l, p.bad);
    report(e, o.verbose);
    write_outputs(o, l, post.data(), e, p.lnl);
    loci_free(&l);
    return 0;
}
