#!/usr/bin/env bash
# Builds and runs the service benchmark under Wine, in a prefix of its own
# with the virtual red button (see README.md).
#   bench/service_bench.sh [build dir] [--rounds R] [--calls M] [--ticks T]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
# Absolute: the programs turn the button's state folder into a Wine path.
build=$(realpath -m "${1:-$root/build}")
shift || true
export KRVN_BUILD_DIR=$build
export KRVN_WINEPREFIX=$build/bench-prefix
export KRVN_VBUTTON_LIB=$build/vbutton/libvbutton.so
export KRVN_VBUTTON_STATE=$build/bench/vbutton
export KRVN_VBUTTON_DEVICE=$build/bench/vbutton/port
export KRVN_VBUTTON_PORT=COM12
cmake --build "$build" -j2 --target service_bench Tolvane substitute_server vbutton_preload >/dev/null
vbutton=$root/tools/virtual_button/vbutton
# The button's library must be in the prefix's processes from the first on.
"$root/scripts/wine-prefix.sh" down >/dev/null
"$root/scripts/wine-prefix.sh" up >/dev/null
"$vbutton" up $KRVN_VBUTTON_PORT >/dev/null
. "$root/scripts/wine-env.sh"
# Output goes to a file first: processes Wine starts on the way inherit the
# first program's stdout.
out=$(mktemp)
rc=0
wine "$build/bench/service_bench.exe" "$@" </dev/null >"$out" 2>&1 || rc=$?
cat "$out"
rm -f "$out"
"$vbutton" down
"$root/scripts/wine-prefix.sh" down >/dev/null
exit $rc
