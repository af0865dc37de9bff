#include "tarvo-hmm/fit.h"

#include "tarvo-hmm/model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// Newton's method in (logit m, ln T) on the exact gradient and Hessian
// that one forward pass gives (forward_d), damped (Levenberg-Marquardt)
// where the Hessian is not negative definite or a step fails to climb,
// and held to the box of the bounds. Each end of a profile interval is
// the root of profile(x_i) = max - DROP, found by Newton's method on the
// profile itself: at each point the other parameter takes one Newton step
// to its ridge and the profile's value and slope come from the same
// quadratic, so every pass moves both.
namespace {

struct point {
    double x[2]; // logit m, ln T
    pass p;
};

struct ctx {
    const loci *l;
    bool free[2];
    double lo[2], hi[2];
    int passes;
    bool verbose;
};

// Both searches run in u = (logit m, ln T), where the likelihood is
// nearer a parabola than in m, and flattens rather than steepens towards
// m's bounds; the pass's derivatives in m are carried over.
double to_m(double u)
{
    return 1 / (1 + std::exp(-u));
}
double to_u(double m)
{
    return std::log(m / (1 - m));
}

point eval(ctx &c, double u, double tau)
{
    const double m = to_m(u);
    point pt{{u, tau}, forward_d(*c.l, m, std::exp(tau))};
    c.passes++;
    if (c.verbose)
        fprintf(stderr, "tarvo-hmm: pass %d: m %.9g T %.9g lnL %.9f\n", c.passes, m,
                std::exp(tau), pt.p.lnl);
    // dm/du = m (1 - m), d2m/du2 = m (1 - m) (1 - 2 m).
    const double j1 = m * (1 - m), j2 = j1 * (1 - 2 * m);
    pass &p = pt.p;
    p.h[0] = p.h[0] * j1 * j1 + p.g[0] * j2;
    p.h[1] *= j1;
    p.g[0] *= j1;
    return pt;
}

// H as a symmetric 2 x 2: h[0] h[1] / h[1] h[2].
double hess(const pass &p, int i, int j)
{
    return p.h[i + j];
}

// Coordinates free to move: not fixed, and not held at a bound by a
// gradient pointing out of the box. Returns how many.
int active(const ctx &c, const point &cur, bool act[2])
{
    int n = 0;
    for (int i = 0; i < 2; i++) {
        act[i] = c.free[i] && !(cur.x[i] <= c.lo[i] && cur.p.g[i] < 0) &&
                 !(cur.x[i] >= c.hi[i] && cur.p.g[i] > 0);
        n += act[i];
    }
    return n;
}

// A step of damped Newton: the solution d of (-H + lam) d = g on the
// active coordinates, the gain g.d it promises (twice the quadratic's
// rise), the damping lam used, which is at least lambda and more where
// -H is not positive definite, and the mean of -H's eigenvalues.
struct newton {
    double d[2], gain, lam, mid;
};

newton damped(const pass &p, const bool act[2], double lambda)
{
    double a = act[0] ? -hess(p, 0, 0) : 1, b = act[0] && act[1] ? -hess(p, 0, 1) : 0,
           d = act[1] ? -hess(p, 1, 1) : 1;
    double g0 = act[0] ? p.g[0] : 0, g1 = act[1] ? p.g[1] : 0;
    // The smallest eigenvalue of -H decides whether Newton's step is an ascent.
    double mid = (a + d) / 2, rad = std::sqrt((a - d) * (a - d) / 4 + b * b);
    double floor_ = mid - rad;
    double lam = std::max(lambda, floor_ <= 0 ? -floor_ + 1e-6 * (std::fabs(mid) + 1) : 0.0);
    double A = a + lam, D = d + lam, det = A * D - b * b;
    double d0 = (D * g0 - b * g1) / det, d1 = (A * g1 - b * g0) / det;
    return {{d0, d1}, g0 * d0 + g1 * d1, lam, mid};
}

// Holds x to the box; true where it had to.
bool into_box(const ctx &c, double x[2])
{
    bool clipped = false;
    for (int i = 0; i < 2; i++) {
        double b = std::min(c.hi[i], std::max(c.lo[i], x[i]));
        clipped = clipped || b != x[i];
        x[i] = b;
    }
    return clipped;
}

point maximise(ctx &c, point cur)
{
    double lambda = 0;
    for (int iter = 0; iter < 200; iter++) {
        bool act[2];
        if (active(c, cur, act) == 0)
            return cur;
        newton s = damped(cur.p, act, lambda);
        if (!(s.gain > 2e-7) && s.lam == 0)
            return cur;
        // Keep steps where the quadratic can be trusted.
        double lim = std::max(std::fabs(s.d[0]), std::fabs(s.d[1])) / 2.0;
        if (lim > 1) {
            s.d[0] /= lim;
            s.d[1] /= lim;
        }
        double nx[2] = {cur.x[0] + s.d[0], cur.x[1] + s.d[1]};
        bool clipped = into_box(c, nx);
        if (nx[0] == cur.x[0] && nx[1] == cur.x[1])
            return cur;
        // Near the top the quadratic is the likelihood to far below what
        // the output shows: its last step needs no pass to check it. The
        // likelihood printed is the posteriors' pass's, at this point.
        if (s.lam == 0 && lim <= 1 && !clipped && s.gain < 2e-4) {
            cur.x[0] = nx[0];
            cur.x[1] = nx[1];
            cur.p.lnl += s.gain / 2;
            cur.p.g[0] = cur.p.g[1] = 0;
            return cur;
        }
        point nxt = eval(c, nx[0], nx[1]);
        if (nxt.p.lnl >= cur.p.lnl) {
            bool done = nxt.p.lnl - cur.p.lnl < 1e-9 && s.lam == 0;
            cur = nxt;
            lambda = lambda / 8;
            if (lambda < 1e-3)
                lambda = 0;
            if (done)
                return cur;
        } else {
            lambda = std::max(4 * s.lam, 1e-3 * (std::fabs(s.mid) + 1));
            if (lambda > 1e12 * (std::fabs(s.mid) + 1))
                return cur;
        }
    }
    return cur;
}

// The profile of parameter i at pt: its value and slope after the other
// parameter, where free, takes one Newton step towards its ridge (not past
// the box: the ridge's maximum is then on its edge), where that step lands
// (at), and the ridge's direction (ridge: d x_j / d x_i).
struct profile {
    double value, slope, at, ridge;
};

profile on_ridge(const ctx &c, int i, const point &pt, double xj)
{
    const int j = 1 - i;
    profile r{pt.p.lnl, pt.p.g[i], xj, 0};
    double gj = pt.p.g[j], pij = hess(pt.p, i, j), pjj = hess(pt.p, j, j);
    if (c.free[j] && pjj < 0) {
        double dj = -gj / pjj;
        double tj = std::min(c.hi[j], std::max(c.lo[j], xj + dj));
        dj = tj - xj;
        r.value += gj * dj + 0.5 * pjj * dj * dj;
        r.slope += pij * dj;
        r.at = tj;
        r.ridge = -pij / pjj;
    }
    return r;
}

// The first point tried for one end of parameter i's interval: where the
// quadratic at the maximum falls by DROP (or half a unit out, where it
// does not curve down), the other parameter moved along its ridge.
void first_try(const ctx &c, int i, int dir, const point &best, double *ui, double *xj)
{
    const int j = 1 - i;
    double hii = hess(best.p, i, i), hij = hess(best.p, i, j), hjj = hess(best.p, j, j);
    const bool along = c.free[j] && hjj < 0;
    double curv = hii - (along ? hij * hij / hjj : 0);
    *ui = best.x[i] + dir * (curv < 0 ? std::sqrt(2 * DROP / -curv) : 0.5);
    *xj = best.x[j];
    if (along)
        *xj -= hij / hjj * (*ui - best.x[i]);
}

// One end of parameter i's interval on side dir (+1 or -1), from the
// maximum best; edge tells whether it is the bound searched. The root is
// bracketed between inner (above the target) and outer (below it, once
// one is found).
double endpoint(ctx &c, int i, int dir, const point &best, bool &edge)
{
    const int j = 1 - i;
    const double target = best.p.lnl - DROP;
    const double bound = dir > 0 ? c.hi[i] : c.lo[i];
    edge = false;
    if (best.x[i] == bound) {
        edge = true;
        return bound;
    }
    double ui, xj;
    first_try(c, i, dir, best, &ui, &xj);
    double inner = best.x[i], outer = NAN;
    for (int iter = 0; iter < 60; iter++) {
        if (dir * (ui - bound) >= 0)
            ui = bound;
        xj = std::min(c.hi[j], std::max(c.lo[j], xj));
        point pt = eval(c, i == 0 ? ui : xj, i == 0 ? xj : ui);
        if (!(pt.p.lnl > -HUGE_VAL)) {
            outer = ui;
            ui = (inner + ui) / 2;
            continue;
        }
        profile pr = on_ridge(c, i, pt, xj);
        if (std::fabs(pr.value - target) < 1e-4)
            return ui;
        if (pr.value > target) {
            if (ui == bound) {
                edge = true;
                return bound;
            }
            inner = ui;
        } else {
            outer = ui;
        }
        double un = ui + (target - pr.value) / pr.slope;
        bool newton = pr.slope * dir < 0 && std::isfinite(un) && dir * (un - inner) > 0 &&
                      (std::isnan(outer) || dir * (outer - un) > 0);
        // Without a usable Newton step: bisect the bracket, or, with no
        // point yet below the target, try the bound itself (a profile that
        // flat has its end there).
        if (!newton)
            un = std::isnan(outer) ? bound : (inner + outer) / 2;
        if (!std::isnan(outer) && std::fabs(outer - inner) < 1e-12 * (1 + std::fabs(inner)))
            return (inner + outer) / 2;
        // Along the ridge, but not by more than the search would step.
        xj = pr.at + std::min(2.0, std::max(-2.0, pr.ridge * (un - ui)));
        // Close to the root Newton's step lands on it, to far below the
        // digits printed, without a pass to check it.
        if (newton && std::fabs(pr.value - target) < 0.02)
            return un;
        ui = un;
    }
    return std::isnan(outer) ? bound : (inner + outer) / 2;
}

// A start for m: the mean share of population 1 the loci give alone.
double start_m(const loci &l)
{
    double sum = 0;
    const int S = l.states;
    for (size_t i = 0; i < l.n; i++) {
        const double *r = l.rec + i * stride(l);
        double tot = 0, k1 = 0;
        for (int k = 0; k < S; k++) {
            tot += r[k];
            k1 += k * r[k];
        }
        sum += k1 / tot / (S - 1);
    }
    return std::min(0.95, std::max(0.05, sum / static_cast<double>(l.n)));
}

// Back from u to parameter i; the bounds exactly as they are named.
double value(const ctx &c, int i, double u)
{
    if (u <= c.lo[i])
        return i == 0 ? M_MIN : T_MIN;
    if (u >= c.hi[i])
        return i == 0 ? 1 - M_MIN : T_MAX;
    return i == 0 ? to_m(u) : std::exp(u);
}

} // namespace

