#!/bin/sh
# Installs the build directory $1 into a scratch root and checks the systemd units there:
# the hub's, and the station's where the build has it.
set -eu
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR="$root" cmake --install "$1" --prefix /usr >/dev/null
[ -x "$root/usr/sbin/bw-selftest" ] || { echo "no /usr/sbin/bw-selftest"; exit 1; }
unit="$root/usr/lib/systemd/system/bw-selftest.service"
grep -qx 'ExecStart=/usr/sbin/bw-selftest' "$unit"
# Verified against this machine's units, with the program where the scratch root has it.
# The units it is ordered after need not exist on every hub; everything else must verify.
mkdir "$root/check"
sed "s|=/usr/sbin/|=$root/usr/sbin/|" "$unit" > "$root/check/bw-selftest.service"
systemd-analyze verify "$root/check/bw-selftest.service" 2>&1 |
  grep -v -e 'zigbee-svc.service' -e 'daemontools.service' | tee "$root/findings"
[ ! -s "$root/findings" ]

unit="$root/usr/lib/systemd/system/bw-station.service"
[ -f "$unit" ] || exit 0
grep -qx 'ExecStart=/usr/bin/bw-station run --db /var/lib/bw-station/station.db --config /etc/bw-station/fixtures.conf' "$unit"
grep -qx 'StateDirectory=bw-station' "$unit"
[ -f "$root/etc/bw-station/fixtures.conf" ]
sed "s|=/usr/bin/|=$root/usr/bin/|" "$unit" > "$root/check/bw-station.service"
systemd-analyze verify "$root/check/bw-station.service" 2>&1 | tee "$root/findings"
[ ! -s "$root/findings" ]
