#!/usr/bin/env bash
# Sets up, builds and runs every test: the fuzz targets for a bounded time,
# the unit and end-to-end tests through CTest, the Debian packages installed, tried and
# purged, then the unit and end-to-end tests again on a build with
# AddressSanitizer and UndefinedBehaviorSanitizer. Runs every step once the build stands and
# prints how long each took; exits non-zero when any failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEL_BUILD_DIR:-$root/build}

failed=()
# Runs one step and says how long it took; a failed step is remembered.
step() {
    local name=$1
    shift
    local start=$SECONDS status=0
    "$@" || status=$?
    echo "test.sh: $name took $((SECONDS - start)) s$([ "$status" -eq 0 ] || echo ", failed ($status)")"
    [ "$status" -eq 0 ] || failed+=("$name")
}

step build bash "$root/scripts/build.sh"
[ ${#failed[@]} -eq 0 ] || exit 1
step fuzz bash "$root/scripts/fuzz.sh" "${VARNEL_FUZZ_SECONDS:-60}"
# The widget tests and the demo's screenshot need no display: Qt draws off screen.
step tests env QT_QPA_PLATFORM=offscreen \
    ctest --test-dir "$build" --output-on-failure --timeout 300 -j 2
# The Debian packages, installed, tried and purged again.
step packages bash "$root/packaging/tests/packages-test.sh"
step sanitizer-tests bash "$root/scripts/sanitize.sh"

if [ ${#failed[@]} -gt 0 ]; then
    echo "test.sh: failed: ${failed[*]}" >&2
    exit 1
fi
