#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz/ and runs them one after the other on their committed starting inputs, for the
# given number of seconds in all (default 60), shared equally.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEL_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-60}
targets=(requestparser logentry)

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DVARNEL_BUILD_FUZZERS=ON -DVARNEL_BUILD_TESTS=OFF \
    -DVARNEL_BUILD_CONTROLS=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" > /dev/null
cmake --build "$build" --target "${targets[@]/%/_fuzz}" --parallel "$(nproc)"

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
