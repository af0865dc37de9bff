#ifndef TARVO_HMM_READER_H
#define TARVO_HMM_READER_H

#include <cstddef>
#include <cstdint>

// Lines of a file descriptor, read in large blocks; a line is handed out
// whole, in the buffer, which grows only for a line longer than itself.
struct reader {
    int fd;
    const char *name; // for messages: a file name, or "standard input"
    char *buf;
    size_t cap, pos, end;
    bool eof;
    long line;   // number of the line last handed out
    uint64_t at; // file offset of buf[0], from where reading began
};

void reader_open(reader *r, int fd, const char *name);
void reader_close(reader *r);

// The next line without its newline (a last line without one counts);
// false at the end. A failed read ends the run.
bool reader_next(reader *r, const char **p, size_t *len);

#endif
