// The reader converts each item by the first of four layers that can:
//
//   everyday codes   a code between white space, many at a time (scan_codes)
//   fast number      the shapes of everyday numbers: the run kernel many at
//                    a time, fast_double (with long_fraction and
//                    long_double for more digits than a double holds) and
//                    fast_int one at a time
//   exact number     any decimal number that neither overflows nor
//                    underflows to zero: one correctly rounded operation
//                    where that gives the value (a product or quotient of
//                    exact operands, or an integer division by a power of
//                    five), else the standard library's exact from_chars
//                    (exact_double)
//   the C library    everything else, read by fscanf itself (by_c_library)
//
// The first three look only at the bytes in the buffer, and an item that
// may go on past them waits for a refill; the C library reads through the
// buffer into the stream behind it.

#include "tarvo/scan.h"
#include "common/io.h"
#include "tarvo/digits.h"
#include "tarvo/everyday.h"
#include "tarvo/isa.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Bytes refill keeps behind the read position, for the C library's
// put-back (see by_c_library). A quarter of the smallest buffer, so a
// refill always has room.
const size_t LOOKBEHIND = 64;
static_assert(4 * LOOKBEHIND <= 256, "scan_open takes buffers of 256 bytes or more");

// What a layer made of an item: converted it, left it to the C library, or
// needs more bytes to tell.
enum { OK, SLOW, NEED };

struct space_table {
    bool ws[256];
    constexpr space_table() : ws()
    {
        for (int c = 0; c < 256; c++)
            ws[c] = is_space((char)c);
    }
};
constexpr space_table spaces;

// is_space by table, for the loops that skip white space.
inline bool isws(char c)
{
    return spaces.ws[(unsigned char)c];
}

inline bool isdig(char c)
{
    return (unsigned)(c - '0') < 10;
}

// Steps past an optional sign and tells whether it was a minus.
inline bool sign(const char **q)
{
    char c = **q;
    if (c == '-' || c == '+')
        ++*q;
    return c == '-';
}

// Moves the unread bytes, and LOOKBEHIND bytes before them, to the front of
// the buffer and reads more behind them.
__attribute__((noinline)) bool refill(scanner *s)
{
    if (s->eof)
        return false;
    size_t keep = s->pos < LOOKBEHIND ? s->pos : LOOKBEHIND;
    size_t from = s->pos - keep;
    if (from > 0) {
        memmove(s->buf, s->buf + from, s->end - from);
        s->pos -= from;
        s->end -= from;
        s->base += from;
        s->buf[s->end] = '\0';
    }
    if (s->end == s->cap)
        return false; // one item fills the whole buffer
    ssize_t n = read_some(s->fd, s->buf + s->end, s->cap - s->end);
    if (n <= 0) {
        s->eof = true;
        if (n < 0)
            s->err = errno;
        return false;
    }
    s->end += n;
    s->buf[s->end] = '\0';
    return true;
}

// Fast number, for "%d": a whole decimal integer of at most 18 digits, so
// that no long can overflow, followed by white space. Anything else is left
// to scanf.
int fast_int(const char *p, const char *e, int *v, const char **stop)
{
    const char *q = p;
    bool neg = sign(&q);
    const char *d = q;
    uint64_t m = 0;
    while (isdig(*q))
        m = m * 10 + (uint64_t)(*q++ - '0');
    if (q == e)
        return NEED;
    if (q == d || q - d > 18 || !isws(*q))
        return SLOW;
    long x = neg ? -(long)m : (long)m;
    *v = (int)x; // scanf keeps the low 32 bits of its long
    *stop = q;
    return OK;
}

// The number in [p, q), digits with an optional point and exponent and no
// sign, by from_chars; false where it overflows or underflows to zero, or
// where from_chars would read other characters than scanf (it never does
// on this shape, and the check keeps it so).
bool long_decimal(const char *p, const char *q, double *v)
{
#if defined(__cpp_lib_to_chars)
    auto r = std::from_chars(p, q, *v);
    return r.ec == std::errc() && r.ptr == q;
#else
    return false; // a library without the exact from_chars: scanf converts it
#endif
}

