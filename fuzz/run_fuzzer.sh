#!/usr/bin/env bash
# Runs the wave reader fuzzer for a bounded time over the seed corpus; new inputs go to a work
# folder in the build tree, never into the repository. Usage: run_fuzzer.sh FUZZER SECONDS SEEDS WORK
set -euo pipefail
fuzzer=$1 seconds=$2 seeds=$3 work=$4
mkdir -p "$work"
exec "$fuzzer" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 "$work" "$seeds"
