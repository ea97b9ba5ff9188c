#!/usr/bin/env bash
# The real program under an X server, as a user meets it: start-up order by the message log and
# the registry file, a wave file from the command line, Open by keys, New disabled without the
# driver, the recent-file list and the last folder stored at shutdown, an invalid file on the
# command line ending the program, and the Settings command at start-up when no temporary file
# could be made.
source "$(dirname "$0")/window_lib.sh"

mkdir -p "$WORLD/start" "$WORLD/music" "$WORLD/other" "$WORLD/last"
sox -n -r 44100 -c 2 -b 16 "$WORLD/music/first.wav" synth 1 sine 300
sox -n -r 22050 -c 1 -b 8 "$WORLD/other/second.wav" synth 0.5 sine 440
sox -n -r 8000 -c 1 -b 16 "$WORLD/last/third.wav" synth 0.25 sine 500
: >"$WORLD/music/empty.wav"
# Files as everyday tools write them: to a pipe (placeholder sizes), cut short, extended format.
sox -n -r 44100 -c 2 -b 16 -t wav - synth 0.5 sine 440 2>/dev/null | cat >"$WORLD/other/piped.wav"
sox -n -r 48000 -c 6 -b 24 "$WORLD/other/six-channels.wav" synth 0.2 sine 440
sox -n -r 44100 -c 2 -b 16 -t wav - synth 1 sine 440 2>/dev/null | head -c 10001 >"$WORLD/other/cut-short.wav" || true

echo "== no driver: the detection message, then the window; New disabled; shutdown stores the list"
reset_world
export TMP="" TEMP="$WORLD/tmp"
start_program "$WORLD/start" "$WORLD/music/first.wav"
if window=$(wait_window "^WaveHarvester - "); then
    expect_eq "message log when the window shows" "Driver isn't working properly." "$(messages)"
    wait_window_name "$window" "WaveHarvester - $WORLD/music/first.wav" || true
    expect_eq "caption with the command line's file" "WaveHarvester - $WORLD/music/first.wav" "$(window_name "$window")"
    sleep 0.5
    screenshot "$window" main-window-opened-file
    expect_eq "TmpDir from TEMP when TMP is empty" "$WORLD/tmp" "$(registry_value TmpDir)"

    # Without the driver New is disabled: its accelerator changes nothing.
    press "$window" ctrl+n
    sleep 0.5
    expect_eq "caption after Ctrl+N without the driver" "WaveHarvester - $WORLD/music/first.wav" "$(window_name "$window")"

    # Open by its accelerator; the dialog's answer is scripted.
    echo "$WORLD/other/second.wav" >>"$WAVEHARVESTER_FILE_DIALOG_ANSWERS"
    press "$window" ctrl+o
    wait_window_name "$window" "WaveHarvester - $WORLD/other/second.wav" || true
    expect_eq "caption after Ctrl+O" "WaveHarvester - $WORLD/other/second.wav" "$(window_name "$window")"
    sleep 0.3
    screenshot "$window" main-window-after-open
    for name in piped.wav six-channels.wav cut-short.wav; do
        echo "$WORLD/other/$name" >>"$WAVEHARVESTER_FILE_DIALOG_ANSWERS"
        press "$window" ctrl+o
        wait_window_name "$window" "WaveHarvester - $WORLD/other/$name" || true
        expect_eq "caption after opening $name" "WaveHarvester - $WORLD/other/$name" "$(window_name "$window")"
    done
    screenshot "$window" main-window-cut-short-file
    close_program
    expect_eq "exit code after SIGTERM" 0 "$EXIT_CODE"
    expect_eq "recent file 1" "$WORLD/other/cut-short.wav" "$(registry_value File1 'Recent File List')"
    expect_eq "recent file 4" "$WORLD/other/second.wav" "$(registry_value File4 'Recent File List')"
    expect_eq "recent file 5" "$WORLD/music/first.wav" "$(registry_value File5 'Recent File List')"
    expect_eq "LastUsedDir is the folder of the last file chosen" "$WORLD/other" "$(registry_value LastUsedDir)"
    expect_eq "only the detection message" "Driver isn't working properly." "$(messages)"
else
    fail "no main window; program log: $(cat "$WORLD/program.log")"
