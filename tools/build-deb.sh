#!/usr/bin/env bash
# Builds the Debian package waveharvester from a clean clone of the committed tree and checks it
# with lintian (no errors allowed). With --install-test it then installs the package on this
# machine (as root), checks the installed program, driver and device, starts the installed
# program under an X server of its own (screenshot under build/test/screenshots/), and removes
# the package again, checking that nothing of it is left.
#
#   tools/build-deb.sh                 # build/deb/waveharvester_<version>_<arch>.deb
#   tools/build-deb.sh --install-test  # the same, then install, try and remove it
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
install_test=no
[ "${1:-}" = --install-test ] && install_test=yes

# What building the package needs besides the project's own build dependencies.
packages="debhelper dpkg-dev lintian git cmake pkg-config libasound2-dev libwxgtk3.2-dev libglib2.0-dev"
[ $install_test = yes ] && packages="$packages alsa-utils sox xvfb xauth xdotool imagemagick"
sudo=$([ "$(id -u)" = 0 ] || echo sudo)
missing=$(for p in $packages; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"; done)
if [ -n "$missing" ]; then
    echo "Installing:" $missing
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
fi

out="$root/build/deb"
rm -rf "$out"
mkdir -p "$out"
git clone --quiet --no-hardlinks "$root" "$out/waveharvester"
echo "== dpkg-buildpackage in a clean clone ($(git -C "$out/waveharvester" log -1 --format='%h %s'))"
(cd "$out/waveharvester" && DEB_BUILD_OPTIONS="parallel=${WH_DEB_JOBS:-2}" dpkg-buildpackage -b -us -uc) \
    >"$out/build.log" 2>&1 || { tail -40 "$out/build.log"; echo "dpkg-buildpackage failed (log: $out/build.log)"; exit 1; }
deb=$(ls "$out"/waveharvester_*.deb)
echo "built $deb"
dpkg-deb --info "$deb" | grep -E '^ (Package|Version|Architecture|Depends|Recommends):'

echo "== lintian"
lintian --fail-on error --display-info "$deb" | tee "$out/lintian.log"
echo "lintian: no errors"

[ $install_test = yes ] || exit 0

echo "== install the package"
if dpkg-query -W -f='${Status}' waveharvester 2>/dev/null | grep -q 'installed'; then
    echo "waveharvester is installed already on this machine; the install test needs it absent" >&2
    exit 1
fi
world=$(mktemp -d /tmp/wh-deb-test.XXXXXX)
removed=no
cleanup() {
    [ $removed = yes ] || $sudo dpkg -r waveharvester >/dev/null 2>&1 || true
    [ -n "${program:-}" ] && kill "$program" 2>/dev/null || true
    rm -rf "$world"
}
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$deb" >"$world/apt.log" 2>&1 ||
    { cat "$world/apt.log"; exit 1; }
dpkg -L waveharvester | sort >"$world/files"
failures=0
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi; }
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for file in /usr/bin/WaveHarvester /usr/bin/capdrv /usr/lib/$multiarch/libcapbrg32.so \
            /usr/lib/$multiarch/alsa-lib/libasound_module_pcm_waveharvester.so \
            /usr/share/alsa/alsa.conf.d/50-waveharvester.conf /etc/alsa/conf.d/50-waveharvester.conf \
            /usr/lib/systemd/user/waveharvester-capdrv.service /usr/share/applications/WaveHarvester.desktop \
            /usr/share/metainfo/com.kestrelworks.WaveHarvester.metainfo.xml \
            /usr/share/icons/hicolor/48x48/apps/waveharvester.png /usr/share/man/man1/capdrv.1.gz; do
    check "installed $file" test -e "$file"
done
check "man capdrv finds the page" bash -c 'man -w capdrv | grep -q /usr/share/man/man1/capdrv.1.gz'

echo "== the installed device: aplay -D waveharvester into a test real device"
cat >"$world/real.conf" <<CONF
pcm.realtwo {
    type file
    slave.pcm "null"
    file "$world/real.raw"
    format "raw"
    hint { show on description "Real Two" }
}
CONF
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kestrelworks\\WaveHarvester]\n"RealDevice"="Real Two"\n' >"$world/registry.reg"
sox -n -r 44100 -c 2 -b 16 "$world/played.wav" synth 0.5 sine 440 vol 0.5
sox "$world/played.wav" -t raw "$world/expected.raw"
export HOME="$world" XDG_CONFIG_HOME="$world/config" WAVEHARVESTER_REGISTRY="$world/registry.reg"
export WAVEHARVESTER_RUNTIME_DIR="$world/run" WAVEHARVESTER_OBJECT_SCOPE="deb-test-$$"
unset WAVEHARVESTER_BRIDGE_LIBRARY WAVEHARVESTER_DRIVER_CONF ALSA_CONFIG_PATH
# The system's own ALSA configuration (which reads /etc/alsa/conf.d), plus the test device.
ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$world/real.conf" LD_DEBUG=files \
    aplay -q -D waveharvester "$world/played.wav" 2>"$world/aplay.log" && played=0 || played=$?
