#!/bin/bash
# Builds the fuzz targets with clang and runs each for a bounded time from
# a copy of its seed corpus. A crash or a disagreement fails the run and
# prints the input that caused it.
#
#   tests/fuzz/run.sh [seconds per target] [build dir]
set -euo pipefail

secs=${1:-30}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${2:-$root/build-fuzz}

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DBUILD_FUZZERS=ON \
    -DBUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j2 --target fuzzers
build=$(cd "$build" && pwd) # the targets run from a scratch folder

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "$build"/fuzz/fuzz_*; do
    name=$(basename "$target")
    corpus=$root/tests/fuzz/corpus/${name#fuzz_}
    mkdir -p "$work/$name"
    [ -d "$corpus" ] && cp "$corpus"/* "$work/$name/"
    echo "== $name, $secs s"
    if ! (cd "$work" && "$target" -max_total_time="$secs" -print_final_stats=1 \
            -artifact_prefix="$work/$name-" "$work/$name" > "$work/$name.log" 2>&1); then
        status=1
        tail -n 60 "$work/$name.log"
        for crash in "$work/$name"-*; do
            [ -f "$crash" ] || continue
            echo "-- reproducer $(basename "$crash") (base64):"
            base64 "$crash"
        done
    fi
    grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$work/$name.log" || true
done
exit $status
