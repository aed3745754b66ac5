#!/usr/bin/env bash
# quillwave-geo's units and maintainer scripts, on a machine without systemd
# as PID 1: systemd-analyze checks the units (and the service's exposure),
# and the scripts run against stand-in deb-systemd-helper, deb-systemd-invoke
# and systemctl that log their calls, in a root of their own (DPKG_ROOT).
#   service_package_test.sh SOURCE_DIR QUILLWAVE_GEO
set -euo pipefail
source_dir=$1
program=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
expect() {  # what, wanted, got
  if [[ "$2" == "$3" ]]; then echo "ok: $1"; else echo "FAILED: $1"$'\n'"wanted: $2"$'\n'"got:    $3"; failures=$((failures + 1)); fi
}

# --- The units, in a root that holds the program and systemd's targets.
units=$work/root/lib/systemd/system
mkdir -p "$units" "$work/root/usr/sbin" "$work/root/bin"
cp /lib/systemd/system/*.target "$units/"
cp "$source_dir"/packaging/geo/quillwave-geo.{service,path} "$units/"
cp "$program" "$work/root/usr/sbin/quillwave-geo"
cp /bin/kill "$work/root/bin/kill"
expect "systemd-analyze verify" "" \
  "$(timeout 60 systemd-analyze verify --man=no --root="$work/root" "$units/quillwave-geo.service" "$units/quillwave-geo.path" 2>&1)"
exposure=$(timeout 60 systemd-analyze security --offline=yes --root="$work/root" quillwave-geo.service 2>&1 |
  sed -n 's/.*Overall exposure level for quillwave-geo.service: \([0-9.]*\).*/\1/p')
expect "exposure $exposure at most 2.0" "yes" "$(awk -v e="$exposure" 'BEGIN { print (e != "" && e <= 2.0) ? "yes" : "no" }')"

# --- The maintainer scripts.
mkdir -p "$work/bin"
cat >"$work/bin/standin" <<'STANDIN'
#!/bin/sh
echo "$(basename "$0") $*" >>"$CALLS"
[ "$*" != "--quiet was-enabled quillwave-geo.service" ] || exit "${WAS_ENABLED:-0}"
[ "$*" != "--quiet was-enabled quillwave-geo.path" ] || exit "${WAS_ENABLED:-0}"
STANDIN
chmod +x "$work/bin/standin"
for name in deb-systemd-helper deb-systemd-invoke systemctl; do ln -s standin "$work/bin/$name"; done
target=$work/target
mkdir -p "$target/run/systemd/system" "$target/usr/bin"
ln -s "$work/bin/deb-systemd-helper" "$target/usr/bin/deb-systemd-helper"
run() {  # script, arguments...: the calls it made, one a line
  local script=$1
  shift
  : >"$work/calls"
  CALLS=$work/calls DPKG_ROOT=$target PATH="$work/bin:$PATH" timeout 30 sh "$source_dir/packaging/geo/debian/$script" "$@"
  cat "$work/calls"
}
enable_calls="deb-systemd-helper unmask quillwave-geo.service
deb-systemd-helper --quiet was-enabled quillwave-geo.service
deb-systemd-helper enable quillwave-geo.service
deb-systemd-helper unmask quillwave-geo.path
deb-systemd-helper --quiet was-enabled quillwave-geo.path
deb-systemd-helper enable quillwave-geo.path
systemctl --system daemon-reload"
expect "install: enabled and started" "$enable_calls
deb-systemd-invoke start quillwave-geo.service quillwave-geo.path" "$(run postinst configure)"
expect "install: folders" "700 755" "$(stat -c %a "$target/etc/quillwave-geo" "$target/var/lib/quillwave-geo" | tr '\n' ' ' | sed 's/ $//')"
expect "upgrade: restarted on the new binary" "$enable_calls
deb-systemd-invoke restart quillwave-geo.service quillwave-geo.path" "$(run postinst configure 0.31.0)"
expect "upgrade: a unit the operator disabled stays so" "deb-systemd-helper unmask quillwave-geo.service
deb-systemd-helper --quiet was-enabled quillwave-geo.service
deb-systemd-helper update-state quillwave-geo.service" "$(WAS_ENABLED=1 run postinst configure 0.31.0 | head -3)"
expect "upgrade: not stopped before" "" "$(run prerm upgrade 0.33.0)"
expect "remove: stopped" "deb-systemd-invoke stop quillwave-geo.path quillwave-geo.service" "$(run prerm remove)"
expect "remove: masked" "systemctl --system daemon-reload
deb-systemd-helper mask quillwave-geo.service quillwave-geo.path" "$(run postrm remove)"
touch "$target/etc/quillwave-geo/api-keys"
expect "purge: enablement removed" "deb-systemd-helper purge quillwave-geo.service quillwave-geo.path
deb-systemd-helper unmask quillwave-geo.service quillwave-geo.path" "$(run postrm purge)"
expect "purge: the operator's files kept, empty folders gone" "api-keys" \
  "$(ls "$target/etc/quillwave-geo"; ls -d "$target/var/lib/quillwave-geo" 2>/dev/null)"
rm -rf "$target/run/systemd"
expect "install without systemd running: enabled, nothing started" "$(head -6 <<<"$enable_calls")" \
  "$(run postinst configure)"

echo "service package check: $failures failed"
((failures == 0))
