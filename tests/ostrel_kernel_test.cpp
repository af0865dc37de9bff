#include "ostrel/ostrel.h"
#include "tests/ostrel_literal.h"
#include "tests/util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

const std::vector<kernel_fn> kernels = ostrel_kernels();

const std::string_view bases("ACGTN");

// Step widths (the NEON step is 16 bytes, as SSE2's), the block of 64
// bytes, the lengths after which the byte counters of a long line are
// summed, and the read size.
const size_t edges[] = {16, 32, 64, 255 * 16, 255 * 32, read_size};

std::mt19937_64 rng(20240611);

// Checks every kernel this processor runs against the definition: a mark
// at each newline, up to max_marks of them, with the A, C, G, T before it;
// a stop at the first byte that is neither base nor newline, after the
// last mark allowed, or at the end. Each gets a heap copy of exactly s's
// bytes, so a read past the end shows under the sanitizers.
void check(const std::string &s, const std::string &what)
{
    std::vector<mark> want;
    uint32_t t[4] = {0, 0, 0, 0};
    size_t stop = 0;
    for (; stop < s.size() && want.size() < max_marks; stop++) {
        size_t b = bases.find(s[stop]);
        if (s[stop] == '\n')
            want.push_back({static_cast<uint32_t>(stop), {t[0], t[1], t[2], t[3]}});
        else if (b == std::string_view::npos)
            break;
        else if (b < 4)
            t[b]++;
    }

    for (const kernel_fn &kf : kernels) {
        if (!isa_supported(kf.k))
            continue;
        std::unique_ptr<unsigned char[]> p(new unsigned char[s.size()]);
        memcpy(p.get(), s.data(), s.size());
        std::vector<mark> m(max_marks);
        size_t lines = 0;
        uint32_t c[4] = {9, 9, 9, 9};
        EXPECT_EQ(kf.fn(p.get(), s.size(), m.data(), &lines, c), stop) << kf.name << ": " << what;
        EXPECT_EQ(lines, want.size()) << kf.name << ": " << what;
        EXPECT_EQ(std::vector<uint32_t>(c, c + 4), std::vector<uint32_t>(t, t + 4))
            << kf.name << ": " << what;
        for (size_t k = 0; k < lines && k < want.size(); k++) {
            EXPECT_EQ(m[k].at, want[k].at) << kf.name << ": " << what << ", mark " << k;
            EXPECT_EQ(std::vector<uint32_t>(m[k].c, m[k].c + 4),
                      std::vector<uint32_t>(want[k].c, want[k].c + 4))
                << kf.name << ": " << what << ", mark " << k;
        }
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

TEST(OstrelKernel, AllBasesAroundEveryWidth)
{
    for (size_t n : lengths_near_edges())
        check(random_bases(rng, n), "length " + std::to_string(n));
}

TEST(OstrelKernel, LongRunsOfOneBaseDoNotWrapByteCounters)
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

TEST(OstrelKernel, StopsAtFirstNonBaseAtEveryPosition)
{
    std::string others;
    for (int v = 0; v < 256; v++)
        if (bases.find(static_cast<char>(v)) == std::string_view::npos && v != '\n')
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
                t[n - 1] = 'x'; // a later stop must not be taken instead
            check(t, "length " + std::to_string(n) + ", byte " +
                         std::to_string(static_cast<unsigned char>(t[j])) +
                         " at " + std::to_string(j));
        }
    }
}

TEST(OstrelKernel, EveryByteValueInEveryLanePosition)
{
    std::string s = random_bases(rng, 130);
    for (int v = 0; v < 256; v++)
        for (size_t j : {0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 100, 113, 129}) {
            std::string t = s;
            t[j] = static_cast<char>(v);
            check(t, "byte " + std::to_string(v) + " at " + std::to_string(j));
        }
}

TEST(OstrelKernel, RandomBytesMostlyBases)
{
    for (int round = 0; round < 2000; round++) {
        std::string s = random_bases(rng, rng() % 700);
        for (char &ch : s)
            if (rng() % 400 == 0)
                ch = static_cast<char>(rng());
            else if (rng() % 40 == 0)
                ch = '\n';
        check(s, "round " + std::to_string(round));
    }
}

// Lines of every length up to a few blocks, more of them than one count may
// mark, and a stop after a run of empty lines.
TEST(OstrelKernel, ManyLines)
{
    std::string s;
    for (size_t n = 0; s.size() < 40000; n = (n + 1) % 200)
        s += random_bases(rng, n) + "\n";
    check(s, "lines of 0 to 199 bases");
    check(std::string(3 * max_marks, '\n') + "x", "empty lines");
    check(std::string(max_marks - 1, '\n') + "ACx\n", "stop before the last mark");
}

TEST(OstrelCount, RunsTheForcedKernel)
{
    std::string in = random_bases(rng, 300) + "\n" + random_bases(rng, 50) + "\nAx\n";
    for (const kernel_fn &kf : kernels) {
        if (!isa_supported(kf.k))
            continue;
        force_isa(kf.k);
        std::vector<mark> m(max_marks), want(max_marks);
        size_t lines = 0, want_lines = 0;
        uint32_t c[4], want_c[4];
        const unsigned char *p = reinterpret_cast<const unsigned char *>(in.data());
        EXPECT_EQ(count_bases(in.data(), in.size(), m.data(), &lines, c),
                  kf.fn(p, in.size(), want.data(), &want_lines, want_c))
            << kf.name;
        EXPECT_EQ(lines, 2u) << kf.name;
        EXPECT_EQ(memcmp(m.data(), want.data(), lines * sizeof m[0]), 0) << kf.name;
        EXPECT_EQ(memcmp(c, want_c, sizeof c), 0) << kf.name;
    }
}

} // namespace
