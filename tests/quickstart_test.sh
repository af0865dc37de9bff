#!/bin/bash
# The quick start on the shipped table, as a newcomer pastes it: it must
# succeed, give a posterior line for every locus and tracts, and its
# summary's intervals must hold the truth the table was simulated from
# (examples/admixed.truth.tsv; examples/admixture/admixture.py --ship
# made all three files).
#
#   quickstart_test.sh SOURCE-DIR TARVO-HMM [EMULATOR...]
#
# A cross build's program runs under its emulator, given after it.
set -u
src=$(cd "$1" && pwd) || exit 2
hmm=$(realpath "$2") || exit 2
shift 2
tmp=$(mktemp -d) || exit 2
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 2
mkdir build examples && ln -s "$src"/examples/admixed.* examples/ || exit 2
if [ $# -eq 0 ]; then
    ln -s "$hmm" build/tarvo-hmm || exit 2
else
    printf '#!/bin/sh\nexec %s %q "$@"\n' "$*" "$hmm" > build/tarvo-hmm &&
        chmod +x build/tarvo-hmm || exit 2
fi

build/tarvo-hmm --map examples/admixed.map --tracts admixed.tracts.bed \
    --summary admixed.summary.tsv examples/admixed.loci.tsv > admixed.posterior.tsv ||
    { echo "FAIL: status $?"; exit 1; }
cat admixed.summary.tsv
loci=$(grep -vc '^#' examples/admixed.loci.tsv)
[ "$(grep -vc '^#' admixed.posterior.tsv)" -eq "$loci" ] ||
    { echo "FAIL: $(grep -vc '^#' admixed.posterior.tsv) posterior lines for $loci loci"; exit 1; }
[ "$(grep -vc '^#' admixed.tracts.bed)" -gt 0 ] || { echo "FAIL: no tracts"; exit 1; }
# Columns by the summary's header: each truth within its interval.
awk -F '\t' 'NR == FNR { if (FNR == 2) { m = $1; t = $2 } next }
    FNR == 1 { for (i = 1; i <= NF; i++) c[$i] = i; next }
    function within(name, truth) {
        lo = $c[name "_low"]; hi = $c[name "_high"]
        printf "%s %s in [%s, %s]\n", name, truth, lo, hi
        if (!(lo + 0 <= truth && truth <= hi + 0)) { print "FAIL: " name " interval misses " truth; bad = 1 }
    }
    { within("proportion", m); within("generations", t) }
    END { exit bad }' examples/admixed.truth.tsv admixed.summary.tsv
