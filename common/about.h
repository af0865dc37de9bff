#ifndef COMMON_ABOUT_H
#define COMMON_ABOUT_H

// The text that --help or --version asks for, help or version, when that
// word is the first on the command line; otherwise nullptr. Only the first
// word counts, so every other command line reaches the program exactly as
// it always did.
const char *about(int argc, char **argv, const char *help, const char *version);

#endif
