#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit and end-to-end tests through CTest, the Debian
# packages installed, tried and purged, then the unit and end-to-end tests again on a build with
# AddressSanitizer and UndefinedBehaviorSanitizer, then the fuzz targets of that build for a
# bounded time. Runs every step once the build stands and prints how long each took; exits
# non-zero when any failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEL_BUILD_DIR:-$root/build}
asan_build=${VARNEL_ASAN_BUILD_DIR:-$root/build-asan}
# CTest's console output of this run, kept so that the failures can be repeated at the end.
rm -f "$build/ctest-output.log" "$asan_build/ctest-output.log"

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
# The widget tests and the demo's screenshot need no display: Qt draws off screen.
step tests bash -o pipefail -c 'QT_QPA_PLATFORM=offscreen \
    ctest --test-dir "$1" --output-on-failure --timeout 300 -j 2 2>&1 | tee "$1/ctest-output.log"' \
    ctest "$build"
# The Debian packages, installed, tried and purged again.
step packages bash "$root/packaging/tests/packages-test.sh"
step sanitizer-tests bash "$root/scripts/sanitize.sh"
step fuzz bash "$root/scripts/fuzz.sh" "${VARNEL_FUZZ_SECONDS:-60}"
total=$SECONDS
echo "test.sh: all steps took $total s"

if [ ${#failed[@]} -gt 0 ]; then
    for log in "$build/ctest-output.log" "$asan_build/ctest-output.log"; do
        [ -f "$log" ] && grep -q '\*\*\*\|Not Run' "$log" || continue
        echo "test.sh: the tests that failed in $(dirname "$log"):"
        bash "$root/scripts/failed-tests.sh" "$log"
    done
    echo "test.sh: failed: ${failed[*]}" >&2
    exit 1
fi
