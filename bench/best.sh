# Sourced by the benchmark scripts. best N CMD...: runs the command line N
# times, each run reading $best_in from its start (default: nothing) and
# writing to nowhere; sets secs and cpu (the best of each) and rss (the
# highest, KiB). Needs $data for its scratch file.
best() {
    local n=$1 e u s m
    shift
    secs= cpu= rss=0
    for ((i = 0; i < n; i++)); do
        /usr/bin/time -f '%e %U %S %M' -o "$data/time.txt" "$@" < "${best_in:-/dev/null}" > /dev/null
        read -r e u s m < "$data/time.txt"
        [ "$m" -gt "$rss" ] && rss=$m
        secs=$(awk -v a="$secs" -v b="$e" 'BEGIN { print (a == "" || b < a) ? b : a }')
        cpu=$(awk -v a="$cpu" -v b="$u" -v c="$s" 'BEGIN { print (a == "" || b + c < a) ? b + c : a }')
    done
}
