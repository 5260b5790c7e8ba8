#!/usr/bin/env bash
# Installs what the build needs, then configures and builds into build/ (or $VARNEL_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEL_BUILD_DIR:-$root/build}

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} "$@"
cmake --build "$build" --parallel "$(nproc)"
