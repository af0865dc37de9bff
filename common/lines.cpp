#include "common/lines.h"

#include "common/error.h"
#include "common/io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Large enough that a read costs little per line; most lines of a pileup
// of everyday depth are far shorter.
const size_t BLOCK = 1 << 18;

// The first read after a jump: a chromosome of a scaffold-level assembly
// may be one line long.
const size_t JUMP = 1 << 12;

void fill(lines *r)
{
    // Keep the line under way, at the front.
    if (r->pos > 0) {
        memmove(r->buf, r->buf + r->pos, r->end - r->pos);
        r->end -= r->pos;
        r->at += r->pos;
        r->pos = 0;
    }
    if (r->end == r->cap) {
        char *b = static_cast<char *>(realloc(r->buf, 2 * r->cap));
        if (!b)
            error("%s: %s, line %ld: out of memory for a line of %zu bytes\n", r->prog,
                  r->name, line_number(r) + 1, r->end);
        r->buf = b;
        r->cap *= 2;
    }
    size_t room = r->cap - r->end;
    ssize_t n = read_some(r->fd, r->buf + r->end, room < r->want ? room : r->want);
    if (n < 0)
        error("%s: cannot read %s: %s\n", r->prog, r->name, strerror(errno));
    if (n == 0) {
        r->eof = true;
        return;
    }
    r->end += static_cast<size_t>(n);
    if (r->want < BLOCK)
        r->want *= 2;
}

} // namespace

void lines_open(lines *r, int fd, const char *name, const char *prog)
{
    r->fd = fd;
    r->prog = prog;
    r->name = name;
    r->cap = BLOCK;
    r->buf = static_cast<char *>(malloc(r->cap));
    if (!r->buf)
        error("%s: out of memory\n", prog);
    r->pos = r->end = 0;
    r->eof = false;
    r->at = 0;
    r->want = BLOCK;
    r->line = 0;
    r->origin = 0;
}

bool next_line(lines *r, const char **p, size_t *len)
{
    size_t from = r->pos; // where the search for the newline goes on
    for (;;) {
        const char *nl = static_cast<const char *>(memchr(r->buf + from, '\n', r->end - from));
        if (nl) {
            *p = r->buf + r->pos;
            *len = static_cast<size_t>(nl - *p);
            r->pos += *len + 1;
            r->line++;
            return true;
        }
        if (r->eof) {
            if (r->pos == r->end)
                return false;
            *p = r->buf + r->pos;
            *len = r->end - r->pos;
            r->pos = r->end;
            r->line++;
            return true;
        }
        from = r->end - r->pos;
        fill(r);
        from += r->pos;
    }
}

void lines_seek(lines *r, uint64_t off)
{
    r->line = 0;
    r->origin = off;
    // The bytes in the buffer stay what the file holds there, and the
    // file's position stays at their end.
    if (off >= r->at && off <= r->at + r->end) {
        r->pos = static_cast<size_t>(off - r->at);
        return;
    }
    if (lseek(r->fd, static_cast<off_t>(off), SEEK_SET) < 0)
        error("%s: cannot seek in %s: %s\n", r->prog, r->name, strerror(errno));
    r->pos = r->end = 0;
    r->eof = false;
    r->at = off;
    r->want = JUMP;
}

void lines_close(lines *r)
{
    free(r->buf);
    r->buf = nullptr;
}

long line_at(const lines *r, uint64_t off)
{
    char b[1 << 16];
    long n = 1;
    for (uint64_t at = 0; at < off;) {
        size_t k = off - at < sizeof b ? static_cast<size_t>(off - at) : sizeof b;
        ssize_t got = pread(r->fd, b, k, static_cast<off_t>(at));
        if (got <= 0)
            break;
        for (ssize_t i = 0; i < got; i++)
            n += b[i] == '\n';
        at += static_cast<uint64_t>(got);
    }
    return n;
}

long line_number(const lines *r)
{
    return r->origin == 0 ? r->line : line_at(r, r->origin) - 1 + r->line;
}
