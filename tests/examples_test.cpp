// The examples shipped in examples/, each run as the README runs it (input
// redirected from the file) and through a pipe: the output byte for byte
// that of examples/NAME.expected, nothing on standard error, status 0.
// examples/list names them, one a line: NAME, the program, its options.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/run.h"

namespace {

struct example {
    std::string name, program;
    std::vector<std::string> args;
};

std::vector<example> listed()
{
    std::vector<example> all;
    std::ifstream list(std::string(EXAMPLES) + "/list");
    std::string line;
    while (std::getline(list, line)) {
        std::istringstream words(line);
        example e;
        words >> e.name >> e.program;
        for (std::string w; words >> w;)
            e.args.push_back(w);
        all.push_back(e);
    }
    return all;
}

TEST(Examples, AsListed)
{
    const std::vector<example> all = listed();
    ASSERT_GE(all.size(), 4u) << EXAMPLES "/list";
    for (const example &e : all) {
        const std::string base = std::string(EXAMPLES) + "/" + e.name;
        const std::string prog = std::string(BIN_DIR) + "/" + e.program;
        const std::string want = read_file(base + ".expected");
        ASSERT_FALSE(want.empty()) << e.name;
        const std::string in = read_file(base + ".txt");
        ASSERT_FALSE(in.empty()) << e.name;
        for (bool piped : {false, true}) {
            result r = piped ? run(prog, e.args, in)
                             : run(prog, e.args, "", sink::capture, (base + ".txt").c_str());
            const char *how = piped ? " (piped)" : " (from the file)";
            EXPECT_EQ(want, r.out) << e.name << how;
            EXPECT_EQ("", r.err) << e.name << how;
            EXPECT_EQ(0, r.status) << e.name << how;
        }
    }
}

} // namespace