estimate fit(const loci &l, double m, double T, bool verbose)
{
    estimate e{};
    e.m_fixed = !std::isnan(m);
    e.T_fixed = !std::isnan(T);
    e.bad = NO_LOCUS;
    ctx c{&l,     {!e.m_fixed, !e.T_fixed}, {to_u(M_MIN), std::log(T_MIN)},
          {to_u(1 - M_MIN), std::log(T_MAX)}, 0, verbose};
    if (e.m_fixed && e.T_fixed) {
        e.m = m;
        e.T = T;
        return e;
    }
    if (!e.m_fixed)
        m = start_m(l);
    double tau = e.T_fixed ? std::log(T) : std::log(10.0);
    point best = eval(c, to_u(m), tau);
    if (!(best.p.lnl > -HUGE_VAL)) {
        e.bad = best.p.bad;
        return e;
    }
    best = maximise(c, best);
    e.passes_fit = c.passes;
    e.m = e.m_fixed ? m : value(c, 0, best.x[0]);
    e.T = e.T_fixed ? T : value(c, 1, best.x[1]);
    e.m_edge = !e.m_fixed && (best.x[0] <= c.lo[0] || best.x[0] >= c.hi[0]);
    e.T_edge = !e.T_fixed && (best.x[1] <= c.lo[1] || best.x[1] >= c.hi[1]);
    bool edge;
    if (!e.m_fixed) {
        e.m_lo = value(c, 0, endpoint(c, 0, -1, best, edge));
        e.m_hi = value(c, 0, endpoint(c, 0, +1, best, edge));
    }
    if (!e.T_fixed) {
        e.T_lo = value(c, 1, endpoint(c, 1, -1, best, edge));
        e.T_hi = value(c, 1, endpoint(c, 1, +1, best, edge));
    }
    e.passes_interval = c.passes - e.passes_fit;
    return e;
}
