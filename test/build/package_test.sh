#!/bin/sh
# Builds the Debian packages of the build directory $1 into a scratch directory and checks
# their contents and metadata against architecture $2: the hub's, and the station's where
# $3 is ON.
set -eu
build=$1 arch=$2 station=${3:-OFF}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Two packages of the same build and time stamp must be the same bytes.
export SOURCE_DATE_EPOCH=1700000000
cpack --config "$build/CPackConfig.cmake" -B "$scratch" >/dev/null
mkdir "$scratch/again"
cpack --config "$build/CPackConfig.cmake" -B "$scratch/again" >/dev/null
for made in "$scratch"/*.deb; do
  cmp "$made" "$scratch/again/$(basename "$made")" || { echo "two builds of $made differ"; exit 1; }
done
deb="$scratch/bw-selftest_0.1.0_$arch.deb"
[ -f "$deb" ] || { echo "no $(basename "$deb") but:" "$scratch"/*.deb; exit 1; }

# The program, the record tool, the unit, the run scripts and Debian's two documents with
# their modes, and nothing else: no hook, marker or model file.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $6 }' > "$scratch/files"
cat > "$scratch/expected" <<'LIST'
-rwxr-xr-x ./usr/sbin/bw-selftest
-rwxr-xr-x ./usr/bin/bw-selftest-record
-rw-r--r-- ./usr/lib/systemd/system/bw-selftest.service
-rwxr-xr-x ./usr/share/bw-selftest/daemontools/run
-rwxr-xr-x ./usr/share/bw-selftest/daemontools/log/run
-rw-r--r-- ./usr/share/doc/bw-selftest/copyright
-rw-r--r-- ./usr/share/doc/bw-selftest/changelog.gz
-rw-r--r-- ./usr/share/bw-selftest/record.schema.json
LIST
sort "$scratch/files" > "$scratch/files.sorted"
sort "$scratch/expected" | diff -u - "$scratch/files.sorted"

dpkg-deb -I "$deb" > "$scratch/info"
for field in "Package: bw-selftest" "Version: 0.1.0" "Architecture: $arch" \
             "Depends: libc6 (>= 2.34), libgcc-s1 (>= 3.5), libstdc++6 (>= 5)" "Section: admin"; do
  grep -qx " $field" "$scratch/info" || { echo "missing \"$field\" in:"; cat "$scratch/info"; exit 1; }
done
# Installing runs no maintainer script.
if dpkg-deb -I "$deb" | grep -Eq ' (pre|post)(inst|rm) '; then echo "has a maintainer script"; exit 1; fi
# lintian: no error, and no warning but the ones the README explains.
if command -v lintian >/dev/null; then
  lintian --no-tag-display-limit "$deb" 2>/dev/null | sed 's/ \[.*//' | sort -u > "$scratch/lintian"
  printf 'W: bw-selftest: no-manual-page\n' | diff -u - "$scratch/lintian"
fi
echo "$deb: OK"

[ "$station" = ON ] || exit 0
deb="$scratch/bw-station_0.1.0_$arch.deb"
[ -f "$deb" ] || { echo "no $(basename "$deb") but:" "$scratch"/*.deb; exit 1; }
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $6 }' | sort > "$scratch/files"
sort > "$scratch/expected" <<'LIST'
-rwxr-xr-x ./usr/bin/bw-station
-rw-r--r-- ./usr/lib/systemd/system/bw-station.service
-rw-r--r-- ./etc/bw-station/fixtures.conf
-rw-r--r-- ./usr/share/doc/bw-station/copyright
-rw-r--r-- ./usr/share/doc/bw-station/changelog.gz
LIST
diff -u "$scratch/expected" "$scratch/files"
if command -v lintian >/dev/null; then
  lintian --no-tag-display-limit "$deb" 2>/dev/null | sed 's/ \[.*//' | sort -u > "$scratch/lintian"
  printf 'W: bw-station: no-manual-page\n' | diff -u - "$scratch/lintian"
fi
dpkg-deb -I "$deb" > "$scratch/info"
for field in "Package: bw-station" "Architecture: $arch" \
             "Depends: libc6 (>= 2.34), libgcc-s1 (>= 3.5), libstdc++6 (>= 11), libsqlite3-0 (>= 3.35), libcpp-httplib0.11 (>= 0.11.4)"; do
  grep -qx " $field" "$scratch/info" || { echo "missing \"$field\" in:"; cat "$scratch/info"; exit 1; }
done
# The operator's fixtures survive an upgrade; still no maintainer script.
dpkg-deb -I "$deb" conffiles | grep -qx /etc/bw-station/fixtures.conf
if dpkg-deb -I "$deb" | grep -Eq ' (pre|post)(inst|rm) '; then echo "has a maintainer script"; exit 1; fi
echo "$deb: OK"
