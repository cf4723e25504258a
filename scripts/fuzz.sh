#!/usr/bin/env bash
# Builds the configuration code natively with clang, libFuzzer and the
# address and undefined-behaviour sanitizers, runs its unit tests under the
# sanitizers, then fuzzes the server-list image code for the given seconds
# (default 60) on a copy of the committed seed corpus. Exits non-zero on a
# finding; the input that caused it is kept in the build folder.
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KRVN_BUILD_DIR:-$root/build}-fuzz

mkdir -p "$build"
cmake -S "$root/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >"$build/configure.log" 2>&1 \
    || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j"${KRVN_JOBS:-2}"

"$build/unit_config_native" --gtest_brief=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$build/findings"
cp "$root/fuzz/corpus/"* "$work/corpus/"

log="$build/image_fuzzer.log"
rc=0
"$build/image_fuzzer" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$build/findings/" "$work/corpus" >"$log" 2>&1 || rc=$?

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
if [ $rc -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzz: FINDING after ${runs:-?} executions; inputs in $build/findings/"
    exit $rc
fi
echo "fuzz: ${runs:-0} executions in ${seconds} s, ${rate:-0} per second, no finding"
