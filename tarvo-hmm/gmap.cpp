#include "tarvo-hmm/gmap.h"

#include "common/error.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "common/lines.h"
#include "common/order.h"

namespace {

// Whitespace-separated words of a line.
int words(const char *p, size_t len, const char **at, size_t *n, int max)
{
    int k = 0;
    const char *end = p + len;
    while (p < end) {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\r'))
            p++;
        if (p == end)
            break;
        const char *w = p;
        while (p < end && *p != ' ' && *p != '\t' && *p != '\r')
            p++;
        if (k < max) {
            at[k] = w;
            n[k] = p - w;
        }
        k++;
    }
    return k;
}

// A row of the map: false for a comment or a blank line; a row that is
// not one ends the run.
bool map_row(const char *p, size_t len, const char *path, long line, std::string &chrom,
             double *cm, uint64_t *bp)
{
    const char *at[4];
    size_t n[4];
    int k = words(p, len, at, n, 4);
    if (k == 0 || at[0][0] == '#')
        return false;
    if (k != 4)
        error("tarvo-hmm: %s, line %ld: %d columns; a PLINK map has 4 (chromosome, "
              "marker, centimorgans, base position)\n",
              path, line, k);
    chrom.assign(at[0], n[0]);
    auto c = std::from_chars(at[2], at[2] + n[2], *cm);
    if (c.ec != std::errc() || c.ptr != at[2] + n[2] || !std::isfinite(*cm))
        error("tarvo-hmm: %s, line %ld: centimorgans '%.*s' is not a number\n", path, line,
              (int)n[2], at[2]);
    auto b = std::from_chars(at[3], at[3] + n[3], *bp);
    if (b.ec != std::errc() || b.ptr != at[3] + n[3])
        error("tarvo-hmm: %s, line %ld: base position '%.*s' is not a whole number\n", path,
              line, (int)n[3], at[3]);
    return true;
}

} // namespace

void gmap_read(gmap *g, const char *path)
{
    g->name = path;
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        error("tarvo-hmm: cannot open map %s: %s\n", path, strerror(errno));
    const bool whole = lseek(fd, 0, SEEK_CUR) < 0;
    lines r;
    lines_open(&r, fd, path, "tarvo-hmm");
    const char *p;
    size_t len;
    std::string chrom, last;
    gmap_point prev{0, 0};
    size_t rows = 0;
    auto enough = [&]() {
        if (!last.empty() && rows < 2)
            error("tarvo-hmm: %s: chromosome %s has one point; interpolation needs two\n", path,
                  last.c_str());
    };
    while (next_line(&r, &p, &len)) {
        double cm;
        uint64_t bp;
        if (!map_row(p, len, path, r.line, chrom, &cm, &bp))
            continue;
        if (chrom != last) {
            enough();
            if (g->index.count(chrom))
                came_back(&r, r.line, chrom.c_str(), "a map has each chromosome's rows together");
            g->index[chrom] = {r.at + static_cast<uint64_t>(p - r.buf), r.line};
            last = chrom;
            rows = 0;
        } else {
            ascending(&r, chrom, bp, prev.bp, "base position");
            if (cm < prev.cm)
                error("tarvo-hmm: %s, line %ld: %g cM at %s %llu is below the %g cM before\n",
                      path, r.line, cm, chrom.c_str(), (unsigned long long)bp, prev.cm);
        }
        prev = {bp, cm};
        rows++;
        if (whole)
            g->chroms[chrom].push_back(prev);
    }
    enough();
    lines_close(&r);
    if (whole)
        close(fd);
    else
        g->fd = fd;
}

bool gmap_start(gmap *g, const std::string &chrom, gmap_walk *w)
{
    w->i = 0;
    w->rate = g->rate;
    w->pts = nullptr;
    if (g->name.empty())
        return true;
    auto it = g->index.find(chrom);
    if (it == g->index.end())
        return false;
    if (g->fd < 0) {
        w->pts = &g->chroms[chrom];
        return true;
    }
    if (lseek(g->fd, static_cast<off_t>(it->second.off), SEEK_SET) < 0)
        error("tarvo-hmm: cannot seek in %s: %s\n", g->name.c_str(), strerror(errno));
    lines r;
    lines_open(&r, g->fd, g->name.c_str(), "tarvo-hmm");
    r.line = it->second.line - 1;
    g->cur.clear();
    const char *p;
    size_t len;
    std::string name;
    while (next_line(&r, &p, &len)) {
        double cm;
        uint64_t bp;
        if (!map_row(p, len, g->name.c_str(), r.line, name, &cm, &bp))
            continue;
        if (name != chrom)
            break;
        g->cur.push_back({bp, cm});
    }
    lines_close(&r);
    w->pts = &g->cur;
    return true;
}

double gmap_cm(gmap_walk *w, uint64_t bp)
{
    if (!w->pts)
        return static_cast<double>(bp) * w->rate * 1e-6;
    const std::vector<gmap_point> &v = *w->pts;
    while (w->i + 2 < v.size() && v[w->i + 1].bp <= bp)
        w->i++;
    const gmap_point &a = v[w->i], &b = v[w->i + 1];
    // Signed: before the first point the first interval's rate runs backwards.
    double off = bp >= a.bp ? static_cast<double>(bp - a.bp) : -static_cast<double>(a.bp - bp);
    return a.cm + (b.cm - a.cm) * off / static_cast<double>(b.bp - a.bp);
}
