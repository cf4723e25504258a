#!/usr/bin/env bash
# Builds and runs the alarm benchmarks under Wine in the build's prefix.
#   bench/run.sh [build dir] [--only alarm_bench|button_bench] [--rounds R]
#                [--rpc-calls M] [--ticks T]
# button_bench needs the virtual red button, whose library must be in the
# prefix's processes from the first on: the prefix is restarted with it.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
# Absolute: the programs turn the button's state folder into a Wine path.
build=$(realpath -m "${1:-$root/build}")
shift || true
# --only runs one of the two, so that each can have counts and a log of its
# own (bench/report.sh).
benches="alarm_bench button_bench"
if [ "${1:-}" = --only ]; then
    case ${2:-} in
    alarm_bench | button_bench) benches=$2 ;;
    *)
        echo "--only takes alarm_bench or button_bench" >&2
        exit 2
        ;;
    esac
    shift 2
fi
export KRVN_BUILD_DIR=$build
export KRVN_VBUTTON_LIB=$build/vbutton/libvbutton.so
export KRVN_VBUTTON_STATE=$build/vbutton/state
export KRVN_VBUTTON_DEVICE=$KRVN_VBUTTON_STATE/port
export KRVN_VBUTTON_PORT=COM12
cmake --build "$build" -j2 --target alarm_bench button_bench vbutton_preload >/dev/null
"$root/scripts/wine-prefix.sh" down >/dev/null
"$root/scripts/wine-prefix.sh" up >/dev/null
vbutton=$root/tools/virtual_button/vbutton
"$vbutton" up "$KRVN_VBUTTON_PORT" >/dev/null
. "$root/scripts/wine-env.sh"
# Output goes to a file first: processes Wine starts on the way inherit the
# first program's stdout.
run() {
    local out rc=0
    out=$(mktemp)
    wine "$build/bench/$1.exe" "${@:2}" </dev/null >"$out" 2>&1 || rc=$?
    cat "$out"
    rm -f "$out"
    return $rc
}
rc=0
for bench in $benches; do
    run "$bench" "$@" || rc=$?
done
"$vbutton" down
exit $rc
