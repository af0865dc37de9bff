#include "tarvo-pileup/pileup.h"

#include "common/error.h"
#include "common/order.h"

#include <cstdio>
#include <cstring>

namespace {

// What each byte of the bases column is.
enum kind : unsigned char {
    BAD,    // not part of the format
    READ,   // a read's base or the reference base: a quality
    NOBASE, // N, n, *, #, >, <: a quality, no base
    START,  // ^ and the mapping quality after it: no quality
    END,    // $: no quality
    INDEL,  // + or -, a length and that many bases: no quality
};

struct table {
    kind k[256];
    unsigned char code[256];
};

constexpr table make_table()
{
    table t{};
    for (int i = 0; i < NBASES; i++) {
        const unsigned char upper = (unsigned char)BASES[i], lower = upper - 'A' + 'a';
        t.k[upper] = t.k[lower] = READ;
        t.code[upper] = t.code[lower] = (unsigned char)i;
    }
    t.k[(unsigned char)'.'] = t.k[(unsigned char)','] = READ;
    t.code[(unsigned char)'.'] = t.code[(unsigned char)','] = BASE_REF;
    for (const char *c = "Nn*#><"; *c; c++)
        t.k[(unsigned char)*c] = NOBASE;
    t.k[(unsigned char)'^'] = START;
    t.k[(unsigned char)'$'] = END;
    t.k[(unsigned char)'+'] = t.k[(unsigned char)'-'] = INDEL;
    return t;
}

constexpr table bases = make_table();

// A byte as a message shows it: itself when printable, else its code.
const char *shown(unsigned char c, char text[8])
{
    if (c > ' ' && c < 127) {
        text[0] = (char)c;
        text[1] = 0;
    } else {
        snprintf(text, 8, "\\x%02x", c);
    }
    return text;
}

// The sample's columns, from the number of columns of the first line.
// `samtools mpileup` writes three columns per sample and, for each
// --output-* option, one more per sample, after that sample's three. A
// count that fits a single layout for the chosen sample is taken; one
// that fits several is refused rather than guessed.
void choose_sample(layout *lay, size_t columns, const char *name, long line)
{
    const size_t m = columns - 3;
    const size_t k = (size_t)lay->sample;
    if (k <= 1) {
        if (k == 0)
            for (size_t d = 3; d < m; d++)
                if (m % d == 0)
                    error("tarvo-pileup: %s, line %ld: %zu columns: more than one sample, "
                          "or extra columns from --output-* options; choose the sample with -c\n",
                          name, line, columns);
        lay->first = 3;
    } else {
        size_t found = 0, other = 0;
        for (size_t d = 3; d <= m / k; d++)
            if (m % d == 0) {
                other = found;
                found = d;
            }
        if (!found)
            error("tarvo-pileup: %s, line %ld: -c %d: %zu columns hold fewer than %d samples\n",
                  name, line, lay->sample, columns, lay->sample);
        if (other)
            error("tarvo-pileup: %s, line %ld: -c %d: %zu columns are %zu samples of %zu "
                  "columns or %zu of %zu (extra columns from --output-* options); cannot tell "
                  "which are sample %d: make the pileup without those options\n",
                  name, line, lay->sample, columns, m / other, other, m / found, found,
                  lay->sample);
        lay->first = 3 + (k - 1) * found;
    }
    lay->columns = columns;
}

// The columns of a line that the reader needs: chrom, position, reference
// base, then the sample's depth, bases and qualities, each as a start and
// a length in the line.
struct columns {
    const char *col[6];
    size_t len[6];
    size_t count; // of the whole line
};

// Splits the line at its tabs, keeping the first three columns and the
// three that begin at column `first`.
void split_columns(const char *p, size_t len, size_t first, columns *c)
{
    size_t n = 0;
    const char *q = p, *end = p + len;
    for (;;) {
        const char *tab = static_cast<const char *>(memchr(q, '\t', (size_t)(end - q)));
        const char *stop = tab ? tab : end;
        int slot = n < 3                             ? (int)n
                   : n >= first && n < first + 3 ? (int)(n - first + 3)
                                                 : -1;
        if (slot >= 0) {
            c->col[slot] = q;
            c->len[slot] = (size_t)(stop - q);
        }
        n++;
        if (!tab)
            break;
        q = tab + 1;
    }
    c->count = n;
}

// Splits the line into the sample's columns, the first line also setting
// the layout that every later one must repeat.
void sample_columns(const char *p, size_t len, const char *name, long line, layout *lay,
                    columns *c)
{
    split_columns(p, len, lay->columns ? lay->first : 3, c);
    if (len > 0 && p[len - 1] == '\r')
        error("tarvo-pileup: %s, line %ld: the line ends in a carriage return (a file "
              "with DOS line ends); remove them, for example with tr -d '\\r'\n",
              name, line);
    if (c->count < 6)
        error("tarvo-pileup: %s, line %ld: %zu columns; a pileup line has at least 6 "
              "(chromosome, position, reference base, depth, bases, qualities)\n",
              name, line, c->count);
    if (!lay->columns) {
        choose_sample(lay, c->count, name, line);
        if (lay->first != 3) // the split above kept another sample's columns
            split_columns(p, len, lay->first, c);
    } else if (c->count != lay->columns) {
        error("tarvo-pileup: %s, line %ld: %zu columns where the first line has %zu\n", name,
              line, c->count, lay->columns);
    }
}

// The chromosome, position and reference base.
void read_place(const columns &c, const char *name, long line, locus *l)
{
    if (c.len[0] == 0)
        error("tarvo-pileup: %s, line %ld: no chromosome name\n", name, line);
    l->chrom = c.col[0];
    l->chrom_len = c.len[0];
    if (!read_position(c.col[1], c.len[1], &l->pos))
        not_position(name, line, c.col[1], c.len[1]);
    if (c.len[2] != 1)
        error("tarvo-pileup: %s, line %ld: reference base \"%.*s\" is not one character\n",
              name, line, (int)c.len[2], c.col[2]);
    l->ref = c.col[2][0];
}

// Passes over an insertion or deletion: the sign c, then at b its length
// and that many bases, which must end by be, the end of a bases column of
// column bytes. Where it ends.
const unsigned char *skip_indel(unsigned char c, const unsigned char *b,
                                const unsigned char *be, size_t column, const char *name,
                                long line)
{
    size_t n = 0;
    const unsigned char *digits = b;
    while (b < be && (unsigned)(*b - '0') < 10 && n <= column)
        n = 10 * n + (*b++ - '0');
    if (b == digits)
        error("tarvo-pileup: %s, line %ld: \"%c\" without a length\n", name, line, c);
    if (n > (size_t)(be - b))
        error("tarvo-pileup: %s, line %ld: \"%c%.*s\" runs past the end of the "
              "bases\n",
              name, line, c, (int)(b - digits), (const char *)digits);
    return b + n;
}

[[noreturn]] void bad_base(unsigned char c, const char *name, long line)
{
    char text[8];
    if (c == '[')
        error("tarvo-pileup: %s, line %ld: \"[\" in the bases column: base "
              "modifications, which samtools mpileup -M (--output-mods) writes there; "
              "make the pileup without that option\n",
              name, line);
    error("tarvo-pileup: %s, line %ld: \"%s\" in the bases column\n", name, line,
          shown(c, text));
}

// The depth column; a depth of 0 has "*" for bases and qualities.
uint64_t read_depth(const columns &c, const char *name, long line)
{
    uint64_t depth;
    if (!read_count(c.col[3], c.len[3], &depth))
        error("tarvo-pileup: %s, line %ld: depth \"%.*s\" is not a number\n", name, line,
              (int)c.len[3], c.col[3]);
    if (depth == 0 &&
        (c.len[4] != 1 || c.col[4][0] != '*' || c.len[5] != 1 || c.col[5][0] != '*'))
        error("tarvo-pileup: %s, line %ld: depth 0 needs \"*\" for bases and qualities\n",
              name, line);
    return depth;
}

// The next read's quality, Phred+33 ("!" to "~").
inline unsigned next_quality(const unsigned char *&qs, const unsigned char *qe, const columns &c,
                             const char *name, long line)
{
    if (qs == qe)
        error("tarvo-pileup: %s, line %ld: fewer qualities (%zu) than bases\n", name, line,
              c.len[5]);
    unsigned qual = (unsigned)*qs++ - 33;
    if (qual > 93) {
        char text[8];
        error("tarvo-pileup: %s, line %ld: quality \"%s\" is not Phred+33 (\"!\" to \"~\")\n",
              name, line, shown(qs[-1], text));
    }
    return qual;
}

// Past a mark that is not a read: the start of a read with its mapping
// quality, the end of a read, an indel with its bases.
inline const unsigned char *skip_mark(kind k, unsigned char ch, const unsigned char *b,
                                      const unsigned char *be, const columns &c,
                                      const char *name, long line)
{
    switch (k) {
    case READ:
    case NOBASE:
    case END:
        break;
    case START:
        if (b == be)
            error("tarvo-pileup: %s, line %ld: \"^\" ends the bases, without its "
                  "mapping quality\n",
                  name, line);
        b++;
        break;
    case INDEL:
        b = skip_indel(ch, b, be, c.len[4], name, line);
        break;
    case BAD:
        bad_base(ch, name, line);
    }
    return b;
}

// The entries read against the qualities left over and the depth.
void check_entries(uint64_t entries, uint64_t depth, bool qualities_left, const columns &c,
                   const char *name, long line)
{
    if (qualities_left)
        error("tarvo-pileup: %s, line %ld: more qualities (%zu) than bases (%llu)\n", name,
              line, c.len[5], (unsigned long long)entries);
    if (entries != depth)
        error("tarvo-pileup: %s, line %ld: depth %llu, but %llu bases\n", name, line,
              (unsigned long long)depth, (unsigned long long)entries);
}

// The reads of the bases and qualities columns, checked against the
// depth: the first keep stored in l, all counted.
void read_bases(const columns &c, const char *name, long line, locus *l, long keep)
{
    const uint64_t depth = read_depth(c, name, line);
    l->reads = 0;
    l->ref_reads = 0;
    if (depth == 0)
        return;

    const unsigned char *b = (const unsigned char *)c.col[4], *be = b + c.len[4];
    const unsigned char *qs = (const unsigned char *)c.col[5], *qe = qs + c.len[5];
    long reads = 0, refs = 0;
    long nobase = 0;
    // Locals, as stores of bytes may alias any field of *l.
    unsigned char *const codes = l->code, *const quals = l->qual;
    while (b < be) {
        unsigned char ch = *b++;
        const kind k = bases.k[ch];
        if (k != READ && k != NOBASE) {
            b = skip_mark(k, ch, b, be, c, name, line);
            continue;
        }
        unsigned qual = next_quality(qs, qe, c, name, line);
        if (k == NOBASE) {
            nobase++;
            continue;
        }
        // The reads past the first keep all land in the spare slot, which
        // spares a branch on every read.
        const unsigned char code = bases.code[ch];
        const long at = reads < keep ? reads : keep;
        codes[at] = code;
        quals[at] = (unsigned char)qual;
        refs += code == BASE_REF;
        reads++;
    }
    check_entries((uint64_t)(reads + nobase), depth, qs != qe, c, name, line);
    l->reads = reads;
    l->ref_reads = refs;
}

} // namespace

int base_code(char c)
{
    unsigned char b = (unsigned char)c;
    return bases.k[b] == READ && bases.code[b] != BASE_REF ? bases.code[b] : -1;
}

void pileup_line(const char *p, size_t len, const char *name, long line, layout *lay,
                 locus *l, long keep)
{
    columns c;
    sample_columns(p, len, name, line, lay, &c);
    read_place(c, name, line, l);
    read_bases(c, name, line, l, keep);
}
