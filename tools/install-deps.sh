#!/usr/bin/env bash
# Installs the Debian 12 packages the utility needs to build, run and test.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev libqt5charts5-dev
  libmodbus-dev
  xvfb xauth util-linux procps
  dbus-daemon
  xdotool trayer imagemagick x11-utils
  g++-mingw-w64-x86-64
  clang-14 libclang-rt-14-dev
  lintian desktop-file-utils appstream scdoc librsvg2-bin file
  # tests/nut: Network UPS Tools (upsd, upsc, dummy-ups, generic_modbus) and
  # systemd-analyze for the units.
  nut-server nut-client nut-modbus systemd
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update
# Installing nut-server must not start upsd or a driver that would take a
# serial port: Debian ships nut.conf with MODE=none, and while the packages
# go in, a policy-rc.d (unless the system has one) refuses every service start.
policy=/usr/sbin/policy-rc.d
made_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod 755 "$policy"
  made_policy=1
fi
status=0
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}" || status=$?
[ "$made_policy" = 1 ] && $sudo rm -f "$policy"
exit $status
