#!/usr/bin/env bash
# Installs the build into a staging folder (DESTDIR) as `make install` does and checks the tree:
# every file in its place and nothing else, no path into the build, source or staging folder in
# what the install wrote, a sound played with aplay through the tree's ALSA configuration and
# plugin reaching a test "real" device byte for byte (with the tree's bridge library loaded),
# the installed capdrv --install/--uninstall, and uninstall leaving the staging folder empty.
# Environment (from CMake): WH_BUILD, WH_SOURCE, WH_PREFIX, WH_BINDIR, WH_LIBDIR, WH_DATADIR,
# WH_MANDIR, WH_PLUGIN_DIR, WH_PLUGIN_SEARCHED, WH_CONF_DIR, WH_CONF_LINK_DIR, WH_UNIT_DIR.
set -uo pipefail
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }

stage=$(mktemp -d "${TMPDIR:-/tmp}/wh-install.XXXXXX")
world=$(mktemp -d "${TMPDIR:-/tmp}/wh-install-world.XXXXXX")
trap 'rm -rf "$stage" "$world"' EXIT

echo "== install into $stage"
if ! DESTDIR="$stage" cmake --install "$WH_BUILD" >"$world/install.log" 2>&1; then
    cat "$world/install.log"
    fail "cmake --install"
    exit 1
fi

conf="$WH_CONF_DIR/50-waveharvester.conf"
plugin="$WH_PLUGIN_DIR/libasound_module_pcm_waveharvester.so"
# Every file the install must put, with what it must be: x executable, f plain file, l link.
expected=(
    "x $WH_BINDIR/WaveHarvester"
    "x $WH_BINDIR/capdrv"
    "f $WH_LIBDIR/libcapbrg32.so"
    "f $plugin"
    "f $conf"
    "f $WH_UNIT_DIR/waveharvester-capdrv.service"
    "f $WH_DATADIR/applications/WaveHarvester.desktop"
    "f $WH_DATADIR/metainfo/com.kestrelworks.WaveHarvester.metainfo.xml"
    "f $WH_DATADIR/icons/hicolor/scalable/apps/waveharvester.svg"
    "f $WH_MANDIR/man1/WaveHarvester.1"
    "f $WH_MANDIR/man1/capdrv.1"
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("f $WH_DATADIR/icons/hicolor/${size}x${size}/apps/waveharvester.png")
done
[ -n "$WH_CONF_LINK_DIR" ] && expected+=("l $WH_CONF_LINK_DIR/50-waveharvester.conf")

for entry in "${expected[@]}"; do
    kind=${entry%% *} path=$stage${entry#* }
    case $kind in
        x) check "executable ${entry#* }" test -f "$path" -a -x "$path" ;;
        f) check "file ${entry#* }" test -f "$path" -a ! -L "$path" ;;
        l) check "link ${entry#* } names $conf" test "$(readlink "$path")" = "$conf" ;;
    esac
done
installed=$(cd "$stage" && find . ! -type d | sed 's|^\.||' | sort)
wanted=$(for entry in "${expected[@]}"; do echo "${entry#* }"; done | sort)
check "nothing installed beyond the list" test "$installed" = "$wanted"
[ "$installed" = "$wanted" ] || diff <(echo "$wanted") <(echo "$installed")

for size in 16 48 256; do
    png="$stage$WH_DATADIR/icons/hicolor/${size}x${size}/apps/waveharvester.png"
    check "icon ${size}x${size} is a ${size}x${size} PNG" \
        grep -q "PNG image data, $size x $size" <<<"$(file "$png")"
done

echo "== no path into the build, source or staging folder"
for file in "$conf" "$WH_UNIT_DIR/waveharvester-capdrv.service" "$WH_DATADIR/applications/WaveHarvester.desktop"; do
    for folder in "$WH_BUILD" "$WH_SOURCE" "$stage" "${TMPDIR:-/tmp}/"; do
        check "$(basename "$file") does not name $folder" bash -c '! grep -qF "$1" "$2"' _ "$folder" "$stage$file"
    done
done
if [ "$WH_PLUGIN_SEARCHED" = ON ]; then
    reference=libasound_module_pcm_waveharvester.so
else
    reference=$plugin
fi
check "the configuration names the plugin as $reference" grep -qF "lib \"$reference\"" "$stage$conf"
check "the configuration declares pcm.waveharvester" grep -q '^pcm\.waveharvester {' "$stage$conf"
check "the unit starts the installed capdrv" grep -qx "ExecStart=$WH_BINDIR/capdrv" "$stage$WH_UNIT_DIR/waveharvester-capdrv.service"
for program in WaveHarvester capdrv; do
    check "$program has no run path into the build" bash -c '! readelf -d "$1" | grep -q "RUNPATH\|RPATH"' _ "$stage$WH_BINDIR/$program"
