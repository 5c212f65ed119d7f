#!/usr/bin/env bash
# End-to-end run of the real qr7215-utility on a real X server (run it under
# xvfb-run) against the module simulator, driven like an operator would:
# it connects by itself and polls, runs the post-process script once when DC
# input fails, writes a register through the Config tab's dialog, and ends
# through the tray menu's Quit with exit code 0.
#
#   tst_endtoend.sh BIN_DIR [ARTIFACT_DIR]
#
# BIN_DIR holds qr7215-utility, libqr7215sdk.so, qr7215-sim and iconfigs/.
# ARTIFACT_DIR receives status.png and config.png (the two pages as the
# operator sees them) and, when a step does not take effect, a screenshot of
# the whole screen at that moment. Without it they go to the work folder,
# which is kept only when the run fails.
set -uo pipefail

bin=${1:?usage: tst_endtoend.sh BIN_DIR [ARTIFACT_DIR]}
bin=$(cd "$bin" && pwd)
# The port name shows in the Comm dock, whose width moves everything right of
# it: a name of fixed length in digits (all equally wide) keeps the layout the
# same from run to run.
work=""
for _ in $(seq 20); do
    candidate=$(printf '/tmp/qr7215-e2e-%06d' $(( (RANDOM * 32768 + RANDOM) % 1000000 )))
    mkdir -m 700 "$candidate" 2>/dev/null && { work=$candidate; break; }
done
[ -n "$work" ] || { echo "FAIL: could not make a work folder in /tmp" >&2; exit 1; }
artifacts=${2:-$work}
mkdir -p "$artifacts"
artifacts=$(cd "$artifacts" && pwd)

# Places in the main window, relative to its top-left corner, for the
# window's default size and the default fonts of a fresh Debian 12. Widths
# follow the Comm dock, which follows the port name, so the tabs and the table
# are found from what changes on the screen; only heights are fixed here.
# Every click is checked for its effect, so a layout that moves them fails
# with a message and a screenshot instead of passing by chance.
readonly FIRST_MENU_X=20 FIRST_MENU_Y=10     # "Control", first in the menu bar
readonly TAB_BAND_Y=80 TAB_BAND_H=32         # rows of the page tabs
readonly PAGE_Y=120 PAGE_H=280               # rows of the current page's top part
readonly TABLE_ADDR_DX=40                    # "Address" column, from the tab widget's left
readonly TABLE_ROW0_Y=158 TABLE_ROW_H=31     # centre of row 40000, row pitch

readonly REG=40005                           # Shutdown delay, RW
readonly REG_ROW=$((REG - 40000))

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

for tool in xdotool trayer import compare xwininfo xdpyinfo; do
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
cat > "$app/configs/config_com.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<Settings>
    <Setting>
        <ComMode>0</ComMode>
        <SlaveId>1</SlaveId>
        <ComPort>$link</ComPort>
        <BaudRate>115200</BaudRate>
        <DataLen>8</DataLen>
        <StopBits>1</StopBits>
        <Parity>0</Parity>
        <ResponseTimeout>1000</ResponseTimeout>
        <NumOfRetries>3</NumOfRetries>
        <PollDelay>50</PollDelay>
        <AutoBoot>0</AutoBoot>
        <AutoConnect>1</AutoConnect>
        <AutoHide>0</AutoHide>
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

eval "$(xdotool getwindowgeometry --shell "$win")"
win_x=$X win_y=$Y win_w=$WIDTH

click_at() { # X Y BUTTON [COUNT]: window-relative coordinates
    timeout 5 xdotool mousemove $((win_x + $1)) $((win_y + $2)) \
        click --repeat "${4:-1}" --delay 60 "$3" || fail "xdotool could not click at $1,$2"
}
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

# --- 4. Config tab: double-click a writable row, write a new value ---
visible_popups() { # count of the program's visible windows besides window and tray icon
    xdotool search --onlyvisible --class '^qr7215-utility$' 2>/dev/null \
        | grep -v -x -e "$win" -e "$(printf '%d' "$tray_icon")" | wc -l
}
popup_open() { [ "$(visible_popups)" -gt 0 ]; }
popup_closed() { [ "$(visible_popups)" -eq 0 ]; }

