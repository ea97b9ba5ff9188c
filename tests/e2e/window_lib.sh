# Shared pieces of the end-to-end tests of the real program: a private world (registry, runtime
# folder, object scope, HOME, ALSA configuration, message log, desktop settings in a keyfile
# under HOME), starting the program under the test's X server, finding its window, pressing
# keys, screenshots, and a clean close.
# Sourced by the *Test.sh scripts; each runs under its own X server (tools/with-x-server.sh).
set -euo pipefail

: "${WH_PROGRAM:?path of the WaveHarvester program}"
: "${WH_CAPDRV:?path of capdrv}"
: "${WH_DRIVER_CONF:?the driver ALSA configuration}"
: "${WH_SCREENSHOTS:?folder for screenshots}"

WORLD=$(mktemp -d /tmp/wh-e2e.XXXXXX)
mkdir -p "$WORLD/home" "$WORLD/runtime" "$WORLD/tmp" "$WH_SCREENSHOTS"
chmod 700 "$WORLD/runtime"
export HOME="$WORLD/home"
export WAVEHARVESTER_REGISTRY="$WORLD/registry.reg"
export WAVEHARVESTER_RUNTIME_DIR="$WORLD/runtime"
export WAVEHARVESTER_OBJECT_SCOPE="e2e-$$-$RANDOM"
export WAVEHARVESTER_MESSAGE_LOG="$WORLD/messages.log"
export WAVEHARVESTER_FILE_DIALOG_ANSWERS="$WORLD/file-answers.txt"
export WAVEHARVESTER_PROMPT_ANSWERS="$WORLD/prompt-answers.txt"
export WAVEHARVESTER_ASOUNDRC="$HOME/.asoundrc"
export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$WH_DRIVER_CONF"
export TMP="$WORLD/tmp"
unset TEMP
# The program switches the desktop's event sounds (GSettings); the world has its own.
export GSETTINGS_BACKEND=keyfile
export XDG_CONFIG_HOME="$HOME/.config"
export LSAN_OPTIONS="suppressions=$(dirname "${BASH_SOURCE[0]}")/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
: >"$WAVEHARVESTER_FILE_DIALOG_ANSWERS"
: >"$WAVEHARVESTER_PROMPT_ANSWERS"

PROGRAM_PID=""
CAPDRV_PID=""
FAILURES=0

cleanup() {
    [ -n "$PROGRAM_PID" ] && kill -9 "$PROGRAM_PID" 2>/dev/null || true
    [ -n "$CAPDRV_PID" ] && kill -TERM "$CAPDRV_PID" 2>/dev/null && wait "$CAPDRV_PID" 2>/dev/null || true
    rm -rf "$WORLD"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; FAILURES=$((FAILURES + 1)); }
expect_eq() { # what expected actual
    if [ "$2" != "$3" ]; then fail "$1: expected [$2], got [$3]"; else echo "ok: $1"; fi
}
finish() {
    if [ "$FAILURES" -ne 0 ]; then echo "$FAILURES check(s) failed" >&2; exit 1; fi
    echo "all checks passed"
}

# A fresh registry file, message log and answers for the next run of the program.
reset_world() {
    rm -f "$WAVEHARVESTER_REGISTRY" "$WAVEHARVESTER_MESSAGE_LOG"
    : >"$WAVEHARVESTER_FILE_DIALOG_ANSWERS"
    : >"$WAVEHARVESTER_PROMPT_ANSWERS"
}

# Registry values written before the program starts, as REGEDIT4 lines under the program's key.
seed_registry() {
    { echo "REGEDIT4"; echo; echo '[HKEY_CURRENT_USER\Software\Kestrelworks\WaveHarvester]'; printf '%s\n' "$@"; } \
        >"$WAVEHARVESTER_REGISTRY"
}

# The value of a registry value of the program's key (or of a subkey given as $2), quotes removed.
registry_value() {
    local name=$1 key='[HKEY_CURRENT_USER\Software\Kestrelworks\WaveHarvester'"${2:+\\$2}"']'
    awk -v key="$key" -v name="\"$name\"" '
        $0 == key { inside = 1; next }
        /^\[/ { inside = 0 }
        inside && index($0, name "=") == 1 { v = substr($0, length(name) + 2); gsub(/^"|"$/, "", v); print v }
    ' "$WAVEHARVESTER_REGISTRY"
}

start_capdrv() {
    "$WH_CAPDRV" >"$WORLD/capdrv.log" 2>&1 &
    CAPDRV_PID=$!
    sleep 0.5
}

# Starts the program in the folder $1 with the remaining arguments.
start_program() {
    local folder=$1; shift
    (cd "$folder" && exec "$WH_PROGRAM" "$@") >>"$WORLD/program.log" 2>&1 &
    PROGRAM_PID=$!
}

# Waits until a visible window whose name matches the pattern exists; prints its id.
wait_window() {
    local pattern=$1 id=""
    for _ in $(seq 150); do
        id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$PROGRAM_PID" 2>/dev/null || break
        sleep 0.1
    done
    return 1
}

window_name() { xdotool getwindowname "$1" 2>/dev/null || true; }

# Waits until the window's name is the expected one (the caption follows on idle).
wait_window_name() {
    local id=$1 expected=$2
    for _ in $(seq 50); do
        [ "$(window_name "$id")" = "$expected" ] && return 0
        sleep 0.1
    done
    return 1
}

press() { # window keys...
    local id=$1; shift
    xdotool windowfocus --sync "$id" 2>/dev/null || true
    xdotool key --delay 50 "$@"
}

screenshot() { # window name
    import -window "$1" "$WH_SCREENSHOTS/$2.png"
    echo "screenshot: $WH_SCREENSHOTS/$2.png"
}

# Waits up to 20 s for the program to end (killing it after that, reported with the text
# given); its exit code goes to EXIT_CODE.
await_program_end() {
    for _ in $(seq 200); do
        kill -0 "$PROGRAM_PID" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$PROGRAM_PID" 2>/dev/null; then
        kill -9 "$PROGRAM_PID"
        fail "$1"
    fi
    EXIT_CODE=0
    wait "$PROGRAM_PID" || EXIT_CODE=$?
    PROGRAM_PID=""
}

# Ends the program as the desktop does (SIGTERM closes the window as the user would).
close_program() {
    kill -TERM "$PROGRAM_PID"
    await_program_end "the program did not end on SIGTERM"
}

# Waits for the program to end by itself.
wait_program_end() { await_program_end "the program did not end by itself"; }

messages() { cat "$WAVEHARVESTER_MESSAGE_LOG" 2>/dev/null || true; }
