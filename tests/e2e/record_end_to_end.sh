#!/usr/bin/env bash
# End to end, all real: the built program and capdrv in a private world (registry, runtime
# folder, object scope, HOME with its own ALSA configuration whose "real" device writes what it
# receives to a file), driven by keys under an X server. Record is refused until the chooser's
# window makes the virtual device ALSA's default; then two recordings, one played through
# "waveharvester" and one through "default", are stopped and saved, and each saved data chunk
# must equal the played samples byte for byte (after the player's own zero padding), with the
# played format in its header. Screenshots go to the given folder.
# Usage: record_end_to_end.sh WaveHarvester capdrv screenshot-folder   (run under an X server of its own: tools/with-x-server.sh)
set -euo pipefail
program=$1 capdrv=$2 shots=$3
mkdir -p "$shots"

world=$(mktemp -d /tmp/wh-e2e-XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ -n "${KEEP_WORLD:-}" ] || rm -rf "$world"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$world/messages.log" ] && sed 's/^/  box: /' "$world/messages.log" >&2; exit 1; }

export HOME=$world/home TMP=$world/tmp
export WAVEHARVESTER_REGISTRY=$world/registry.reg WAVEHARVESTER_RUNTIME_DIR=$world/run
export WAVEHARVESTER_OBJECT_SCOPE=e2e$$ WAVEHARVESTER_MESSAGE_LOG=$world/messages.log
export WAVEHARVESTER_FILE_DIALOG_ANSWERS=$world/file-answers WAVEHARVESTER_PROMPT_ANSWERS=$world/prompt-answers
unset ALSA_CONFIG_PATH WAVEHARVESTER_ASOUNDRC WAVEHARVESTER_DEVICE_CHOOSER
# The program switches the desktop's event sounds off while it runs: in memory here.
export GSETTINGS_BACKEND=memory
mkdir -p "$HOME" "$TMP"
: >"$WAVEHARVESTER_PROMPT_ANSWERS"
cat >"$HOME/.asoundrc" <<CONF
# the user's own lines
pcm.speakers {
    type file
    slave.pcm "null"
    file "$world/speakers.raw"
    format "raw"
    hint { show on description "Speakers" }
}
pcm.!default speakers
CONF
cp "$HOME/.asoundrc" "$world/asoundrc.users"
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps]\n\n[HKEY_CURRENT_USER\\Software\\Kestrelworks\\WaveHarvester]\n"RealDevice"="Speakers"\n' \
    >"$WAVEHARVESTER_REGISTRY"

"$capdrv" --install >/dev/null
"$capdrv" 2>"$world/capdrv.log" &
pids+=($!)

# The sound: a silent first stream (discarded by the recording), then a stereo CD tone; the
# second recording is 48 kHz mono, played through ALSA's default.
sox -D -n -r 44100 -c 2 -b 16 "$world/silence.wav" trim 0 0.4
sox -D -n -r 44100 -c 2 -b 16 "$world/tone.wav" synth 1.2 sine 440 sine 660 vol 0.5
sox -D -n -r 48000 -c 1 -b 16 "$world/tone2.wav" synth 0.9 sine 1000 vol 0.4
sox -D "$world/tone.wav" -t raw "$world/tone.raw"
sox -D "$world/tone2.wav" -t raw "$world/tone2.raw"

sleep 0.3
"$program" 2>"$world/program.log" &
pids+=($!)
main=$(timeout 20 xdotool search --sync --name '^WaveHarvester - Untitled') || fail "no main window"
main=${main%%$'\n'*}
sleep 1

press() { # keys to the main window
    xdotool windowfocus --sync "$main" 2>/dev/null || true
    xdotool key --clearmodifiers "$@"
    sleep 0.5
}
messages() { [ -f "$WAVEHARVESTER_MESSAGE_LOG" ] && wc -l <"$WAVEHARVESTER_MESSAGE_LOG" || echo 0; }
screenshot() { import -window root "$shots/$1.png"; }

# 1. Record while ALSA's default is the user's speakers: the check explains and starts the chooser.
press ctrl+r
grep -q 'Before recording you must set "Playback through WaveHarvester" as a Playback Preferred device' \
    "$WAVEHARVESTER_MESSAGE_LOG" || fail "no message 61229"
