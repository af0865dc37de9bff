#ifndef TARVO_HMM_JET_H
#define TARVO_HMM_JET_H

// Numbers carrying their first and second derivatives with respect to the
// two parameters, m and tau = ln T, so that one forward pass gives the
// log-likelihood, its gradient and its Hessian. The transitions' factors
// depend on tau alone (TJ) or on m alone (MJ); only the forward variables
// depend on both (J), and the products are written for each pairing so no
// time goes on derivatives known to be zero. V is double, or a vector of
// doubles whose lanes follow chromosomes of their own: the operations are
// the same, lane by lane.
template <class V> struct TJv {
    V v, t, tt;
};
template <class V> struct MJv {
    V v, m, mm;
};
template <class V> struct Jv {
    V v, m, t, mm, mt, tt;
};
using TJ = TJv<double>;
using MJ = MJv<double>;
using J = Jv<double>;

template <class V> inline TJv<V> operator*(const TJv<V> &a, const TJv<V> &b)
{
    return {a.v * b.v, a.v * b.t + a.t * b.v, a.v * b.tt + 2.0 * (a.t * b.t) + a.tt * b.v};
}
template <class V> inline TJv<V> operator*(double c, const TJv<V> &a)
{
    return {c * a.v, c * a.t, c * a.tt};
}
template <class V> inline MJv<V> operator*(const MJv<V> &a, const MJv<V> &b)
{
    return {a.v * b.v, a.v * b.m + a.m * b.v, a.v * b.mm + 2.0 * (a.m * b.m) + a.mm * b.v};
}
template <class V> inline MJv<V> operator*(double c, const MJv<V> &a)
{
    return {c * a.v, c * a.m, c * a.mm};
}
template <class V> inline MJv<V> operator-(double c, const MJv<V> &a)
{
    return {c - a.v, -a.m, -a.mm};
}
template <class V> inline Jv<V> operator+(const Jv<V> &a, const Jv<V> &b)
{
    return {a.v + b.v, a.m + b.m, a.t + b.t, a.mm + b.mm, a.mt + b.mt, a.tt + b.tt};
}
template <class V, class C> inline Jv<V> operator*(const C &c, const Jv<V> &a)
{
    return {c * a.v, c * a.m, c * a.t, c * a.mm, c * a.mt, c * a.tt};
}
template <class V> inline Jv<V> operator*(const TJv<V> &a, const Jv<V> &q)
{
    return {a.v * q.v,
            a.v * q.m,
            a.v * q.t + a.t * q.v,
            a.v * q.mm,
            a.v * q.mt + a.t * q.m,
            a.v * q.tt + 2.0 * (a.t * q.t) + a.tt * q.v};
}
template <class V> inline Jv<V> operator*(const Jv<V> &q, const MJv<V> &a)
{
    return {a.v * q.v,
            a.v * q.m + a.m * q.v,
            a.v * q.t,
            a.v * q.mm + 2.0 * (a.m * q.m) + a.mm * q.v,
            a.v * q.mt + a.m * q.t,
            a.v * q.tt};
}

inline double val(double x)
{
    return x;
}
template <class V> inline V val(const Jv<V> &x)
{
    return x.v;
}

// A start of the chain, which depends on m alone, as a forward variable.
template <class V> inline Jv<V> lift(const MJv<V> &a)
{
    return {a.v, a.m, 0.0 * a.v, a.mm, 0.0 * a.v, 0.0 * a.v};
}
inline double lift(double a)
{
    return a;
}

#endif
