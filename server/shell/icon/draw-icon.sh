#!/usr/bin/env bash
# Redraws the program's icon into server/shell/icon/varnelpayment.png with the build's drawing
# program. Usage: server/shell/icon/draw-icon.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-${VARNEL_BUILD_DIR:-$root/build}}
cmake --build "$build" --target varnelpayment-drawicon
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bin/varnelpayment-drawicon" \
    "$root/server/shell/icon/varnelpayment.png"
