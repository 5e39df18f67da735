#!/bin/sh
# Installs the build directory $1 into a scratch root and checks the systemd unit there.
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
