#!/bin/bash
# The 64-bit ARM build: cross-compiles both programs and the tests with
# Debian's g++-aarch64-linux-gnu, runs the tests under qemu-user, and checks
# that the ARM programs write the same bytes as the x86-64 build on the
# examples, on generated loads (NaN-heavy ones included) and on the base
# generator's output.
#
#   tests/aarch64.sh X86_BUILD_DIR [ARM_BUILD_DIR]
#
# X86_BUILD_DIR holds a native build with its generators (the README's
# build). Installs the cross compiler and qemu-user when missing (as root).
set -euo pipefail
cd "$(dirname "$0")/.."

native=${1:?usage: tests/aarch64.sh X86_BUILD_DIR [ARM_BUILD_DIR]}
dir=$PWD/${2:-build-aarch64}
jobs=2
toolchain=$PWD/cmake/aarch64-linux-gnu.cmake
emu=(qemu-aarch64 -L /usr/aarch64-linux-gnu)

need=()
command -v aarch64-linux-gnu-g++ >/dev/null || need+=(g++-aarch64-linux-gnu)
command -v qemu-aarch64 >/dev/null || need+=(qemu-user)
if [ ${#need[@]} -gt 0 ]; then
    echo "installing ${need[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

# GoogleTest for the target, from the sources that libgtest-dev ships.
gtest=$dir/gtest
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S /usr/src/googletest -B "$dir/gtest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
    cmake --build "$dir/gtest-build" -j$jobs >/dev/null
    cmake --install "$dir/gtest-build" >/dev/null
fi

arm=$dir/tree
cmake -S . -B "$arm" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DBUILD_TESTS=ON \
    -DGTest_DIR="$gtest/lib/cmake/GTest" >/dev/null
cmake --build "$arm" -j$jobs

# Under emulation the whole suite takes about ten minutes; this runs the
# unit tests of the reader, the formatter, the scoring core and the
# kernels, both programs' end-to-end tables and the examples. Left out:
# the random differential runs against the plain build (TarvoDiff, seven
# minutes: the x86-64 suite runs them on the same sources, and the
# comparisons below hold ARM's results to x86-64's), and the scale-out
# scripts and the Slurm workflow, which start the programs through GNU
# parallel and Snakemake, where the emulator has no place; and the
# calibration test, a statistical check of the model on a million loci
# whose every number the exact and end-to-end tests already hold to
# x86-64's. The rule of -l (tarvo_log_exact) runs the ARM program under
# the emulator. The daemon tests' failing starts run no program.
ctest --test-dir "$arm" --output-on-failure -j$jobs -E '^(scale_out|TarvoDiff|workflow|tarvo_calibration|daemons)'

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Runs a program of both builds on standard input: the same output, messages
# and status. Arguments: what it checks, then the program and its options.
same() {
    local what=$1 x a
    shift
    cat > "$work/in"
    "$native/$@" < "$work/in" > "$work/x86" 2>&1 && x=0 || x=$?
    "${emu[@]}" "$arm/$@" < "$work/in" > "$work/arm" 2>&1 && a=0 || a=$?
    if [ $x != $a ] || ! cmp -s "$work/x86" "$work/arm"; then
        echo "aarch64: $what differs from x86-64 (status $a, not $x)"
        cmp "$work/x86" "$work/arm" | head -1
        exit 1
    fi
    echo "aarch64: $what: same $(wc -c < "$work/arm") bytes as x86-64"
}

while read -r name prog args; do
    same "examples/$name" "$prog" $args < "examples/$name.txt"
done < examples/list

gen_bases=$native/bench/gen_bases
"$native/bench/gen_tarvo" 20000 > "$work/plain.txt"
"$native/bench/gen_tarvo" 20000 11 odd > "$work/odd.txt"
"$native/bench/gen_tarvo" 20000 13 nan > "$work/nan.txt"
for load in plain odd nan; do
    for p in 1 2; do
        same "tarvo, $load load, ploidy $p" tarvo -t 20000 -p $p < "$work/$load.txt"
        same "tarvo -l, $load load, ploidy $p" tarvo -t 20000 -p $p -l < "$work/$load.txt"
    done
done
for line in 0 1 15 16 17 100 4095 1000000; do
    "$gen_bases" $line 2000000 $line > "$work/bases.txt" 2>/dev/null
    same "ostrel, lines of $line bases" ostrel < "$work/bases.txt"
done
{ "$gen_bases" 70 100000 2>/dev/null; printf 'ACGTx\nACGT\n'; } | same "ostrel, an invalid base" ostrel
