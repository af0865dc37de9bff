#ifndef COMMON_ERROR_H
#define COMMON_ERROR_H

// Writes the printf-style message to standard error and ends the process
// with status 2. Standard output is left to the normal exit flush, so no
// result line already produced is lost.
[[noreturn]] void error(const char *fmt, ...)
    __attribute__((format(printf, 1, 2)));

#endif