// Where the run of digits that starts at p ends: eight bytes at a time on
// a little-endian processor (see fast_double), else one at a time. The
// sentinel stops it at the end of the bytes read.
inline const char *digits_end(const char *p)
{
    if (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
        int b;
        while ((b = run8(load8(p))) == 8)
            p += 8;
        return p + b;
    }
    while (isdig(*p))
        p++;
    return p;
}

// Powers of five up to the largest below 2^63.
constexpr int MAX_POW5 = 27;
struct pow5_table {
    uint64_t p[MAX_POW5 + 1];
    constexpr pow5_table() : p()
    {
        p[0] = 1;
        for (int k = 1; k <= MAX_POW5; k++)
            p[k] = p[k - 1] * 5;
    }
};
constexpr pow5_table pow5;

// The quotient and remainder of (hi * 2^64 + lo) / d, for hi below d.
inline uint64_t divide(uint64_t hi, uint64_t lo, uint64_t d, uint64_t *r)
{
#if defined(__x86_64__)
    // One instruction, where the compiler would call a routine for any
    // 128-bit division.
    uint64_t q;
    __asm__("divq %4" : "=a"(q), "=d"(*r) : "a"(lo), "d"(hi), "rm"(d) : "cc");
    return q;
#else
    unsigned __int128 n = (unsigned __int128)hi << 64 | lo;
    uint64_t q = (uint64_t)(n / d);
    *r = lo - q * d;
    return q;
#endif
}

// m / 10^k correctly rounded, for m from 1 and k from 1 to MAX_POW5, where
// no quotient comes near the subnormals. m / 10^k is m / 5^k / 2^k: m,
// shifted so that its quotient by 5^k has 62 or 63 bits, is divided by
// 5^k; the quotient with its last bit set where the remainder is not zero
// lies between the same two halfway points as the exact one (every
// halfway point is a multiple of 2^8 here), so converting it rounds as
// the exact value would; the powers of two are exact.
double quotient(uint64_t m, int k)
{
    uint64_t d = pow5.p[k], r;
    int lz = __builtin_clzll(m), bd = 64 - __builtin_clzll(d); // bd from 3 on
    uint64_t top = m << lz;
    // top * 2^(bd - 2) is below d * 2^63.
    uint64_t q = divide(top >> (66 - bd), top << (bd - 2), d, &r);
    uint64_t scale = (uint64_t)(1023 - (lz + bd - 2 + k)) << 52;
    double s;
    memcpy(&s, &scale, sizeof s);
    return (double)(int64_t)(q | (r != 0)) * s;
}

// Fast number, long: digits with an optional fraction, followed by white
// space, however many digits, as every shortest round-trip printer writes
// most doubles (16 or 17 significant digits). The bounds are found eight
// bytes at a time. Up to 19 significant digits and MAX_POW5 fraction
// digits convert by quotient, anything longer by from_chars. Whatever else
// it meets it leaves to exact_double.
bool long_double(const char *p, double *v, const char **stop)
{
    const char *q = p;
    bool neg = sign(&q);
    const char *d = q, *ie = digits_end(q), *fs = ie, *fe = ie;
    if (*ie == '.') {
        fs = ie + 1;
        fe = digits_end(fs);
    }
    if ((ie == d && fe == fs) || !isws(*fe))
        return false;
    // The significant digits: the integer part's, usually one, byte at a
    // time; the fraction's eight at a time.
    uint64_t m = 0;
    int n = 0;
    for (const char *c = d; c < ie && n <= 19; c++)
        if (n || *c != '0') {
            m = m * 10 + (uint64_t)(*c - '0');
            n++;
        }
    const char *c = fs;
    if (n == 0)
        while (c < fe && *c == '0')
            c++;
    n += (int)(fe - c);
    long k = fe - fs;
    double r;
    if (n <= 19 && k <= MAX_POW5) {
        for (; c < fe; c += 8) {
            int b = fe - c < 8 ? (int)(fe - c) : 8;
            m = m * ipow10[b] + val8(load8(c), b);
        }
        r = m == 0 || k == 0 ? (double)m : quotient(m, (int)k);
    } else if (!long_decimal(d, fe, &r)) {
        return false;
    }
    *v = neg ? -r : r;
    *stop = fe;
    return true;
}

