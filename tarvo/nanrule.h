#ifndef TARVO_NANRULE_H
#define TARVO_NANRULE_H

// Which NaN an operation keeps when it meets two is up to the processor (x86
// keeps its first source operand, ARM prefers a signalling one) and to the
// operand order the compiler picks for a commutative operation; and an
// invalid operation such as 0 x inf or inf - inf gives a NaN with the sign
// bit set on x86 but clear on ARM. Results holding a NaN would then differ
// between builds and processors. A `ruled` value does each operation with
// one rule, whatever the compiler or processor: the first NaN operand in
// the order the formula is written is the result, made quiet, and an
// invalid operation gives x86's default NaN. A plain gcc build on x86 gives
// the same results.

#include <cstdint>
#include <cstring>

struct ruled {
    double v;
    ruled(double d = 0.0) : v(d) {}
    explicit operator double() const { return v; }
};

inline double ruled_nan(double a)
{
    uint64_t u;
    memcpy(&u, &a, sizeof u);
    u |= uint64_t{1} << 51; // the quiet bit
    memcpy(&a, &u, sizeof a);
    return a;
}

// The result of an operation on a and b, in the formula's order, whose
// result on this processor is r.
inline ruled ruled_result(ruled a, ruled b, double r)
{
    if (a.v != a.v)
        return ruled_nan(a.v);
    if (b.v != b.v)
        return ruled_nan(b.v);
    if (r != r) {
        const uint64_t x86_default = 0xfff8000000000000;
        memcpy(&r, &x86_default, sizeof r);
    }
    return r;
}

inline ruled operator*(ruled a, ruled b)
{
    return ruled_result(a, b, a.v * b.v);
}

inline ruled operator+(ruled a, ruled b)
{
    return ruled_result(a, b, a.v + b.v);
}

inline ruled operator-(ruled a, ruled b)
{
    return ruled_result(a, b, a.v - b.v);
}

#endif
