#include "tarvo-hmm/reader.h"

#include "common/error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

const size_t BLOCK = 1 << 18;

void fill(reader *r)
{
    if (r->pos > 0) {
        memmove(r->buf, r->buf + r->pos, r->end - r->pos);
        r->end -= r->pos;
        r->at += r->pos;
        r->pos = 0;
    }
    if (r->end == r->cap) {
        char *b = static_cast<char *>(realloc(r->buf, 2 * r->cap));
        if (!b)
            error("tarvo-hmm: %s, line %ld: out of memory for a line of %zu bytes\n", r->name,
                  r->line + 1, r->end);
        r->buf = b;
        r->cap *= 2;
    }
    for (;;) {
        ssize_t n = read(r->fd, r->buf + r->end, r->cap - r->end);
        if (n > 0) {
            r->end += static_cast<size_t>(n);
            return;
        }
        if (n == 0) {
            r->eof = true;
            return;
        }
        if (errno != EINTR)
            error("tarvo-hmm: cannot read %s: %s\n", r->name, strerror(errno));
    }
}

} // namespace

void reader_open(reader *r, int fd, const char *name)
{
    r->fd = fd;
    r->name = name;
    r->cap = BLOCK;
    r->buf = static_cast<char *>(malloc(r->cap));
    if (!r->buf)
        error("tarvo-hmm: out of memory\n");
    r->pos = r->end = 0;
    r->eof = false;
    r->line = 0;
    r->at = 0;
}

void reader_close(reader *r)
{
    free(r->buf);
    r->buf = nullptr;
}

bool reader_next(reader *r, const char **p, size_t *len)
{
    size_t from = r->pos;
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
