#ifndef TARVO_HMM_LOCI_H
#define TARVO_HMM_LOCI_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The kept loci, all that the estimation and the posteriors need: per
// locus its emissions exp(lnL_k - max) (so the likeliest state has 1),
// the Morgans from the kept locus before it, and its position. That is
// (states + 2) * 8 bytes; the posteriors add states * 8 more.
struct chrom_span {
    std::string name;
    size_t first, count;
};

struct loci {
    int states = 0;
    size_t n = 0, cap = 0;
    double *rec = nullptr; // per locus: states emissions, then Morgans (0 at a chromosome's first)
    uint64_t *pos = nullptr;
    double shift = 0, shift_c = 0; // sum of the maxima taken out, and its compensation
    std::vector<chrom_span> chroms;
    size_t left_out = 0;
};

// Keeps memory at what the loci fill: arrays past a megabyte are mapped
// pages, which realloc moves rather than copies.
void loci_init(loci *l, int states);
void loci_add(loci *l, const double *lnl, double morgans, uint64_t pos);
void loci_free(loci *l);

inline size_t stride(const loci &l)
{
    return static_cast<size_t>(l.states) + 1;
}

#endif
