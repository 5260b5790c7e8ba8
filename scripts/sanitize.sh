#!/usr/bin/env bash
# Builds the server, its tools, their tests and the fuzz targets with AddressSanitizer (with
# LeakSanitizer) and UndefinedBehaviorSanitizer (clang) in build-asan/ and runs the unit and
# end-to-end tests there; the end-to-end tests start the programs of that build. Any sanitizer
# report fails the run, whether it comes from a test program or from a server or tool that a
# test started. With --build-only it builds and runs nothing (scripts/fuzz.sh uses that).
#
# The whole tree is also instrumented for libFuzzer (-fsanitize=fuzzer-no-link), so the fuzz
# targets are built once, here, from the same objects as the tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEL_ASAN_BUILD_DIR:-$root/build-asan}
reports=$build/sanitizer-reports
build_only=false
[ "${1:-}" = "--build-only" ] && build_only=true

bash "$root/scripts/setup.sh"

# Reports go to files named after the process, so that those of servers and tools, whose
# output the tests keep to themselves, are seen too. The first report ends the process.
# (clang, not gcc: gcc's separate UBSan runtime writes its reports to standard error only.)
# Leak reports count too: no leak has needed a suppression so far.
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$reports/report"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/report"

# Prints every report; fails when there is one.
check_reports() {
    local count=0
    for report in "$reports"/*; do
        [ -e "$report" ] || continue
        count=$((count + 1))
        echo "=== sanitizer report $(basename "$report")" >&2
        cat "$report" >&2
    done
    [ "$count" -eq 0 ]
}

# Only what the tests and the fuzz targets need: no controls (a separate library with its own
# tests in the normal build), no benchmarks.
start=$SECONDS
# For ccache, as in build.sh: paths in the tree count as relative, resources carry a fixed date.
export CCACHE_BASEDIR=$root
export QT_RCC_SOURCE_DATE_OVERRIDE=1
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache \
    -DVARNEL_BUILD_CONTROLS=OFF -DVARNEL_BUILD_BENCHMARKS=OFF -DVARNEL_BUILD_FUZZERS=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer" \
    > /dev/null
if ! cmake --build "$build" --parallel "$(nproc)"; then
    check_reports || true
    exit 1
fi
echo "sanitize.sh: build took $((SECONDS - start)) s"
$build_only && exit 0

status=0
start=$SECONDS
# Each test program lists its tests when CTest starts it, not at build time.
# The console output is kept in the build folder: scripts/test.sh repeats its failures at the end.
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure --timeout 300 -j 2 2>&1 |
    tee "$build/ctest-output.log" || status=$?
echo "sanitize.sh: tests took $((SECONDS - start)) s"
if ! check_reports; then
    echo "sanitizers: the reports above fail the run" >&2
    status=1
fi
exit "$status"