// Fast number, long: "0." and 9 to 24 digits, followed by white space,
// given the first eight digits in x. The digits are read eight at a time
// into a 128-bit integer; where it fits in 64 bits, quotient converts.
// Anything else goes on to long_double.
bool long_fraction(const char *p, uint64_t x, double *v, const char **stop)
{
    uint64_t y = load8(p + 10), z = 0;
    int b = run8(y), c = 0;
    if (b == 8) {
        z = load8(p + 18);
        c = run8(z);
    }
    const char *q = p + 10 + b + c;
    if (c < 8 && isws(*q)) {
        // Sixteen digits fit in 64 bits, and a third part does where the
        // leading ones are zeros.
        uint64_t m = val8(x, 8) * ipow10[b] + (b ? val8(y, b) : 0);
        bool over = c && (__builtin_mul_overflow(m, ipow10[c], &m) ||
                          __builtin_add_overflow(m, val8(z, c), &m));
        if (!over && m != 0) {
            *v = quotient(m, 8 + b + c);
            *stop = q;
            return true;
        }
    }
    return long_double(p, v, stop);
}

// Fast number, for "%lf": digits with an optional fraction, followed by
// white space, converted eight bytes at a time without a branch per digit;
// more digits than a double holds exactly go on to long_double. Whatever
// else it meets it leaves to exact_double, which also tells an item cut
// off by the end of the bytes read.
bool fast_double(const char *p, double *v, const char **stop)
{
    // load8, run8 and val8 take the first byte as the lowest, as it is on a
    // little-endian processor; a big-endian build reads byte at a time.
    if (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__)
        return false;
    // Frequencies and error rates mostly read "0." and a few digits.
    if (p[0] == '0' && p[1] == '.') {
        uint64_t x = load8(p + 2);
        int b = run8(x);
        const char *q = p + 2 + b;
        if (b > 0 && b < 8 && isws(*q)) {
            *v = (double)val8(x, b) / pow10[b];
            *stop = q;
            return true;
        }
        if (b == 8) // the shortest form of most such doubles
            return long_fraction(p, x, v, stop);
    }
    const char *q = p;
    bool neg = sign(&q);
    uint64_t x = load8(q);
    int a = run8(x), b = 0;
    if (a == 8)
        return long_double(p, v, stop);
    uint64_t m = a > 1 ? val8(x, a) : a ? (uint64_t)(*q - '0') : 0;
    q += a;
    if (*q == '.') {
        x = load8(++q);
        b = run8(x);
        if (b)
            m = m * ipow10[b] + val8(x, b);
        q += b;
        if (b == 8) {
            x = load8(q);
            int c = run8(x);
            if (c == 8 || a + b + c > 19) // m would not fit
                return long_double(p, v, stop);
            if (c)
                m = m * ipow10[c] + val8(x, c);
            q += c;
            b += c;
        }
    }
    if (a + b == 0 || !isws(*q))
        return false;
    if (m > (uint64_t)1 << 53)
        return long_double(p, v, stop);
    // m and the power of ten (b is at most 15) are exact.
    double r = b ? (double)m / pow10[b] : (double)m;
    *v = neg ? -r : r;
    *stop = q;
    return true;
}

