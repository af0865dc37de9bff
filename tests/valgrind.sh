#!/bin/bash
# Runs both programs under valgrind over ordinary, broken and failing
# inputs: no invalid access, no use of uninitialised memory, no leak, and
# each run ends with the status it would have without valgrind.
#
#   tests/valgrind.sh BUILD-DIR
set -uo pipefail

build=${1:?usage: tests/valgrind.sh BUILD-DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
runs=0

# check STATUS INPUT PROGRAM ARGS...: valgrind exits 99 on any error it finds.
check() {
    local want=$1 input=$2
    shift 2
    valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect \
        --errors-for-leak-kinds=definite,indirect "$@" < "$input" > "$work/out" 2> "$work/err"
    local got=$?
    runs=$((runs + 1))
    if [ "$got" != "$want" ]; then
        echo "FAILED (status $got, want $want): $* < $input"
        cat "$work/err"
        fail=1
    fi
}

"$build/bench/gen_tarvo" 2000 > "$work/obs.txt"
"$build/bench/gen_tarvo" 2000 9 odd > "$work/odd.txt"
head -c 50000 "$work/obs.txt" > "$work/cut.txt"
printf '0 4 3\n' > "$work/badcode.txt"
: > "$work/empty.txt"

while read -r name prog args; do
    check 0 "$root/examples/$name.txt" "$build/$prog" $args
done < "$root/examples/list"
check 0 "$work/obs.txt" "$build/tarvo" -t 2000 -p 2
check 0 "$work/odd.txt" "$build/tarvo" -t 2000 -p 1
check 0 "$work/odd.txt" "$build/tarvo" -t 2000 -p 2 -l
check 2 "$work/cut.txt" "$build/tarvo" -t 2000 -p 2
check 2 "$work/badcode.txt" "$build/tarvo" -t 1 -p 2 -n 3
check 2 "$work/obs.txt" "$build/tarvo" -t 1 -p 2 -n 2000000
check 2 "$work/empty.txt" "$build/tarvo" -p 2

if [ -x "$build/ostrel" ]; then
    awk 'BEGIN { srand(3); for (i = 0; i < 3000; i++) { n = int(rand() * 300); s = "";
         for (j = 0; j < n; j++) s = s substr("ACGTN", 1 + int(rand() * 5), 1); print s } }' \
        > "$work/bases.txt"
    printf 'ACGT\nACxT\n' > "$work/badbase.txt"
    printf 'ACG' > "$work/unterminated.txt"
    check 0 "$work/bases.txt" "$build/ostrel"
    check 0 "$work/unterminated.txt" "$build/ostrel"
    check 0 "$work/empty.txt" "$build/ostrel"
    check 2 "$work/badbase.txt" "$build/ostrel"
fi

if [ -x "$build/tarvo-hmm" ]; then
    awk 'BEGIN { srand(5); OFS = "\t"
         print "#chrom", "pos", "lnL_pop0_pop0", "lnL_pop0_pop1", "lnL_pop1_pop1"
         for (c = 1; c <= 3; c++) for (i = 1; i <= 400 * c; i++)
             print "chr" c, i * 20000, -rand() * 5, -rand() * 5, (i % 7 ? -rand() * 5 : "-inf") }' \
        > "$work/loci.tsv"
    printf '#chrom\tpos\tlnL_pop0\tlnL_pop1\nchr1\t5\t-1\tnan\n' > "$work/badloci.tsv"
    check 0 "$work/loci.tsv" "$build/tarvo-hmm" --tracts "$work/t.bed" --summary "$work/s.tsv"
    printf 'chr1 a 0 1\nchr1 b 10 30000000\nchr2 a 0 1\nchr2 b 5 30000000\nchr3 x 0 1\nchr3 y 20 8000000\nchr3 z 30 90000000\n' \
        > "$work/g.map"
    check 0 "$work/loci.tsv" "$build/tarvo-hmm" -m 0.4 -d 0.1 --map "$work/g.map"
    check 2 "$work/badloci.tsv" "$build/tarvo-hmm" --summary "$work/s.tsv"
fi

echo "valgrind: $runs runs, $([ $fail = 0 ] && echo "no errors" || echo "errors found")"
exit $fail
