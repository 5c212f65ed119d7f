#!/usr/bin/env bash
# systemd-analyze verify on both units of qr7215ctl monitor, with ExecStart
# pointing at the built executable (verify wants it to exist).
#   tst_systemdunits.sh SOURCE_DIR QR7215CTL
set -uo pipefail
src=${1:?usage: tst_systemdunits.sh SOURCE_DIR QR7215CTL}
ctl=${2:?usage: tst_systemdunits.sh SOURCE_DIR QR7215CTL}
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is not installed"; exit 77; }
work=$(mktemp -d /tmp/qr7215-units-XXXXXX) || exit 1
trap 'rm -rf "$work"' EXIT
failed=0
for unit in qr7215-monitor.service user/qr7215-monitor.service; do
    mkdir -p "$work/$(dirname "$unit")"
    sed "s|@QR7215CTL@|$ctl|" "$src/integrations/systemd/$unit" > "$work/$unit"
    scope=--system
    [[ $unit == user/* ]] && scope=--user
    # Verify also loads the units it names (multi-user.target...), which a
    # container may lack; only what it says about ours counts.
    # The user manager wants a runtime folder of its own.
    mkdir -p -m 700 "$work/run"
    out=$(cd "$work/$(dirname "$unit")" && XDG_RUNTIME_DIR=$work/run \
          timeout 30 systemd-analyze $scope verify "./$(basename "$unit")" 2>&1)
    ours=$(grep -F "qr7215-monitor.service" <<<"$out" | grep -v -e 'Cannot add dependency')
    if [ -n "$ours" ] || grep -q "^Failed to initialize manager" <<<"$out" \
       || ! grep -q "^ExecStart=$ctl " "$work/$unit"; then
        echo "FAIL: $unit"; echo "$out"; failed=1
    else
        echo "ok: $unit"
    fi
done
exit $failed
