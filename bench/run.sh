#!/usr/bin/env bash
# Builds and runs the alarm benchmark under Wine in the build's prefix.
#   bench/run.sh [build dir] [--rounds R] [--rpc-calls M]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
export KRVN_BUILD_DIR=$build
cmake --build "$build" -j2 --target alarm_bench >/dev/null
"$root/scripts/wine-prefix.sh" up >/dev/null
. "$root/scripts/wine-env.sh"
# Output goes to a file first: processes Wine starts on the way inherit the
# first program's stdout.
out=$(mktemp)
rc=0
wine "$build/bench/alarm_bench.exe" "$@" </dev/null >"$out" 2>&1 || rc=$?
cat "$out"
rm -f "$out"
exit $rc
