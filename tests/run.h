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

// Runs prog with args, feeding it `in` on standard input (or the file
// in_path when given), and collects what it writes and how it ends.
result run(const std::string &prog, const std::vector<std::string> &args,
           const std::string &in, sink out = sink::capture,
           const char *in_path = nullptr);

// Runs a shell command line; returns its status as run() does.
result shell(const std::string &cmd);

// The whole content of a file; empty when it cannot be read.
std::string read_file(const std::string &path);

// Everything in the file open as fd, from its start; closes fd.
std::string read_fd(int fd);

#endif
