#!/usr/bin/env bash
# Draws the operators' guide's pictures of the screen pad's forms (padWelcome, padStart, padSig,
# padDisconnect) off screen into docs/. Usage: docs/draw-pad-forms.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${VARNEL_BUILD_DIR:-$root/build}}
cmake --build "$build" --target varnel-drawpadforms
"$build/bin/varnel-drawpadforms" "$root/docs"
