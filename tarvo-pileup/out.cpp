#include "tarvo-pileup/out.h"

#include "common/error.h"
#include "tarvo-pileup/phred.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const size_t BUFFER = 1 << 16;

// Room for any one item: a double in its shortest form is at most 24
// bytes, a separator one more.
const size_t ITEM = 32;

// Each error rate as text, worked out once.
struct eps_text {
    char text[94][ITEM];
    unsigned char len[94];
};
eps_text eps;

// What the exit handler writes: the outputs of the run.
outputs *pending;

// Writes the sink's bytes; false, with errno set, when a write fails.
bool drain(sink *s)
{
    size_t done = 0;
    while (done < s->len) {
        ssize_t w = write(s->fd, s->buf + done, s->len - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            if (w == 0)
                errno = EIO;
            s->len = 0;
            return false;
        }
        done += (size_t)w;
    }
    s->len = 0;
    return true;
}

void flush(sink *s)
{
    if (!drain(s))
        error("tarvo-pileup: cannot write %s: %s\n", s->name, strerror(errno));
}

// Observations first, so that the sites file never runs ahead.
void flush_both(outputs *o)
{
    flush(&o->obs);
    if (o->sites.fd >= 0)
        flush(&o->sites);
}

// A failure ends the run through exit with lines still waiting; they
// belong in their files all the same. A write failing here has no one
// left to tell, but it must not let the sites file run ahead.
void at_exit()
{
    if (pending && drain(&pending->obs) && pending->sites.fd >= 0)
        drain(&pending->sites);
}

void make(sink *s, int fd, const char *name)
{
    s->fd = fd;
    s->name = name;
    s->len = 0;
    s->buf = static_cast<char *>(malloc(BUFFER));
    if (!s->buf)
        error("tarvo-pileup: out of memory\n");
}

inline char *room(sink *s)
{
    if (BUFFER - s->len < ITEM)
        flush(s);
    return s->buf + s->len;
}

} // namespace

void out_open(outputs *o, const char *sites_path)
{
    make(&o->obs, 1, "standard output");
    o->sites.fd = -1;
    if (sites_path) {
        int fd = open(sites_path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0)
            error("tarvo-pileup: cannot open %s: %s\n", sites_path, strerror(errno));
        make(&o->sites, fd, sites_path);
    }
    for (int q = 0; q < 94; q++) {
        auto r = std::to_chars(eps.text[q], eps.text[q] + ITEM, phred_eps[q]);
        eps.len[q] = (unsigned char)(r.ptr - eps.text[q]);
    }
    pending = o;
    static bool registered = false;
    if (!registered && atexit(at_exit) == 0)
        registered = true;
}

void put_observation(outputs *o, int n, long used, const unsigned char *codes,
                     const unsigned char *quals, const double freq[8])
{
    sink *s = &o->obs;
    for (int i = 0; i < n; i++) {
        char *p = room(s);
        p[0] = (char)('0' + (i < used ? codes[i] : 5));
        p[1] = ' ';
        s->len += 2;
    }
    for (int i = 0; i < 8; i++) {
        char *p = room(s);
        char *e = std::to_chars(p, p + ITEM, freq[i]).ptr;
        *e++ = n == 0 && i == 7 ? '\n' : ' ';
        s->len += (size_t)(e - p);
    }
    for (int i = 0; i < n; i++) {
        char *p = room(s);
        // Padding takes an error rate that tarvo never uses: it skips
        // sites of code 5.
        if (i < used) {
            memcpy(p, eps.text[quals[i]], ITEM);
            p += eps.len[quals[i]];
        } else {
            *p++ = '0';
        }
        *p++ = i == n - 1 ? '\n' : ' ';
        s->len = (size_t)(p - s->buf);
    }
}

void put_site(outputs *o, const char *chrom, size_t chrom_len, uint64_t pos, long used,
              long left)
{
    sink *s = &o->sites;
    if (s->fd < 0)
        return;
    // A name longer than the buffer goes in pieces.
    while (chrom_len > 0) {
        if (s->len == BUFFER)
            flush_both(o);
        size_t k = BUFFER - s->len < chrom_len ? BUFFER - s->len : chrom_len;
        memcpy(s->buf + s->len, chrom, k);
        s->len += k;
        chrom += k;
        chrom_len -= k;
    }
    if (BUFFER - s->len < 3 * 24)
        flush_both(o);
    char *p = s->buf + s->len;
    *p++ = '\t';
    p = std::to_chars(p, p + 24, pos).ptr;
    *p++ = '\t';
    p = std::to_chars(p, p + 24, used).ptr;
    *p++ = '\t';
    p = std::to_chars(p, p + 24, left).ptr;
    *p++ = '\n';
    s->len = (size_t)(p - s->buf);
}

void out_close(outputs *o)
{
    flush_both(o);
    pending = nullptr;
    if (o->sites.fd >= 0 && close(o->sites.fd) != 0)
        error("tarvo-pileup: cannot write %s: %s\n", o->sites.name, strerror(errno));
}
