#!/usr/bin/env bash
# CTest's emulator: runs one Windows program under Wine in the build's prefix.
# Output goes to a file first: processes that Wine starts on the way inherit
# the first program's stdout and would keep CTest's pipe open.
set -u
. "$(dirname "$0")/wine-env.sh"
out="${KRVN_TEST_OUTPUT:-$KRVN_BUILD_DIR/test-output}"
mkdir -p "$out"
log="$out/$(basename "$1" .exe).$$.log"
wine "$@" </dev/null >"$log" 2>&1
rc=$?
cat "$log"
exit $rc