chooser=$(timeout 20 xdotool search --sync --name 'Preferred playback device') || fail "no chooser window"
chooser=${chooser%%$'\n'*}
sleep 0.5
screenshot e2e-chooser-before
# Pick lines until the virtual device is the preferred one (the list's order is ALSA's).
chosen=
for down in $(seq 0 40); do
    xdotool windowfocus --sync "$chooser" 2>/dev/null || true
    xdotool key Home
    for ((i = 0; i < down; i++)); do xdotool key Down; done
    xdotool key Return
    sleep 0.4
    if grep -q '^pcm.!default "waveharvester"$' "$HOME/.asoundrc"; then chosen=$down; break; fi
done
[ -n "$chosen" ] || fail "the chooser never made the virtual device preferred"
sleep 0.3
screenshot e2e-chooser-after
cmp -s -n "$(stat -c %s "$world/asoundrc.users")" "$HOME/.asoundrc" "$world/asoundrc.users" ||
    fail "the user's lines of ~/.asoundrc changed"
xdotool windowkill "$chooser" || true

settle() { # until the temporary capture file has not changed for half a second (the drain is done)
    local last= now
    for _ in $(seq 40); do
        now=$(stat -c %y "$TMP"/~WHcd*.tmp 2>/dev/null || true)
        [ -n "$now" ] && [ "$now" = "$last" ] && return 0
        last=$now
        sleep 0.5
    done
}

record() { # $1 device, $2 file name, $3 saved name
    local before
    before=$(messages)
    press ctrl+r
    [ "$(messages)" = "$before" ] || fail "Record showed a box"
    aplay -q -D "$1" "$world/silence.wav"
    aplay -q -D "$1" "$world/$2"
    settle
    screenshot "e2e-recording-$3"
    [ "$(xdotool getwindowname "$main")" = "WaveHarvester - Untitled *" ] ||
        fail "caption while recording: $(xdotool getwindowname "$main")"
    press ctrl+p
    screenshot "e2e-stopped-$3"
    echo "$world/$3.wav" >>"$WAVEHARVESTER_FILE_DIALOG_ANSWERS"
    press ctrl+s
    for _ in $(seq 50); do [ -s "$world/$3.wav" ] && break; sleep 0.2; done
    [ -s "$world/$3.wav" ] || fail "$3.wav was not saved"
    sleep 0.3
    [ "$(xdotool getwindowname "$main")" = "WaveHarvester - $world/$3.wav" ] ||
        fail "caption after saving: $(xdotool getwindowname "$main")"
    [ "$(messages)" = "$before" ] || fail "a box while recording or saving $3"
}

check() { # $1 saved name, $2 raw samples, $3 rate, $4 channels
    local saved=$world/$1.wav raw=$world/$2 size header
    size=$(stat -c %s "$raw")
    header=$(od -An -tu4 -j24 -N4 "$saved" | tr -d ' ')
    [ "$header" = "$3" ] || fail "$1: $header samples per second, not $3"
    header=$(od -An -tu2 -j20 -N4 "$saved" | tr -s ' ')
    [ "$header" = " 1 $4" ] || fail "$1: format tag and channels$header, not 1 $4"
    [ "$(od -An -tu2 -j34 -N2 "$saved" | tr -d ' ')" = 16 ] || fail "$1: not 16 bits"
    [ "$(head -c 40 "$saved" | tail -c 4)" = data ] || fail "$1: no data chunk at 36"
    local data
    data=$(od -An -tu4 -j40 -N4 "$saved" | tr -d ' ')
    [ "$data" -ge "$size" ] || fail "$1: $data data bytes, fewer than the $size played"
    # cmp reads both files itself: a pipeline cut short would fail under pipefail.
    cmp -s -i 44:0 -n "$size" "$saved" "$raw" || fail "$1: the samples differ from the played ones"
    [ "$(tail -c +$((45 + size)) "$saved" | tr -d '\0' | wc -c)" = 0 ] || fail "$1: more than the player's silence follows"
    echo "$1: $data data bytes, the $size played bytes equal, $((data - size)) bytes of the player's padding"
}

# 2. Played through the virtual device by name.
record waveharvester tone.wav first
check first tone.raw 44100 2
# 3. A new document, played through ALSA's default, which the chooser's block made the virtual device.
press ctrl+n
record default tone2.wav second
check second tone2.raw 48000 1
# The real device heard all of it.
[ -s "$world/speakers.raw" ] || fail "the speakers received nothing"
echo "PASS"
