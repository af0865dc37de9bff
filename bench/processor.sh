#!/bin/sh
# Names the processor in one line, for the head of every benchmark's
# figures: the same program runs up to twice as fast on one processor as on
# another of the same instruction set, so a figure means little without it.
LC_ALL=C lscpu | awk -F: '
    { sub(/^[ \t]+/, "", $2) }
    $1 == "Architecture" { arch = $2 }
    $1 == "CPU(s)" { cpus = $2 }
    $1 == "Vendor ID" { vendor = $2 }
    $1 == "Model name" && name == "" { name = $2 }
    $1 == "CPU family" { family = ", family " $2 }
    $1 == "Model" { model = ", model " $2 }
    $1 == "Flags" {
        n = split($2, f, " ")
        for (i = 1; i <= n; i++)
            if (f[i] == "avx2" || f[i] == "avx512f" || f[i] == "asimd")
                vec = vec ", " f[i]
    }
    END {
        printf "processor: %s (%s%s%s%s), %s, %s cores\n", name, vendor, family, model, vec, arch, cpus
    }'
