# One sample's karyogram: the expected copies from population 1 along
# every chromosome, one row each, from the workflow's karyogram rule.
#     gnuplot -e "bins='B'; rows='R'; out='O'; ploidy=2" karyogram.gp
# B: row, start Mb, end Mb, mean pop1_copies; R: row, chromosome name.

stats rows using 1 nooutput
n = STATS_records
set terminal pngcairo size 1200, 160 + 28 * n font "sans,11"
set output out

set title sprintf("Expected copies from population 1 (of %d), by chromosome", ploidy)
set xlabel "position (Mb)"
set yrange [n + 0.6:0.4]
set ytics scale 0
set ytics () 
set cbrange [0:ploidy]
set cbtics 0, 1, ploidy
# 0 blue, half grey, all orange: the admixture example's colours; the
# title names the scale.
set palette defined (0 "#2b6cb0", 0.5 "#999999", 1 "#dd7a1c")
set style fill solid 1.0 noborder
unset key
plot bins using (($2 + $3) / 2):1:2:3:($1 - 0.35):($1 + 0.35):4 with boxxyerror lc palette, \
     rows using (NaN):1:ytic(2) with points
