#!/usr/bin/env bash
# Installs what the build needs, then configures and builds into build/ (or $VARNEL_BUILD_DIR):
# everything, or only the targets named in $VARNEL_TARGETS (blank-separated).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEL_BUILD_DIR:-$root/build}

bash "$root/scripts/setup.sh"
# ccache keeps compiled files between builds; paths inside the tree count as relative, so a
# fresh clone elsewhere finds what an earlier build compiled.
export CCACHE_BASEDIR=$root
# Qt resources carry a fixed date instead of their files' checkout time, so that the code rcc
# writes for them is the same in every clone and ccache finds it too.
export QT_RCC_SOURCE_DATE_OVERRIDE=1
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache "$@"
targets=()
for target in ${VARNEL_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build "$build" --parallel "$(nproc)" "${targets[@]}"
