#include "tarvo/scan.h"
#include "tarvo/cpu.h"
#include "tarvo/digits.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// scanf puts back at most one character; keeping a few more behind the read
// position lets a slow conversion hand back what it read ahead. A quarter
// of the smallest buffer, so a refill always has room.
const size_t LOOKBEHIND = 64;

enum { OK, SLOW, NEED };

struct classes {
    bool ws[256];
    constexpr classes() : ws()
    {
        // White space as isspace() has it in the C locale, which is the
        // locale a program runs in until it calls setlocale().
        ws[(unsigned char)' '] = ws[(unsigned char)'\t'] = true;
        ws[(unsigned char)'\n'] = ws[(unsigned char)'\v'] = true;
        ws[(unsigned char)'\f'] = ws[(unsigned char)'\r'] = true;
    }
};
constexpr classes cls;

inline bool isws(char c)
{
    return cls.ws[(unsigned char)c];
}

inline bool isdig(char c)
{
    return (unsigned)(c - '0') < 10;
}

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
    ssize_t n;
    do
        n = read(s->fd, s->buf + s->end, s->cap - s->end);
    while (n < 0 && errno == EINTR);
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

// A whole decimal integer of at most 18 digits, so that no long can
// overflow, followed by white space. Anything else is left to scanf.
int fast_int(const char *p, const char *e, int *v, const char **stop)
{
    const char *q = p;
    bool neg = *q == '-';
    if (*q == '-' || *q == '+')
        q++;
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

// A decimal number of at most 19 significant digits, followed by white
// space, whose value is m * 10^x or m / 10^-x with m below 2^53 and |x| at
// most 22. Both operands are then exact and one correctly rounded operation
// gives the correctly rounded value, the one strtod gives.
__attribute__((noinline)) int plain_double(const char *p, const char *e, double *v,
                                           const char **stop)
{
    const char *q = p;
    bool neg = *q == '-';
    if (*q == '-' || *q == '+')
        q++;
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
        bool xneg = *q == '-';
        if (*q == '-' || *q == '+')
            q++;
        const char *xs = q;
        // The exponent saturates at 10^17 or more, which no count of
        // fraction digits in a buffer brings back within 22 of zero: such
        // a number, unless it is zero, goes to the C library whole.
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
    if (odd || ndig == 0 || nsig > 19 || !isws(*q))
        return SLOW;
    long x10 = x - frac;
    double r;
    if (m == 0)
        r = 0.0;
    else if (m > (uint64_t)1 << 53)
        return SLOW;
    else if (x10 >= 0 && x10 <= 22)
        r = (double)m * pow10[x10];
    else if (x10 < 0 && x10 >= -22)
        r = (double)m / pow10[-x10];
    else
        return SLOW;
    *v = neg ? -r : r;
    *stop = q;
    return OK;
}

// The everyday shape, digits with an optional fraction, converted eight
// bytes at a time without a branch per digit. Every other shape goes to
// plain_double.
int fast_double(const char *p, const char *e, double *v, const char **stop)
{
    // load8, run8 and val8 take the first byte as the lowest, as it is on a
    // little-endian processor; a big-endian build reads byte at a time.
    if (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__)
        return plain_double(p, e, v, stop);
    // Frequencies and error rates mostly read "0." and a few digits.
    if (p[0] == '0' && p[1] == '.') {
        uint64_t x = load8(p + 2);
        int b = run8(x);
        const char *q = p + 2 + b;
        if (b > 0 && b < 8 && isws(*q)) {
            *v = (double)val8(x, b) / pow10[b];
            *stop = q;
            return OK;
        }
    }
    const char *q = p;
    bool neg = *q == '-';
    if (*q == '-' || *q == '+')
        q++;
    uint64_t x = load8(q);
    int a = run8(x), b = 0;
    if (a == 8)
        return plain_double(p, e, v, stop);
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
                return plain_double(p, e, v, stop);
            if (c)
                m = m * ipow10[c] + val8(x, c);
            q += c;
            b += c;
        }
    }
    if (a + b == 0 || *q == 'e' || *q == 'E' || m > (uint64_t)1 << 53)
        return plain_double(p, e, v, stop);
    if (q == e)
        return NEED;
    if (!isws(*q))
        return SLOW;
    // m and the power of ten (b is at most 15) are exact.
    double r = b ? (double)m / pow10[b] : (double)m;
    *v = neg ? -r : r;
    *stop = q;
    return OK;
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

// Lets the C library convert the next item straight from the stream, one
// byte at a time, then takes back what it read ahead and put back. A
// failure has no %n count, so the stream itself says what it kept.
__attribute__((noinline)) bool slow(scanner *s, const char *fmt, void *v)
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
    s->pos -= back;
    return r == 1;
}

// The block kernel for a run of items, if this processor has one.
inline int block(const char *, const char *, int *, int, const char **)
{
    return 0; // codes have scan_codes
}

inline int block(const char *p, const char *e, double *v, int n, const char **stop)
{
#if defined(__x86_64__)
    return doubles_avx2(p, e, v, n, stop);
#else
    (void)p, (void)e, (void)v, (void)n, (void)stop;
    return 0;
#endif
}

inline bool iscode(char c)
{
    return (unsigned)(c - '0') < 4 || c == '5';
}

} // namespace

bool scan_use_avx2 = cpu_avx2();

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

// Converts up to n items into v and returns how many converted before the
// first failure. While the fast path holds, the read position stays in a
// register from one item to the next.
template <typename T, typename F>
static inline int scan_n(scanner *s, T *v, int n, F fast, const char *fmt, bool kernel = false)
{
    int i = 0;
    while (i < n) {
        const char *b = s->buf, *p = b + s->pos, *e = b + s->end;
        int r = OK;
        for (; i < n; i++) {
            if (kernel) {
                i += block(p, e, v + i, n - i, &p);
                if (i == n)
                    break;
            }
            while (isws(*p))
                p++;
            const char *stop;
            r = p == e ? NEED : fast(p, e, &v[i], &stop);
            if (r != OK)
                break;
            p = stop;
        }
        s->pos = p - b;
        if (i == n)
            break;
        if (r == NEED && refill(s))
            continue;
        if (p == e || !slow(s, fmt, &v[i]))
            return i; // end of input, or not a number
        i++;
    }
    return i;
}

bool scan_int_any(scanner *s, int *v)
{
    return scan_n(s, v, 1, fast_int, "%d%n") == 1;
}

bool scan_double(scanner *s, double *v)
{
    return scan_n(s, v, 1, fast_double, "%lf%n") == 1;
}

int scan_doubles(scanner *s, double *v, int n)
{
    return scan_n(s, v, n, fast_double, "%lf%n", scan_use_avx2);
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

int scan_codes(scanner *s, int *v, int n)
{
    const char *b = s->buf, *p = b + s->pos;
    int i = 0;
#if defined(__x86_64__)
    if (scan_use_avx2)
        i = codes_avx2(p, b + s->end, v, n, &p);
#endif
    // The sentinel NUL that ends the bytes read is not white space, so no
    // test here passes at or past the end.
    for (; i < n && isws(p[0]) && iscode(p[1]) && isws(p[2]); i++) {
        v[i] = p[1] - '0';
        p += 2;
    }
    s->pos = p - b;
    return i;
}
