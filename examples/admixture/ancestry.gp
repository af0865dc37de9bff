# The picture of examples/admixture: tarvo-hmm's three state posteriors
# stacked at each locus, and beneath them its tracts, the true state and
# each copy's true population.
#     gnuplot -e "dir='build/admixture'" examples/admixture/ancestry.gp
# reads dir/picture.tsv (admixture.py's per-locus columns) and
# dir/tracts.bed, writes dir/ancestry.png.

if (!exists("dir")) dir = "."
set terminal pngcairo size 1200,600 font "sans,12"
set output dir."/ancestry.png"

# State 0 and population 0 blue, state 2 and population 1 orange, state 1
# (one copy from each) grey.
color(s) = s == 0 ? 0x2b6cb0 : s == 1 ? 0x999999 : 0xdd7a1c
state(name) = name eq "pop0_pop0" ? 0 : name eq "pop0_pop1" ? 1 : 2

set multiplot
set lmargin 16
set rmargin 3
set xrange [0:5]
set style fill solid 1.0 noborder
unset key

set origin 0, 0.40
set size 1, 0.60
set title "tarvo-hmm: posterior of each state at each locus (m and T estimated)\n" . \
    "blue: both copies from population 0;   grey: one from each;   " . \
    "orange: both from population 1"
set ylabel "posterior"
set yrange [0:1]
set ytics 0, 0.25, 1
set format x ""
p = dir."/picture.tsv"
plot p using 1:($4/2):2:3:(0):4 with boxxyerror lc rgb color(0), \
     p using 1:(($4+$5)/2):2:3:4:5 with boxxyerror lc rgb color(1), \
     p using 1:((1+$5)/2):2:3:5:(1) with boxxyerror lc rgb color(2)

set origin 0, 0
set size 1, 0.42
set title "Beneath: tarvo-hmm's tracts, the true state, and each copy's true population"
unset ylabel
set yrange [-0.6:3.6]
set ytics ("tracts" 3, "true state" 2, "copy 1" 1, "copy 2" 0)
set format x "%g"
set xlabel "position on chr1 (Mb)"
plot dir."/tracts.bed" using (($2+$3)/2e6):(3):($2/1e6):($3/1e6):(2.6):(3.4): \
         (color(state(strcol(4)))) with boxxyerror lc rgb variable, \
     p using 1:(2):2:3:(1.6):(2.4):(color($9)) with boxxyerror lc rgb variable, \
     p using 1:(1):2:3:(0.6):(1.4):(color(2 * $7)) with boxxyerror lc rgb variable, \
     p using 1:(0):2:3:(-0.4):(0.4):(color(2 * $8)) with boxxyerror lc rgb variable

unset multiplot
