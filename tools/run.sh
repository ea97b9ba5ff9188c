#!/usr/bin/env bash
# Starts WaveHarvester from the given build folder, after making sure the capture driver is ready
# for this user: its ALSA configuration installed (capdrv --install keeps the user's own
# configuration and adds one marked block) and its work window service running.
set -euo pipefail
build=${1:?build folder}

capdrv="$build/driver/capdrv"
if [ -x "$capdrv" ]; then
    "$capdrv" --install
    log="${XDG_RUNTIME_DIR:-/tmp}/waveharvester-capdrv.log"
    # capdrv refuses to start a second time for the same user, so this is safe to repeat.
    nohup "$capdrv" >>"$log" 2>&1 &
    sleep 0.3
    echo "capdrv: work window service running (log: $log); play through the ALSA device \"waveharvester\"."
fi

if [ -x "$build/app/WaveHarvester" ]; then
    exec "$build/app/WaveHarvester" "${@:2}"
fi
echo "This build has no program window (built without wxWidgets: WH_BUILD_PROGRAM=OFF)."
