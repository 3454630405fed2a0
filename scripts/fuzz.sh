#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each in turn for SECONDS (default
# 60): the quote/split round trip of command texts and the expansion of
# wrapper variables. The corpora grow in build/fuzz/corpus/<target>; a
# finding is saved in build/fuzz/findings and fails the run.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
seconds=${1:-60}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
. scripts/packages.sh

ensure_packages cmake make clang libclang-rt-14-dev

targets="quote_split_fuzz wrapper_vars_fuzz"
cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DBRUMLET_FUZZ=ON -DBRUMLET_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# shellcheck disable=SC2086
cmake --build build/fuzz -j2 --target $targets

mkdir -p build/fuzz/findings
for target in $targets; do
    echo "== $target for $seconds s"
    mkdir -p "build/fuzz/corpus/$target"
    "build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -dict="tests/fuzz/$target.dict" -artifact_prefix="build/fuzz/findings/$target-" \
        "build/fuzz/corpus/$target"
done
