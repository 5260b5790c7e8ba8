#!/usr/bin/env bash
# Redraws the controls' pictures into controls/src/pictures with the build's drawing program.
# Usage: controls/pictures/draw-pictures.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-${VARNEL_BUILD_DIR:-$root/build}}
cmake --build "$build" --target quillset-drawpictures
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bin/quillset-drawpictures" \
    "$root/controls/src/pictures"
