#!/usr/bin/env bash
# scripts/chaos.sh SEED MINUTES — the seeded fault campaign (tests/chaos)
# against the real service, for MINUTES of schedule plus a bounded tail.
#
# It builds what it needs, runs in a Wine prefix of its own
# (<build>/chaos-prefix) with a virtual red button of its own on COM12, and
# keeps everything of the run in <build>/chaos-runs/SEED: the campaign's
# output (campaign.out), its step log (steps.log), the service's console
# (tolvane-console.txt), every substitute server's and client's log. The
# same SEED always draws the same schedule. Exit code 0 only when the
# campaign saw no violation. At its end (or on Ctrl-C) it ends the
# campaign, the button and every process of its prefix.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)

usage() {
    echo "usage: $0 SEED MINUTES   (SEED: a number; MINUTES: more than 0, at most 1440)" >&2
    exit 2
}
[ $# -eq 2 ] || usage
seed=$1
minutes=$2
[[ "$seed" =~ ^([0-9]+|0x[0-9a-fA-F]+)$ ]] || usage
[[ "$minutes" =~ ^[0-9]+(\.[0-9]+)?$ ]] || usage
awk -v m="$minutes" 'BEGIN { exit !(m > 0 && m <= 1440) }' || usage

build=${KRVN_BUILD_DIR:-$root/build}
run=$build/chaos-runs/$seed
port=COM12
# Setup, warm-up and the tail take a few minutes at most; past this bound
# the campaign is ended.
bound=$(awk -v m="$minutes" 'BEGIN { printf "%d", m * 60 + 600 }')

# Everything below runs in the campaign's own prefix and with its own
# button, never the tests' ones. The button's library is preloaded from the
# first Wine command on.
export KRVN_BUILD_DIR=$build
export KRVN_SOURCE_DIR=$root
export KRVN_WINEPREFIX=$build/chaos-prefix
export KRVN_VBUTTON_LIB=$build/vbutton/libvbutton.so
export KRVN_VBUTTON_STATE=$build/chaos-vbutton
export KRVN_VBUTTON_DEVICE=$build/chaos-vbutton/port
export KRVN_VBUTTON_PORT=$port
export KRVN_TEST_OUTPUT=$run
export KRVN_CHAOS_SEED=$seed
export KRVN_CHAOS_MINUTES=$minutes
export KRVN_CHAOS_DIR=$run
. "$root/scripts/wine-env.sh"
vbutton=$root/tools/virtual_button/vbutton

say() { echo "chaos: $*"; }

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
    say "configuring $build"
    cmake -S "$root" -B "$build" -G Ninja >"$build.configure.log" 2>&1 ||
        { cat "$build.configure.log"; exit 1; }
fi
say "building"
cmake --build "$build" -j2 --target e2e_chaos Tolvane substitute_server chaos_tray_client \
    vbutton_preload >"$build/chaos-build.log" 2>&1 || { tail -40 "$build/chaos-build.log"; exit 1; }
driver=$(find "$build/tests/chaos" -maxdepth 1 -name e2e_chaos.exe | head -1)
[ -n "$driver" ] || { say "no e2e_chaos.exe in $build/tests/chaos"; exit 1; }

pid=
cleanup() {
    trap - EXIT INT TERM
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    "$vbutton" down >/dev/null 2>&1
    # WINEPREFIX is the campaign's own prefix: this ends only its processes.
    wineserver -k </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -rf "$run"
mkdir -p "$run"
"$root/scripts/wine-prefix.sh" up >/dev/null || { say "no Wine prefix"; exit 1; }
"$vbutton" up $port >/dev/null || { say "the virtual button did not come up"; exit 1; }

say "seed $seed, $minutes minutes of schedule; logs in $run"
# Made before the campaign starts, so tail finds it.
: >"$run/campaign.out"
timeout "$bound" wine "$driver" --gtest_color=no </dev/null >>"$run/campaign.out" 2>&1 &
pid=$!
tail --pid="$pid" -n +1 -f "$run/campaign.out"
wait "$pid"
rc=$?
pid=
[ $rc -eq 124 ] && say "ended after $bound s"
say "exit code $rc; logs in $run"
exit $rc