fi
export TMP="$WORLD/tmp"
unset TEMP

echo "== the recent-file list is read at start-up: five entries, newest first"
reset_world
seed_registry "\"SaveDirType\"=dword:00000000" "\"DefDir\"=\"$WORLD/music\""
{
    echo
    echo '[HKEY_CURRENT_USER\Software\Kestrelworks\WaveHarvester\Recent File List]'
    for n in 1 2 3 4 5; do echo "\"File$n\"=\"$WORLD/old$n.wav\""; done
} >>"$WAVEHARVESTER_REGISTRY"
start_program "$WORLD/start"
if window=$(wait_window "^WaveHarvester - "); then
    expect_eq "caption of a new document" "WaveHarvester - Untitled" "$(window_name "$window")"
    # The first Open dialog starts in DefDir (SaveDirType 0): a bare name is taken from there.
    echo "first.wav" >>"$WAVEHARVESTER_FILE_DIALOG_ANSWERS"
    press "$window" ctrl+o
    wait_window_name "$window" "WaveHarvester - $WORLD/music/first.wav" || true
    expect_eq "a bare name opens from DefDir" "WaveHarvester - $WORLD/music/first.wav" "$(window_name "$window")"
    close_program
    expect_eq "exit code" 0 "$EXIT_CODE"
    got=""
    for n in 1 2 3 4 5; do got+="$(registry_value "File$n" 'Recent File List');"; done
    expect_eq "recent files after one more" \
        "$WORLD/music/first.wav;$WORLD/old1.wav;$WORLD/old2.wav;$WORLD/old3.wav;$WORLD/old4.wav;" "$got"
    expect_eq "no sixth entry" "" "$(registry_value File6 'Recent File List')"
else
    fail "no main window; program log: $(cat "$WORLD/program.log")"
fi

echo "== SaveDirType 1: the program starts in LastUsedDir"
reset_world
seed_registry "\"SaveDirType\"=dword:00000001" "\"DefDir\"=\"$WORLD/music\"" "\"LastUsedDir\"=\"$WORLD/last\""
start_program "$WORLD/start"
if window=$(wait_window "^WaveHarvester - "); then
    echo "third.wav" >>"$WAVEHARVESTER_FILE_DIALOG_ANSWERS"
    press "$window" ctrl+o
    wait_window_name "$window" "WaveHarvester - $WORLD/last/third.wav" || true
    expect_eq "a bare name opens from LastUsedDir" "WaveHarvester - $WORLD/last/third.wav" "$(window_name "$window")"
    close_program
    expect_eq "exit code" 0 "$EXIT_CODE"
    expect_eq "LastUsedDir kept" "$WORLD/last" "$(registry_value LastUsedDir)"
else
    fail "no main window; program log: $(cat "$WORLD/program.log")"
fi

echo "== an invalid wave file on the command line: the reader's message, and the program ends"
reset_world
start_program "$WORLD/start" "$WORLD/music/empty.wav"
wait_program_end
expect_eq "messages" "Driver isn't working properly.
The file \"$WORLD/music/empty.wav\" hasn't a valid wave format." "$(messages)"
[ "$EXIT_CODE" != 0 ] && echo "ok: ends with exit code $EXIT_CODE" || fail "an invalid file ended with exit code 0"

echo "== driver present, temporary folder unusable: 61220, then the window"
reset_world
start_capdrv
seed_registry "\"TmpDir\"=\"$WORLD/missing/folder\""
start_program "$WORLD/start"
if window=$(wait_window "^WaveHarvester - "); then
    first_line=$(messages | head -1)
    case "$first_line" in
    "Folder for the temporary files is invalid. Unable to create file \"$WORLD/missing/folder/~WHcd1.tmp\" - system error 3 "*)
        echo "ok: 61220 before the window: $first_line" ;;
    *) fail "first message when the window shows: [$first_line]" ;;
    esac
    expect_eq "one message only" 1 "$(messages | wc -l)"
    expect_eq "caption of a new document" "WaveHarvester - Untitled" "$(window_name "$window")"
    kill -9 "$PROGRAM_PID"; wait "$PROGRAM_PID" 2>/dev/null || true; PROGRAM_PID=""
else
    fail "no main window; program log: $(cat "$WORLD/program.log")"
fi

finish
