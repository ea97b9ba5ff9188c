#!/usr/bin/env bash
# End to end with a desktop's sound server, all real, for PulseAudio and then PipeWire (with
# wireplumber and pipewire-pulse), each private (runtime folder, session bus, state) with a null
# "real" sink whose monitor tells what the user hears. capdrv keeps our sink in the server; the
# program is driven by keys. Record is refused (61229) until the device chooser made our sink
# the server's default (checked with pactl); then a sox-made file is recorded, played in each way
# a desktop plays it: paplay into the default sink, pw-play (PipeWire), aplay through the ALSA
# virtual device, aplay through ALSA's default routed into the server. Each recording is stopped
# and saved; the saved data and what the real sink heard must each hold the played samples once.
source "$(dirname "$0")/window_lib.sh"
: "${WH_COMPARE_SAMPLES:?path of wh_compare_samples}"

# The world's ALSA configuration is the system's (with its sound server hook) and ~/.asoundrc.
unset ALSA_CONFIG_PATH
SERVER_PIDS=()
stop_server() {
    local pid
    for pid in "${SERVER_PIDS[@]}"; do kill -TERM -- "-$pid" 2>/dev/null || true; done
    for pid in "${SERVER_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
    SERVER_PIDS=()
}
trap 'stop_server; cleanup' EXIT

spawn() { # log command...: in a process group of its own, so that stop_server takes all of it
    local log=$1; shift
    setsid "$@" >"$log" 2>&1 </dev/null &
    SERVER_PIDS+=($!)
}

wait_until() { # what command...
    local what=$1; shift
    for _ in $(seq 150); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    fail "$what"
    return 1
}

start_server() { # PulseAudio | PipeWire
    local folder=$WORLD/$1
    mkdir -p "$folder/runtime/pulse" "$folder/state" "$HOME/.config/wireplumber/main.lua.d"
    chmod 700 "$folder/runtime" "$folder/runtime/pulse"
    printf 'autospawn = no\nenable-shm = no\n' >"$folder/client.conf"
    export XDG_RUNTIME_DIR=$folder/runtime XDG_STATE_HOME=$folder/state PIPEWIRE_RUNTIME_DIR=$folder/runtime
    export PULSE_RUNTIME_PATH=$folder/runtime/pulse PULSE_SERVER=unix:$folder/runtime/pulse/native
    export PULSE_CLIENTCONFIG=$folder/client.conf PULSE_COOKIE=$folder/cookie
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$folder/runtime/bus
    spawn "$folder/dbus.log" dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS"
    wait_until "no session bus" test -S "$folder/runtime/bus"
    if [ "$1" = PulseAudio ]; then
        printf '%s\n' "load-module module-native-protocol-unix" "load-module module-suspend-on-idle" \
            "load-module module-null-sink sink_name=real norewinds=1 sink_properties=device.description=Real" \
            >"$folder/server.pa"
        spawn "$folder/server.log" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
            --use-pid-file=no -F "$folder/server.pa"
        wait_until "PulseAudio does not answer" pactl info
    else
        # The session manager opens no device of the machine.
        printf 'alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\nlibcamera_monitor.enabled = false\n' \
            >"$HOME/.config/wireplumber/main.lua.d/90-no-hardware.lua"
        spawn "$folder/pipewire.log" pipewire
        wait_until "PipeWire did not start" test -S "$folder/runtime/pipewire-0"
        spawn "$folder/wireplumber.log" wireplumber
        spawn "$folder/pipewire-pulse.log" pipewire-pulse
        wait_until "pipewire-pulse does not answer" pactl info
        pactl load-module module-null-sink sink_name=real norewinds=1 sink_properties=device.description=Real >/dev/null
        wait_until "the real sink is not the default" sh -c '[ "$(pactl get-default-sink)" = real ]'
    fi
}

# Until the temporary capture file has not changed for half a second (the drain is done).
settle() {
    local last="" now
    for _ in $(seq 40); do
        now=$(stat -c %s.%Y "$TMP"/~WHcd*.tmp 2>/dev/null || true)
        [ -n "$now" ] && [ "$now" = "$last" ] && return 0
        last=$now
        sleep 0.5
    done
}

