#!/usr/bin/env bash
# End-to-end run of the real qr7215-utility on a real X server (run it under
# xvfb-run) against the module simulator, driven like an operator would:
# it connects by itself and polls, runs the post-process script once when DC
# input fails, and ends through the tray menu's Quit with exit code 0. What
# the pages do with a click is proven below the window (tst_pages).
#
#   tst_endtoend.sh BIN_DIR [ARTIFACT_DIR]
#
# BIN_DIR holds qr7215-utility, libqr7215sdk.so, qr7215-sim and iconfigs/.
# ARTIFACT_DIR receives status.png (the page as the operator sees it) and,
# when a step does not take effect, a screenshot of the whole screen then. Without it they go to the work folder,
# which is kept only when the run fails.
set -uo pipefail

bin=${1:?usage: tst_endtoend.sh BIN_DIR [ARTIFACT_DIR]}
bin=$(cd "$bin" && pwd)
work=$(mktemp -d /tmp/qr7215-e2e-XXXXXX) || { echo "FAIL: could not make a work folder in /tmp" >&2; exit 1; }
artifacts=${2:-$work}
mkdir -p "$artifacts"
artifacts=$(cd "$artifacts" && pwd)

app_pid="" sim_pid="" tray_pid="" sim_in="" sim_out=""
step="setup"
ok=0

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
t0=$(now_ms)
log() { local ms=$(( $(now_ms) - t0 )); printf '[e2e %d.%03ds] %s\n' $((ms / 1000)) $((ms % 1000)) "$*"; }

screenshot() { # FILE [WINDOW]
    timeout 10 import -window "${2:-root}" "$1" 2>/dev/null
}

fail() {
    local shot="$artifacts/failure-${step// /-}.png"
    screenshot "$shot" || shot="(no screenshot: import failed)"
    echo "FAIL [$step]: $*" >&2
    echo "  screenshot: $shot" >&2
    if [ -s "$work/app.log" ]; then
        echo "  program output (last 30 lines):" >&2
        tail -n 30 "$work/app.log" | sed 's/^/    /' >&2
    fi
    echo "  work folder kept: $work" >&2
    exit 1
}

# wait_until SECONDS WHAT COMMAND...: polls COMMAND every 100 ms.
wait_until() {
    local limit=$1 what=$2
    shift 2
    local deadline=$(( $(now_ms) + limit * 1000 ))
    until "$@"; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "$what (waited ${limit} s)"
        sleep 0.1
    done
}

alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }

cleanup() {
    if alive "$app_pid"; then kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null; fi
    if alive "$sim_pid"; then
        [ -n "$sim_in" ] && printf 'quit\n' >&"$sim_in" 2>/dev/null
        for _ in $(seq 30); do alive "$sim_pid" || break; sleep 0.1; done
        alive "$sim_pid" && kill "$sim_pid" 2>/dev/null
    fi
    if alive "$tray_pid"; then kill "$tray_pid" 2>/dev/null; wait "$tray_pid" 2>/dev/null; fi
    [ "$ok" -eq 1 ] && rm -rf "$work"
}
trap cleanup EXIT

for tool in xdotool trayer import xwininfo xdpyinfo; do
    command -v "$tool" >/dev/null || fail "$tool is missing (bash tools/install-deps.sh installs it)"
done
[ -n "${DISPLAY:-}" ] || fail "no X display: run this under xvfb-run"
for f in qr7215-utility qr7215-sim iconfigs/config_registers.xml; do
    [ -e "$bin/$f" ] || fail "$bin/$f is missing: build qr7215-utility and qr7215-sim first"
done

# --- 1. A private application folder, settings store and runtime folder ---
app="$work/app"
mkdir -p "$app/configs" "$app/iconfigs" "$work/config/Tarvolt/UPS" "$work/runtime" "$work/home"
chmod 700 "$work/runtime"
cp "$bin/qr7215-utility" "$app/"
cp -P "$bin"/libqr7215sdk.so* "$app/"
cp "$bin/iconfigs/config_registers.xml" "$app/iconfigs/"

link="$work/link"
# The rest at their defaults: slave 1, 115200 baud 8N1, 1000 ms, 3 retries.
cat > "$app/configs/config_com.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<Settings>
    <Setting>
        <ComPort>$link</ComPort>
        <PollDelay>50</PollDelay>
        <AutoConnect>1</AutoConnect>
    </Setting>
</Settings>
XML

hits="$work/script-runs.txt"
script="$work/on dc lost.sh"   # a blank in the path on purpose
printf '#!/bin/sh\necho "ran $(date +%%s%%N)" >> "%s"\n' "$hits" > "$script"
chmod +x "$script"
# Without a notification service the power events would show tray balloons,
# which this test would take for menus left open; notifications are tested
# on their own (tst_desktopnotifier).
cat > "$work/config/Tarvolt/UPS/QR-7215.conf" <<INI
[General]
batPath=$script
batExecutePolicy=1
notify=false
INI

# --- 2. Simulator, tray host, program ---
step="start simulator"
coproc SIM { exec "$bin/qr7215-sim" --link "$link" 2>"$work/sim.err"; }
sim_pid=$SIM_PID
sim_out=${SIM[0]} sim_in=${SIM[1]}
read -r -t 10 -u "$sim_out" ready || fail "the simulator did not start: $(cat "$work/sim.err")"
[[ $ready == ready* ]] || fail "the simulator said '$ready' instead of ready"

sim() { # COMMAND: prints the simulator's one-line answer; fails without one
    printf '%s\n' "$1" >&"$sim_in" 2>/dev/null || { echo "the simulator is gone" >&2; return 1; }
    local answer
    read -r -t 5 -u "$sim_out" answer || { echo "no answer from the simulator to '$1'" >&2; return 1; }
    printf '%s\n' "$answer"
}

