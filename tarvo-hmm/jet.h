#ifndef TARVO_HMM_JET_H
#define TARVO_HMM_JET_H

// Numbers carrying their first and second derivatives with respect to the
// two parameters, m and tau = ln T, so that one forward pass gives the
// log-likelihood, its gradient and its Hessian. The transitions' factors
// depend on tau alone (TJ) or on m alone (MJ); only the forward variables
// depend on both (J), and the products are written for each pairing so no
// time goes on derivatives known to be zero.
struct TJ {
    double v, t, tt;
};
struct MJ {
    double v, m, mm;
};
struct J {
    double v, m, t, mm, mt, tt;
};

inline TJ operator*(const TJ &a, const TJ &b)
{
    return {a.v * b.v, a.v * b.t + a.t * b.v, a.v * b.tt + 2 * (a.t * b.t) + a.tt * b.v};
}
inline TJ operator*(double c, const TJ &a)
{
    return {c * a.v, c * a.t, c * a.tt};
}
inline MJ operator*(const MJ &a, const MJ &b)
{
    return {a.v * b.v, a.v * b.m + a.m * b.v, a.v * b.mm + 2 * (a.m * b.m) + a.mm * b.v};
}
inline MJ operator*(double c, const MJ &a)
{
    return {c * a.v, c * a.m, c * a.mm};
}
inline MJ operator-(double c, const MJ &a)
{
    return {c - a.v, -a.m, -a.mm};
}
inline J operator+(const J &a, const J &b)
{
    return {a.v + b.v, a.m + b.m, a.t + b.t, a.mm + b.mm, a.mt + b.mt, a.tt + b.tt};
}
inline J operator-(const J &a, const J &b)
{
    return {a.v - b.v, a.m - b.m, a.t - b.t, a.mm - b.mm, a.mt - b.mt, a.tt - b.tt};
}
inline J operator*(double c, const J &a)
{
    return {c * a.v, c * a.m, c * a.t, c * a.mm, c * a.mt, c * a.tt};
}
inline J operator*(const TJ &a, const J &q)
{
    return {a.v * q.v,
            a.v * q.m,
            a.v * q.t + a.t * q.v,
            a.v * q.mm,
            a.v * q.mt + a.t * q.m,
            a.v * q.tt + 2 * (a.t * q.t) + a.tt * q.v};
}
inline J operator*(const J &q, const MJ &a)
{
    return {a.v * q.v,
            a.v * q.m + a.m * q.v,
            a.v * q.t,
            a.v * q.mm + 2 * (a.m * q.m) + a.mm * q.v,
            a.v * q.mt + a.m * q.t,
            a.v * q.tt};
}

inline double val(double x)
{
    return x;
}
inline double val(const J &x)
{
    return x.v;
}

// A start of the chain, which depends on m alone, as a forward variable.
inline J lift(const MJ &a)
{
    return {a.v, a.m, 0, a.mm, 0, 0};
}
inline double lift(double a)
{
    return a;
}

#endif