// Exact number: a decimal number followed by white space, with digits
// before or after its point and an exponent with digits if it has one.
// Where its value is m * 10^x or m / 10^-x with m below 2^53 and |x| at
// most 22, both operands are exact and one correctly rounded operation
// gives the correctly rounded value, the one strtod gives; up to 19
// significant digits over 10^27 at most, quotient gives it. Any other such
// number, however many digits it has, the standard library's from_chars
// converts, correctly rounded as well (libstdc++ from GCC 12 on), unless
// the value overflows or underflows to zero: strtod's result there, an
// infinity or a zero, is left to scanf itself.
__attribute__((noinline)) int exact_double(const char *p, const char *e, double *v,
                                           const char **stop)
{
    const char *q = p;
    bool neg = sign(&q);
    const char *ds = q;
    while (*q == '0')
        q++;
    uint64_t m = 0;
    const char *sig = q;
    while (isdig(*q))
        m = m * 10 + (uint64_t)(*q++ - '0');
    long nsig = q - sig, ndig = q - ds, frac = 0;
    if (*q == '.') {
        const char *fs = ++q;
        if (m == 0)
            while (*q == '0')
                q++;
        const char *s2 = q;
        while (isdig(*q))
            m = m * 10 + (uint64_t)(*q++ - '0');
        nsig += q - s2;
        frac = q - fs;
        ndig += frac;
    }
    bool odd = false;
    long x = 0;
    if (*q == 'e' || *q == 'E') {
        q++;
        bool xneg = sign(&q);
        const char *xs = q;
        // The exponent saturates at 10^17 or more, which no count of
        // fraction digits in a buffer brings back within 22 of zero.
        while (isdig(*q)) {
            if (x < 100000000000000000)
                x = x * 10 + (*q - '0');
            q++;
        }
        odd = q == xs; // an exponent mark without digits
        if (xneg)
            x = -x;
    }
    if (q == e)
        return NEED;
    if (odd || ndig == 0 || !isws(*q))
        return SLOW;
    long x10 = x - frac;
    double r;
    if (nsig == 0) // every digit a zero
        r = 0.0;
    else if (nsig <= 19 && m <= (uint64_t)1 << 53 && x10 >= 0 && x10 <= 22)
        r = (double)m * pow10[x10];
    else if (nsig <= 19 && m <= (uint64_t)1 << 53 && x10 < 0 && x10 >= -22)
        r = (double)m / pow10[-x10];
    else if (nsig <= 19 && x10 < 0 && x10 >= -MAX_POW5)
        r = quotient(m, (int)-x10);
    else if (!long_decimal(ds, q, &r))
        return SLOW;
    *v = neg ? -r : r;
    *stop = q;
    return OK;
}

// The layers that need only the bytes read, in order.
int convert(const char *p, const char *e, double *v, const char **stop)
{
    return fast_double(p, v, stop) ? OK : exact_double(p, e, v, stop);
}

int convert(const char *p, const char *e, int *v, const char **stop)
{
    return fast_int(p, e, v, stop); // every integer it takes it takes exactly
}

ssize_t cookie_read(void *c, char *out, size_t size)
{
    scanner *s = (scanner *)c;
    if (s->replay)
        return 0;
    if (s->pos == s->end && !refill(s)) {
        if (s->err) {
            errno = s->err;
            return -1;
        }
        return 0;
    }
    size_t n = s->end - s->pos;
    if (n > size)
        n = size;
    memcpy(out, s->buf + s->pos, n);
    s->pos += n;
    s->handed += n;
    return (ssize_t)n;
}

// How many bytes f's failed conversion put back: they come out again
// before the stream would ask for a new one, which replay refuses, so a
// terminal is never read further than scanf itself read.
size_t put_back(scanner *s, FILE *f)
{
    size_t n = 0;
    s->replay = true;
    while (fgetc(f) != EOF)
        n++;
    s->replay = false;
    return n;
}

// The C library: fscanf converts the next item straight from the buffer
// and the stream behind it, one byte at a time, and the read position then
// steps back over what it read and did not consume.
//
// The put-back contract. fscanf reads ahead of what it consumes: on
// success %n tells how far it consumed, and a failure, which has no %n,
// leaves the bytes it read ahead in the FILE, where put_back counts them.
// Those bytes were handed to it in this conversion, and stepping back over
// them finds them in the buffer only because refill, however often the
// conversion calls it, keeps LOOKBEHIND bytes behind the read position:
// so no more than LOOKBEHIND, and no more than were handed, may come back.
// glibc reads ahead one byte, the one that ends an item; a C library that
// read further ahead than LOOKBEHIND would break the contract, and that
// stops the program rather than misplace the read position.
__attribute__((noinline)) bool by_c_library(scanner *s, const char *fmt, void *v)
{
    cookie_io_functions_t io = {cookie_read, nullptr, nullptr, nullptr};
    FILE *f = fopencookie(s, "r", io);
    if (!f)
        return false;
    setvbuf(f, nullptr, _IONBF, 0);
    s->handed = 0;
    s->slowed++;
    int n = 0;
    int r = fscanf(f, fmt, v, &n);
    size_t back = r == 1 ? s->handed - (size_t)n : put_back(s, f);
    fclose(f);
    if (back > s->handed || back > LOOKBEHIND) {
        fprintf(stderr, "tarvo: the C library put back %zu of %zu bytes\n", back, s->handed);
        abort();
    }
    s->pos -= back;
    return r == 1;
}

