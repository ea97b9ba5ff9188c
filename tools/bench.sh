#!/usr/bin/env bash
# Runs every benchmark built in the given build folder; each prints "NAME: VALUE UNIT" lines.
set -euo pipefail
build=${1:?build folder}
found=0
for b in "$build"/bench/bench_*; do
    [ -x "$b" ] || continue
    found=1
    echo "== $(basename "$b")"
    "$b"
done
[ "$found" = 1 ] || echo "no benchmarks built yet"
