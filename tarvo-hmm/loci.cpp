#include "tarvo-hmm/loci.h"

#include "common/error.h"

#include <cmath>
#include <cstdlib>
#include <malloc.h>

void loci_init(loci *l, int states)
{
    // A fixed threshold also turns off glibc's habit of raising it after
    // each free, which would put the growing arrays back on the heap where
    // growth copies them.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    l->states = states;
}

void loci_add(loci *l, const double *lnl, double morgans, uint64_t pos)
{
    if (l->n == l->cap) {
        size_t cap = l->cap ? l->cap + l->cap / 2 : 4096;
        double *rec = static_cast<double *>(realloc(l->rec, cap * stride(*l) * sizeof(double)));
        if (rec)
            l->rec = rec;
        uint64_t *p = static_cast<uint64_t *>(realloc(l->pos, cap * sizeof(uint64_t)));
        if (p)
            l->pos = p;
        if (!rec || !p)
            error("tarvo-hmm: out of memory for %zu loci\n", cap);
        l->cap = cap;
    }
    double top = lnl[0];
    for (int k = 1; k < l->states; k++)
        top = lnl[k] > top ? lnl[k] : top;
    double *r = l->rec + l->n * stride(*l);
    for (int k = 0; k < l->states; k++)
        r[k] = std::exp(lnl[k] - top);
    r[l->states] = morgans;
    l->pos[l->n] = pos;
    l->n++;
    // Neumaier's sum: a million terms lose nothing the output shows.
    double t = l->shift + top;
    l->shift_c += std::fabs(l->shift) >= std::fabs(top) ? (l->shift - t) + top : (top - t) + l->shift;
    l->shift = t;
}

void loci_free(loci *l)
{
    free(l->rec);
    free(l->pos);
    l->rec = nullptr;
    l->pos = nullptr;
}
