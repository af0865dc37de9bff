#include "ostrel/ostrel.h"
#include "tests/ostrel_literal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

typedef size_t scan_fn(const unsigned char *, size_t, uint64_t *);

struct scanner {
    const char *name;
    scan_fn *fn;
    kernel k;
};

const scanner scanners[] = {
    {"scalar", scan_scalar, scalar},
#if defined(__x86_64__)
    {"sse2", scan_sse2, sse2},
    {"avx2", scan_avx2, avx2},
#elif defined(__aarch64__)
    {"neon", scan_neon, neon},
#endif
};

const std::string_view bases("ACGTN");

// Step widths, and the lengths after which the byte counters are summed
// (the NEON step is 16 bytes, as SSE2's).
const size_t edges[] = {16, 32, 255 * 16, 255 * 32, read_size};

std::mt19937_64 rng(20240611);

// Checks every scanner this processor runs against the definition: the
// bases before the first byte outside A C G T N. Each gets a heap copy of
// exactly s's bytes, so a read past the end shows under the sanitizers.
void check(const std::string &s, const std::string &what)
{
    size_t stop = s.find_first_not_of(bases);
    if (stop == std::string::npos)
        stop = s.size();
    uint64_t want[5] = {100, 200, 300, 400, 500};
    for (size_t i = 0; i < stop; i++)
        want[bases.find(s[i])]++;

    for (const scanner &sc : scanners) {
        if (!kernel_supported(sc.k))
            continue;
        std::unique_ptr<unsigned char[]> p(new unsigned char[s.size()]);
        memcpy(p.get(), s.data(), s.size());
        uint64_t c[5] = {100, 200, 300, 400, 500};
        EXPECT_EQ(sc.fn(p.get(), s.size(), c), stop) << sc.name << ": " << what;
        for (int b = 0; b < 5; b++)
            EXPECT_EQ(c[b], want[b]) << sc.name << ": " << what << ", base " << b;
    }
}

std::vector<size_t> lengths_near_edges()
{
    std::vector<size_t> v;
    for (size_t n = 0; n <= 100; n++)
        v.push_back(n);
    for (size_t e : edges)
        for (size_t n = e - 3; n <= 2 * e + 3; n += (n == e + 3 ? e - 6 : 1))
            v.push_back(n);
    return v;
}

TEST(OstrelScan, AllBasesAroundEveryWidth)
{
    for (size_t n : lengths_near_edges())
        check(random_bases(rng, n), "length " + std::to_string(n));
}

TEST(OstrelScan, LongRunsOfOneBaseDoNotWrapByteCounters)
{
    for (char b : bases)
        for (size_t n : {255 * 16 + 1, 255 * 32 - 1, 255 * 32 * 3 + 17})
            check(std::string(n, b), std::string(1, b) + " x" + std::to_string(n));
}

// For long inputs, the positions worth a separate case: the ends, and next
// to a summing edge.
bool near_edge(size_t j, size_t n)
{
    if (j < 40 || j + 40 >= n)
        return true;
    for (size_t e : edges)
        for (size_t m = e; m <= 2 * e; m += e)
            if (j + 2 >= m && j <= m + 2)
                return true;
    return false;
}

TEST(OstrelScan, StopsAtFirstNonBaseAtEveryPosition)
{
    std::string others;
    for (int v = 0; v < 256; v++)
        if (bases.find(static_cast<char>(v)) == std::string_view::npos)
            others += static_cast<char>(v);

    size_t turn = 0;
    for (size_t n : lengths_near_edges()) {
        if (n == 0 || n > 3 * 255 * 32)
            continue;
        std::string s = random_bases(rng, n);
        for (size_t j = 0; j < n; j++) {
            if (n > 200 && !near_edge(j, n))
                continue;
            std::string t = s;
            t[j] = others[turn++ % others.size()];
            if (j + 1 < n)
                t[n - 1] = '\n'; // a later stop must not be taken instead
            check(t, "length " + std::to_string(n) + ", byte " +
                         std::to_string(static_cast<unsigned char>(t[j])) +
                         " at " + std::to_string(j));
        }
    }
}

TEST(OstrelScan, EveryByteValueInEveryLanePosition)
{
    std::string s = random_bases(rng, 130);
    for (int v = 0; v < 256; v++)
        for (size_t j : {0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 100, 113, 129}) {
            std::string t = s;
            t[j] = static_cast<char>(v);
            check(t, "byte " + std::to_string(v) + " at " + std::to_string(j));
        }
}

TEST(OstrelScan, RandomBytesMostlyBases)
{
    for (int round = 0; round < 2000; round++) {
        std::string s = random_bases(rng, rng() % 700);
        for (char &ch : s)
            if (rng() % 400 == 0)
                ch = static_cast<char>(rng());
        check(s, "round " + std::to_string(round));
    }
}

TEST(OstrelEncode, StopsAtNewlineAndReportsAnyOtherNonBase)
{
    for (const scanner &sc : scanners) {
        if (!kernel_supported(sc.k))
            continue;
        force_kernel(sc.k);
        std::string line = random_bases(rng, 300) + "\nxyz";
        uint64_t c[5] = {0, 0, 0, 0, 0};
        EXPECT_EQ(encode(line.data(), line.size(), c), 300u) << sc.name;
        EXPECT_EQ(c[0] + c[1] + c[2] + c[3] + c[4], 300u) << sc.name;
        EXPECT_EQ(encode("ACGTN", 5, c), 5u) << sc.name;

        const struct {
            std::string in, message;
        } bad[] = {
            {"ACGa\n", "Invalid base: a\n"},
            {"ACGT\r\n", "Invalid base: \r\n"},
            {random_bases(rng, 40) + "-" + random_bases(rng, 40) + "x", "Invalid base: -\n"},
            {"\xc3\x84", "Invalid base: \xc3\n"},
        };
        for (auto &b : bad)
            EXPECT_EXIT(encode(b.in.data(), b.in.size(), c),
                        testing::ExitedWithCode(2), "^" + b.message + "$")
                << sc.name;
    }
}

} // namespace
