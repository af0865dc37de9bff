// The base example shipped in examples/, run as the README runs it: input
// redirected from the file, output compared byte for byte.

#include <gtest/gtest.h>

#include <string>

#include "tests/run.h"

namespace {

TEST(Examples, Bases)
{
    const std::string base = std::string(EXAMPLES) + "/bases";
    const std::string want = read_file(base + ".expected");
    ASSERT_FALSE(want.empty());
    result r = run(OSTREL_BIN, {}, "", sink::capture, (base + ".txt").c_str());
    EXPECT_EQ(want, r.out);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(0, r.status);
}

} // namespace
