#include "tarvo-hmm/model.h"

#include "tarvo-hmm/jet.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace {

template <class Q> struct kinds {
    using T = double;
    using M = double;
};
template <> struct kinds<J> {
    using T = TJ;
    using M = MJ;
};

// r = 1 - exp(-x) and s = exp(-x), each computed where it is the smaller
// and the other as its complement, so neither loses digits. Loci of a
// dense panel have small x, where the series of r, cut where its next term
// is below a millionth of a rounding error, costs a fraction of expm1.
inline void split(double x, double &s, double &r)
{
    if (x < 0.015625) {
        double t = 1 - x * 0.125;
        t = 1 - x * 0.14285714285714285 * t;
        t = 1 - x * 0.16666666666666666 * t;
        t = 1 - x * 0.2 * t;
        t = 1 - x * 0.25 * t;
        t = 1 - x * 0.3333333333333333 * t;
        t = 1 - x * 0.5 * t;
        r = x * t;
        s = 1 - r;
    } else if (x < 0.6931471805599453) {
        r = -std::expm1(-x);
        s = 1 - r;
    } else {
        s = std::exp(-x);
        r = 1 - s;
    }
}

// With x = T d and T = exp(tau): ds/dtau = -x s, d2s/dtau2 = x (x - 1) s.
inline void rates(double x, double &s, double &r)
{
    split(x, s, r);
}
inline void rates(double x, TJ &s, TJ &r)
{
    double sv, rv;
    split(x, sv, rv);
    double xs = x * sv, xxs = x * (x - 1) * sv;
    s = {sv, -xs, xxs};
    r = {rv, xs, -xxs};
}

template <class M> M m_of(double m);
template <> inline double m_of<double>(double m)
{
    return m;
}
template <> inline MJ m_of<MJ>(double m)
{
    return {m, 1, 0};
}

// The m-dependent factors: pi = (1 - m, m) for one copy, and the
// Binomial(2, m) start for two.
template <class M> struct mparts {
    M pi[2], b[3];
    explicit mparts(double m)
    {
        M mj = m_of<M>(m);
        pi[0] = 1.0 - mj;
        pi[1] = mj;
        b[0] = pi[0] * pi[0];
        b[1] = 2.0 * (pi[0] * mj);
        b[2] = mj * mj;
    }
    const M &start(int states, int k) const
    {
        return states == 2 ? pi[k] : b[k];
    }
};

// One step of the chain and then the emission, on forward variables q
// whose total need not be 1. One copy: s q + r tot pi.
template <class Q, class T, class M>
inline void step(Q *q, const double *e, const T &s, const T &r, const mparts<M> &mp,
                 std::integral_constant<int, 2>)
{
    Q rt = r * (q[0] + q[1]);
    q[0] = e[0] * (s * q[0] + rt * mp.pi[0]);
    q[1] = e[1] * (s * q[1] + rt * mp.pi[1]);
}

// Two copies: both keep their ancestry (s^2); one is drawn afresh (2 r s:
// the kept copy is from population 1 with probability h / tot, beside a
// fresh draw); or both are (r^2: the binomial start). This is the 3 x 3
// matrix of the two independent copies applied without forming it.
template <class Q, class T, class M>
inline void step(Q *q, const double *e, const T &s, const T &r, const mparts<M> &mp,
                 std::integral_constant<int, 3>)
{
    // h and o: the kept copy's weight on population 1 and on 0, each a sum
    // of positive terms so that no digits cancel.
    Q half = 0.5 * q[1];
    Q h = half + q[2], o = q[0] + half;
    Q tot = o + h;
    T s2 = s * s, rs2 = 2.0 * (r * s), r2 = r * r;
    Q rt = r2 * tot;
    Q u0 = o * mp.pi[0], u1 = o * mp.pi[1] + h * mp.pi[0], u2 = h * mp.pi[1];
    q[0] = e[0] * (s2 * q[0] + rs2 * u0 + rt * mp.b[0]);
    q[1] = e[1] * (s2 * q[1] + rs2 * u1 + rt * mp.b[1]);
    q[2] = e[2] * (s2 * q[2] + rs2 * u2 + rt * mp.b[2]);
}

// Scales q to a total of 1 (in value; the derivatives follow the same
// constant factor) and keeps the log of what was taken out: products of
// the factors, their log taken before they could underflow.
template <int S, class Q> inline bool scale(Q *q, double &prod, double &acc)
{
    double c = 0;
    for (int k = 0; k < S; k++)
        c += val(q[k]);
    if (!(c > 0))
        return false;
    double inv = 1 / c;
    for (int k = 0; k < S; k++)
        q[k] = inv * q[k];
    if (c < 1e-20) {
        acc += std::log(c);
    } else {
        prod *= c;
        if (prod < 1e-280) {
            acc += std::log(prod);
            prod = 1;
        }
    }
    return true;
}

// A chromosome's share of the gradient and Hessian, from its last forward
// variables: those of ln(total).
template <class Q> inline void finish(const Q *q, int S, pass &out, double &acc);

