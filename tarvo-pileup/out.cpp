#include "tarvo-pileup/out.h"

#include "common/error.h"
#include "common/io.h"
#include "tarvo-pileup/phred.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const size_t BUFFER = 1 << 16;

// Room for any one item: a double in its shortest form is at most 24
// bytes, a separator one more.
const size_t ITEM = 32;
const size_t SHORTEST = 24;

// Each error rate as text, worked out once.
struct eps_text {
    char text[94][ITEM];
    unsigned char len[94];
};
eps_text eps_texts;

// The shortest texts of the frequencies written last, by their bits. A
// panel's frequencies are counts over a few hundred haplotypes, so few
// values recur at every locus, and each costs a table look-up instead of
// a shortest-form conversion. A slot holds the text of exactly its bits.
struct freq_cache {
    static const size_t SLOTS = 4096;
    uint64_t bits[SLOTS];
    char text[SLOTS][SHORTEST];
    unsigned char len[SLOTS];
};
freq_cache cache;

// Writes x in its shortest form at p; the end of what it wrote.
char *put_freq(char *p, double x)
{
#ifdef PILEUP_PLAIN
    return std::to_chars(p, p + ITEM, x).ptr;
#endif
    uint64_t b;
    memcpy(&b, &x, sizeof b);
    if (b == 0) { // +0, the most common frequency of all
        *p = '0';
        return p + 1;
    }
    size_t k = (size_t)((b * 0x9e3779b97f4a7c15u) >> 52);
    if (cache.bits[k] != b) {
        char *t = cache.text[k];
        cache.len[k] = (unsigned char)(std::to_chars(t, t + SHORTEST, x).ptr - t);
        cache.bits[k] = b;
    }
    memcpy(p, cache.text[k], SHORTEST);
    return p + cache.len[k];
}

// Writes the sink's bytes; false, with errno set, when a write fails.
bool drain(sink *s)
{
    bool ok = write_all(s->fd, s->buf, s->len);
    s->len = 0;
    return ok;
}

// Once a write of the observations has failed, some of them are lost or
// cut, so from then on no site line may follow: its observation may be
// among them.
void flush_obs(outputs *o)
{
    if (!drain(&o->obs)) {
        o->failed = true;
        error("tarvo-pileup: cannot write %s: %s\n", o->obs.name, strerror(errno));
    }
}

// Observations first, so that the sites file never runs ahead.
void flush_both(outputs *o)
{
    flush_obs(o);
    if (o->sites.fd >= 0 && !drain(&o->sites))
        error("tarvo-pileup: cannot write %s: %s\n", o->sites.name, strerror(errno));
}

// A failure ends the run through exit with lines still waiting; they
// belong in their files all the same. A write failing here has no one
// left to tell, but it must not let the sites file run ahead.
void write_waiting(void *arg)
{
    outputs *o = static_cast<outputs *>(arg);
    if (o->failed)
        return;
    if (!drain(&o->obs))
        return;
    if (o->sites.fd >= 0)
        drain(&o->sites);
}

void make(sink *s, int fd, const char *name, size_t cap)
{
    s->fd = fd;
    s->name = name;
    s->len = 0;
    s->cap = cap;
    s->buf = static_cast<char *>(malloc(cap));
    if (!s->buf)
        error("tarvo-pileup: out of memory\n");
}

} // namespace

void out_open(outputs *o, const char *sites_path, int n)
{
    // An observation is written whole into the buffer, with no check per
    // number: codes, the eight frequencies and the error rates, each with
    // room for its longest form and a separator.
    o->n = n;
    o->failed = false;
    o->count = 0;
    o->line_max = 2 * (size_t)n + FREQS * ITEM + ITEM * (size_t)n;
    make(&o->obs, 1, "standard output", BUFFER + o->line_max);
    o->pad = static_cast<char *>(malloc(4 * (size_t)n));
    if (!o->pad)
        error("tarvo-pileup: out of memory\n");
    for (int i = 0; i < n; i++) {
        o->pad[2 * i] = '0' + MISSING;
        o->pad[2 * i + 1] = ' ';
        memcpy(o->pad + 2 * (n + i), "0 ", 2);
    }
    o->sites.fd = -1;
    if (sites_path) {
        int fd = open(sites_path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0)
            error("tarvo-pileup: cannot open %s: %s\n", sites_path, strerror(errno));
        make(&o->sites, fd, sites_path, BUFFER);
    }
    for (int q = 0; q < 94; q++) {
        auto r = std::to_chars(eps_texts.text[q], eps_texts.text[q] + ITEM, phred_eps[q]);
        eps_texts.len[q] = (unsigned char)(r.ptr - eps_texts.text[q]);
    }
    at_exit(write_waiting, o);
}

namespace {

// The parts of one observation, written at p with no check per number:
// the buffer has room for the longest line.
struct writer {
    const outputs *o;
    char *p;
    long used;
    size_t pad; // bytes of padding in each padded part
    const unsigned char *code, *qual;
    const double *freq;

    void codes()
    {
        for (long i = 0; i < used; i++) {
            p[0] = (char)('0' + code[i]);
            p[1] = ' ';
            p += 2;
        }
        memcpy(p, o->pad, pad);
        p += pad;
    }

    void freqs()
    {
        for (int i = 0; i < FREQS; i++) {
            p = put_freq(p, freq[i]);
            *p++ = ' ';
        }
    }

    void eps()
    {
        for (long i = 0; i < used; i++) {
#ifdef PILEUP_PLAIN
            p = std::to_chars(p, p + ITEM, phred_eps[qual[i]]).ptr;
#else
            memcpy(p, eps_texts.text[qual[i]], ITEM);
            p += eps_texts.len[qual[i]];
#endif
            *p++ = ' ';
        }
        // Padding takes an error rate that tarvo never uses: it skips
        // sites of the missing code.
        memcpy(p, o->pad + 2 * (size_t)o->n, pad);
        p += pad;
    }
};

} // namespace

void put_observation(outputs *o, long used, const unsigned char *codes,
                     const unsigned char *quals, const double freq[FREQS])
{
    sink *s = &o->obs;
    o->count++;
    if (s->cap - s->len < o->line_max)
        flush_obs(o);
    writer w{o, s->buf + s->len, used, 2 * (size_t)(o->n - used), codes, quals, freq};
    each_part(w);
    w.p[-1] = '\n';
    s->len = (size_t)(w.p - s->buf);
}

void put_site(outputs *o, const char *chrom, size_t chrom_len, uint64_t pos, long used,
              long left)
{
    sink *s = &o->sites;
    if (s->fd < 0)
        return;
    // A name longer than the buffer goes in pieces.
    while (chrom_len > 0) {
        if (s->len == s->cap)
            flush_both(o);
        size_t k = s->cap - s->len < chrom_len ? s->cap - s->len : chrom_len;
        memcpy(s->buf + s->len, chrom, k);
        s->len += k;
        chrom += k;
        chrom_len -= k;
    }
    if (s->cap - s->len < 3 * 24)
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
    at_exit_done(write_waiting, o);
    if (o->sites.fd >= 0 && close(o->sites.fd) != 0)
        error("tarvo-pileup: cannot write %s: %s\n", o->sites.name, strerror(errno));
}
