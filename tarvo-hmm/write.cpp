#include "tarvo-hmm/write.h"

#include "common/observation.h"
#include "tarvo-hmm/out.h"
#include "tarvo/fmt.h"

#include <charconv>
#include <cstring>
#include <string>
#include <vector>

char *numfmt::put(char *at, double v, int decimals) const
{
    if (digits)
        return at + snprintf(at, 32, "%.*g", digits, v);
    if (decimals == 6)
        return fmt_f(at, v);
    return at + snprintf(at, 400, "%.*f", decimals, v);
}

namespace {

void tab_put(std::string &s, const numfmt &f, double v, int decimals)
{
    char buf[FMT_F_MAX + 1];
    s += '\t';
    s.append(buf, f.put(buf, v, decimals));
}

void tab_count(std::string &s, uint64_t v)
{
    char num[24];
    s += '\t';
    s.append(num, std::to_chars(num, num + sizeof num, v).ptr);
}

void write_heads(const std::vector<std::string> &names, FILE *tracts)
{
    std::string line = "#chrom\tpos";
    for (const std::string &n : names)
        line += "\tpost_" + n;
    line += "\tpop1_copies\n";
    out_write(stdout, "standard output", line.data(), line.size());
    if (tracts) {
        static const char head[] = "#chrom\tstart\tend\tstate\tloci\tmean_posterior\n";
        out_write(tracts, "the tracts", head, sizeof head - 1);
    }
}

// A run of loci of one most probable state, as it grows.
struct tract {
    int state = -1;
    size_t run = 0;
    uint64_t start = 0;
    double sum = 0; // of the state's posteriors
};

// A tract as a BED line: its start counted from 0, its end the position
// of its last locus.
void write_tract(FILE *out, const std::string &chrom, const tract &t, uint64_t end,
                 const std::string &state, const numfmt &f)
{
    std::string s = chrom;
    tab_count(s, t.start - 1);
    tab_count(s, end);
    s += '\t';
    s += state;
    tab_count(s, t.run);
    tab_put(s, f, t.sum / static_cast<double>(t.run), 6);
    s += '\n';
    out_write(out, "the tracts", s.data(), s.size());
}

// A locus's posterior line into lb, which begins with its chromosome's
// name and a tab (at bytes), with room for every number at its widest.
void write_posterior(std::vector<char> &lb, size_t at, uint64_t pos, const double *p, int S,
                     const numfmt &f)
{
    char *w = std::to_chars(lb.data() + at, lb.data() + lb.size(), pos).ptr;
    double copies = 0;
    for (int k = 0; k < S; k++) {
        *w++ = '\t';
        w = f.put(w, p[k], 6);
        copies += k * p[k];
    }
    *w++ = '\t';
    w = f.put(w, copies, 6);
    *w++ = '\n';
    out_write(stdout, "standard output", lb.data(), static_cast<size_t>(w - lb.data()));
}

// The most probable of the S states, the lower on a tie.
int likeliest(const double *p, int S)
{
    int best = 0;
    for (int k = 1; k < S; k++)
        best = p[k] > p[best] ? k : best;
    return best;
}

} // namespace

void write_loci(const loci &l, const double *post, const numfmt &f, FILE *tracts)
{
    const int S = l.states;
    std::vector<std::string> names;
    for (int k = 0; k < S; k++)
        names.push_back(state_name(S - 1, k));
    write_heads(names, tracts);
    std::vector<char> lb;
    for (const chrom_span &c : l.chroms) {
        // The line: the name once, then position and numbers, each number
        // at most FMT_F_MAX bytes.
        lb.resize(c.name.size() + 32 + (S + 1) * (FMT_F_MAX + 1));
        memcpy(lb.data(), c.name.data(), c.name.size());
        lb[c.name.size()] = '\t';
        tract t;
        for (size_t i = c.first; i < c.first + c.count; i++) {
            const double *p = post + i * S;
            const int best = likeliest(p, S);
            if (tracts && t.run && best != t.state) {
                write_tract(tracts, c.name, t, l.pos[i - 1], names[t.state], f);
                t.run = 0;
            }
            if (!t.run)
                t = {best, 0, l.pos[i], 0};
            t.run++;
            t.sum += p[best];
            write_posterior(lb, c.name.size() + 1, l.pos[i], p, S, f);
        }
        if (tracts && t.run)
            write_tract(tracts, c.name, t, l.pos[c.first + c.count - 1], names[t.state], f);
    }
}

namespace {

// An estimate and its interval, or "." for the interval of a fixed one.
void tab_estimate(std::string &s, const numfmt &f, double v, double lo, double hi, bool fixed,
                  int decimals)
{
    tab_put(s, f, v, decimals);
    if (fixed) {
        s += "\t.\t.";
        return;
    }
    tab_put(s, f, lo, decimals);
    tab_put(s, f, hi, decimals);
}

} // namespace

void write_summary(FILE *out, const loci &l, const estimate &e, double lnl, const numfmt &f)
{
    std::string s = "#loci\tchromosomes\tleft_out\tproportion\tproportion_low\tproportion_high"
                    "\tgenerations\tgenerations_low\tgenerations_high\tlnL\n";
    s += std::to_string(l.n) + '\t' + std::to_string(l.chroms.size()) + '\t' +
         std::to_string(l.left_out);
    tab_estimate(s, f, e.m, e.m_lo, e.m_hi, e.m_fixed, 6);
    tab_estimate(s, f, e.T, e.T_lo, e.T_hi, e.T_fixed, 2);
    tab_put(s, f, lnl, 6);
    s += '\n';
    out_write(out, "the summary", s.data(), s.size());
}
