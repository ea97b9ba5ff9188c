#!/usr/bin/env bash
# systemd-analyze verify on the user unit as it is installed, with ExecStart pointed at the
# built capdrv (the installed path need not exist here) and the manual page its Documentation=
# names looked up among ours. Any complaint fails the test.
# Usage: VerifyUnit.sh <installed unit as built> <built capdrv>
set -uo pipefail
unit=$1 capdrv=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/wh-unit.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/runtime" "$work/man/man1"
chmod 700 "$work/runtime"
cp "$(dirname "$0")/../../resources/man/capdrv.1" "$work/man/man1/"
sed "s|^ExecStart=.*|ExecStart=$capdrv|" "$unit" >"$work/$(basename "$unit")"
grep -q '^ExecStart=/' "$unit" || { echo "FAIL: the unit has no absolute ExecStart"; exit 1; }
# The user manager's checks need a runtime folder of their own.
output=$(cd "$work" && MANPATH="$work/man" XDG_RUNTIME_DIR="$work/runtime" \
    systemd-analyze verify --user "./$(basename "$unit")" 2>&1)
status=$?
echo "$output"
if [ "$status" != 0 ] || [ -n "$output" ]; then
    echo "FAIL: systemd-analyze verify (status $status)"
    exit 1
fi
echo "ok: systemd-analyze verify --user accepts $(basename "$unit")"
