#!/usr/bin/env bash
# The module on Network UPS Tools, both ways, against the simulator, all on
# localhost in a private NUT configuration (NUT_CONFPATH, NUT_STATEPATH) and
# bounded in time:
#  1. generic_modbus reads the module: upsc says OL, then OB after a power
#     failure, and LB once the battery runs low;
#  2. qr7215ctl monitor --nut-file feeds dummy-ups: battery.charge follows
#     the module and OB shows within 3 s of a power failure, a silent
#     module empties the served readings; the monitor logs to the event
#     log file, runs the post-process script with its event and ends on
#     SIGTERM within a second.
#   tst_nut.sh SOURCE_DIR BIN_DIR
set -uo pipefail
src=${1:?usage: tst_nut.sh SOURCE_DIR BIN_DIR}
bin=${2:?usage: tst_nut.sh SOURCE_DIR BIN_DIR}
nut=/lib/nut
for f in "$nut/upsd" "$nut/dummy-ups" "$nut/generic_modbus"; do
    [ -x "$f" ] || { echo "SKIP: $f is missing (install nut-server, nut-client and nut-modbus)"; exit 77; }
done
command -v upsc >/dev/null || { echo "SKIP: upsc is missing (install nut-client)"; exit 77; }

work=$(mktemp -d /tmp/qr7215-nut-XXXXXX) || exit 1
tty=/dev/ttyQR7215test$$
pids=()
step=setup
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -f "$tty"
    [ "${keep:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL [$step]: $*" >&2
    for f in "$work"/*.log; do [ -s "$f" ] && { echo "--- $f" >&2; tail -n 15 "$f" >&2; }; done
    keep=1
    echo "work folder kept: $work" >&2
    exit 1
}
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
# wait_until MS WHAT COMMAND...
wait_until() {
    local limit=$1 what=$2
    local deadline=$(( $(now_ms) + limit ))
    shift 2
    until "$@"; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "$what (waited $limit ms)"
        sleep 0.1
    done
}

coproc SIM { exec "$bin/qr7215-sim" --link "$work/pty" 2>"$work/sim.log"; }
pids+=("$SIM_PID")
sim_out=${SIM[0]} sim_in=${SIM[1]}
read -r -t 10 -u "$sim_out" ready || fail "the simulator did not start"
sim() { printf '%s\n' "$1" >&"$sim_in" && read -r -t 5 -u "$sim_out" answer && echo "$answer"; }
# generic_modbus speaks RTU only to a path beginning with /dev/tty.
ln -s "$(readlink "$work/pty")" "$tty" || fail "cannot link $tty"

# A private NUT: its own configuration, state folder and port on localhost.
# The daemons drop privileges to the user that runs the test.
export NUT_CONFPATH=$work/conf NUT_STATEPATH=$work/state
mkdir -p "$NUT_CONFPATH" "$NUT_STATEPATH"
chmod 755 "$work"
chmod 770 "$NUT_STATEPATH"
user=$(id -un)
port=$(( 20000 + $$ % 20000 ))
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
echo "MODE=standalone" > "$NUT_CONFPATH/nut.conf"
echo "LISTEN 127.0.0.1 $port" > "$NUT_CONFPATH/upsd.conf"
: > "$NUT_CONFPATH/upsd.users"
chmod 640 "$NUT_CONFPATH"/*
ups=qr7215@127.0.0.1:$port
var() { upsc "$ups" "$1" 2>/dev/null; }
status_has() { [[ " $(var ups.status) " == *" $1 "* ]]; }
status_lacks() { local s; s=$(var ups.status) && [[ " $s " != *" $1 "* ]]; }
# The simulator moves the level one percent every 2 s while DC comes and goes.
charge_matches() { [ "$(var battery.charge)" = "$(sim 'get 40026')" ]; }

# start_nut EXAMPLE PORT: the example section with its port replaced, the
# driver and upsd.
start_nut() {
    sed "s|^\( *port = \).*|\1$2|" "$src/integrations/nut/$1" > "$NUT_CONFPATH/ups.conf"
    local driver
    driver=$(sed -n 's/^ *driver = //p' "$NUT_CONFPATH/ups.conf")
    "$nut/$driver" -a qr7215 -u "$user" -F >"$work/$driver.log" 2>&1 &
    pids+=($!)
    driver_pid=$!
    "$nut/upsd" -u "$user" -F >"$work/upsd.log" 2>&1 &
    pids+=($!)
    upsd_pid=$!
}
stop_nut() {
    kill "$driver_pid" "$upsd_pid" 2>/dev/null
    wait "$driver_pid" "$upsd_pid" 2>/dev/null
}

step="generic_modbus: OL"
start_nut ups-generic_modbus.conf "$tty"
wait_until 10000 "upsc never said OL" status_has OL
status_lacks OB || fail "OL and OB at once: $(var ups.status)"
step="generic_modbus: OB after power fail"
[ "$(sim 'power fail')" = ok ] || fail "the simulator refused 'power fail'"
wait_until 5000 "upsc never said OB" status_has OB
status_lacks OL || fail "OB and OL at once: $(var ups.status)"
step="generic_modbus: LB"
[ "$(sim 'set 40026 5')" = ok ] || fail "the simulator refused the level"
wait_until 5000 "upsc never said LB" status_has LB
stop_nut
[ "$(sim 'power restore')" = ok ] || fail "the simulator refused 'power restore'"
# Full: the level stops moving at its next step.
[ "$(sim 'set 40026 100')" = ok ] || fail "the simulator refused the level"

step="monitor feeds dummy-ups"
export XDG_CONFIG_HOME=$work/xdg XDG_STATE_HOME=$work/state-home
mkdir -p "$XDG_CONFIG_HOME/Tarvolt/UPS"
printf '#!/bin/sh\necho "$QR7215_EVENT $QR7215_BATTERY_LEVEL" >> "%s"\n' "$work/script.out" > "$work/script.sh"
chmod +x "$work/script.sh"
printf '[General]\nbatPath=%s\nbatExecutePolicy=1\n' "$work/script.sh" > "$XDG_CONFIG_HOME/Tarvolt/UPS/QR-7215.conf"
# A short time-out: a silent module counts as lost after 2 s.
"$bin/qr7215ctl" --port "$work/pty" --poll 100 --timeout 200 --retries 0 monitor --nut-file "$work/qr7215.dev" 2>"$work/monitor.log" &
monitor_pid=$!
pids+=("$monitor_pid")
wait_until 5000 "no data file" test -s "$work/qr7215.dev"
start_nut ups-dummy-ups.conf "$work/qr7215.dev"
wait_until 10000 "upsd never served the simulator's battery.charge" charge_matches
[ "$(sim 'set 40026 37')" = ok ] || fail "the simulator refused the level"
wait_until 3000 "battery.charge never became the simulator's $(sim 'get 40026')" charge_matches
status_has OL || fail "not OL on DC: $(var ups.status)"
step="monitor: OB within 3 s and the script"
[ "$(sim 'power fail')" = ok ] || fail "the simulator refused 'power fail'"
wait_until 3000 "upsc never said OB" status_has OB
wait_until 5000 "the script did not run" grep -q "^DC_LOST " "$work/script.out"
grep -q ">>DC is broken.$" "$work/monitor.log" || fail "the monitor did not log the loss of DC"
grep -q ">>DC is broken.$" "$XDG_STATE_HOME/Tarvolt/UPS/QR-7215.log" || fail "the loss of DC is not in the event log"
step="monitor: a lost link empties the data"
charge_gone() { [[ $(upsc "$ups" battery.charge 2>&1) == *"not supported"* ]]; }
[ "$(sim 'fault timeout')" = ok ] || fail "the simulator refused the fault"
wait_until 6000 "battery.charge still served with the module silent" charge_gone
[ -z "$(var ups.status)" ] || fail "ups.status still '$(var ups.status)' with the module silent"
[ "$(sim 'fault none')" = ok ] || fail "the simulator refused to end the fault"
wait_until 6000 "battery.charge not back with the module" charge_matches
step="monitor ends on SIGTERM"
kill -TERM "$monitor_pid"
wait_until 1000 "still running 1 s after SIGTERM" eval '! kill -0 $monitor_pid 2>/dev/null'
wait "$monitor_pid"
rc=$?
[ "$rc" = 0 ] || fail "the monitor ended with $rc"
grep -q ">>Close port " "$work/monitor.log" || fail "the monitor did not close the port"
stop_nut
echo "ok: generic_modbus OL/OB/LB, monitor feeds dummy-ups, script, SIGTERM"
