#include "common/about.h"

#include <cstring>

const char *about(int argc, char **argv, const char *help, const char *version)
{
    if (argc < 2)
        return nullptr;
    if (strcmp(argv[1], "--help") == 0)
        return help;
    if (strcmp(argv[1], "--version") == 0)
        return version;
    return nullptr;
}
