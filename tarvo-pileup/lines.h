#ifndef TARVO_PILEUP_LINES_H
#define TARVO_PILEUP_LINES_H

#include <cstddef>
#include <cstdint>

// Lines of a file descriptor, read in large blocks. A line is handed out
// whole, in the buffer; the buffer grows only for a line longer than it,
// so memory follows the longest line (one locus), not the input.
struct lines {
    int fd;
    const char *name; // for messages: a file name, or "standard input"
    char *buf;
    size_t cap;
    size_t pos;   // start of the next line in buf
    size_t end;   // end of the bytes read
    bool eof;     // nothing more will come
    uint64_t at;  // file offset of buf[0]
    long line;    // number of the line last handed out
};

void lines_open(lines *r, int fd, const char *name);

// The next line, without its newline (a last line without one counts);
// false at the end of input. A failed read ends the run.
bool next_line(lines *r, const char **p, size_t *len);

// File offset of the line after the one last handed out.
inline uint64_t next_offset(const lines *r)
{
    return r->at + r->pos;
}

// Moves a seekable file to offset off, whose line has the number line.
void lines_seek(lines *r, uint64_t off, long line);

#endif