step="start tray host"
# Right after a server on the same display number went down, a new one can
# refuse the first connections for a moment.
display_answers() { xdpyinfo >/dev/null 2>&1; }
wait_until 10 "the X server on $DISPLAY does not answer" display_answers
tray_starts=0
start_tray_host() {
    tray_starts=$((tray_starts + 1))
    trayer --edge bottom --align right --widthtype request --height 32 \
           --SetDockType true --transparent false \
           >>"$work/trayer.log" 2>&1 {sim_out}<&- {sim_in}>&- &
    tray_pid=$!
}
panel=""
tray_host_up() {
    if ! alive "$tray_pid"; then
        [ "$tray_starts" -lt 3 ] || fail "the tray host ended $tray_starts times: $(tail -n 2 "$work/trayer.log")"
        start_tray_host
        return 1
    fi
    panel=$(xdotool search --onlyvisible --classname '^panel$' 2>/dev/null | head -n 1)
    [ -n "$panel" ]
}
start_tray_host
wait_until 10 "the tray host's panel did not appear" tray_host_up
log "tray host up (starts: $tray_starts)"

step="start program"
env -u DBUS_SESSION_BUS_ADDRESS -u QT_QPA_PLATFORMTHEME -u SESSION_MANAGER \
    QT_QPA_PLATFORM=xcb HOME="$work/home" \
    XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" \
    "$app/qr7215-utility" >"$work/app.log" 2>&1 {sim_out}<&- {sim_in}>&- &
app_pid=$!

win=""
find_window() {
    if ! alive "$app_pid"; then
        wait "$app_pid"
        fail "the program ended at start-up with exit code $?"
    fi
    win=$(xdotool search --onlyvisible --name '^Ulmavox$' 2>/dev/null | head -n 1)
    [ -n "$win" ]
}
wait_until 15 "the main window \"Ulmavox\" did not appear" find_window

tray_icon=""
find_tray_icon() {
    tray_icon=$(xwininfo -id "$panel" -tree 2>/dev/null \
        | awk '/"qr7215-utility"/ { print $1; exit }')
    [ -n "$tray_icon" ]
}
wait_until 10 "the program's icon did not appear in the tray" find_tray_icon
log "main window and tray icon up"

park_pointer() { timeout 5 xdotool mousemove 0 1000 >/dev/null; }

# --- 3. Connected and polling; DC lost runs the script once ---
step="connect and poll"
requests() { local n; n=$(sim requests) && [[ $n =~ ^[0-9]+$ ]] && echo "$n"; }
polled_more_than() { local n; n=$(requests) && [ "$n" -gt "$1" ]; }
wait_until 10 "the program never asked the simulator anything (did it connect?)" polled_more_than 0
base=$(requests) || fail "the simulator does not count requests"
wait_until 10 "the program stopped polling after $base requests" polled_more_than $((base + 10))
log "connected and polling"

park_pointer
screenshot "$artifacts/status.png" "$win" || fail "could not save the Status Monitor screenshot"

step="power fail runs the script"
[ ! -e "$hits" ] || fail "the script ran before DC input failed"
[ "$(sim 'power fail')" = ok ] || fail "the simulator refused 'power fail'"
script_ran() { [ -s "$hits" ]; }
wait_until 10 "the post-process script did not run after 'power fail'" script_ran
# Let a good number of further polls see the same DC-lost state: the script
# must not run again for it.
base=$(requests) || fail "the simulator does not count requests"
wait_until 10 "polling stopped after the power failure" polled_more_than $((base + 20))
runs=$(wc -l < "$hits")
[ "$runs" -eq 1 ] || fail "the script ran $runs times for one power failure"
[ "$(sim 'power restore')" = ok ] || fail "the simulator refused 'power restore'"
log "script ran once"

# --- 4. Quit through the tray menu ---
step="tray menu"
eval "$(xdotool getwindowgeometry --shell "$tray_icon")"
timeout 5 xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3 \
    || fail "xdotool could not right-click the tray icon"
menu=""
find_tray_menu() { # the tallest of the program's other visible windows (a tool tip is smaller)
    local w tallest=0
    menu=""
    for w in $(xdotool search --onlyvisible --class '^qr7215-utility$' 2>/dev/null \
               | grep -v -x -e "$win" -e "$(printf '%d' "$tray_icon")"); do
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)" || continue
        [ "$HEIGHT" -gt "$tallest" ] && { tallest=$HEIGHT; menu=$w; }
    done
    [ -n "$menu" ] && [ "$tallest" -ge 60 ]
}
wait_until 10 "a right-click on the tray icon opened no menu" find_tray_menu
eval "$(xdotool getwindowgeometry --shell "$menu")"
# Restore, Minimize, a separator, Quit: Quit is the bottom entry.
timeout 5 xdotool mousemove $((X + WIDTH / 3)) $((Y + HEIGHT - 12)) click 1 \
    || fail "xdotool could not click Quit"

step="quit"
exited() { ! alive "$app_pid"; }
wait_until 10 "the program still runs after Quit in the tray menu" exited
wait "$app_pid"
rc=$?
app_pid=""
[ "$rc" -eq 0 ] || fail "the program ended with exit code $rc after Quit"
if [ -s "$work/app.log" ]; then
    echo "program output:"
    sed 's/^/    /' "$work/app.log"
fi
# Qt only warns about a misspelt string-based connection.
if grep -E 'QObject::connect: (No such slot|Cannot connect|Parentheses expected|Incompatible sender/receiver)|No such signal [A-Za-z_]+::signal' \
        "$work/app.log" >/dev/null; then
    fail "the program reported broken connections"
fi
log "program quit with exit code 0"

ok=1
echo "PASS: connect, poll, script on DC lost, quit from the tray"
