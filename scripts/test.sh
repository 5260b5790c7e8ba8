#!/usr/bin/env bash
# Sets up, builds and runs every test: the fuzz targets for a bounded time,
# then the unit and end-to-end tests through CTest. Exits non-zero when either fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEL_BUILD_DIR:-$root/build}

bash "$root/scripts/build.sh"

fuzz_status=0
bash "$root/scripts/fuzz.sh" "${VARNEL_FUZZ_SECONDS:-60}" || fuzz_status=$?
[ "$fuzz_status" -eq 0 ] || echo "fuzz: a fuzz target failed ($fuzz_status)" >&2

# The widget tests and the demo's screenshot need no display: Qt draws off screen.
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure --timeout 300 -j 2
exit "$fuzz_status"
