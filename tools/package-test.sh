#!/usr/bin/env bash
# The Debian package as a user meets it: build it (a Release tree with
# Debian's hardening flags), check it with lintian, install it with apt-get,
# validate its desktop entry and AppStream data, find its menu entry's
# program and icons, start the installed program under Xvfb against the
# installed simulator until it connects, then purge the package and check that
# nothing of it is left. Every step is bounded in time.
#
#   tools/package-test.sh [BUILD_DIR]      (default: build-package)
#
# Needs root or sudo (it installs and removes the package). .ci/run calls it
# after the test command.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-package}
started=$SECONDS
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
readonly pkg=qr7215-utility

work=$(mktemp -d /tmp/qr7215-package.XXXXXX)
step=setup sim_pid="" app_pid="" xvfb_pid="" installed=0
say() { echo "== package: $* ($((SECONDS - started)) s)"; }
fail() {
    echo "FAIL [$step]: $*" >&2
    [ -s "$work/app.log" ] && tail -n 20 "$work/app.log" | sed 's/^/    /' >&2
    exit 1
}
cleanup() {
    for pid in $app_pid $sim_pid $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ "$installed" -eq 0 ] || $sudo timeout 120 apt-get remove --purge -y -q "$pkg" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
# wait_for SECONDS WHAT COMMAND...: polls COMMAND every 100 ms.
wait_for() {
    local until=$((SECONDS + $1)) what=$2
    shift 2
    until "$@"; do
        [ "$SECONDS" -lt "$until" ] || fail "$what"
        sleep 0.1
    done
}

# --- Build, package, lintian ---
step=build
bash tools/install-deps.sh
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
# -O2 as Debian builds (GCC 12 warns falsely at -O3); no -g, the package is stripped.
export CFLAGS="${CFLAGS//-g /} $CPPFLAGS" CXXFLAGS="${CXXFLAGS//-g /} $CPPFLAGS"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
timeout 300 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
    -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DQR7215_WERROR=ON -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr \
    "${launcher[@]}" >"$work/configure.log" || fail "configure: $(tail -n 20 "$work/configure.log")"
timeout 1200 cmake --build "$build" -j"$(nproc)" >"$work/build.log" || fail "build: $(tail -n 30 "$work/build.log")"
say "built"

step=package
rm -f "$build"/"$pkg"_*.deb
(cd "$build" && timeout 300 cpack -G DEB) >"$work/cpack.log" 2>&1 || fail "cpack: $(tail -n 20 "$work/cpack.log")"
deb=$(ls "$build"/"$pkg"_*.deb)
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "${pkg}_${version}_$(dpkg --print-architecture).deb" ] || fail "unexpected file name $deb"
dpkg-deb -f "$deb" Depends | grep -q 'libqt5widgets5' || fail "no Qt in Depends (dpkg-shlibdeps?): $(dpkg-deb -f "$deb" Depends)"
say "$(basename "$deb"): $(du -k "$deb" | cut -f1) KiB, Depends: $(dpkg-deb -f "$deb" Depends)"

step=lintian
timeout 300 lintian --display-info "$deb" >"$work/lintian.txt" 2>&1 || true
sed 's/^/    /' "$work/lintian.txt"
! grep -q '^E: ' "$work/lintian.txt" || fail "lintian reports errors"
say "lintian: $(grep -c '^W: ' "$work/lintian.txt" || true) warnings, no errors"

# --- Install, validate, menu entry and icons ---
step=install
dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" \
    && fail "$pkg is installed already; this test would remove it"
installed=1
$sudo env DEBIAN_FRONTEND=noninteractive timeout 300 apt-get install -y -q "$(realpath "$deb")" >"$work/apt.log" 2>&1 \
    || fail "apt-get install: $(tail -n 20 "$work/apt.log")"
dpkg-query -L "$pkg" | sort >"$work/files.txt"

