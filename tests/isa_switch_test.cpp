// The instruction-set switch of both programs: the names each takes, the
// ones it refuses, and what --debug says runs. Standard output is the same
// whatever the switch says, and the words that belong to the programs'
// own options are left to them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/isa.h"
#include "tests/run.h"

namespace {

const std::string USAGE = "tarvo -t numobs -p ploidy < inputfile\n";
const std::string EX = "0 5 3\n0.7 0.1 0.1 0.1 0.1 0.1 0.1 0.7\n0.01 0.5 0.02\n";
const std::string EX2 = "3.767950e-02\t1.242475e-01\t3.617950e-02\n";

#if defined(__x86_64__)
const bool x86 = true, arm = false;
const char *const tarvo_has = "plain, avx2, best", *const ostrel_has = "plain, sse2, avx2, best";
#elif defined(__aarch64__)
const bool x86 = false, arm = true;
const char *const tarvo_has = "plain, best", *const ostrel_has = "plain, neon, best";
#else
const bool x86 = false, arm = false;
const char *const tarvo_has = "plain, best", *const ostrel_has = "plain, best";
#endif

struct row {
    const char *name;
    bool tarvo; // else ostrel
    std::vector<std::string> args;
    std::string err; // empty: no message, status 0 and the usual output
};

// What --debug says: the set, and for tarvo the numbers the C library read.
std::string said(bool tarvo, const std::string &set, int slow = 0)
{
    if (!tarvo)
        return "ostrel: instruction set " + set + "\n";
    return "tarvo: instruction set " + set + "\ntarvo: " + std::to_string(slow) +
           " numbers read by the C library's scanf\n";
}

// NAME as --isa=NAME --debug: said, or refused as this processor lacks it
// or the program has no code for it.
std::string asked(bool tarvo, const std::string &name, bool in_build)
{
    const std::string prog = tarvo ? "tarvo" : "ostrel", usage = tarvo ? USAGE : "";
    if (!in_build)
        return prog + ": --isa=" + name + ": not an instruction set of this build (" +
               (tarvo ? tarvo_has : ostrel_has) + ")\n" + usage;
    if (!isa_supported(name == "avx2" ? isa::avx2 : name == "sse2" ? isa::sse2 : isa::neon))
        return prog + ": --isa=" + name + ": this processor does not run " + name + "\n" + usage;
    return said(tarvo, name);
}

TEST(IsaSwitch, NamesAndDebug)
{
    const bool avx2 = x86 && isa_supported(isa::avx2);
    const std::string tarvo_best = avx2 ? "avx2" : "plain";
    const std::string ostrel_best = avx2 ? "avx2" : x86 ? "sse2" : arm ? "neon" : "plain";
    const std::vector<std::string> t = {"-t", "1", "-p", "2", "-n", "3"};
    auto with = [&](std::vector<std::string> a) {
        a.insert(a.end(), t.begin(), t.end());
        return a;
    };
    const row rows[] = {
        {"tarvo, the processor's choice", true, with({"--debug"}), said(true, tarvo_best)},
        {"tarvo, best", true, with({"--isa=best", "--debug"}), said(true, tarvo_best)},
        {"tarvo, plain", true, with({"--isa=plain", "--debug"}), said(true, "plain")},
        {"tarvo, name as the next word", true, with({"--isa", "plain", "--debug"}),
         said(true, "plain")},
        {"tarvo, the last one counts", true, with({"--isa=plain", "--debug", "--isa=best"}),
         said(true, tarvo_best)},
        {"tarvo, avx2", true, with({"--debug", "--isa=avx2"}), asked(true, "avx2", x86)},
        {"tarvo, sse2", true, with({"--isa=sse2"}), asked(true, "sse2", false)},
        {"tarvo, neon", true, with({"--isa=neon"}), asked(true, "neon", false)},
        {"tarvo, upper case", true, with({"--isa=PLAIN"}), asked(true, "PLAIN", false)},
        {"tarvo, empty name", true, with({"--isa="}), asked(true, "", false)},
        {"tarvo, no name", true, {"-t", "1", "-p", "2", "-n", "3", "--isa"},
         std::string("tarvo: --isa without a name (") + tarvo_has + ")\n" + USAGE},
        {"tarvo, an option's argument", true, {"-t", "1", "-p", "2", "-n", "--debug", "-n3"}, ""},
        {"tarvo, after --", true, {"-t", "1", "-p", "2", "-n", "3", "--", "--isa=x"}, ""},
        {"ostrel, the processor's choice", false, {"--debug"}, said(false, ostrel_best)},
        {"ostrel, plain", false, {"x", "--isa=plain", "--debug", "-h"}, said(false, "plain")},
        {"ostrel, sse2", false, {"--isa=sse2", "--debug"}, asked(false, "sse2", x86)},
        {"ostrel, avx2", false, {"--isa=avx2", "--debug"}, asked(false, "avx2", x86)},
        {"ostrel, neon", false, {"--isa=neon", "--debug"}, asked(false, "neon", arm)},
        {"ostrel, unknown", false, {"--isa=avx512"}, asked(false, "avx512", false)},
        {"ostrel, after --", false, {"--", "--isa=x", "--debug"}, ""},
    };
    for (const row &r : rows) {
        const bool ok = r.err.empty() || r.err.find(": instruction set ") != std::string::npos;
        result got = r.tarvo ? run(TARVO_BIN, r.args, EX) : run(OSTREL_BIN, r.args, "ACGTN\n");
        EXPECT_EQ(ok ? (r.tarvo ? EX2 : "1\t1\t1\t1\t1\n") : "", got.out) << r.name;
        EXPECT_EQ(r.err, got.err) << r.name;
        EXPECT_EQ(ok ? 0 : 2, got.status) << r.name;
    }
    // A number in a form the fast layers leave to the C library is counted.
    std::string hex = EX;
    hex.replace(hex.find("0.02"), 4, "0x1.47ae147ae147bp-6");
    result got = run(TARVO_BIN, with({"--debug"}), hex);
    EXPECT_EQ(EX2, got.out);
    EXPECT_EQ(said(true, tarvo_best, 1), got.err);
}

} // namespace
