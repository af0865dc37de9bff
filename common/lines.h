#ifndef COMMON_LINES_H
#define COMMON_LINES_H

#include <cstddef>
#include <cstdint>

// Lines of a file descriptor, read in large blocks. A line is handed out
// whole, in the buffer; the buffer grows only for a line longer than it,
// so memory follows the longest line (one locus), not the input.
struct lines {
    int fd;
    const char *prog; // the program, first in its messages
    const char *name; // for messages: a file name, or "standard input"
    char *buf;
    size_t cap;
    size_t pos;   // start of the next line in buf
    size_t end;   // end of the bytes read
    bool eof;     // nothing more will come
    uint64_t at;  // file offset of buf[0]
    size_t want;  // most bytes the next read asks for
    // The number of the line last handed out is line, counted from the
    // line that begins at offset origin: after a seek the number from the
    // file's start is known only by counting, which only a message needs.
    long line;
    uint64_t origin;
};

void lines_open(lines *r, int fd, const char *name, const char *prog);

// Frees the buffer; the descriptor stays open.
void lines_close(lines *r);

// The next line, without its newline (a last line without one counts);
// false at the end of input. A failed read ends the run.
bool next_line(lines *r, const char **p, size_t *len);

// Moves a seekable file to offset off, where a line begins: within the
// buffer when it holds that offset, else by a read of a few KiB, growing
// again as the lines are read on, so that a jump costs what it reads.
void lines_seek(lines *r, uint64_t off);

// The number, from the file's start, of the line last handed out.
long line_number(const lines *r);

// The number of the line that begins at offset off of a seekable file.
long line_at(const lines *r, uint64_t off);

#endif
