#include "tarvo-pileup/panel.h"

#include "common/error.h"
#include "tarvo-pileup/freq.h"
#include "common/order.h"
#include "tarvo-pileup/pileup.h"

#include <climits>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// A field of a panel line.
struct field {
    const char *p;
    size_t len;
};

bool blank(char c)
{
    return c == ' ' || c == '\t';
}

// 0-3 for A, C, G, T in either case; -1 for anything else.
int base(field f)
{
    return f.len == 1 ? base_code(f.p[0]) : -1;
}

double frequency(const panel *pn, field f)
{
    // The first pass needs only to know that the text is a frequency.
    if (pn->checking && plain_fraction(f.p, f.len))
        return 0;
    double v;
    if (!read_number(f.p, f.len, &v) || !(v >= 0 && v <= 1))
        error("tarvo-pileup: %s, line %ld: frequency \"%.*s\" is not a number from 0 to 1\n",
              pn->in.name, line_number(&pn->in), (int)f.len, f.p);
    return v;
}

// Splits a line at its runs of blanks into f, up to max fields; the
// number of fields, which may be more.
int split_fields(const char *p, size_t len, field *f, int max)
{
    int n = 0;
    for (size_t i = 0; i < len;) {
        while (i < len && blank(p[i]))
            i++;
        if (i == len)
            break;
        size_t from = i;
        while (i < len && !blank(p[i]))
            i++;
        if (n < max)
            f[n] = {p + from, i - from};
        n++;
    }
    return n;
}

// The fields of the next locus line, passing over comments and blank
// lines; 0 at the end of the file.
int next_fields(panel *pn, field f[11])
{
    const char *p;
    size_t len;
    int n;
    do {
        if (!next_line(&pn->in, &p, &len))
            return 0;
        if (len > 0 && p[0] == '#')
            continue;
        if (len > 0 && p[len - 1] == '\r')
            error("tarvo-pileup: %s, line %ld: the line ends in a carriage return (a file "
                  "with DOS line ends); remove them, for example with tr -d '\\r'\n",
                  pn->in.name, line_number(&pn->in));
        n = split_fields(p, len, f, 11);
    } while (n == 0);
    if (n != 6 && n != 10)
        error("tarvo-pileup: %s, line %ld: %d columns; a panel line has 6 (chromosome, "
              "position, ref, alt, two frequencies of alt) or 10 (chromosome, position, "
              "frequencies of A, C, G, T in population 0 and in population 1)\n",
              pn->in.name, line_number(&pn->in), n);
    if (!pn->columns)
        pn->columns = n;
    else if (n != pn->columns)
        error("tarvo-pileup: %s, line %ld: %d columns where the first locus has %d\n",
              pn->in.name, line_number(&pn->in), n, pn->columns);
    return n;
}

// The 6-column form: ref, alt and the frequency of alt in each population.
void ref_alt(panel *pn, const field f[6], site *s)
{
    int ref = base(f[2]), alt = base(f[3]);
    if (ref < 0 || alt < 0)
        error("tarvo-pileup: %s, line %ld: \"%.*s\" is not one of the bases A, C, G, T\n",
              pn->in.name, line_number(&pn->in), (int)f[ref < 0 ? 2 : 3].len,
              f[ref < 0 ? 2 : 3].p);
    if (ref == alt)
        error("tarvo-pileup: %s, line %ld: ref and alt are both %c\n", pn->in.name,
              line_number(&pn->in), BASES[ref]);
    double af[POPULATIONS] = {frequency(pn, f[4]), frequency(pn, f[5])};
    s->ref = ref;
    for (int k = 0; k < POPULATIONS; k++) {
        double *pop = s->freq + NBASES * k;
        for (int i = 0; i < NBASES; i++)
            pop[i] = 0;
        pop[ref] = 1 - af[k];
        pop[alt] = af[k];
    }
}

// Reads the next locus line into *s and its chromosome into *chrom;
// false at the end of the file.
bool next_site(panel *pn, field *chrom, site *s)
{
    field f[11];
    const int n = next_fields(pn, f);
    if (n == 0)
        return false;
    *chrom = f[0];
    if (!read_position(f[1].p, f[1].len, &s->pos))
        not_position(pn->in.name, line_number(&pn->in), f[1].p, f[1].len);
    if (n == 6) {
        ref_alt(pn, f, s);
        return true;
    }
    s->ref = -1;
    for (int i = 0; i < FREQS; i++)
        s->freq[i] = frequency(pn, f[2 + i]);
    return true;
}

bool same(field f, const std::string &s)
{
    return f.len == s.size() && memcmp(f.p, s.data(), f.len) == 0;
}

// FNV-1a, 64 bits: two names of a million share a hash about once in ten
// million panels, and then the name read back from the file tells them
// apart.
uint64_t hash(const char *p, size_t len)
{
    uint64_t h = 0xcbf29ce484222325u;
    for (size_t i = 0; i < len; i++)
        h = (h ^ (unsigned char)p[i]) * 0x100000001b3u;
    return h;
}

const uint64_t LEFT = uint64_t(1) << 63;

// The slot of the table where the search for hash h begins.
size_t slot(const panel *pn, uint64_t h)
{
    return (size_t)((h * 0x9e3779b97f4a7c15u) >> pn->shift);
}

// Moves to the first locus of the chromosome whose lines begin at off;
// its name in *f.
bool first_site(panel *pn, uint64_t off, field *f)
{
    lines_seek(&pn->in, off);
    return next_site(pn, f, &pn->at);
}

