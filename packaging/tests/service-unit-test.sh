#!/usr/bin/env bash
# Checks the service unit: systemd accepts it, it runs the installed program as the service
# user with its state folder, and its sandbox rates 2.5 or lower while the serial ports and
# the network stay usable. Prints the exposure figure.
#   service-unit-test.sh UNIT PROGRAM MANDIR
# PROGRAM stands in for the installed program (systemd checks that ExecStart can run), MANDIR
# holds the built manual pages (systemd checks that Documentation= names one).
set -euo pipefail
unit=$1 program=$2 mandir=$3
limit=2.5
failures=0
fail() { echo "service-unit-test: $*" >&2; failures=$((failures + 1)); }

# What the service must run and how.
for line in \
    'ExecStart=/usr/bin/varnelpayment --headless --home /var/lib/varnelpayment' \
    'User=varnelpayment' 'SupplementaryGroups=dialout' 'StateDirectory=varnelpayment' \
    'Restart=on-failure' 'WantedBy=multi-user.target' 'Type=notify' 'WatchdogSec=30'; do
    grep -qxF -- "$line" "$unit" || fail "the unit lacks the line: $line"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# verify reads the unit under its own name; the program is the built one, so that systemd's
# check that ExecStart can run looks at a real file. Any message counts as a fault.
sed "s|^ExecStart=/usr/bin/varnelpayment |ExecStart=$program |" "$unit" \
    > "$work/varnelpayment.service"
if ! MANPATH=$mandir systemd-analyze verify "$work/varnelpayment.service" > "$work/verify" 2>&1 ||
    [ -s "$work/verify" ]; then
    fail "systemd-analyze verify does not accept the unit:"
    cat "$work/verify" >&2
fi

cp "$unit" "$work/security.service"
systemd-analyze security --offline=true --no-pager "$work/security.service" > "$work/security" 2>&1 ||
    true
figure=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' "$work/security")
if [ -z "$figure" ]; then
    fail "no exposure figure from systemd-analyze security:"
    cat "$work/security" >&2
else
    echo "service-unit-test: exposure $figure (at most $limit)"
    awk -v f="$figure" -v l="$limit" 'BEGIN { exit !(f <= l) }' ||
        fail "exposure $figure is above $limit"
fi

# The sandbox must leave what the server needs: its three kinds of serial port, read and
# write, and Internet sockets with the host's network.
device_line=$(grep -F 'DeviceAllow=' "$work/security" || true)
for device in char-ttyS:rw char-ttyUSB:rw char-ttyACM:rw; do
    [[ $device_line == *"$device"* ]] || fail "serial devices $device are not allowed: $device_line"
done
grep -q '✗ RestrictAddressFamilies=~AF_(INET|INET6)' "$work/security" ||
    fail "Internet sockets are not allowed"
grep -q '✗ PrivateNetwork=' "$work/security" || fail "the service has no network"

[ "$failures" -eq 0 ]
