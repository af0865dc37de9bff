#!/bin/bash
# The workflow on a real Slurm cluster: munged, slurmctld and two slurmd
# (node1, node2) on 127.0.0.1 only, started here as this script's children
# with everything they keep in a temporary folder. Three generated samples
# must give, through Slurm, what a local run gives and what the plain
# pipeline gives by hand; the jobs must have run on both nodes; a fourth
# sample with a corrupt BAM must fail loudly without costing the others a
# result, and a rerun after the fix must redo that sample alone. Local runs
# check a bad panel line and a reference that disagrees with the panel.
# The cluster stops at the end, whatever the result: its jobs cancelled,
# then exactly the daemons started here signalled.
#
#   slurm_test.sh WORKFLOW-DIR TARVO TARVO-PILEUP
#
# Exits 77 (skipped) without root, which slurmd needs, where a package is
# missing, or where the machine lacks what the daemons need (a cgroup file
# system, host names that resolve, munge credentials); in continuous
# integration (CI=true), which sets all that up, the last two are failures.
# A daemon that exits or does not open its port fails the test in seconds.
# TEST_SLURM_ADDR, read by this script alone, is the address slurm.conf
# gives the controller and the nodes (127.0.0.1 by default), so that a test
# of this script can name a host that does not resolve.
set -u
workflow=$(cd "$1" && pwd) || exit 2
tarvo=$(realpath "$2") tarvo_pileup=$(realpath "$3") || exit 2
here=$(dirname "$(realpath "$0")")
gen=$here/../gen/gen_reads.py
. "$here/lib.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "slurmd needs root: skipped"
    exit 77
fi
missing=()
for p in snakemake:snakemake slurmctld:slurmctld slurmd:slurmd sbatch:slurm-client \
        munged:munge mungekey:munge samtools:samtools python3:python3; do
    command -v "${p%%:*}" > /dev/null || PATH=$PATH:/usr/sbin command -v "${p%%:*}" > /dev/null ||
        missing+=("${p#*:}")
