#!/usr/bin/env bash
# Runs the fuzz targets (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) one after the
# other on their committed starting inputs, for the given number of seconds in all (default 60),
# shared equally. The targets are built in the sanitizer build (scripts/sanitize.sh), which
# this builds first when it is not up to date.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEL_ASAN_BUILD_DIR:-$root/build-asan}
seconds=${1:-60}
targets=(requestparser logentry pinpadframe sigcomp)

VARNEL_ASAN_BUILD_DIR=$build bash "$root/scripts/sanitize.sh" --build-only > /dev/null

# New inputs a run finds go to a scratch folder; the committed starting inputs stay as they are.
# An input that fails is kept in the fuzz build folder, and its bytes are printed.
share=$(( seconds / ${#targets[@]} ))
[ "$share" -ge 1 ] || share=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "${targets[@]}"; do
    mkdir -p "$work/$target"
    (cd "$work/$target" && "$build/bin/${target}_fuzz" -max_total_time="$share" -max_len=4096 \
        -print_final_stats=1 -artifact_prefix="$build/${target}-" "$work/$target" \
        "$root/fuzz/corpus/$target") || { status=$?; echo "fuzz: ${target}_fuzz failed" >&2; }
done
exit "$status"
