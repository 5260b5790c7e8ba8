#!/usr/bin/env bash
# Sets up, builds and starts the server headless on a simulated pad, with its program folder
# in a fresh folder. Extra arguments go to the server (see build/bin/varnelpayment --help).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEL_BUILD_DIR:-$root/build}

bash "$root/scripts/build.sh"
home=$(mktemp -d -t varnelpayment.XXXXXX)
exec "$build/bin/varnelpayment" --headless --simulate --home "$home" "$@"
