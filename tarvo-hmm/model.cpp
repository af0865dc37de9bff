#include "tarvo-hmm/model.h"

#include "tarvo-hmm/jet.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <vector>

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
    mparts() = default;
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
template <class Q, class E, class T, class M>
inline void step(Q *q, const E *e, const T &s, const T &r, const mparts<M> &mp,
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
template <class Q, class E, class T, class M>
inline void step(Q *q, const E *e, const T &s, const T &r, const mparts<M> &mp,
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
// Keeps the log of a scale factor c taken out: products of the factors,
// their log taken before they could underflow.
inline void keep(double c, double &prod, double &acc)
{
    if (c < 1e-20) {
        acc += std::log(c);
    } else {
        prod *= c;
        if (prod < 1e-280) {
            acc += std::log(prod);
            prod = 1;
        }
    }
}

// Scales q to a total of 1 (in value; the derivatives follow the same
// constant factor) and keeps the log of what was taken out.
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
    keep(c, prod, acc);
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

// Runs chromosome c's chain from its locus i (above 0) to its end, from
// the scaled forward variables q at locus i - 1; store, when given, gets
// each locus's. The transitions of a block of loci are worked out before
// the chain runs through it, so that their arithmetic overlaps rather than
// waits on the chain's. False, with out.bad set, where no path goes on.
template <int S, class Q, class M>
bool tail(const loci &l, const chrom_span &c, size_t i, Q *q, double &prod, double &acc,
          const mparts<M> &mp, double T, double *store, pass &out)
{
    using Tk = typename kinds<Q>::T;
    const size_t BLOCK = 64;
    Tk sb[BLOCK], rb[BLOCK];
    const double *rec = l.rec + (c.first + i) * (S + 1);
    for (size_t from = i; from < c.count; from += BLOCK) {
        const size_t to = std::min(c.count, from + BLOCK);
        for (size_t j = from; j < to; j++)
            rates(T * rec[(j - from) * (S + 1) + S], sb[j - from], rb[j - from]);
        for (; i < to; i++, rec += S + 1) {
            step(q, rec, sb[i - from], rb[i - from], mp, std::integral_constant<int, S>());
            if (!scale<S>(q, prod, acc)) {
                out.bad = c.first + i;
                return false;
            }
            if (store)
                for (int k = 0; k < S; k++)
                    store[(c.first + i) * S + k] = val(q[k]);
        }
    }
    return true;
}

// The chain's start at a chromosome's first locus.
template <int S, class Q, class M>
bool head(const loci &l, const chrom_span &c, Q *q, double &prod, double &acc,
          const mparts<M> &mp, double *store, pass &out)
{
    const double *rec = l.rec + c.first * (S + 1);
    for (int k = 0; k < S; k++)
        q[k] = rec[k] * lift(mp.start(S, k));
    prod = 1;
    if (!scale<S>(q, prod, acc)) {
        out.bad = c.first;
        return false;
    }
    if (store)
        for (int k = 0; k < S; k++)
            store[c.first * S + k] = val(q[k]);
    return true;
}

// The forward pass over every chromosome, one after the other.
template <int S, class Q> pass run(const loci &l, double m, double T, double *store)
{
    using M = typename kinds<Q>::M;
    const mparts<M> mp(m);
    pass out{0, {0, 0}, {0, 0, 0}, NO_LOCUS};
    double acc = 0;
    for (const chrom_span &c : l.chroms) {
        Q q[S];
        double prod;
        if (!head<S>(l, c, q, prod, acc, mp, store, out) ||
            !tail<S>(l, c, 1, q, prod, acc, mp, T, store, out)) {
            out.lnl = -HUGE_VAL;
            return out;
        }
        acc += std::log(prod);
        finish<Q>(q, S, out, acc);
    }
    out.lnl = acc + (l.shift + l.shift_c);
    return out;
}

// The pass with derivatives, two chromosomes at a time in the two lanes
// of a vector of doubles (SSE2 on x86-64, NEON on ARM): each lane does
// exactly the scalar arithmetic on its own chromosome, so the results are
// those of run<S, J> up to the order in which the chromosomes' shares are
// added. Chromosomes go to the lanes longest first; the last one left
// finishes alone.
typedef double v2d __attribute__((vector_size(16)));
using J2 = Jv<v2d>;

inline v2d pair(double a, double b)
{
    v2d v = {a, b};
    return v;
}

inline void put(J2 &w, int k, const J &x)
{
    w.v[k] = x.v;
    w.m[k] = x.m;
    w.t[k] = x.t;
    w.mm[k] = x.mm;
    w.mt[k] = x.mt;
    w.tt[k] = x.tt;
}

inline J get(const J2 &w, int k)
{
    return {w.v[k], w.m[k], w.t[k], w.mm[k], w.mt[k], w.tt[k]};
}

// The fitted proportion's parts, the same in both lanes.
inline mparts<MJv<v2d>> both_lanes(const mparts<MJ> &mp)
{
    mparts<MJv<v2d>> mp2;
    for (int k = 0; k < 2; k++) {
        mp2.pi[k] = {pair(mp.pi[k].v, mp.pi[k].v), pair(mp.pi[k].m, mp.pi[k].m),
                     pair(mp.pi[k].mm, mp.pi[k].mm)};
    }
    for (int k = 0; k < 3; k++)
        mp2.b[k] = {pair(mp.b[k].v, mp.b[k].v), pair(mp.b[k].m, mp.b[k].m),
                    pair(mp.b[k].mm, mp.b[k].mm)};
    return mp2;
}

// The chromosomes' indices, longest first, ties in the input's order.
std::vector<size_t> longest_first(const loci &l)
{
    std::vector<size_t> order(l.chroms.size());
    for (size_t c = 0; c < order.size(); c++)
        order[c] = c;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return l.chroms[a].count > l.chroms[b].count;
    });
    return order;
}

