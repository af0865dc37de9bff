// A plain getline/printf reading of the base tally program, kept as the
// reference the real program is compared with where the C library's own
// buffering shows: what is left of a shared input after each way out.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/error.h"
#include "tests/ostrel_literal.h"

int main()
{
    char *line = nullptr;
    size_t cap = 0;
    ssize_t n;
    while ((n = getline(&line, &cap, stdin)) > 0) {
        // One line is a whole input to the rules.
        result r = ostrel_literal(std::string(line, (size_t)n));
        if (r.status != 0) {
            // The message may hold a NUL, so it goes out as bytes.
            fflush(stderr);
            fwrite(r.err.data(), 1, r.err.size(), stderr);
            exit(2);
        }
        if (printf("%s", r.out.c_str()) < 0)
            error("Error writing output: %s\n", strerror(errno));
    }
    if (ferror(stdin))
        error("Error reading input: %s\n", strerror(errno));
    free(line);
    if (fflush(stdout) != 0)
        error("Error writing output: %s\n", strerror(errno));
    return 0;
}
