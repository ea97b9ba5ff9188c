#!/usr/bin/env bash
# The desktop's event sounds (GSettings org.gnome.desktop.sound event-sounds, in the world's own
# keyfile) around the real program with the driver running and SysSounds 0: off while it runs,
# on again when it ends normally, left for the next start to give back when it is killed, and
# left off when the user had turned them off.
source "$(dirname "$0")/window_lib.sh"

if ! command -v gsettings >/dev/null; then
    echo "FAIL: the gsettings tool is missing (libglib2.0-bin)" >&2
    exit 1
fi
RECORD="$WAVEHARVESTER_RUNTIME_DIR/event-sounds.record"
event_sounds() { gsettings get org.gnome.desktop.sound event-sounds; }
set_event_sounds() { gsettings set org.gnome.desktop.sound event-sounds "$1"; }
record_state() { [ -e "$RECORD" ] && echo present || echo absent; }

# Starts the program with the SysSounds value $1 and waits for its window.
start_with_sys_sounds() {
    reset_world
    seed_registry "\"SysSounds\"=dword:0000000$1"
    start_program "$WORLD/start"
    if ! wait_window "^WaveHarvester - " >/dev/null; then
        fail "no main window; program log: $(cat "$WORLD/program.log")"
        return 1
    fi
}

kill_program() {
    kill -KILL "$PROGRAM_PID"
    wait "$PROGRAM_PID" 2>/dev/null || true
    PROGRAM_PID=""
}

mkdir -p "$WORLD/start"
start_capdrv

echo "== on before: off while the program runs, on again after SIGTERM"
set_event_sounds true
if start_with_sys_sounds 0; then
    expect_eq "while running" false "$(event_sounds)"
    expect_eq "record while running" present "$(record_state)"
    close_program
    expect_eq "exit code" 0 "$EXIT_CODE"
    expect_eq "after SIGTERM" true "$(event_sounds)"
    expect_eq "record after SIGTERM" absent "$(record_state)"
    expect_eq "no messages" "" "$(messages)"
fi

echo "== killed while off: still off, the record stays; the next start gives them back at once"
set_event_sounds true
if start_with_sys_sounds 0; then
    expect_eq "while running" false "$(event_sounds)"
    kill_program
    expect_eq "after SIGKILL" false "$(event_sounds)"
    expect_eq "record after SIGKILL" "event-sounds=true" "$(cat "$RECORD" 2>/dev/null)"
fi
# With SysSounds 1 this start switches nothing off itself: only the give-back is seen.
if start_with_sys_sounds 1; then
    expect_eq "while the next run (sounds left alone) runs" true "$(event_sounds)"
    expect_eq "record while the next run runs" absent "$(record_state)"
    close_program
    expect_eq "after the next run" true "$(event_sounds)"
fi

echo "== killed while off, next start with SysSounds 0: given back, off for that run, on at its end"
set_event_sounds true
if start_with_sys_sounds 0; then
    kill_program
    expect_eq "after SIGKILL" false "$(event_sounds)"
fi
if start_with_sys_sounds 0; then
    expect_eq "while the next run runs" false "$(event_sounds)"
    expect_eq "the next run's own record" present "$(record_state)"
    close_program
    expect_eq "exit code" 0 "$EXIT_CODE"
    expect_eq "after the next run's SIGTERM" true "$(event_sounds)"
    expect_eq "record after the next run" absent "$(record_state)"
    expect_eq "no messages" "" "$(messages)"
fi

echo "== off before (the user's choice): off while running, still off afterwards"
set_event_sounds false
if start_with_sys_sounds 0; then
    expect_eq "while running" false "$(event_sounds)"
    expect_eq "no record" absent "$(record_state)"
    close_program
    expect_eq "after SIGTERM" false "$(event_sounds)"
    expect_eq "no record afterwards" absent "$(record_state)"
fi

finish
