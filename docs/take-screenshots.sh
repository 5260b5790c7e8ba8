#!/usr/bin/env bash
# Takes the documentation's pictures of the tray program on a desktop of its own (Xvfb,
# openbox and trayer): the settings window, shown by a click on the tray icon, and the About box,
# opened from the icon's pop-up menu. Usage: docs/take-screenshots.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${VARNEL_BUILD_DIR:-$root/build}}
cmake --build "$build" --target varnelpayment

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 10 s for a command to succeed.
wait_for() {
  for _ in $(seq 100); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "take-screenshots: gave up waiting for: $*" >&2
  return 1
}

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The X server picks a free display number and writes it once it is ready.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>/dev/null &
pids+=($!)
wait_for grep -q . "$work/display"
export DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
wait_for wmctrl -m
trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel --height 24 \
  >/dev/null 2>&1 &
pids+=($!)
wait_for xdotool search --onlyvisible --name '^panel$'

mkdir "$work/home"
printf '%s\r\n' '[Local]' "localSockport=$(free_port)" '[FTP]' 'ftpUrl=ftp.example.com' \
  'ftpUsername=counter1' 'ftpPassword=secret' '[QP6100]' 'qp6100Device=1' '[1000SE]' \
  '1000SEDevice=1' '1000SECommPort=1' '1000SEBaudRate=9600' '1000SEParity=N' \
  '1000SEDataBits=8' '1000SEEncryption=DUKPT' '[Simulator]' "padControlPort=$(free_port)" \
  >"$work/home/varnelpayment.ini"
"$build/bin/varnelpayment" --home "$work/home" >/dev/null 2>&1 &
pids+=($!)

# The tray icon's centre, from its place in the tray host's window tree.
icon_centre() {
  xwininfo -root -tree | awk '/\("varnelpayment" "varnelpayment"\)/ && / 22x22/ {
    split($0, parts, "+"); print parts[4] + 11, parts[5] + 11; exit }'
}
icon_shown() { test -n "$(icon_centre)"; }
wait_for icon_shown
sleep 1
read -r x y < <(icon_centre)

xdotool mousemove "$x" "$y"
sleep 0.3
xdotool click 1
wait_for xdotool search --onlyvisible --name '^Varnel Payment$'
window=$(xdotool search --onlyvisible --name '^Varnel Payment$' | head -1)
sleep 0.5
/usr/bin/import -frame -window "$window" "$root/docs/tray-settings-window.png"

xdotool mousemove "$x" "$y"
sleep 0.3
xdotool click 3
sleep 0.5
xdotool key Down Return
wait_for xdotool search --onlyvisible --name '^Copyright$'
about=$(xdotool search --onlyvisible --name '^Copyright$' | head -1)
sleep 0.5
/usr/bin/import -frame -window "$about" "$root/docs/tray-about-box.png"
echo "docs/tray-settings-window.png and docs/tray-about-box.png written"
