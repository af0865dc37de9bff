# The picture of examples/admixture: each window's three state posteriors
# stacked, and beneath them the truth: the population of each copy's
# tracts and the state the two make together.
#     gnuplot -e "dir='build/admixture'" examples/admixture/ancestry.gp
# reads dir/windows.tsv and dir/truth.tsv, writes dir/ancestry.png.

if (!exists("dir")) dir = "."
set terminal pngcairo size 1200,600 font "sans,12"
set output dir."/ancestry.png"

# State 0 and population 0 blue, state 2 and population 1 orange, state 1
# (one copy from each) grey.
color(s) = s == 0 ? 0x2b6cb0 : s == 1 ? 0x999999 : 0xdd7a1c

set multiplot
set lmargin 14
set rmargin 3
set xrange [0:5]
set style fill solid 1.0 noborder

set origin 0, 0.38
set size 1, 0.62
set title "Posterior of each state in windows of 160 panel loci, uniform prior\n" . \
    "blue: state 0, both copies from population 0;   grey: state 1, one from each;   " . \
    "orange: state 2, both from population 1"
set ylabel "posterior"
set yrange [0:1]
set ytics 0, 0.25, 1
set format x ""
unset key
w = dir."/windows.tsv"
plot w using (($2+$3)/2e6):($8/2):($2/1e6):($3/1e6):(0):($8) \
         with boxxyerror lc rgb color(0), \
     w using (($2+$3)/2e6):($8+$9/2):($2/1e6):($3/1e6):($8):($8+$9) \
         with boxxyerror lc rgb color(1), \
     w using (($2+$3)/2e6):(1-$10/2):($2/1e6):($3/1e6):($8+$9):(1) \
         with boxxyerror lc rgb color(2)

set origin 0, 0
set size 1, 0.40
set title "True ancestry of each copy (population 0 blue, population 1 orange) and the state they make"
unset ylabel
set yrange [-0.6:2.6]
set ytics ("copy 1" 2, "copy 2" 1, "state" 0)
set format x "%g"
set xlabel "position on chr1 (Mb)"
t = dir."/truth.tsv"
plot t using (($2+$3)/2e6):(2-$1):($2/1e6):($3/1e6):(1.6-$1):(2.4-$1): \
         ($1 == 2 ? color($4) : color(2 * $4)) with boxxyerror lc rgb variable

unset multiplot
