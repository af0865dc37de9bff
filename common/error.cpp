#include "common/error.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void error(const char *fmt, ...)
{
    va_list ap;

    fflush(stderr);
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fflush(stderr);
    exit(2);
}
