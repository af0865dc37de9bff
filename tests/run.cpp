#include "tests/run.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

int tmpfile_fd()
{
    char name[] = "/tmp/tarvo-test-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    unlink(name);
    return fd;
}

// The words of the emulator that runs a cross-built program, separated by
// spaces (the build's CMAKE_CROSSCOMPILING_EMULATOR); none for a native
// build.
#ifndef TEST_EMULATOR
#define TEST_EMULATOR ""
#endif

std::vector<std::string> emulator()
{
    std::vector<std::string> words;
    const std::string list = TEST_EMULATOR;
    for (size_t at = 0; at < list.size();) {
        size_t end = list.find(' ', at);
        if (end == std::string::npos)
            end = list.size();
        if (end > at)
            words.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

int decode(int st)
{
    if (WIFEXITED(st))
        return WEXITSTATUS(st);
    return 128 + WTERMSIG(st);
}

} // namespace

std::string read_fd(int fd)
{
    std::string s;
    char buf[65536];
    ssize_t n;
    lseek(fd, 0, SEEK_SET);
    while ((n = read(fd, buf, sizeof buf)) > 0)
        s.append(buf, n);
    close(fd);
    return s;
}

result run_host(const std::string &prog, const std::vector<std::string> &args,
                const std::string &in, sink out, const char *in_path)
{
    int infd = in_path ? open(in_path, O_RDONLY) : tmpfile_fd();
    if (infd < 0)
        throw std::runtime_error("cannot open input");
    if (!in_path) {
        if (write(infd, in.data(), in.size()) != (ssize_t)in.size())
            throw std::runtime_error("cannot write input");
        lseek(infd, 0, SEEK_SET);
    }
    int outfd = tmpfile_fd(), errfd = tmpfile_fd();

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(prog.c_str()));
    for (auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(infd, 0);
        dup2(errfd, 2);
        if (out == sink::capture) {
            dup2(outfd, 1);
        } else if (out == sink::devfull) {
            int fd = open("/dev/full", O_WRONLY);
            dup2(fd, 1);
        } else {
            close(1);
        }
        execv(prog.c_str(), argv.data());
        _exit(127);
    }
    close(infd);
    int st;
    waitpid(pid, &st, 0);
    return {read_fd(outfd), read_fd(errfd), decode(st)};
}

result run(const std::string &prog, const std::vector<std::string> &args,
           const std::string &in, sink out, const char *in_path)
{
    std::vector<std::string> words = emulator();
    if (words.empty())
        return run_host(prog, args, in, out, in_path);
    std::string emu = words[0];
    words.erase(words.begin());
    words.push_back(prog);
    words.insert(words.end(), args.begin(), args.end());
    return run_host(emu, words, in, out, in_path);
}

std::string command(const std::string &prog)
{
    std::string s;
    for (const std::string &w : emulator())
        s += w + " ";
    return s + prog;
}

bool emulated()
{
    return !emulator().empty();
}

std::vector<std::string> with_switch(const std::string &sw, std::vector<std::string> args)
{
    if (sw.empty())
        return args;
    size_t at = !args.empty() && (args[0] == "--help" || args[0] == "--version") ? 1 : 0;
    args.insert(args.begin() + static_cast<long>(at), sw);
    return args;
}

std::string read_file(const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY);
    return fd < 0 ? std::string() : read_fd(fd);
}

result shell(const std::string &cmd)
{
    return run_host("/bin/sh", {"-c", cmd}, "");
}

result sharing(const std::string &cmd, const std::string &in, int runs, const char *to)
{
    std::string line = "{ ";
    for (int r = 0; r < runs; r++)
        line += cmd + to + "; ";
    return run("/bin/sh", {"-c", line + "s=$?; cat; exit $s; }"}, in);
}
