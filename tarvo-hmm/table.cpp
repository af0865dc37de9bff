#include "tarvo-hmm/table.h"

#include "common/error.h"
#include "tarvo-hmm/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace {

// Splits at tabs; returns the number of fields, at most max (one more than
// max means too many).
int split(const char *p, size_t len, const char **at, size_t *n, int max)
{
    int k = 0;
    const char *end = p + len;
    for (;;) {
        const char *tab = static_cast<const char *>(memchr(p, '\t', end - p));
        const char *stop = tab ? tab : end;
        if (k == max)
            return max + 1;
        at[k] = p;
        n[k] = stop - p;
        k++;
        if (!tab)
            return k;
        p = tab + 1;
    }
}

const int MAX_COLUMNS = 64;

} // namespace

void table_header(table *t, const char *p, size_t len)
{
    const char *at[MAX_COLUMNS];
    size_t n[MAX_COLUMNS];
    if (len == 0 || p[0] != '#')
        error("tarvo-hmm: %s, line 1: no header; the table begins with a line "
              "#chrom\tpos\t...\tlnL_... naming its columns\n",
              t->name);
    int k = split(p + 1, len - 1, at, n, MAX_COLUMNS);
    if (k > MAX_COLUMNS)
        error("tarvo-hmm: %s, line 1: more than %d columns\n", t->name, MAX_COLUMNS);
    t->columns = k;
    t->chrom = t->pos = -1;
    t->states = 0;
    int lnl[MAX_COLUMNS];
    for (int i = 0; i < k; i++) {
        std::string name(at[i], n[i]);
        if (name == "chrom" && t->chrom < 0)
            t->chrom = i;
        else if (name == "pos" && t->pos < 0)
            t->pos = i;
        else if (name.compare(0, sizeof LNL_PREFIX - 1, LNL_PREFIX) == 0)
            lnl[t->states++] = i;
    }
    if (t->chrom < 0 || t->pos < 0)
        error("tarvo-hmm: %s, line 1: the header names no %s column\n", t->name,
              t->chrom < 0 ? "chrom" : "pos");
    if (t->states != 2 && t->states != 3)
        error("tarvo-hmm: %s, line 1: the header has %d lnL_ columns; it needs 2 (ploidy 1) "
              "or 3 (ploidy 2)\n",
              t->name, t->states);
    for (int s = 0; s < t->states; s++) {
        std::string want = LNL_PREFIX + state_name(t->states - 1, s);
        if (std::string(at[lnl[s]], n[lnl[s]]) != want)
            error("tarvo-hmm: %s, line 1: lnL_ column %d is %.*s; expected %s\n", t->name,
                  s + 1, (int)n[lnl[s]], at[lnl[s]], want.c_str());
        t->lnl[s] = lnl[s];
    }
}

void table_row(const table *t, const char *p, size_t len, long line, row *r)
{
    const char *at[MAX_COLUMNS];
    size_t n[MAX_COLUMNS];
    int k = split(p, len, at, n, t->columns);
    if (k != t->columns) {
        if (k > t->columns)
            k = 1 + static_cast<int>(std::count(p, p + len, '\t'));
        error("tarvo-hmm: %s, line %ld: %d columns; the header has %d\n", t->name, line, k,
              t->columns);
    }
    r->chrom = at[t->chrom];
    r->chrom_len = n[t->chrom];
    if (r->chrom_len == 0)
        error("tarvo-hmm: %s, line %ld: empty chromosome name\n", t->name, line);
    const char *b = at[t->pos], *e = b + n[t->pos];
    auto res = std::from_chars(b, e, r->pos);
    if (res.ec != std::errc() || res.ptr != e || b == e)
        error("tarvo-hmm: %s, line %ld: position '%.*s' is not a whole number\n", t->name,
              line, (int)(e - b), b);
    if (r->pos == 0)
        error("tarvo-hmm: %s, line %ld: position 0; positions count from 1\n", t->name, line);
    bool any = false;
    for (int s = 0; s < t->states; s++) {
        b = at[t->lnl[s]];
        e = b + n[t->lnl[s]];
        double v;
        if (!read_double(b, e, &v))
            error("tarvo-hmm: %s, line %ld: log-likelihood '%.*s' is not a number\n", t->name,
                  line, (int)(e - b), b);
        if (std::isnan(v) || v == HUGE_VAL)
            error("tarvo-hmm: %s, line %ld: log-likelihood %.*s; only -inf may stand for "
                  "an impossible state\n",
                  t->name, line, (int)(e - b), b);
        any = any || v != -HUGE_VAL;
        r->lnl[s] = v;
    }
    if (!any)
        error("tarvo-hmm: %s, line %ld: every state is impossible (all -inf)\n", t->name, line);
}
