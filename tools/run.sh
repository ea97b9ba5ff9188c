#!/usr/bin/env bash
# Starts WaveHarvester from the given build folder.
set -euo pipefail
build=${1:?build folder}
if [ -x "$build/app/WaveHarvester" ]; then
    exec "$build/app/WaveHarvester" "${@:2}"
fi
echo "WaveHarvester's window arrives with a later change; this build has the program's foundation"
echo "(settings store, error reporting, temporary capture files, system-sound suppression) and its tests."