done
[ ${#missing[@]} -eq 0 ] || skip "not installed: ${missing[*]}"
export PATH=$PATH:/usr/sbin

# In a PID namespace of its own (with its own /proc, so that pids and
# /proc agree), nothing the test starts can outlive it: when the test
# ends, the kernel ends everything left in the namespace.
if [ -z "${SLURM_TEST_NAMESPACE:-}" ] &&
        unshare --pid --fork --kill-child --mount-proc true 2> /dev/null; then
    SLURM_TEST_NAMESPACE=1 exec unshare --pid --fork --kill-child --mount-proc \
        bash "$0" "$@"
fi

tmp=$(mktemp -d)
cluster=$tmp/cluster
daemon_mark=$cluster daemon_logs=$cluster/log
port=
# Jobs cancelled while the controller listens; a client call that finds
# it gone fails within its time-out and ends the wait.
stop() {
    local try
    if [ -n "$port" ] && listening 127.0.0.1 "$port"; then
        timeout 10 scancel --full --quiet $(timeout 10 squeue -h -o %i 2> /dev/null) 2> /dev/null
        for try in $(seq 50); do
            [ -z "$(timeout 10 squeue -h -o %i 2> /dev/null)" ] && break
            sleep 0.1
        done
    fi
    # Newest first: the slurmd, slurmctld, munged last.
    stop_daemons
    rm -rf "$tmp"
}
trap stop EXIT
trap 'exit 2' INT TERM
. "$here/tally.sh"
# What the daemons' logs say this machine lacks, in one line.
lacks() {
    local line
    line=$(grep -hs -e 'No filesystem mounted on /sys/fs/cgroup' -e 'Unable to initialize cgroup plugin' \
        "$daemon_logs"/*.log | head -n 1)
    if [ -n "$line" ]; then
        line=$(grep -hs /sys/fs/cgroup "$daemon_logs"/*.log | head -n 1)
        echo "no usable cgroup file system on /sys/fs/cgroup, which slurmd needs: ${line#*error: }"
        return
    fi
    line=$(grep -hs -e 'Unable to resolve' -e 'getaddrinfo() failed' "$daemon_logs"/*.log | head -n 1)
    [ -z "$line" ] || echo "a host name in slurm.conf does not resolve: ${line#*error: }"
}
nodes_idle() {
    [ "$(timeout 10 sinfo -h -N -o '%N %T' 2> /dev/null | sort | tr '\n' ' ')" = "node1 idle node2 idle " ]
}

name=cluster
began=$(date +%s%N)
mkdir -p "$cluster"/{munge,state,spool,log} || exit 2
# munged refuses a socket folder that others can write to, or not search.
chmod 755 "$cluster/munge"
mungekey --create --keyfile="$cluster/munge.key" || exit 2
port=$((40000 + RANDOM % 20000))
addr=${TEST_SLURM_ADDR:-127.0.0.1}
export SLURM_CONF=$cluster/slurm.conf
cat > "$SLURM_CONF" <<END
ClusterName=throwaway
SlurmctldHost=localhost($addr)
SlurmctldPort=$port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$cluster/munge/munge.socket
StateSaveLocation=$cluster/state
SlurmdSpoolDir=$cluster/spool/%n
SlurmctldPidFile=$cluster/slurmctld.pid
SlurmdPidFile=$cluster/slurmd-%n.pid
SlurmctldLogFile=$cluster/log/slurmctld.log
SlurmdLogFile=$cluster/log/slurmd-%n.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/filetxt
JobCompLoc=$cluster/log/jobcomp.txt
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
CommunicationParameters=NoInAddrAny,NoCtldInAddrAny
MpiDefault=none
ReturnToService=2
# One CPU a node, so that jobs submitted together spread over both.
NodeName=node1 NodeHostname=localhost NodeAddr=$addr Port=$((port + 1)) CPUs=1 RealMemory=1000
NodeName=node2 NodeHostname=localhost NodeAddr=$addr Port=$((port + 2)) CPUs=1 RealMemory=1000
PartitionName=test Nodes=node1,node2 Default=YES MaxTime=INFINITE State=UP
END
socket=$cluster/munge/munge.socket
start_daemon munged munged --foreground --force --key-file="$cluster/munge.key" \
    --socket="$socket" --pid-file="$cluster/munged.pid" \
    --seed-file="$cluster/munge.seed" --log-file="$cluster/log/munged.log"
await 10 "munged's socket" test -S "$socket"
if ! cred=$(timeout 10 munge -n -S "$socket" 2>&1) ||
        ! said=$(timeout 10 unmunge -S "$socket" <<< "$cred" 2>&1 > /dev/null); then
    skip "munge refuses credentials: ${said:-$cred}"
fi
start_daemon slurmctld slurmctld -D -f "$SLURM_CONF"
# A slurmd or a client that finds slurmctld not yet listening tries again
# a second later, so they start once its port is open.
await 10 "slurmctld's port $port" listening 127.0.0.1 $port
start_daemon slurmd slurmd -D -N node1 -f "$SLURM_CONF"
start_daemon slurmd slurmd -D -N node2 -f "$SLURM_CONF"
await 30 "node1 and node2 idle in sinfo" nodes_idle
echo "[$name] munged, slurmctld and two slurmd up in $((($(date +%s%N) - began) / 1000000)) ms"

name=data
data=$tmp/data
mkdir "$data" || exit 2
# Four samples on one reference: every fourth read of one generated run,
# with the pileup's corners. A panel SNP every 30 bases where the
# reference has a base, with frequencies awk draws from a fixed seed.
python3 "$gen" "$data/ref.fa" 3 5000 32 7 corners > "$data/all.sam" || exit 2
samtools faidx "$data/ref.fa" || exit 2
for s in 1 2 3 4; do
    awk -v s=$s '/^@/ || ++n % 4 == s % 4' "$data/all.sam" |
        samtools sort -o "$data/s$s.bam" 2> /dev/null &&
        samtools index "$data/s$s.bam" || exit 2
done
awk 'BEGIN { srand(1); print "#chrom\tpos\tref\talt\taf0\taf1" }
     /^>/ { chrom = substr($1, 2); pos = 0; next }
     { for (i = 1; i <= length($0); i++)
           if (++pos % 30 == 0 && (b = substr($0, i, 1)) != "N")
               printf "%s\t%d\t%s\t%s\t%.3f\t%.3f\n", chrom, pos, b,
                   substr("CGTA", index("ACGT", b), 1), rand(), rand() }' \
    "$data/ref.fa" > "$data/panel.tsv" || exit 2
# The fourth sample's BAM damaged in the middle, its index intact.
cp -p "$data/s4.bam" "$data/bad.bam" && cp -p "$data/s4.bam.bai" "$data/bad.bam.bai" || exit 2
python3 - "$data/bad.bam" <<'END' || exit 2
import sys
b = bytearray(open(sys.argv[1], "rb").read())
for i in range(len(b) // 2, len(b) // 2 + 64):
    b[i] ^= 0x5a
open(sys.argv[1], "r+b").write(b)
END
touch -r "$data/s4.bam" "$data/bad.bam"
# A genetic map of three points a chromosome, its rate varying, and a
# thinning that leaves out some of the loci 30 bases apart.
awk '/^>/ { c = substr($1, 2); n++; printf "%s\tm1\t0\t1\n%s\tm2\t%d\t2500\n%s\tm3\t%d\t5000\n", c, c, n, c, 4 * n }' \
    "$data/ref.fa" > "$data/genetic.map" || exit 2
thin=0.03

# tarvo-hmm writes results/SAMPLE.png with gnuplot.
tarvo_hmm=$(realpath "${TARVO_HMM:-$(dirname "$tarvo")/tarvo-hmm}") || exit 2
if ! command -v gnuplot > /dev/null; then
    echo "not installed: gnuplot-nox${CI:+ (FAIL)}"
    [ "${CI:-}" = true ] && exit 1
    exit 77
fi

# The README's pipeline by hand on each whole BAM, then tarvo-hmm.
numalleles=6
awk -v OFS='\t' '!/^#/ { print $1, $2 - 1, $2 }' "$data/panel.tsv" > "$data/panel.bed"
for s in 1 2 3 4; do
    samtools mpileup -q 20 -Q 13 -f "$data/ref.fa" -l "$data/panel.bed" "$data/s$s.bam" 2> /dev/null |
        "$tarvo_pileup" -r "$data/panel.tsv" -n $numalleles -s "$data/s$s.sites" |
        "$tarvo" -a -p 2 -n $numalleles -l > "$data/s$s.lnl" || { fail "plain pipeline on s$s"; exit 1; }
    { printf '#chrom\tpos\treads_used\treads_left_out\tlnL_pop0_pop0\tlnL_pop0_pop1\tlnL_pop1_pop1\n'
      paste "$data/s$s.sites" "$data/s$s.lnl"; } > "$data/s$s.expected"
    "$tarvo_hmm" --map "$data/genetic.map" -d $thin --tracts "$data/s$s.tracts.bed" \
        --summary "$data/s$s.summary.tsv" "$data/s$s.expected" > "$data/s$s.posterior.tsv" ||
        { fail "tarvo-hmm on s$s"; exit 1; }
done
# The thinning must leave loci out, or a workflow that dropped it would
# pass.
[ "$(awk -F '\t' 'NR == 2 { print $3 }' "$data/s1.summary.tsv")" -gt 0 ] ||
    fail "thin $thin leaves out no locus: $(cat "$data/s1.summary.tsv")"
# Most of the panel's loci are covered.
[ "$(wc -l < "$data/s1.expected")" -gt $(($(grep -vc '^#' "$data/panel.tsv") / 2)) ] ||
    fail "plain pipeline: $(wc -l < "$data/s1.expected") lines"

# config DIR SAMPLE=BAM...: a configuration for a run in DIR.
config() {
    local dir=$1 s
    shift
    mkdir -p "$dir"
    { printf 'reference: %s\npanel: %s\nnumalleles: %d\n' "$data/ref.fa" "${panel:-$data/panel.tsv}" $numalleles
      printf 'tarvo: %s\ntarvo_pileup: %s\nmem_mb: 100\nruntime: 10\n' "${tarvo_wrapped:-$tarvo}" "$tarvo_pileup"
      printf 'tarvo_hmm: %s\nmap: %s\nthin: %s\nsamples:\n' "$tarvo_hmm" "$data/genetic.map" $thin
      for s; do printf '  %s: %s\n' "${s%%=*}" "${s#*=}"; done; } > "$dir/config.yaml"
}
snake() {
    local dir=$1
    shift
    (cd "$dir" && snakemake -s "$workflow/Snakefile" --configfile config.yaml "$@")
}
# same DIR SAMPLE...: each sample's results are the plain pipeline's and
# tarvo-hmm's by hand, and its karyogram a PNG.
same() {
    local dir=$1 s f
    shift
    for s; do
        cmp -s "$dir/results/$s.tsv" "$data/$s.expected" ||
            fail "results/$s.tsv differs from the plain pipeline: $(diff "$dir/results/$s.tsv" "$data/$s.expected" 2>&1 | head -n 5)"
        for f in posterior.tsv tracts.bed summary.tsv; do
            cmp -s "$dir/results/$s.$f" "$data/$s.$f" ||
                fail "results/$s.$f differs from tarvo-hmm's by hand: $(diff "$dir/results/$s.$f" "$data/$s.$f" 2>&1 | head -n 5)"
        done
        [ "$(head -c 4 "$dir/results/$s.png" 2> /dev/null | tail -c 3)" = PNG ] ||
            fail "results/$s.png is not a PNG: $(cat "$dir/logs/$s/karyogram.log" 2>&1)"
    done
}
# summary DIR SAMPLE...: results/summary.tsv is one header, then each
# sample's name and its summary line, in the configuration's order.
summary() {
    local dir=$1 s
    shift
    local want=$tmp/summary.want
    { printf '#sample\t'; sed -n '1s/^#//p' "$data/$1.summary.tsv"
      for s; do printf '%s\t' "$s"; sed -n 2p "$data/$s.summary.tsv"; done; } > "$want"
    cmp -s "$dir/results/summary.tsv" "$want" ||
        fail "results/summary.tsv: $(diff "$dir/results/summary.tsv" "$want" 2>&1 | head -n 5)"
}

name=local
three=("s1=$data/s1.bam" "s2=$data/s2.bam" "s3=$data/s3.bam")
config "$tmp/local" "${three[@]}"
snake "$tmp/local" -j 2 > "$tmp/local.out" 2>&1 || fail "status $?: $(tail -n 20 "$tmp/local.out")"
same "$tmp/local" s1 s2 s3
summary "$tmp/local" s1 s2 s3
[ -z "$(find "$tmp/local/results" "$tmp/local/work" -name '*.tmp*')" ] ||
    fail "temporary files left: $(find "$tmp/local/results" "$tmp/local/work" -name '*.tmp*')"

name=slurm
t=$SECONDS
config "$tmp/slurm" "${three[@]}" "s4=$data/bad.bam"
# Snakemake's Slurm executor polls job status every 33 s unless told at
# most once a second; USER unset as in CI, which the workflow handles.
env -u USER bash -c 'cd "$1" && shift && exec snakemake "$@"' _ "$tmp/slurm" \
    -s "$workflow/Snakefile" --configfile config.yaml --slurm -j 20 \
    --max-status-checks-per-second 1 --keep-going > "$tmp/slurm.out" 2>&1
status=$?
[ $status -ne 0 ] || fail "status 0 with a corrupt BAM"
same "$tmp/slurm" s1 s2 s3
for s in s1 s2 s3; do
    cmp -s "$tmp/slurm/results/$s.tsv" "$tmp/local/results/$s.tsv" || fail "$s: Slurm and local runs differ"
done
for f in s4.tsv s4.posterior.tsv s4.tracts.bed s4.summary.tsv s4.png summary.tsv; do
    [ ! -e "$tmp/slurm/results/$f" ] || fail "results/$f left after a failure"
done
failed=$(grep -l 'samtools mpileup: error reading' "$tmp"/slurm/logs/s4/*.log) ||
    fail "no log of s4 holds samtools' message: $(cat "$tmp"/slurm/logs/s4/*.log)"
for log in $failed; do
    chrom=$(basename "$log" .log)
    [ ! -e "$tmp/slurm/work/s4/$chrom.tsv" ] || fail "work/s4/$chrom.tsv left after a failure"
done
for node in node1 node2; do
    grep -q "JobState=COMPLETED .*NodeList=$node " "$cluster/log/jobcomp.txt" ||
        fail "no job completed on $node: $(cat "$cluster/log/jobcomp.txt")"
done
echo "[$name] status $status in $((SECONDS - t)) s; $(grep -c JobState=COMPLETED "$cluster/log/jobcomp.txt") jobs completed," \
    "$(grep -c JobState=FAILED "$cluster/log/jobcomp.txt") failed," \
    "on $(grep -o 'NodeList=node[0-9]' "$cluster/log/jobcomp.txt" | sort | uniq -c | tr -s ' \n' ' ')"

name="slurm, rerun after the fix"
cp "$data/s4.bam" "$data/bad.bam" && cp "$data/s4.bam.bai" "$data/bad.bam.bai" || exit 2
snake "$tmp/slurm" --slurm -j 20 --max-status-checks-per-second 1 > "$tmp/rerun.out" 2>&1 ||
    fail "status $?: $(tail -n 20 "$tmp/rerun.out")"
same "$tmp/slurm" s4
summary "$tmp/slurm" s1 s2 s3 s4
! grep -q 'sample=s[123]' "$tmp/rerun.out" || fail "redid jobs of samples that had not failed"
grep -q 'sample=s4' "$tmp/rerun.out" || fail "did not redo s4"
[ -z "$(squeue -h)" ] || fail "jobs left in the queue: $(squeue)"

# Failures of tarvo-pileup on local runs: the panel edited at its third
# locus on chr2 (sed, L its line number), what the message must hold (L,
# and P the locus's position), and whether chr1's job still succeeds: a
# bad panel line stops every job, since tarvo-pileup checks the whole
# panel first. The log of s1's chr2 job must hold the message.
line=$(grep -n '^chr2' "$data/panel.tsv" | sed -n '3s/:.*//p')
pos=$(sed -n "${line}p" "$data/panel.tsv" | cut -f 2)
while IFS='|' read -r what edit message kept; do
    name="local, $what"
    sed "${edit//L/$line}" "$data/panel.tsv" > "$tmp/panel.tsv"
    message=${message//L/$line}
    message=${message//P/$pos}
    panel=$tmp/panel.tsv config "$tmp/fail" "${three[@]:0:2}"
    snake "$tmp/fail" -j 2 --keep-going > "$tmp/fail.out" 2>&1 && fail "status 0"
    [ ! -e "$tmp/fail/results/s1.tsv" ] && [ ! -e "$tmp/fail/results/s2.tsv" ] ||
        fail "results left: $(ls "$tmp/fail/results")"
    grep -q "$message" "$tmp/fail/logs/s1/chr2.log" ||
        fail "log: $(cat "$tmp/fail/logs/s1/chr2.log")"
    [ ! -e "$tmp/fail/work/s1/chr2.tsv" ] || fail "work/s1/chr2.tsv left"
    [ "$kept" = no ] || [ -s "$tmp/fail/work/s1/chr1.tsv" ] || fail "work/s1/chr1.tsv lost"
    echo "[$name] $(grep -h "$message" "$tmp/fail/logs/s1/chr2.log" | head -n 1)"
    rm -rf "$tmp/fail"
done <<'END'
bad panel line|Ls/\t[^\t]*$/\tx/|panel.tsv, line L:|no
reference disagrees|Ls/^\(chr2\t[0-9]*\t\)\([ACGT]\)\t\([ACGT]\)/\1\3\t\2/|chr2.*P|yes
END

# The join of sites and likelihoods: a tarvo that loses its last line
# must fail the job, leaving no table and no temporary file behind.
name="local, likelihoods a line short"
printf '#!/bin/sh\n"%s" "$@" | sed '"'"'$d'"'"'\n' "$tarvo" > "$tmp/tarvo-short" &&
    chmod +x "$tmp/tarvo-short" || exit 2
tarvo_wrapped=$tmp/tarvo-short config "$tmp/fail" "${three[@]:0:1}"
snake "$tmp/fail" -j 2 --keep-going > "$tmp/fail.out" 2>&1 && fail "status 0"
grep -q "s1, chr1: [0-9]* sites but [0-9]* lines of likelihoods" "$tmp/fail/logs/s1/chr1.log" ||
    fail "log: $(cat "$tmp/fail/logs/s1/chr1.log")"
[ ! -e "$tmp/fail/work/s1/chr1.tsv" ] && [ ! -e "$tmp/fail/results/s1.tsv" ] ||
    fail "a table left: $(ls "$tmp/fail/work/s1" "$tmp/fail/results" 2>&1)"
[ -z "$(find "$tmp/fail" -name '*.tmp*')" ] || fail "temporary files left: $(find "$tmp/fail" -name '*.tmp*')"
echo "[$name] $(grep -h 'lines of likelihoods' "$tmp/fail/logs/s1/chr1.log" | head -n 1)"
rm -rf "$tmp/fail"

name=leftovers
stop_jobs=$(squeue -h 2> /dev/null)
[ -z "$stop_jobs" ] || fail "jobs still queued: $stop_jobs"
trap - EXIT
stop
if [ -n "${SLURM_TEST_NAMESPACE:-}" ]; then
    # Everything in the namespace but this shell, ps and awk; a process
    # that is ending gets a few seconds.
    for try in $(seq 30); do
        left=$(kid=$BASHPID; ps -e -o pid=,stat=,args= |
            awk -v me=$$ -v kid=$kid '$1 != me && $1 != kid && $2 !~ /^Z/ && $3 != "ps" && $3 != "awk"')
        [ -z "$left" ] && break
        sleep 0.1
    done
    [ -z "$left" ] || fail "left running: $left"
fi
tally