template <int S> struct two_lanes {
    const loci &l;
    const double T;
    const mparts<MJ> mp;
    const mparts<MJv<v2d>> mp2;
    const std::vector<size_t> order;
    size_t next = 0; // the next chromosome in order
    struct lane {
        const chrom_span *c; // null once no chromosome is left for it
        size_t i;            // the next locus to step to
        double prod;
    } ln[2];
    J2 q[S];
    pass out{0, {0, 0}, {0, 0, 0}, NO_LOCUS};
    double acc = 0;

    two_lanes(const loci &l, double m, double T)
        : l(l), T(T), mp(m), mp2(both_lanes(mp)), order(longest_first(l))
    {
    }

    // Puts the next chromosome with loci to step through in lane k; its
    // first locus and any chromosome of one locus are done here. False
    // where no state is possible.
    bool fill(int k)
    {
        while (next < order.size()) {
            const chrom_span &c = l.chroms[order[next++]];
            J qs[S];
            double prod;
            if (!head<S>(l, c, qs, prod, acc, mp, nullptr, out))
                return false;
            if (c.count == 1) {
                acc += std::log(prod);
                finish<J>(qs, S, out, acc);
                continue;
            }
            for (int s = 0; s < S; s++)
                put(q[s], k, qs[s]);
            ln[k] = {&c, 1, prod};
            return true;
        }
        ln[k].c = nullptr;
        return true;
    }

    void done(int k)
    {
        J qs[S];
        for (int s = 0; s < S; s++)
            qs[s] = get(q[s], k);
        acc += std::log(ln[k].prod);
        finish<J>(qs, S, out, acc);
    }

    // Steps both lanes through as many loci as both have, up to a block;
    // the rates of the block first, then the steps. False where no state
    // is possible.
    bool block()
    {
        const size_t BLOCK = 64;
        TJv<v2d> sb[BLOCK], rb[BLOCK];
        size_t n = std::min(BLOCK, std::min(ln[0].c->count - ln[0].i, ln[1].c->count - ln[1].i));
        const double *rec[2];
        for (int k = 0; k < 2; k++)
            rec[k] = l.rec + (ln[k].c->first + ln[k].i) * (S + 1);
        for (size_t j = 0; j < n; j++) {
            TJ s0, r0, s1, r1;
            rates(T * rec[0][j * (S + 1) + S], s0, r0);
            rates(T * rec[1][j * (S + 1) + S], s1, r1);
            sb[j] = {pair(s0.v, s1.v), pair(s0.t, s1.t), pair(s0.tt, s1.tt)};
            rb[j] = {pair(r0.v, r1.v), pair(r0.t, r1.t), pair(r0.tt, r1.tt)};
        }
        for (size_t j = 0; j < n; j++) {
            v2d e[S];
            for (int s = 0; s < S; s++)
                e[s] = pair(rec[0][s], rec[1][s]);
            step(q, e, sb[j], rb[j], mp2, std::integral_constant<int, S>());
            v2d c = q[0].v;
            for (int s = 1; s < S; s++)
                c += q[s].v;
            for (int k = 0; k < 2; k++)
                if (!(c[k] > 0)) {
                    out.bad = ln[k].c->first + ln[k].i + j;
                    return false;
                }
            v2d inv = 1.0 / c;
            for (int s = 0; s < S; s++)
                q[s] = inv * q[s];
            for (int k = 0; k < 2; k++)
                keep(c[k], ln[k].prod, acc);
            rec[0] += S + 1;
            rec[1] += S + 1;
        }
        for (int k = 0; k < 2; k++) {
            ln[k].i += n;
            if (ln[k].i == ln[k].c->count) {
                done(k);
                if (!fill(k))
                    return false;
            }
        }
        return true;
    }

    // The rest of lane k's chromosome, once the other lane has none left.
    bool alone(int k)
    {
        J qs[S];
        for (int s = 0; s < S; s++)
            qs[s] = get(q[s], k);
        if (!tail<S>(l, *ln[k].c, ln[k].i, qs, ln[k].prod, acc, mp, T, nullptr, out))
            return false;
        acc += std::log(ln[k].prod);
        finish<J>(qs, S, out, acc);
        return true;
    }
};

template <int S> pass run_lanes(const loci &l, double m, double T)
{
    two_lanes<S> w(l, m, T);
    bool ok = w.fill(0) && w.fill(1);
    while (ok && w.ln[0].c && w.ln[1].c)
        ok = w.block();
    for (int k = 0; k < 2 && ok; k++)
        ok = !w.ln[k].c || w.alone(k);
    w.out.lnl = ok ? w.acc + (l.shift + l.shift_c) : -HUGE_VAL;
    return w.out;
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
    if (l.chroms.size() < 2)
        return dispatch<J>(l, m, T, nullptr);
    return l.states == 2 ? run_lanes<2>(l, m, T) : run_lanes<3>(l, m, T);
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