step=validate
desktop=/usr/share/applications/$pkg.desktop
out=$(timeout 30 desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate: $out"
# Both tools exit with 0 on hints and infos: clean means they say nothing else.
out=$(timeout 60 appstreamcli validate --no-net --pedantic /usr/share/metainfo/*.metainfo.xml 2>&1) \
    && ! grep -q '^[IWEP]: ' <<<"$out" || fail "appstreamcli: $out"
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[ "$(command -v "${exec_line%% *}")" = /usr/bin/qr7215-utility ] || fail "Exec=$exec_line is not the installed program"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -s "/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon"
for size in 48 64 128 256; do
    file "/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png" | grep -q "PNG image data, $size x $size," \
        || fail "no ${size}x${size} icon $icon"
done
programs=(qr7215-utility qr7215-sim)
[ -x /usr/bin/qr7215ctl ] && programs+=(qr7215ctl)
for program in "${programs[@]}"; do man -w "$program" >/dev/null 2>&1 || fail "no man page for $program"; done
for program in qr7215-utility qr7215ctl; do
    [ ! -x "/usr/bin/$program" ] || readelf -d "/usr/bin/$program" | grep -q 'RUNPATH.*\[\$ORIGIN/../lib/qr7215\]' \
        || fail "RUNPATH of $program"
done
ldconfig -p | grep -q libqr7215sdk && fail "the device library is on the system's library path"
say "installed and valid"

# --- The installed programs against the installed simulator ---
step=simulator
home=$work/home
mkdir -p "$home/config/Tarvolt/UPS" "$home/state" "$home/runtime"
chmod 700 "$home/runtime"
link=$work/link
coproc SIM { exec timeout 120 /usr/bin/qr7215-sim --link "$link" 2>"$work/sim.err"; }
sim_pid=$SIM_PID sim_out=${SIM[0]} sim_in=${SIM[1]}
read -r -t 10 -u "$sim_out" ready || fail "the simulator did not start: $(cat "$work/sim.err")"
sim() { printf '%s\n' "$1" >&"$sim_in" && read -r -t 5 -u "$sim_out" answer && echo "$answer"; }
as_user=(env -u DBUS_SESSION_BUS_ADDRESS -u SESSION_MANAGER HOME="$home" XDG_CONFIG_HOME="$home/config"
    XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/runtime")

if [ -x /usr/bin/qr7215ctl ]; then
    step="qr7215ctl status"
    "${as_user[@]}" timeout 20 /usr/bin/qr7215ctl --port "$link" status >"$work/ctl.txt" 2>&1 \
        || fail "$(cat "$work/ctl.txt")"
    say "qr7215ctl status: $(head -n 1 "$work/ctl.txt")"
fi

step="program connects"
# The per-user settings file; every field it leaves out keeps its default.
printf '<Settings><Setting><ComPort>%s</ComPort><PollDelay>100</PollDelay><AutoConnect>1</AutoConnect></Setting></Settings>\n' \
    "$link" >"$home/config/Tarvolt/UPS/config_com.xml"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" {sim_out}<&- {sim_in}>&- &
xvfb_pid=$!
wait_for 10 "Xvfb did not start" test -s "$work/display"
# Started as the menu would: the desktop entry's Exec, found on the PATH.
"${as_user[@]}" DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb \
    timeout 120 $exec_line >"$work/app.log" 2>&1 {sim_out}<&- {sim_in}>&- &
app_pid=$!
polled() { local n; n=$(sim requests) && [ "$n" -gt 3 ]; }
wait_for 20 "the program never polled the simulator" polled
# The event log, where the program keeps one, must tell the connect.
event_log=$home/state/Tarvolt/UPS/QR-7215.log
seen="the simulator's request count"
if [ -e "$event_log" ]; then
    wait_for 5 "no \"Open device success\" in $event_log" grep -q "Open device success" "$event_log"
    seen="its event log"
fi
[ ! -e /usr/bin/configs ] || fail "the installed program wrote settings into /usr/bin"
kill -TERM "$app_pid"
ended() { ! kill -0 "$app_pid" 2>/dev/null; }
wait_for 10 "the program did not end on SIGTERM" ended
wait "$app_pid" || fail "the program ended with exit code $?"
app_pid=""
say "the installed program connected (seen in $seen) and quit"

# --- Purge: nothing of the package is left ---
step=remove
$sudo timeout 120 apt-get remove --purge -y -q "$pkg" >"$work/apt.log" 2>&1 || fail "apt-get remove: $(tail "$work/apt.log")"
installed=0
while read -r path; do
    # Folders such as /usr/share/applications stay while other packages own them.
    [ ! -e "$path" ] || { [ -d "$path" ] && dpkg-query -S "$path" >/dev/null 2>&1; } || fail "left behind: $path"
done <"$work/files.txt"
say "purged, nothing left; passed"
