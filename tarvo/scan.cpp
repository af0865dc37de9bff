// The reader converts each item by the first of four layers that can:
//
//   everyday codes   a code between white space, many at a time (scan_codes)
//   fast number      the shapes of everyday numbers: the run kernel many at
//                    a time, fast_double and fast_int one at a time
//   exact number     any decimal number whose value one correctly rounded
//                    operation gives (exact_double)
//   the C library    everything else, read by fscanf itself (slow)
//
// The first three look only at the bytes in the buffer, and an item that
// may go on past them waits for a refill; the C library reads through the
// buffer into the stream behind it.

#include "tarvo/scan.h"
#include "tarvo/cpu.h"
#include "tarvo/digits.h"
#include "tarvo/everyday.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Bytes refill keeps behind the read position, for the C library's
// put-back (see slow). A quarter of the smallest buffer, so a refill always
// has room.
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

// Fast number, for "%lf": digits with an optional fraction, followed by
// white space, converted eight bytes at a time without a branch per digit.
// Whatever else it meets it leaves to exact_double, which also tells an
// item cut off by the end of the bytes read.
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
    }
    const char *q = p;
    bool neg = sign(&q);
    uint64_t x = load8(q);
    int a = run8(x), b = 0;
    if (a == 8)
        return false;
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
                return false;
            if (c)
                m = m * ipow10[c] + val8(x, c);
            q += c;
            b += c;
        }
    }
    if (a + b == 0 || m > (uint64_t)1 << 53 || !isws(*q))
        return false;
    // m and the power of ten (b is at most 15) are exact.
    double r = b ? (double)m / pow10[b] : (double)m;
    *v = neg ? -r : r;
    *stop = q;
    return true;
}

// Exact number: a decimal number of at most 19 significant digits,
// followed by white space, whose value is m * 10^x or m / 10^-x with m
// below 2^53 and |x| at most 22. Both operands are then exact and one
// correctly rounded operation gives the correctly rounded value, the one
// strtod gives.
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
    if (back > s->handed || back > LOOKBEHIND) {
        fprintf(stderr, "tarvo: the C library put back %zu of %zu bytes\n", back, s->handed);
        abort();
    }
    s->pos -= back;
    return r == 1;
}

// One item by the layers in order, after the white space before it. An
// item that may go on past the bytes read waits for a refill and starts
// again; what the buffer's layers leave goes to the C library.
template <typename T>
bool item(scanner *s, T *v, const char *fmt)
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
        return p != e && slow(s, fmt, v); // nothing is left to convert at the end
    }
}

// A run of everyday numbers, converted without leaving the buffer: by the
// run kernel where the reader uses one, else one fast number after another
// with the read position kept in a register. It stops at the first item
// of another shape, or one the buffer may cut off.
int run_doubles(scanner *s, double *v, int n)
{
    const char *b = s->buf, *p = b + s->pos;
    int i = 0;
#if defined(__x86_64__)
    if (scan_use_avx2)
        i = doubles_avx2(p, b + s->end, v, n, &p);
    else
#endif
        for (; i < n; i++) {
            while (isws(*p)) // the sentinel NUL stops it at the end
                p++;
            if (!fast_double(p, &v[i], &p))
                break;
        }
    s->pos = p - b;
    return i;
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

bool scan_int(scanner *s, int *v)
{
    return item(s, v, "%d%n");
}

bool scan_double(scanner *s, double *v)
{
    return item(s, v, "%lf%n");
}

// The run kernel takes what it can; the item it stops at takes the layers
// in order, and the kernel goes on after it.
int scan_doubles(scanner *s, double *v, int n)
{
    int i = 0;
    for (;;) {
        i += run_doubles(s, v + i, n - i);
        if (i == n || !item(s, &v[i], "%lf%n"))
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
    if (scan_use_avx2)
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
