#include "common/error.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#ifdef ERROR_ESCAPE
// Fuzzing runs a whole program many times in one process, so there the
// process must not end: the harness supplies a way back to itself.
[[noreturn]] void error_escape();
#endif

void error(const char *fmt, ...)
{
    va_list ap;

    fflush(stderr);
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fflush(stderr);
#ifdef ERROR_ESCAPE
    error_escape();
#else
    exit(2);
#endif
}
