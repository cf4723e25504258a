#!/usr/bin/env bash
# The one command that proves the project: checks the folders' layering,
# installs what is missing, configures, builds, runs every test under Wine,
# then fuzzes the image parser natively for a bounded time.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KRVN_BUILD_DIR:-$root/build}
export KRVN_BUILD_DIR=$build
jobs=$(nproc 2>/dev/null || echo 2)

# The folders' layering first: it needs nothing installed and fails fast.
"$root/scripts/layers.sh"

"$root/scripts/setup.sh"
# A new build tree is made for Ninja, which keeps both cores busy across
# targets; an existing one keeps the generator it was made with.
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}

start=$(date +%s)
mkdir -p "$build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 \
    || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j"$jobs"
echo "build: $(( $(date +%s) - start )) s"

start=$(date +%s)
rc=0
ctest --test-dir "$build" --output-on-failure --timeout 900 || rc=$?
echo "tests: $(( $(date +%s) - start )) s"

# One closing line for the whole run, after the fuzzer's own output.
total=$(ctest --test-dir "$build" -N | awk '/Total Tests:/ { print $3 }')
failed=0
if [ $rc -ne 0 ]; then
    failed=$(wc -l <"$build/Testing/Temporary/LastTestsFailed.log" 2>/dev/null || echo "$total")
    echo "ctest: $(( total - failed )) passed, $failed failed"
    exit $rc
fi

if [ -f "$root/fuzz/CMakeLists.txt" ]; then
    "$root/scripts/fuzz.sh" "${KRVN_FUZZ_SECONDS:-60}"
fi
echo "ctest: $total passed, 0 failed"