# A mask of what differs between two screenshots of the window (white where
# changed), with a black border of one pixel so that trimming always works.
change_mask() { # BEFORE AFTER MASK
    convert "$1" "$2" -compose difference -composite -colorspace gray \
        -threshold 2% -bordercolor black -border 1 "$3" 2>/dev/null
}
# change_box MASK Y H: sets box_x box_y box_w box_h to the bounding box, in
# window coordinates, of the changes within rows Y..Y+H-1; fails when none.
change_box() {
    local geo
    geo=$(convert "$1" -crop "x$3+0+$(($2 + 1))" +repage -bordercolor black -border 1 \
        -format '%@' info: 2>/dev/null) || return 1
    [[ $geo =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || return 1
    [ "${BASH_REMATCH[1]}" -gt 0 ] && [ "${BASH_REMATCH[2]}" -gt 0 ] || return 1
    box_w=${BASH_REMATCH[1]} box_h=${BASH_REMATCH[2]}
    box_x=$(( BASH_REMATCH[3] - 2 )) box_y=$(( $2 + BASH_REMATCH[4] - 1 ))
}

step="open Config page"
park_pointer
screenshot "$work/tabs-before.png" "$win" || fail "screenshot failed"
click_at $FIRST_MENU_X $FIRST_MENU_Y 1
wait_until 10 "clicking the first menu of the menu bar opened no menu" popup_open
# On to its neighbour "Option", which opens with its first entry, Config,
# already highlighted.
timeout 5 xdotool key Right || fail "xdotool key failed"
timeout 5 xdotool key Return || fail "xdotool key failed"
wait_until 10 "the menu did not close after choosing Config" popup_closed
park_pointer
tab_added() {
    screenshot "$work/tabs-added.png" "$win" || return 1
    change_mask "$work/tabs-before.png" "$work/tabs-added.png" "$work/tabs-added-mask.png" || return 1
    change_box "$work/tabs-added-mask.png" $TAB_BAND_Y $TAB_BAND_H
}
wait_until 10 "Option > Config added no tab" tab_added
config_tab_x=$(( box_x + box_w / 2 )) config_tab_y=$(( box_y + box_h / 2 ))
log "Config tab added at $config_tab_x,$config_tab_y"

step="select Config tab"
click_at $config_tab_x $config_tab_y 1
park_pointer
page_x=0
page_shown() {
    screenshot "$work/page-config.png" "$win" || return 1
    change_mask "$work/tabs-added.png" "$work/page-config.png" "$work/page-config-mask.png" || return 1
    # Status Monitor's tab steps back, Config's comes forward: the changed
    # part of the tab row starts at the tab widget's left edge.
    change_box "$work/page-config-mask.png" $TAB_BAND_Y $TAB_BAND_H || return 1
    page_x=$box_x
    # The register table replaces the status page, so most of the page
    # changes; new readings on the status page change far less than a third.
    local changed
    changed=$(convert "$work/page-config-mask.png" \
        -crop "$((win_w - page_x - 20))x$PAGE_H+$((page_x + 11))+$((PAGE_Y + 1))" +repage \
        -format '%[fx:int(mean*w*h)]' info: 2>/dev/null) || return 1
    [[ $changed =~ ^[0-9]+$ ]] && [ "$changed" -gt $(( (win_w - page_x - 20) * PAGE_H / 3 )) ]
}
wait_until 10 "clicking the Config tab did not show the register table" page_shown
log "Config page shown, tab widget at x=$page_x"

step="write register"
before=$(sim "get $REG") || fail "no answer to 'get $REG'"
[[ $before =~ ^[0-9]+$ ]] || fail "'get $REG' answered '$before'"
new=$(( before == 45 ? 46 : 45 ))
dialog=""
find_dialog() { dialog=$(xdotool search --onlyvisible --name '^Set Register$' 2>/dev/null | head -n 1); [ -n "$dialog" ]; }
click_at $((page_x + TABLE_ADDR_DX)) $((TABLE_ROW0_Y + REG_ROW * TABLE_ROW_H)) 1 2
wait_until 10 "a double-click on row $REG did not open the \"Set Register\" dialog" find_dialog
timeout 5 xdotool windowfocus --sync "$dialog" || fail "could not give the dialog the keyboard focus"
timeout 5 xdotool key ctrl+a || fail "xdotool key failed"
timeout 5 xdotool type --delay 30 "$new" || fail "xdotool type failed"
timeout 5 xdotool key Return || fail "xdotool key failed"
dialog_closed() { ! xdotool search --onlyvisible --name '^Set Register$' >/dev/null 2>&1; }
wait_until 10 "Enter did not close the \"Set Register\" dialog" dialog_closed
held=""
register_written() { held=$(sim "get $REG"); [ "$held" = "$new" ]; }
wait_until 10 "register $REG does not hold $new after the dialog's Ok (a different row hit?)" register_written
log "register $REG: $before -> $new"

# The table shows the new value after its next read.
table_refreshed() { [ "$(requests)" -gt "$1" ]; }
base=$(requests) || fail "the simulator does not count requests"
wait_until 10 "the Config page stopped reading the registers" table_refreshed $((base + 3))
park_pointer
screenshot "$artifacts/config.png" "$win" || fail "could not save the Config screenshot"

# --- 5. Quit through the tray menu ---
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
echo "PASS: connect, poll, script on DC lost, register write through the dialog, quit from the tray"