// One item by the layers in order, after the white space before it. An
// item that may go on past the bytes read waits for a refill and starts
// again; what the buffer's layers leave goes to the C library. Out of
// line: inlined into the run loop of scan_doubles, its one caller there,
// it costs that loop registers (about 1% more instructions on 17-digit
// numbers).
template <typename T>
__attribute__((noinline)) bool convert_one(scanner *s, T *v, const char *fmt)
{
    for (;;) {
        const char *b = s->buf, *p = b + s->pos, *e = b + s->end;
        while (isws(*p)) // the sentinel NUL stops it at the end
            p++;
        s->pos = p - b;
        const char *stop;
        int r = p == e ? NEED : convert(p, e, v, &stop);
        if (r == OK) {
            s->pos = stop - b;
            return true;
        }
        if (r == NEED && refill(s))
            continue;
        return p != e && by_c_library(s, fmt, v); // nothing is left to convert at the end
    }
}

// A run of everyday numbers, converted without leaving the buffer: by the
// run kernel where the reader uses one, and one fast number after another
// where it stops, with the read position kept in a register. It stops at
// the first item of another shape, or one the buffer may cut off.
int run_doubles(scanner *s, double *v, int n)
{
    const char *b = s->buf, *p = b + s->pos;
    int i = 0;
#if defined(__x86_64__)
    // The kernel goes on after each item it stops at, unless it took none:
    // then the numbers are of another shape, and calling it again for each
    // would only cost.
    bool kernel = active_isa() == isa::avx2;
#endif
    while (i < n) {
#if defined(__x86_64__)
        if (kernel) {
            int k = doubles_avx2(p, b + s->end, v + i, n - i, &p);
            i += k;
            kernel = k > 0;
            if (i == n)
                break;
        }
#endif
        while (isws(*p)) // the sentinel NUL stops it at the end
            p++;
        if (!fast_double(p, &v[i], &p))
            break;
        i++;
    }
    s->pos = p - b;
    return i;
}

} // namespace

void scan_open(scanner *s, int fd, char *buf, size_t cap)
{
    memset(buf, 0, cap + SCAN_SLACK);
    s->buf = buf;
    s->fd = fd;
    s->cap = cap;
    s->pos = s->end = 0; // the zeroed buffer starts with its sentinel
    s->eof = false;
    s->err = 0;
    s->handed = 0;
    s->base = 0;
    s->slowed = 0;
    s->replay = false;
}

bool scan_int(scanner *s, int *v)
{
    return convert_one(s, v, "%d%n");
}

// The run kernel takes what it can; the item it stops at takes the layers
// in order, and the kernel goes on after it.
int scan_doubles(scanner *s, double *v, int n)
{
    int i = 0;
    for (;;) {
        i += run_doubles(s, v + i, n - i);
        if (i == n || !convert_one(s, &v[i], "%lf%n"))
            return i;
        i++;
    }
}

// Everyday codes: the run kernel where the reader uses one, then one at a
// time up to the first item of another shape.
int scan_codes(scanner *s, int *v, int n)
{
    const char *b = s->buf, *p = b + s->pos;
    int i = 0;
#if defined(__x86_64__)
    if (active_isa() == isa::avx2)
        i = codes_avx2(p, b + s->end, v, n, &p);
#endif
    for (; i < n && everyday_code(p); i++) {
        v[i] = p[1] - '0';
        p += 2;
    }
    s->pos = p - b;
    return i;
}

bool scan_ended(scanner *s)
{
    do {
        const char *b = s->buf, *p = b + s->pos;
        while (isws(*p)) // the sentinel NUL stops it at the end
            p++;
        s->pos = p - b;
        if (s->pos < s->end)
            return false;
    } while (refill(s));
    return s->err == 0;
}