template <> inline void finish<double>(const double *q, int S, pass &, double &acc)
{
    double t = 0;
    for (int k = 0; k < S; k++)
        t += q[k];
    acc += std::log(t);
}

template <> inline void finish<J>(const J *q, int S, pass &out, double &acc)
{
    J t = q[0];
    for (int k = 1; k < S; k++)
        t = t + q[k];
    acc += std::log(t.v);
    double gm = t.m / t.v, gt = t.t / t.v;
    out.g[0] += gm;
    out.g[1] += gt;
    out.h[0] += t.mm / t.v - gm * gm;
    out.h[1] += t.mt / t.v - gm * gt;
    out.h[2] += t.tt / t.v - gt * gt;
}

// The forward pass over every chromosome; store, when given, gets each
// locus's scaled forward variables. The transitions of a block of loci
// are worked out before the chain runs through it, so that their
// arithmetic overlaps rather than waits on the chain's.
template <int S, class Q> pass run(const loci &l, double m, double T, double *store)
{
    using Tk = typename kinds<Q>::T;
    using M = typename kinds<Q>::M;
    const mparts<M> mp(m);
    pass out{0, {0, 0}, {0, 0, 0}, NO_LOCUS};
    double acc = 0;
    const size_t BLOCK = 64;
    Tk sb[BLOCK], rb[BLOCK];
    for (const chrom_span &c : l.chroms) {
        const double *rec = l.rec + c.first * (S + 1);
        Q q[S];
        for (int k = 0; k < S; k++)
            q[k] = rec[k] * lift(mp.start(S, k));
        double prod = 1;
        size_t i = 0;
        for (size_t from = 0; from < c.count; from += BLOCK) {
            const size_t to = std::min(c.count, from + BLOCK);
            for (size_t j = from; j < to; j++)
                rates(T * rec[(j - from) * (S + 1) + S], sb[j - from], rb[j - from]);
            for (; i < to; i++, rec += S + 1) {
                if (i > 0)
                    step(q, rec, sb[i - from], rb[i - from], mp, std::integral_constant<int, S>());
                if (!scale<S>(q, prod, acc)) {
                    out.lnl = -HUGE_VAL;
                    out.bad = c.first + i;
                    return out;
                }
                if (store)
                    for (int k = 0; k < S; k++)
                        store[(c.first + i) * S + k] = val(q[k]);
            }
        }
        acc += std::log(prod);
        finish<Q>(q, S, out, acc);
    }
    out.lnl = acc + (l.shift + l.shift_c);
    return out;
}

// The backward pass: turns the stored forward variables into posteriors.
template <int S> void backward(const loci &l, double m, double T, double *post)
{
    for (const chrom_span &c : l.chroms) {
        double beta[S];
        for (int k = 0; k < S; k++)
            beta[k] = 1;
        for (size_t t = c.first + c.count - 1; t > c.first; t--) {
            const double *rec = l.rec + t * (S + 1);
            double s, r;
            split(T * rec[S], s, r);
            // One copy's transitions: from a to b.
            double p00 = s + r * (1 - m), p01 = r * m, p10 = r * (1 - m), p11 = s + r * m;
            double w[S], nb[S];
            for (int k = 0; k < S; k++)
                w[k] = rec[k] * beta[k];
            if (S == 2) {
                nb[0] = p00 * w[0] + p01 * w[1];
                nb[1] = p10 * w[0] + p11 * w[1];
            } else {
                nb[0] = p00 * p00 * w[0] + 2 * p00 * p01 * w[1] + p01 * p01 * w[2];
                nb[1] = p00 * p10 * w[0] + (p00 * p11 + p01 * p10) * w[1] + p01 * p11 * w[2];
                nb[2] = p10 * p10 * w[0] + 2 * p10 * p11 * w[1] + p11 * p11 * w[2];
            }
            double sum = 0;
            for (int k = 0; k < S; k++)
                sum += nb[k];
            double *p = post + (t - 1) * S, tot = 0;
            for (int k = 0; k < S; k++) {
                beta[k] = nb[k] / sum;
                p[k] *= beta[k];
                tot += p[k];
            }
            for (int k = 0; k < S; k++)
                p[k] /= tot;
        }
    }
}

template <class Q> pass dispatch(const loci &l, double m, double T, double *store)
{
    return l.states == 2 ? run<2, Q>(l, m, T, store) : run<3, Q>(l, m, T, store);
}

} // namespace

pass forward(const loci &l, double m, double T)
{
    return dispatch<double>(l, m, T, nullptr);
}

pass forward_d(const loci &l, double m, double T)
{
    return dispatch<J>(l, m, T, nullptr);
}

pass posteriors(const loci &l, double m, double T, double *post)
{
    pass p = dispatch<double>(l, m, T, post);
    if (p.bad != NO_LOCUS)
        return p;
    if (l.states == 2)
        backward<2>(l, m, T, post);
    else
        backward<3>(l, m, T, post);
    return p;
}