bool changed(const panel *pn)
{
    struct stat st;
    return fstat(pn->in.fd, &st) != 0 || (uint64_t)st.st_size != pn->size ||
           st.st_mtim.tv_sec != pn->mtime.tv_sec || st.st_mtim.tv_nsec != pn->mtime.tv_nsec;
}

[[noreturn]] void gone(const panel *pn)
{
    error("tarvo-pileup: %s changed while it was read; run again on a panel that stays as it "
          "is\n",
          pn->in.name);
}

// The table of the chromosomes by hash, filled once their number is
// known: at most three quarters full, so a search ends after a slot or two.
// Two of the same name are found here: the first pass kept no names.
void tabulate(panel *pn)
{
    const std::deque<start> &x = pn->index;
    if (x.size() >= UINT32_MAX)
        error("tarvo-pileup: %s: more than %u chromosomes\n", pn->in.name, UINT32_MAX - 1);
    int bits = 1;
    while (((size_t)3 << bits) < 4 * x.size())
        bits++;
    pn->shift = 64 - bits;
    pn->slots.assign((size_t)1 << bits, 0);
    const size_t mask = pn->slots.size() - 1;
    std::string name;
    field f;
    for (size_t i = 0; i < x.size(); i++) {
        size_t j = slot(pn, x[i].hash);
        for (; pn->slots[j]; j = (j + 1) & mask) {
            const start &e = x[pn->slots[j] - 1];
            if (e.hash != x[i].hash)
                continue;
            first_site(pn, e.at, &f);
            name.assign(f.p, f.len);
            first_site(pn, x[i].at, &f);
            if (same(f, name)) {
                char rule[96]; // the text and a line number of up to 20 digits
                snprintf(rule, sizeof rule, "its loci must come together (they began at line %ld)",
                         line_at(&pn->in, e.at));
                came_back(&pn->in, line_at(&pn->in, x[i].at), name.c_str(), rule);
            }
        }
        pn->slots[j] = (uint32_t)(i + 1);
    }
}

} // namespace

void panel_open(panel *pn, const char *path)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        error("tarvo-pileup: cannot open %s: %s\n", path, strerror(errno));
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        error("tarvo-pileup: %s is not a plain file; the panel is read more than once\n", path);
    pn->dev = st.st_dev;
    pn->ino = st.st_ino;
    lines_open(&pn->in, fd, path, "tarvo-pileup");
    pn->columns = 0;
    pn->done = true;
    pn->current = SIZE_MAX - 1; // none: no chromosome is "next"

    // The checking pass: every line, and the order of the loci.
    pn->checking = true;
    std::string prev;
    uint64_t prev_pos = 0;
    field chrom;
    site s;
    while (next_site(pn, &chrom, &s)) {
        if (!same(chrom, prev)) {
            prev.assign(chrom.p, chrom.len);
            // The line is still in the buffer, so where its name lies there
            // gives its place in the file.
            uint64_t offset = pn->in.at + (uint64_t)(chrom.p - pn->in.buf);
            pn->index.push_back(start{hash(chrom.p, chrom.len), offset});
        } else {
            ascending(&pn->in, prev, s.pos, prev_pos);
        }
        prev_pos = s.pos;
    }
    pn->checking = false;
    tabulate(pn);
    // The size and time once read through: a change from here on is one
    // the checks above did not see.
    if (fstat(fd, &st) != 0)
        error("tarvo-pileup: cannot read %s: %s\n", path, strerror(errno));
    pn->size = (uint64_t)st.st_size;
    pn->mtime = st.st_mtim;
}

namespace {

// Moves to chromosome `chrom` if entry i of the index is it.
int visit(panel *pn, size_t i, const std::string &chrom)
{
    start &e = pn->index[i];
    field f;
    bool any = first_site(pn, e.at & ~LEFT, &f);
    if (!any || !same(f, chrom)) {
        // Another name of the same hash, or the file is not what it was.
        if (!any || changed(pn))
            gone(pn);
        return CHROM_NONE;
    }
    if (e.at & LEFT)
        return CHROM_AGAIN;
    e.at |= LEFT;
    pn->current = i;
    pn->done = false;
    return CHROM_FOUND;
}

} // namespace

int panel_chrom(panel *pn, const std::string &chrom)
{
    pn->chrom = chrom;
    pn->done = true;
    const uint64_t h = hash(chrom.data(), chrom.size());
    // A pileup mostly takes the chromosomes in the panel's order: the one
    // after the last is next to it, with no search.
    const size_t next = pn->current + 1;
    if (next < pn->index.size() && pn->index[next].hash == h) {
        int r = visit(pn, next, chrom);
        if (r != CHROM_NONE)
            return r;
    }
    const size_t mask = pn->slots.size() - 1;
    for (size_t j = slot(pn, h); pn->slots[j]; j = (j + 1) & mask) {
        const size_t i = pn->slots[j] - 1;
        if (pn->index[i].hash == h) {
            int r = visit(pn, i, chrom);
            if (r != CHROM_NONE)
                return r;
        }
    }
    return CHROM_NONE;
}

bool panel_find(panel *pn, uint64_t pos)
{
    field f;
    while (!pn->done && pn->at.pos < pos)
        pn->done = !next_site(pn, &f, &pn->at) || !same(f, pn->chrom);
    return !pn->done && pn->at.pos == pos;
}

void panel_unchanged(const panel *pn)
{
    if (changed(pn))
        gone(pn);
}

const site &panel_site(const panel *pn)
{
    return pn->at;
}

const char *panel_name(const panel *pn)
{
    return pn->in.name;
}

long panel_line(const panel *pn)
{
    return line_number(&pn->in);
}

bool panel_is(const panel *pn, const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && (uint64_t)st.st_dev == pn->dev &&
           (uint64_t)st.st_ino == pn->ino;
}
