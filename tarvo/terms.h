#ifndef TARVO_TERMS_H
#define TARVO_TERMS_H

// The two factors of every term of a likelihood, each rule written once for
// the default scoring, the NaN rule (tarvo/nanrule.h), the log output and
// every instruction set. Internal linkage: each build keeps its own copy,
// so the AVX2 one never stands in for another at link time.

namespace {

// The probability of the observed allele given table entry t; the order of
// the operations fixes the rounding of every result. For a double, lane by
// lane for a vector, or under the NaN rule.
template <typename T>
inline T site(T t, T e)
{
    return (1.0 - (e * 3.0) * 0.25) * t + ((1.0 - t) * e) * 0.25;
}

// w[s] = the weight of genotype (i, j) in state s, from freq[2][4]; with
// one copy only i counts.
template <typename T>
inline void weights(int ploidy, const double *freq, int i, int j, T *w)
{
    const double *F0 = freq, *F1 = freq + 4;
    if (ploidy == 2) {
        w[0] = T(F0[j]) * T(F0[i]);
        w[1] = T(F0[i]) * T(F1[j]);
        w[2] = T(F1[j]) * T(F1[i]);
    } else {
        w[0] = F0[i];
        w[1] = F1[i];
    }
}

} // namespace

#endif
