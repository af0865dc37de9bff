#ifndef COMMON_ISA_H
#define COMMON_ISA_H

// The instruction sets the programs have vector code for, and the one
// choice among them that every program of a process follows: the best set
// this processor runs, made on first use, unless one was forced before.

#include <atomic>
#include <cstddef>

// plain is the build every processor runs; sse2 and avx2 are for x86-64,
// neon for aarch64. A program runs the chosen set where it has code for it
// (its isa_paths) and its plain path otherwise.
enum class isa { plain, sse2, avx2, neon };

// The set's name, as the command line and --debug spell it.
const char *isa_name(isa k);

// Whether this processor runs k.
bool isa_supported(isa k);

// The best set this processor runs: avx2, sse2, neon, plain in that order.
isa isa_best();

namespace isa_state {
// The choice, or -1 before the first use: constant-initialized, so it
// holds before any start-up code runs and needs no order among them.
extern std::atomic<int> chosen;
// Out of line and cold, so that the dispatches that may call it stay
// close to a plain load.
[[gnu::cold]] isa choose();
} // namespace isa_state

// The set the programs run. Inline and without a guard variable, so that
// a dispatch costs one load and a branch that is taken once.
inline isa active_isa()
{
    int k = isa_state::chosen.load(std::memory_order_relaxed);
    return __builtin_expect(k >= 0, 1) ? static_cast<isa>(k) : isa_state::choose();
}

// Makes the programs run k from now on, whatever the processor offers
// best. The caller has asked isa_supported(k).
void force_isa(isa k);

// What one program has code for: its name for messages, and its sets, the
// plain one first.
struct isa_paths {
    const char *program;
    const isa *sets;
    size_t count;
};

// The set that program p runs: the chosen one where p has it, else plain.
isa isa_path(const isa_paths &p);

// What the switch asked for.
struct isa_request {
    int argc;            // the words left in argv, argv[argc] a null pointer
    bool debug;          // --debug: say which set runs (isa_report)
    const char *refused; // the message for a refused --isa, with its newline
};

// Takes the switch out of argv[1..argc), so that the program's own parsing
// never sees it: "--isa=NAME" or "--isa NAME" forces the set NAME ("best"
// leaves the choice to the processor; the last one given counts), and
// "--debug" asks for isa_report. NAME must be a set of p that this
// processor runs, or else the request is refused and nothing forced.
// optstring is the program's getopt string, so that the argument of one
// of its options is left to it whatever it says; "--" and the words after
// it are left alone too.
isa_request isa_switch(int argc, char **argv, const char *optstring, const isa_paths &p);

// Writes "PROGRAM: instruction set NAME" to standard error, NAME the set
// that p runs.
void isa_report(const isa_paths &p);

#endif
