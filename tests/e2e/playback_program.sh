#!/usr/bin/env bash
# The program WaveHarvester, started on a wave file under Xvfb with a private world (registry,
# runtime folder, object scope, HOME, ALSA's "default" the paced test device), plays it with
# Ctrl+Y, pauses and continues with Ctrl+U while playing: the window serves commands between
# buffers, nothing sounds while paused, the bytes the device played are the file's data chunk,
# and no box appears but the start-up's. (The pause's promptness is timed in PlaybackAlsaTest.)
# Screenshots go to the folder given.
# Arguments: <WaveHarvester> <paced device plugin> <screenshot folder>
set -euo pipefail
program=$1 plugin=$2 shots=$3
work=$(mktemp -d)
pid=
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
mkdir -p "$shots"

export HOME=$work WAVEHARVESTER_REGISTRY=$work/registry.reg WAVEHARVESTER_RUNTIME_DIR=$work/runtime \
       WAVEHARVESTER_OBJECT_SCOPE=e2e$$ WAVEHARVESTER_MESSAGE_LOG=$work/messages.log
cat > "$work/alsa.conf" <<CONF
pcm_type.whpaced { lib "$plugin" }
pcm.!default { type whpaced file "$work/played.raw" }
CONF
export ALSA_CONFIG_PATH=/usr/share/alsa/alsa.conf:$work/alsa.conf

# 2.5 s of 16-bit stereo at 44,100 Hz, not a whole number of buffers.
sox -n -r 44100 -c 2 -b 16 -e signed-integer -t raw "$work/data.raw" synth 2.5 sine 300-900 trim 0 2.4987
sox -t raw -r 44100 -c 2 -b 16 -e signed-integer "$work/data.raw" "$work/tone.wav"
size=$(stat -c %s "$work/data.raw")

played() { stat -c %s "$work/played.raw" 2>/dev/null || echo 0; }
"$program" "$work/tone.wav" &
pid=$!
window=$(xdotool search --sync --onlyvisible --pid "$pid" | head -1)
[ -n "$window" ] || fail "no window"
xdotool windowfocus --sync "$window" 2>/dev/null || true
sleep 0.5
xdotool key --clearmodifiers ctrl+y
for _ in $(seq 100); do [ "$(played)" -gt 44100 ] && break; sleep 0.02; done
[ "$(played)" -gt 0 ] || fail "Ctrl+Y did not start playback"
import -window root "$shots/playback-playing.png"

xdotool key --clearmodifiers ctrl+u
# The key reaches the program through the X server and its event loop: allow for a busy machine.
paused=$(played)
for _ in $(seq 20); do sleep 0.1; now=$(played); [ "$now" = "$paused" ] && break; paused=$now; done
sleep 0.5
[ "$(played)" = "$paused" ] || fail "the sound went on after Ctrl+U ($paused, then $(played) bytes)"
import -window root "$shots/playback-paused.png"
xdotool key --clearmodifiers ctrl+u

for _ in $(seq 500); do [ "$(played)" -ge "$size" ] && break; sleep 0.02; done
sleep 0.3
import -window root "$shots/playback-ended.png"
cmp "$work/data.raw" "$work/played.raw" || fail "the device did not receive the data chunk"
# The one box of this world is the start-up's: no capture driver is installed here.
startup="Driver for this program isn't installed. You must install the driver before running this program."
[ "$(cat "$work/messages.log" 2>/dev/null)" = "$startup" ] || fail "boxes shown: $(cat "$work/messages.log")"
echo "played $size bytes exactly; pause held at $paused bytes"
