#include "common/isa.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

const char *const names[] = {"plain", "sse2", "avx2", "neon"};
const isa sets[] = {isa::plain, isa::sse2, isa::avx2, isa::neon};

bool has(const isa_paths &p, isa k)
{
    for (size_t i = 0; i < p.count; i++)
        if (p.sets[i] == k)
            return true;
    return false;
}

// The message of a refused request; the programs run one thread.
char why[256];

// "plain, avx2, best": what p's switch takes.
void list(const isa_paths &p, char *s, size_t n)
{
    size_t at = 0;
    for (size_t i = 0; i < p.count && at < n; i++)
        at += static_cast<size_t>(snprintf(s + at, n - at, "%s, ", isa_name(p.sets[i])));
    if (at < n)
        snprintf(s + at, n - at, "best");
}

// The set that name asks of p, best included, or nullptr and the reason.
const char *take(const char *name, const isa_paths &p, isa *k)
{
    char sets_of_p[64];
    list(p, sets_of_p, sizeof sets_of_p);
    if (!name) {
        snprintf(why, sizeof why, "%s: --isa without a name (%s)\n", p.program, sets_of_p);
        return why;
    }
    if (strcmp(name, "best") == 0) {
        *k = isa_best();
        return nullptr;
    }
    for (isa s : sets)
        if (strcmp(name, isa_name(s)) == 0 && has(p, s)) {
            if (!isa_supported(s)) {
                snprintf(why, sizeof why, "%s: --isa=%s: this processor does not run %s\n",
                         p.program, name, name);
                return why;
            }
            *k = s;
            return nullptr;
        }
    snprintf(why, sizeof why, "%s: --isa=%.64s: not an instruction set of this build (%s)\n",
             p.program, name, sets_of_p);
    return why;
}

// Whether the word w, an argument of argv, ends with one of optstring's
// options that takes its argument from the next word.
bool wants_next(const char *w, const char *optstring)
{
    if (w[0] != '-' || w[1] == '-' || w[1] == '\0')
        return false;
    for (const char *c = w + 1; *c; c++) {
        const char *o = *c == ':' ? nullptr : strchr(optstring, *c);
        if (o && o[1] == ':')
            return c[1] == '\0';
    }
    return false;
}

} // namespace

std::atomic<int> isa_state::chosen{-1};

const char *isa_name(isa k)
{
    return names[static_cast<int>(k)];
}

bool isa_supported(isa k)
{
#if defined(__x86_64__)
    // Needed when called before the constructors that would run it have.
    __builtin_cpu_init();
    if (k == isa::avx2) // ostrel's AVX2 kernel counts bits with popcnt too
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    return k == isa::plain || k == isa::sse2;
#elif defined(__aarch64__)
    // AdvSIMD is part of every aarch64 processor.
    return k == isa::plain || k == isa::neon;
#else
    return k == isa::plain;
#endif
}

isa isa_best()
{
    for (isa k : {isa::avx2, isa::sse2, isa::neon})
        if (isa_supported(k))
            return k;
    return isa::plain;
}

isa isa_state::choose()
{
    int k = static_cast<int>(isa_best()), none = -1;
    // A force made meanwhile stays.
    if (!chosen.compare_exchange_strong(none, k, std::memory_order_relaxed))
        k = none;
    return static_cast<isa>(k);
}

void force_isa(isa k)
{
    isa_state::chosen.store(static_cast<int>(k), std::memory_order_relaxed);
}

isa isa_path(const isa_paths &p)
{
    isa k = active_isa();
    return has(p, k) ? k : isa::plain;
}

isa_request isa_switch(int argc, char **argv, const char *optstring, const isa_paths &p)
{
    isa_request r = {1, false, nullptr};
    bool forced = false, rest = false;
    isa k = isa::plain;
    for (int i = 1; i < argc; i++) {
        char *w = argv[i];
        if (rest || r.refused) {
            argv[r.argc++] = w;
        } else if (strcmp(w, "--debug") == 0) {
            r.debug = true;
        } else if (strncmp(w, "--isa", 5) == 0 && (w[5] == '=' || w[5] == '\0')) {
            const char *name = w[5] == '=' ? w + 6 : i + 1 < argc ? argv[++i] : nullptr;
            r.refused = take(name, p, &k);
            forced = !r.refused;
        } else {
            argv[r.argc++] = w;
            rest = strcmp(w, "--") == 0;
            if (wants_next(w, optstring) && i + 1 < argc)
                argv[r.argc++] = argv[++i];
        }
    }
    argv[r.argc] = nullptr;
    if (forced && !r.refused)
        force_isa(k);
    return r;
}

void isa_report(const isa_paths &p)
{
    fprintf(stderr, "%s: instruction set %s\n", p.program, isa_name(isa_path(p)));
}