done

echo "== aplay through the tree's configuration and plugin into a test real device"
cat >"$world/real.conf" <<CONF
pcm.realtwo {
    type file
    slave.pcm "null"
    file "$world/real.raw"
    format "raw"
    hint { show on description "Real Two" }
}
# The plugin where the configuration names it, inside the staging folder.
pcm_type.waveharvester.lib "$stage$plugin"
CONF
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kestrelworks\\WaveHarvester]\n"RealDevice"="Real Two"\n' >"$world/registry.reg"
sox -n -r 44100 -c 2 -b 16 "$world/played.wav" synth 0.5 sine 440 vol 0.5
sox "$world/played.wav" -t raw "$world/expected.raw"
export HOME="$world" WAVEHARVESTER_REGISTRY="$world/registry.reg" WAVEHARVESTER_RUNTIME_DIR="$world/run"
export WAVEHARVESTER_OBJECT_SCOPE="install-test-$$" XDG_CONFIG_HOME="$world/config"
unset WAVEHARVESTER_BRIDGE_LIBRARY WAVEHARVESTER_DRIVER_CONF
ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$stage$conf:$world/real.conf" LD_DEBUG=files \
    aplay -q -D waveharvester "$world/played.wav" 2>"$world/aplay.log"
status=$?
check "aplay -D waveharvester succeeds" test "$status" = 0
[ "$status" = 0 ] || grep -v '^ *[0-9]*:' "$world/aplay.log"
check "the tree's plugin was loaded" grep -qF "calling init: $stage$plugin" "$world/aplay.log"
check "the plugin loaded the tree's bridge library" grep -qF "calling init: $stage$WH_LIBDIR/libcapbrg32.so" "$world/aplay.log"
size=$(stat -c %s "$world/expected.raw")
check "the real device got the sound byte for byte" cmp -s -n "$size" "$world/expected.raw" "$world/real.raw"
check "only silence after it" bash -c '[ -z "$(tail -c +$(($1 + 1)) "$2" | tr -d "\\000")" ]' _ "$size" "$world/real.raw"

echo "== the installed capdrv --install / --uninstall"
capdrv="$stage$WH_BINDIR/capdrv"
export WAVEHARVESTER_ASOUNDRC="$world/asoundrc"
cat >"$world/systemctl" <<'FAKE'
#!/bin/sh
# A systemd user manager that answers: records what it is asked.
echo "$*" >>"$(dirname "$0")/systemctl.log"
FAKE
chmod +x "$world/systemctl"
printf '# my own line\n' >"$world/asoundrc"
WAVEHARVESTER_SYSTEMCTL="$world/systemctl" "$capdrv" --install >"$world/capdrv.log" 2>&1
check "capdrv --install succeeds" test $? = 0
check "the block includes the installed configuration" grep -qxF "<$(realpath "$stage$conf")>" "$world/asoundrc"
check "the user's line stays" grep -qx '# my own line' "$world/asoundrc"
check "the systemd user unit is enabled and started" grep -qx -- '--user enable --now waveharvester-capdrv.service' "$world/systemctl.log"
WAVEHARVESTER_SYSTEMCTL="$world/systemctl" "$capdrv" --uninstall >>"$world/capdrv.log" 2>&1
check "capdrv --uninstall succeeds" test $? = 0
check "the user's file is as before" test "$(cat "$world/asoundrc")" = "# my own line"
check "the unit is disabled and stopped" grep -qx -- '--user disable --now waveharvester-capdrv.service' "$world/systemctl.log"
# Without a systemd user manager: an XDG autostart entry.
WAVEHARVESTER_SYSTEMCTL=/bin/false "$capdrv" --install >>"$world/capdrv.log" 2>&1
check "capdrv --install without systemd succeeds" test $? = 0
entry="$world/config/autostart/waveharvester-capdrv.desktop"
check "the autostart entry starts the installed capdrv" grep -qxF "Exec=$(realpath "$capdrv")" "$entry"
check "the autostart entry is a valid desktop entry" desktop-file-validate "$entry"
WAVEHARVESTER_SYSTEMCTL=/bin/false "$capdrv" --uninstall >>"$world/capdrv.log" 2>&1
check "capdrv --uninstall removes the autostart entry" test ! -e "$entry"
[ "$failures" = 0 ] || cat "$world/capdrv.log"

echo "== uninstall"
DESTDIR="$stage" cmake -DWH_BUILD="$WH_BUILD" -P "$WH_SOURCE/cmake/Uninstall.cmake" >"$world/uninstall.log" 2>&1
check "uninstall succeeds" test $? = 0
left=$(find "$stage" -mindepth 1)
check "the staging folder is empty" test -z "$left"
[ -z "$left" ] || echo "$left"

echo "$failures failure(s)"
[ "$failures" = 0 ]
