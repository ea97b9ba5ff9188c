#!/usr/bin/env bash
# The program WaveHarvester itself, under Xvfb, plays a long file into the paced test device
# (Ctrl+Y). Prints its processor time per second of sound (the whole process, from the key to
# the end of the playback, window repaints included), with aplay playing the same file to the
# same device as the reference.
# Arguments: <WaveHarvester> <paced device plugin>
set -euo pipefail
program=$1 plugin=$2
seconds=30
work=$(mktemp -d)
pid=
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
export HOME=$work WAVEHARVESTER_REGISTRY=$work/registry.reg WAVEHARVESTER_RUNTIME_DIR=$work/runtime \
       WAVEHARVESTER_OBJECT_SCOPE=bench$$ WAVEHARVESTER_MESSAGE_LOG=$work/messages.log
cat > "$work/alsa.conf" <<CONF
pcm_type.whpaced { lib "$plugin" }
pcm.!default { type whpaced stats "$work/stats" }
CONF
export ALSA_CONFIG_PATH=/usr/share/alsa/alsa.conf:$work/alsa.conf
sox -n -r 44100 -c 2 -b 16 -e signed-integer "$work/long.wav" synth $seconds sine 300-900
tick=$(getconf CLK_TCK)

# The process's user and system time so far, in clock ticks (its ended threads included).
cpu_ticks() { awk '{ print $14 + $15 }' /proc/"$1"/stat; }
# Seconds of the children line of the shell's "times" ("0m0.010s 0m0.020s").
children_seconds() { awk '{ n = split($0, f, /[ms ]+/); print f[1] * 60 + f[2] + f[3] * 60 + f[4] }'; }

aplay_seconds=$( { aplay -q "$work/long.wav"; times; } | tail -1 | children_seconds )
rm -f "$work/stats"

"$program" "$work/long.wav" &
pid=$!
window=$(xdotool search --sync --onlyvisible --pid "$pid" | head -1)
xdotool windowfocus --sync "$window" 2>/dev/null || true
sleep 1
before=$(cpu_ticks "$pid")
xdotool key --clearmodifiers ctrl+y
# The device writes its account when the program closes it at the end of the sound.
for _ in $(seq $((seconds * 20 + 200))); do [ -s "$work/stats" ] && break; sleep 0.05; done
after=$(cpu_ticks "$pid")
played=$(awk '$1 == "played_bytes" { print $2 }' "$work/stats" 2>/dev/null || true)
[ "$played" = "$((seconds * 176400))" ] || { echo "the program did not play the whole file (${played:-no} bytes)" >&2; exit 1; }
awk -v b="$before" -v a="$after" -v t="$tick" -v s="$seconds" -v ap="$aplay_seconds" 'BEGIN {
    p = (a - b) / t / s * 100; r = ap / s * 100
    printf "program_playback_cpu_per_second_of_sound: %.3f %% of a core, with the window (reference aplay_cpu_per_second_of_sound: %.3f %% of a core, ratio %.2f; resolution %.3f %%)\n", p, r, (r > 0 ? p / r : 0), 100 / t / s }'
