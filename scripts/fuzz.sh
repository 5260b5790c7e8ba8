#!/usr/bin/env bash
# Builds the request parser's fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs it for the given number of seconds
# (default 60) on the committed starting inputs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEL_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-60}

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DVARNEL_BUILD_FUZZERS=ON -DVARNEL_BUILD_TESTS=OFF \
    -DVARNEL_BUILD_CONTROLS=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" > /dev/null
cmake --build "$build" --target requestparser_fuzz --parallel "$(nproc)"

# New inputs the run finds go to a scratch folder; the committed starting inputs stay as they are.
# An input that fails is kept in the fuzz build folder, and its bytes are printed.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/bin/requestparser_fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$build/" "$work" "$root/fuzz/corpus/requestparser"