check "aplay -D waveharvester succeeds" test "$played" = 0
# ALSA may name its plugin folder through /lib, the same folder on a merged /usr.
loaded=$(sed -n 's/.*calling init: \(.*alsa-lib\/libasound_module_pcm_waveharvester\.so\)$/\1/p' "$world/aplay.log" | head -1)
check "ALSA loaded the installed plugin ($loaded)" \
    test -n "$loaded" -a "$(realpath "$loaded")" = "$(realpath /usr/lib/$multiarch/alsa-lib/libasound_module_pcm_waveharvester.so)"
check "the plugin loaded the installed bridge library" \
    grep -qF "calling init: /usr/lib/$multiarch/libcapbrg32.so" "$world/aplay.log"
check "the real device got the sound byte for byte" \
    cmp -s -n "$(stat -c %s "$world/expected.raw")" "$world/expected.raw" "$world/real.raw"
aplay -L 2>/dev/null | grep -A1 '^waveharvester$' >"$world/aplay-L" || true
check "aplay -L lists \"Playback through WaveHarvester\"" grep -q 'Playback through WaveHarvester' "$world/aplay-L"

echo "== capdrv --install with the configuration installed for every user"
export WAVEHARVESTER_ASOUNDRC="$world/asoundrc" WAVEHARVESTER_SYSTEMCTL=/bin/false
/usr/bin/capdrv --install >"$world/capdrv.log" 2>&1
check "capdrv --install succeeds" test $? = 0
check "nothing is added to the user's ALSA file" test ! -e "$world/asoundrc"
check "the session starts /usr/bin/capdrv (autostart here: no systemd user manager)" \
    grep -qx 'Exec=/usr/bin/capdrv' "$world/config/autostart/waveharvester-capdrv.desktop"
/usr/bin/capdrv --uninstall >>"$world/capdrv.log" 2>&1
check "capdrv --uninstall removes it" test ! -e "$world/config/autostart/waveharvester-capdrv.desktop"
cat "$world/capdrv.log"

echo "== the installed program under an X server"
shots="$root/build/test/screenshots"
mkdir -p "$shots"
export WAVEHARVESTER_MESSAGE_LOG="$world/messages.log" TMP="$world"
cat >"$world/show.sh" <<'SHOW'
#!/usr/bin/env bash
# Starts /usr/bin/WaveHarvester, waits for its window, takes the screenshot, ends it with SIGTERM.
/usr/bin/WaveHarvester >"$WORLD/program.log" 2>&1 &
program=$!
window=""
for _ in $(seq 100); do
    window=$(xdotool search --name '^WaveHarvester - ' 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 0.1
done
if [ -z "$window" ]; then
    echo "no window; program log:"; cat "$WORLD/program.log"; kill $program; exit 1
fi
sleep 0.5
echo "window: $(xdotool getwindowname "$window")"
import -window "$window" "$SHOT"
kill -TERM $program
wait $program
SHOW
WORLD="$world" SHOT="$shots/installed-package-window.png" \
    "$root/tools/with-x-server.sh" bash "$world/show.sh" && shown=0 || shown=$?
check "the installed program showed its window and ended on SIGTERM" test "$shown" = 0
check "screenshot $shots/installed-package-window.png" test -s "$shots/installed-package-window.png"

echo "== remove the package"
$sudo dpkg -r waveharvester >"$world/remove.log" 2>&1
removed=yes
left=""
while read -r path; do
    [ -d "$path" ] && continue   # folders shared with other packages stay
    if [ -e "$path" ] || [ -L "$path" ]; then left="$left $path"; fi
done <"$world/files"
check "dpkg -r leaves none of its files" test -z "$left"
[ -z "$left" ] || echo "left:$left"
# The package has no configuration files; its postrm (the systemd user unit's clean-up on purge)
# keeps it known to dpkg until purged.
check "dpkg -r leaves no configuration files" test -z "$(dpkg-query -W -f='${Conffiles}' waveharvester 2>/dev/null)"
$sudo dpkg --purge waveharvester >>"$world/remove.log" 2>&1
check "dpkg --purge leaves dpkg nothing of it" bash -c '! dpkg-query -W waveharvester >/dev/null 2>&1'
echo "$failures failure(s)"
[ "$failures" = 0 ]
