#ifndef TESTS_RUN_H
#define TESTS_RUN_H

#include <string>
#include <vector>

// Where a child's standard output goes.
enum class sink { capture, devfull, closed };

struct result {
    std::string out;
    std::string err;
    int status; // exit status, or 128 + signal number
};

// Runs the program prog, built here, with args, feeding it `in` on standard
// input (or the file in_path when given), and collects what it writes and
// how it ends. A cross build's programs run under the build's emulator.
result run(const std::string &prog, const std::vector<std::string> &args,
           const std::string &in, sink out = sink::capture,
           const char *in_path = nullptr);

// The same for a program of this machine, such as /bin/sh.
result run_host(const std::string &prog, const std::vector<std::string> &args,
                const std::string &in, sink out = sink::capture,
                const char *in_path = nullptr);

// How a shell command line names the program prog built here: behind the
// emulator, for a cross build.
std::string command(const std::string &prog);

// Whether the programs built here run under an emulator.
bool emulated();

// Runs a shell command line; returns its status as run() does.
result shell(const std::string &cmd);

// `runs` runs of the command line cmd, one after the other on one seekable
// input, then cat: standard output holds what the runs wrote and then
// whatever they left of the input; the status is the last run's. `to`
// redirects the runs' output.
result sharing(const std::string &cmd, const std::string &in, int runs, const char *to);

// args with the word sw put first, or just after a first --help or
// --version, which count only there; args alone when sw is empty. The
// tests force a program's path this way.
std::vector<std::string> with_switch(const std::string &sw, std::vector<std::string> args);

// The whole content of a file; empty when it cannot be read.
std::string read_file(const std::string &path);

// Everything in the file open as fd, from its start; closes fd.
std::string read_fd(int fd);

#endif
