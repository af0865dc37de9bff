#include "tarvo-pileup/panel.h"

#include "common/error.h"
#include "tarvo-pileup/freq.h"
#include "tarvo-pileup/order.h"
#include "tarvo-pileup/pileup.h"

#include <cerrno>
#include <charconv>
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

double frequency(const panel *pn, field f, long line)
{
    double v;
    if (!read_number(f.p, f.len, &v) || !(v >= 0 && v <= 1))
        error("tarvo-pileup: %s, line %ld: frequency \"%.*s\" is not a number from 0 to 1\n",
              pn->in.name, line, (int)f.len, f.p);
    return v;
}

// Reads the next locus line into *s and its chromosome into *chrom,
// passing over comments and blank lines; false at the end of the file.
bool next_site(panel *pn, field *chrom, site *s)
{
    const char *p;
    size_t len;
    field f[11];
    int n;
    do {
        if (!next_line(&pn->in, &p, &len))
            return false;
        if (len > 0 && p[0] == '#')
            continue;
        n = 0;
        for (size_t i = 0; i < len;) {
            while (i < len && blank(p[i]))
                i++;
            if (i == len)
                break;
            size_t from = i;
            while (i < len && !blank(p[i]))
                i++;
            if (n < 11)
                f[n] = {p + from, i - from};
            n++;
        }
    } while (n == 0);
    const long line = pn->in.line;
    if (n != 6 && n != 10)
        error("tarvo-pileup: %s, line %ld: %d columns; a panel line has 6 (chromosome, "
              "position, ref, alt, two frequencies of alt) or 10 (chromosome, position, "
              "frequencies of A, C, G, T in population 0 and in population 1)\n",
              pn->in.name, line, n);
    if (!pn->columns)
        pn->columns = n;
    else if (n != pn->columns)
        error("tarvo-pileup: %s, line %ld: %d columns where the first locus has %d\n",
              pn->in.name, line, n, pn->columns);
    *chrom = f[0];
    uint64_t pos = 0;
    auto r = std::from_chars(f[1].p, f[1].p + f[1].len, pos);
    if (r.ec != std::errc() || r.ptr != f[1].p + f[1].len || pos == 0)
        error("tarvo-pileup: %s, line %ld: position \"%.*s\" is not a number from 1\n",
              pn->in.name, line, (int)f[1].len, f[1].p);
    s->pos = pos;
    if (n == 10) {
        s->ref = -1;
        for (int i = 0; i < 8; i++)
            s->freq[i] = frequency(pn, f[2 + i], line);
        return true;
    }
    int ref = base(f[2]), alt = base(f[3]);
    if (ref < 0 || alt < 0)
        error("tarvo-pileup: %s, line %ld: \"%.*s\" is not one of the bases A, C, G, T\n",
              pn->in.name, line, (int)f[ref < 0 ? 2 : 3].len, f[ref < 0 ? 2 : 3].p);
    if (ref == alt)
        error("tarvo-pileup: %s, line %ld: ref and alt are both %c\n", pn->in.name, line,
              "ACGT"[ref]);
    double af[2] = {frequency(pn, f[4], line), frequency(pn, f[5], line)};
    s->ref = ref;
    for (int k = 0; k < 2; k++) {
        double *pop = s->freq + 4 * k;
        for (int i = 0; i < 4; i++)
            pop[i] = 0;
        pop[ref] = 1 - af[k];
        pop[alt] = af[k];
    }
    return true;
}

bool same(field f, const std::string &s)
{
    return f.len == s.size() && memcmp(f.p, s.data(), f.len) == 0;
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
    lines_open(&pn->in, fd, path);
    pn->columns = 0;
    pn->done = true;

    // The checking pass: every line, and the order of the loci.
    std::string prev;
    uint64_t prev_pos = 0;
    field chrom;
    site s;
    while (next_site(pn, &chrom, &s)) {
        const long line = pn->in.line;
        if (!same(chrom, prev)) {
            prev.assign(chrom.p, chrom.len);
            auto seen = pn->index.find(prev);
            if (seen != pn->index.end())
                error("tarvo-pileup: %s, line %ld: chromosome %s again, after others; its "
                      "loci must come together (they began at line %ld)\n",
                      path, line, prev.c_str(), seen->second.line);
            // The line is still in the buffer, so where its name lies there
            // gives its place in the file.
            uint64_t offset = pn->in.at + (uint64_t)(chrom.p - pn->in.buf);
            pn->index.emplace(prev, start{offset, line});
        } else {
            ascending(&pn->in, prev, s.pos, prev_pos);
        }
        prev_pos = s.pos;
    }
}

bool panel_chrom(panel *pn, const std::string &chrom)
{
    pn->chrom = chrom;
    auto at = pn->index.find(chrom);
    if (at == pn->index.end()) {
        pn->done = true;
        return false;
    }
    lines_seek(&pn->in, at->second.offset, at->second.line);
    field f;
    pn->done = !next_site(pn, &f, &pn->at);
    return !pn->done;
}

bool panel_find(panel *pn, uint64_t pos)
{
    field f;
    while (!pn->done && pn->at.pos < pos)
        pn->done = !next_site(pn, &f, &pn->at) || !same(f, pn->chrom);
    return !pn->done && pn->at.pos == pos;
}
