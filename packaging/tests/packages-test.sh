#!/usr/bin/env bash
# Tries the Debian packages as a shop or an integrator would: builds them from the build folder
# (or $VARNEL_BUILD_DIR), checks them with lintian, installs them with apt-get, runs the
# service's start command as its user on its state folder, runs the installed program as an
# ordinary user, builds a host program against the installed Quillset package, runs every
# program's --help and opens the manual pages. Then it purges the packages and everything
# the installation brought with it, and removes the service user if it made it.
# Needs root (apt-get, the service user); re-runs itself with sudo otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VARNEL_BUILD_DIR:-$root/build}
if [ "$(id -u)" -ne 0 ]; then
    exec sudo --preserve-env=VARNEL_BUILD_DIR bash "$0" "$@"
fi
export DEBIAN_FRONTEND=noninteractive
ours=(varnelpayment libquillset1 libquillset-dev)
programs=(varnelpayment varnel-client varnel-pad varnel-pinpad)
state=/var/lib/varnelpayment

failures=0
fail() { echo "packages-test: FAIL: $*" >&2; failures=$((failures + 1)); }
note() { echo "packages-test: $*"; }

installed_packages() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '/^ii/ { print $2 }' | sort; }

# Waits up to ten seconds for a command to succeed.
await() {
    for _ in $(seq 100); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# A free loopback port, found by the kernel.
free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

work=$(mktemp -d)
server_pid=
user_existed=no
getent passwd varnelpayment > /dev/null && user_existed=yes
# Leftovers of an earlier run that ended half-way are no part of this one.
for p in "${ours[@]}"; do
    dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2> /dev/null | grep -q '^i' &&
        apt-get purge -y -qq "$p" > /dev/null
done
installed_packages > "$work/before"

cleanup() {
    [ -z "$server_pid" ] || kill "$server_pid" 2> /dev/null || true
    local present=()
    for p in "${ours[@]}"; do
        dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2> /dev/null | grep -q '^[ic]' && present+=("$p")
    done
    [ ${#present[@]} -eq 0 ] || apt-get purge -y -qq "${present[@]}" > /dev/null || true
    # What apt-get installed for them goes too.
    installed_packages > "$work/after-cleanup"
    mapfile -t extra < <(comm -13 "$work/before" "$work/after-cleanup")
    [ ${#extra[@]} -eq 0 ] || apt-get purge -y -qq "${extra[@]}" > /dev/null || true
    if [ "$user_existed" = no ] && getent passwd varnelpayment > /dev/null; then
        userdel varnelpayment 2> /dev/null || true
        getent group varnelpayment > /dev/null && groupdel varnelpayment 2> /dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# 1. The packages, and what lintian says of them (an error fails).
rm -f "$build"/*.deb
cmake --build "$build" --target package > "$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    fail "the packages cannot be built"
    exit 1
}
debs=()
for p in "${ours[@]}"; do
    deb=$(ls "$build/${p}"_*.deb 2> /dev/null | head -n 1)
    [ -n "$deb" ] || { fail "no package $p"; continue; }
    debs+=("$deb")
done
[ ${#debs[@]} -eq ${#ours[@]} ] || exit 1
note "lintian:"
lintian --fail-on error --tag-display-limit 0 "${debs[@]}" || fail "lintian reports an error"

# 2. Installed as a user would, with the dependencies apt-get finds for them.
apt-get install -y -qq "${debs[@]}" > "$work/install.log" 2>&1 || {
    cat "$work/install.log" >&2
    fail "apt-get cannot install the packages"
    exit 1
}
for path in /usr/bin/varnelpayment /usr/bin/varnel-client /usr/bin/varnel-pad \
    /usr/bin/varnel-pinpad /usr/lib/systemd/system/varnelpayment.service \
    /usr/share/applications/varnelpayment.desktop \
    /usr/share/icons/hicolor/128x128/apps/varnelpayment.png \
    /usr/share/doc/varnelpayment/copyright \
    /usr/share/doc/varnelpayment/varnelpayment-autostart.desktop \
    /usr/include/quillset/sigcontrol.h /usr/share/quillset/quillset.tlb; do
    [ -e "$path" ] || fail "not installed: $path"
done
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
soname=$(readelf -d "/usr/lib/$multiarch/libquillset.so.1" 2> /dev/null |
    sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libquillset.so.1 ] || fail "libquillset.so.1 has the SONAME '$soname'"
plugin=$(dpkg -L libquillset-dev | grep '/qt6/plugins/designer/.*\.so$' || true)
[ -n "$plugin" ] || fail "no designer plugin in Qt's designer folder"
[ -z "$plugin" ] || [[ $(ldd "$plugin") != *"not found"* ]] || fail "the designer plugin misses a library"
for entry in /usr/share/applications/varnelpayment.desktop \
    /usr/share/doc/varnelpayment/varnelpayment-autostart.desktop; do
    desktop-file-validate "$entry" || fail "$entry is not a valid desktop entry"
done

# The service: its user in dialout, its state folder, not enabled, accepted by systemd.
[[ " $(id -nG varnelpayment 2> /dev/null) " == *" dialout "* ]] || fail "the user varnelpayment is not in dialout"
[ "$(stat -c '%U %a' "$state" 2> /dev/null)" = "varnelpayment 700" ] ||
    fail "$state is not the service user's own: $(stat -c '%U %a' "$state" 2>&1)"
! ls /etc/systemd/system/*.wants/varnelpayment.service > /dev/null 2>&1 ||
    fail "installing enabled the service"
unit=/usr/lib/systemd/system/varnelpayment.service
systemd-analyze verify "$unit" > "$work/verify" 2>&1 && [ ! -s "$work/verify" ] || {
    cat "$work/verify" >&2
    fail "systemd-analyze verify does not accept the installed unit"
}

# 3. The unit's start command as its user and groups, with the unit's umask and a bare
# environment as systemd gives it, on a free port: a VERSION round trip, then the log belongs
# to the service user and is readable by it alone. setpriv runs the program itself, so that
# SIGTERM reaches it and its exit status is its own.
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
port=$(free_port)
control=$(free_port)
runuser -u varnelpayment -- sh -c "umask 077; printf '[Local]\nlocalSockport=$port\n[Simulator]\npadControlPort=$control\n[Tills]\nRequireKey=Y\n' > $state/varnelpayment.ini"
# A till registered by root for the service's folder: the file is the service user's alone.
till_key=$(/usr/bin/varnelpayment --home "$state" --add-till "Front Till" | tail -n 1)
[ "$(stat -c '%U %G %a' "$state/varnelpayment.tills" 2> /dev/null)" = "varnelpayment varnelpayment 600" ] ||
    fail "the tills file is $(stat -c '%U %G %a' "$state/varnelpayment.tills" 2>&1), not the service user's alone"
# shellcheck disable=SC2086 # the command line is split as systemd splits it
(umask 077 && exec env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$state" LANG=C.UTF-8 \
    QT_ENABLE_REGEXP_JIT=0 setpriv --reuid=varnelpayment --regid=varnelpayment --init-groups \
    -- $exec_start) > "$work/service.out" 2>&1 &
server_pid=$!
await grep -q 'Listening on port' "$work/service.out" || fail "the service did not start: $(cat "$work/service.out")"
reply=$(/usr/bin/varnel-client --port "$port" 'TRANS=VERSION;' 2>&1 || true)
[ "$reply" = '<VERSION>1.0.0</VERSION>' ] || fail "VERSION answered '$reply'"
# The till's key is read by the service; without it a pad request is refused.
reply=$(/usr/bin/varnel-client --port "$port" "KEY=$till_key;TRANS=QP6100;ACTION=1;" 2>&1 || true)
[ "$reply" = '<QP6100><ERROR>QP6100 Not Setup in Varnel Payment Setup</ERROR></QP6100>' ] ||
    fail "a swipe with the till's key answered '$reply'"
reply=$(/usr/bin/varnel-client --port "$port" 'TRANS=QP6100;ACTION=1;' 2>&1 || true)
[ "$reply" = '<QP6100><ERROR>Not Authorised</ERROR></QP6100>' ] ||
    fail "a swipe without a key answered '$reply'"
# A till paired by a code that root made for the service's folder: the service reads the code
# and registers the till itself.
pairing_code=$(/usr/bin/varnelpayment --home "$state" --pair-till "Back Till" | tail -n 1)
[ "$(stat -c '%U %G %a' "$state/varnelpayment.pairings" 2> /dev/null)" = "varnelpayment varnelpayment 600" ] ||
    fail "the pairings file is $(stat -c '%U %G %a' "$state/varnelpayment.pairings" 2>&1), not the service user's alone"
reply=$(/usr/bin/varnel-client --port "$port" --pair "$pairing_code" 2>&1 || true)
case "$reply" in
"<PAIR><TILL>Back Till</TILL><KEY>"*) ;;
*) fail "pairing with the code answered '$reply'" ;;
esac
/usr/bin/varnelpayment --home "$state" --list-tills | grep -q '^Back Till	added ' ||
    fail "the paired till is not listed: $(/usr/bin/varnelpayment --home "$state" --list-tills 2>&1)"
kill -TERM "$server_pid"
status=0
wait "$server_pid" || status=$?
server_pid=
[ "$status" -eq 0 ] || fail "the service ended with status $status: $(cat "$work/service.out")"
log=$state/varnelpayment.log
[ "$(stat -c '%U %G %a' "$log" 2> /dev/null)" = "varnelpayment varnelpayment 600" ] ||
    fail "the service's log is $(stat -c '%U %G %a' "$log" 2>&1), not the service user's alone"
grep -q 'Application Closed' "$log" 2> /dev/null || fail "the service's log does not end cleanly"

# 4. The installed program without --home: this user's data folder, made owner-only; nothing
# beside the program.
home=$work/home
mkdir -p "$home"
help=$(env -u XDG_DATA_HOME HOME="$home" /usr/bin/varnelpayment --help | tr -s ' \n' '  ')
[[ $help == *" $home/.local/share/varnelpayment (this user's data folder"* ]] ||
    fail "--help does not name the data folder: $help"
env -u XDG_DATA_HOME HOME="$home" /usr/bin/varnelpayment --headless > "$work/user.out" 2>&1 &
server_pid=$!
folder=$home/.local/share/varnelpayment
await grep -q 'Program folder\|cannot listen' "$work/user.out" || fail "the program did not start: $(cat "$work/user.out")"
kill -TERM "$server_pid" 2> /dev/null || true
wait "$server_pid" 2> /dev/null || true
server_pid=
[ "$(stat -c '%a' "$folder" 2> /dev/null)" = 700 ] || fail "$folder is not made owner-only"
[ -s "$folder/varnelpayment.log" ] || fail "no log in $folder"
ls /usr/bin/varnelpayment.* /usr/bin/signatures > /dev/null 2>&1 && fail "files written beside /usr/bin/varnelpayment"

# 5. A host program built against the installed Quillset package alone.
cmake -S "$root/packaging/tests/quillset-host" -B "$work/host" -G Ninja > "$work/host.log" 2>&1 &&
    cmake --build "$work/host" >> "$work/host.log" 2>&1 || {
    cat "$work/host.log" >&2
    fail "a host cannot be built with find_package(Quillset)"
}
if [ -x "$work/host/quillset-host" ]; then
    # /lib is /usr/lib on a merged-/usr system: either name is the installed library.
    deps=$(ldd "$work/host/quillset-host")
    grep -Eq "libquillset\.so\.1 => (/usr)?/lib/$multiarch/libquillset\.so\.1 " <<< "$deps" ||
        fail "the host does not load the installed library: $deps"
    QT_QPA_PLATFORM=offscreen "$work/host/quillset-host" || fail "the host program failed"
fi

# 6. Every program's --help and manual page.
for program in "${programs[@]}"; do
    usage=$("/usr/bin/$program" --help 2>&1 || echo "(exit status $?)")
    [[ $usage == "Usage: /usr/bin/$program "* && $usage != *"(exit status"* ]] ||
        fail "$program --help prints no usage: $usage"
    page=$(man -w "$program" 2> /dev/null || true)
    [[ $page == /usr/share/man/man1/$program.1.gz ]] || fail "no manual page for $program: '$page'"
    [ -z "$page" ] || [[ $(man "$program" 2> /dev/null) == *"$program - "* ]] ||
        fail "man $program shows no page"
done

# 7. Removing keeps the state folder; purging deletes it and the programs.
apt-get remove -y -qq varnelpayment > /dev/null
[ -f "$log" ] || fail "removing the package deleted the service's log"
[ -f "$state/varnelpayment.tills" ] || fail "removing the package deleted the tills file"
[ ! -e /usr/bin/varnelpayment ] || fail "removing left the program"
apt-get purge -y -qq "${ours[@]}" > /dev/null
for path in "$state" /usr/bin/varnelpayment "$unit" /usr/include/quillset \
    "/usr/lib/$multiarch/libquillset.so.1"; do
    [ ! -e "$path" ] || fail "purging left $path"
done

if [ "$failures" -gt 0 ]; then
    echo "packages-test: $failures failed" >&2
    exit 1
fi
note "all checks passed"
