#!/usr/bin/env bash
# Runs a command under an X server of its own (Xvfb, 1280x1024, 24 bits) and returns its exit
# code. The server picks a free display itself (-displayfd), so tests started at the same moment
# never share or lose a server, as they can with xvfb-run -a.
set -uo pipefail
[ $# -gt 0 ] || { echo "usage: $0 command [arguments]" >&2; exit 2; }
fifo=$(mktemp -u /tmp/wh-xserver.XXXXXX)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
server=$!
display=""
read -r -t 20 display <"$fifo" || true
rm -f "$fifo"
if [ -z "$display" ]; then
    echo "$0: the X server did not start" >&2
    kill "$server" 2>/dev/null
    exit 1
fi
DISPLAY=":$display" "$@"
status=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
exit "$status"
