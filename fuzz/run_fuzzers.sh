#!/bin/bash
# Runs every fuzz target for the given number of seconds, each on a scratch copy of its seed
# corpus, so that new inputs do not land in the repository. A crash fails the run; its input
# is kept under fuzz/crashes/ to become a regression case.
set -uo pipefail
targets=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$here/crashes"
for fuzzer in "$targets"/*_fuzzer; do
    name=$(basename "$fuzzer" _fuzzer)
    scratch=$(mktemp -d)
    log=$(mktemp)
    cp "$here/corpus/$name"/* "$scratch"/ 2>/dev/null
    "$fuzzer" -max_total_time="$seconds" -close_fd_mask=1 -print_final_stats=0 \
        -artifact_prefix="$here/crashes/$name-" "$scratch" >"$log" 2>&1
    status=$?
    echo "$name: $(grep -E '^Done [0-9]+ runs' "$log" || echo 'no end line'), corpus of" \
        "$(ls "$scratch" | wc -l) inputs"
    rm -rf "$scratch"
    if [ "$status" -ne 0 ]; then
        tail -40 "$log"
        rm -f "$log"
        echo "fuzz target $name failed; the input is in fuzz/crashes/"
        exit 1
    fi
    rm -f "$log"
done