record_and_compare() { # server way missing player...: missing, the frames the real sink may miss at the start
    local server=$1 way=$2 missing=$3; shift 3
    local saved=$WORLD/$server-$way.wav heard=$WORLD/$server-$way-heard.raw before listener rate
    rate=$(pactl list sinks short | awk '$2 == "real" { sub("Hz", "", $6); print $6 }')
    press "$MAIN" ctrl+n
    sleep 0.3
    before=$(messages | wc -l)
    parec --raw -d real.monitor --format=s16le --rate="$rate" --channels=2 --latency-msec=20 >"$heard" &
    listener=$!
    sleep 0.5
    press "$MAIN" ctrl+r
    sleep 0.5
    "$@" || fail "$server $way: the player failed"
    sleep 1
    settle
    screenshot "$MAIN" "server-$server-recording-$way"
    press "$MAIN" ctrl+p
    kill -INT "$listener"
    wait "$listener" 2>/dev/null || true
    echo "$saved" >>"$WAVEHARVESTER_FILE_DIALOG_ANSWERS"
    press "$MAIN" ctrl+s
    for _ in $(seq 50); do [ -s "$saved" ] && break; sleep 0.2; done
    expect_eq "$server $way: no box" "$before" "$(messages | wc -l)"
    if [ -s "$saved" ]; then
        "$WH_COMPARE_SAMPLES" "$saved" "$WORLD/played-$rate.raw" || fail "$server $way: the recording"
    else
        fail "$server $way: nothing saved"
    fi
    # On a loaded machine the forwarding may run dry now and then and the server plays silence
    # there (two gaps at most); the sound itself must arrive whole and once.
    "$WH_COMPARE_SAMPLES" "$heard" "$WORLD/played-$rate.raw" "$missing" 2 || fail "$server $way: the real sink"
    # The sink's stream ends before the next way of playing.
    sleep 2.5
}

for rate in 44100 48000; do
    # Whole quanta of PipeWire's graph: pw-play ends without playing a last partial one.
    sox -D -n -r $rate -c 2 -b 16 "$WORLD/played-$rate.wav" synth 61440s sine 440 sine 660 vol 0.5
    sox -D "$WORLD/played-$rate.wav" -t raw "$WORLD/played-$rate.raw"
done

for server in PulseAudio PipeWire; do
    echo "== $server"
    start_server $server
    reset_world
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps]\n' >"$WAVEHARVESTER_REGISTRY"
    rm -f "$HOME/.asoundrc"
    "$WH_CAPDRV" --install >/dev/null
    start_capdrv
    wait_until "$server: capdrv made no sink" sh -c 'pactl list sinks short | grep -qw waveharvester'
    expect_eq "$server: our sink's description" "Description: Playback through WaveHarvester" \
        "$(pactl list sinks | grep -o 'Description: Playback through WaveHarvester' | head -1)"
    rate=$(pactl list sinks short | awk '$2 == "real" { sub("Hz", "", $6); print $6 }')

    start_program "$WORLD"
    MAIN=$(wait_window '^WaveHarvester - Untitled') || { fail "$server: no main window"; break; }
    sleep 1
    press "$MAIN" ctrl+r
    sleep 1
    messages | grep -q 'Before recording you must set "Playback through WaveHarvester" as a Playback Preferred device' ||
        fail "$server: no message 61229 while the default sink is real"
    chooser=$(wait_window 'Preferred playback device') || { fail "$server: no chooser"; break; }
    sleep 0.5
    screenshot "$chooser" "server-$server-chooser"
    chosen=""
    for down in $(seq 0 10); do
        xdotool windowfocus --sync "$chooser" 2>/dev/null || true
        xdotool key Home
        for ((i = 0; i < down; i++)); do xdotool key Down; done
        xdotool key Return
        sleep 0.6
        if [ "$(pactl get-default-sink)" = waveharvester ]; then chosen=$down; break; fi
    done
    [ -n "$chosen" ] || fail "$server: the chooser never made our sink the default"
    screenshot "$chooser" "server-$server-chooser-after"
    xdotool windowkill "$chooser" 2>/dev/null || true
    expect_eq "$server: the default sink" waveharvester "$(pactl get-default-sink)"

    # Through the ALSA virtual device into the real sink (ALSA's pulse plugin), a loaded machine now
    # and then loses the first period (512 frames) on the real sink; the recording never does.
    missing=512
    record_and_compare $server paplay 0 paplay "$WORLD/played-$rate.wav"
    [ $server = PipeWire ] && record_and_compare $server pw-play 0 pw-play "$WORLD/played-$rate.wav"
    record_and_compare $server aplay-virtual $missing aplay -q -D waveharvester "$WORLD/played-$rate.wav"
    record_and_compare $server aplay-default 0 aplay -q -D default "$WORLD/played-$rate.wav"

    close_program
    kill -TERM "$CAPDRV_PID"
    wait "$CAPDRV_PID" 2>/dev/null || true
    CAPDRV_PID=""
    expect_eq "$server: capdrv's end gives the earlier default back" real "$(pactl get-default-sink)"
    stop_server
done
finish
