#!/usr/bin/env bash
# Installs what is missing, builds, and starts the utility attached to the
# module simulator on a pseudo-terminal. The demo runs from its own copy of
# the program (build/demo/), so settings made for a real port in build/bin/
# stay as they are. Type simulator commands here (power fail, power restore,
# set 40026 42, fault timeout, fault none, quit; see docs/register-map.md).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/build.sh

demo=build/demo
mkdir -p "$demo/configs" "$demo/iconfigs"
cp -f build/bin/qr7215-utility build/bin/libqr7215sdk.so* "$demo/"
[ -e "$demo/iconfigs/config_registers.xml" ] || cp build/bin/iconfigs/config_registers.xml "$demo/iconfigs/"

rundir="${XDG_RUNTIME_DIR:-/tmp}"
link="$rundir/qr7215-demo-$(id -u)"
cat > "$demo/configs/config_com.xml" <<XML
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
        <PollDelay>100</PollDelay>
        <AutoBoot>0</AutoBoot>
        <AutoConnect>1</AutoConnect>
        <AutoHide>0</AutoHide>
    </Setting>
</Settings>
XML

rm -f "$link"
(
  for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.1; done
  exec "$demo/qr7215-utility"
) &
utility=$!
trap 'kill $utility 2>/dev/null || true' EXIT
echo "Simulator commands: power fail | power restore | set REG VALUE | get REG | fault timeout|crc|delay MS|exception CODE|none | quit"
build/bin/qr7215-sim --link "$link" --baud 115200
