#ifndef COMMON_IO_H
#define COMMON_IO_H

#include <cstddef>
#include <sys/types.h>

// Up to n bytes of fd into p, a read that a signal interrupts being made
// again: the bytes read, 0 at the end of input, or -1 with errno set.
ssize_t read_some(int fd, void *p, size_t n);

// All n bytes of p to fd, through short and interrupted writes: false,
// with errno set, when a write fails; a write that makes no progress and
// gives no reason counts as EIO, as looping on it might never end.
bool write_all(int fd, const void *p, size_t n);

// Writes text, what --help or --version asks for, whole to standard
// output and ends the run with status 0. A failed write ends it through
// error, as "failure: <reason>".
[[noreturn]] void say(const char *text, const char *failure);

// What a run leaves to be done at any exit, success or failure alike
// (error ends a run through exit from wherever it fails): output still
// waiting, a temporary file to remove, an input to leave at its place.
// Hooks run in the reverse order of their arming, as atexit runs its
// functions, and before the C library flushes its streams. Arming a hook
// with the argument it already has changes nothing, so a harness that
// runs main many times in one process runs it once at the end.
using exit_hook = void (*)(void *);
void at_exit(exit_hook hook, void *arg);

// Disarms what at_exit armed with this argument, once the run has done
// it itself.
void at_exit_done(exit_hook hook, void *arg);

#endif
