#!/usr/bin/env bash
# Sets up, builds and starts the server headless on a simulated pad, with its program folder
# in a fresh folder. A simulated 1000SE PIN pad (varnel-pinpad) runs on a pseudo-terminal in that
# folder as COM1, with the 1000SE box ticked, and stops when the server ends. Extra arguments go
# to the server (see build/bin/varnelpayment --help).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEL_BUILD_DIR:-$root/build}

# Only what runs here and the client for a first request: not the tests and benchmarks.
VARNEL_TARGETS="varnelpayment varnel-pinpad varnel-client" bash "$root/scripts/build.sh"
home=$(mktemp -d -t varnelpayment.XXXXXX)

"$build/bin/varnel-pinpad" --link "$home/pinpad" &
pinpad=$!
trap 'kill "$pinpad" 2>/dev/null || true; wait "$pinpad" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -L "$home/pinpad" ] && break
  kill -0 "$pinpad" 2>/dev/null || { echo "run.sh: varnel-pinpad did not start" >&2; exit 1; }
  sleep 0.1
done

cat > "$home/varnelpayment.ini" <<INI
[1000SE]
1000SEDevice=1
1000SECommPort=1
[SerialPorts]
COM1=$home/pinpad
INI
chmod 600 "$home/varnelpayment.ini"

status=0
"$build/bin/varnelpayment" --headless --simulate --home "$home" "$@" || status=$?
exit "$status"
