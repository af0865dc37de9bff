#ifndef TARVO_HMM_OUT_H
#define TARVO_HMM_OUT_H

#include <cstdio>
#include <string>

// An output file written under a temporary name beside it and renamed to
// its own only by out_commit, once the whole run has succeeded; a run that
// ends before removes the temporary file. A path that is not a plain file
// (a device, a pipe, a symbolic link such as /dev/stdout) is appended to
// directly. The exit hook that removes the temporary file reads its name
// here, so an outfile lives as long as the run (a static in main).
struct outfile {
    std::string path, tmp;
    FILE *f = nullptr;
};

void out_open(outfile *o, const char *path);
void out_commit(outfile *o);

// Writes to f or ends the run naming what.
void out_write(FILE *f, const char *what, const char *p, size_t n);
void out_close(FILE *f, const char *what);

#endif
