#!/usr/bin/env bash
# Runs the whole system under Wine and shows it working:
#
#   scripts/run.sh          install what is missing, build, prepare a Wine prefix of
#                           its own, bring up the virtual red button, install Tolvane
#                           as a service, start substitute disk servers, list them in
#                           the service, press the button once and show the unmounts
#   scripts/run.sh stop     end everything the last run started
#
# The build directory is $KRVN_BUILD_DIR (default build/); the run keeps its prefix
# in <build>/run-prefix and its logs and process ids in <build>/run.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KRVN_BUILD_DIR:-$root/build}
run=$build/run
port=COM12
password=demo
# Display for the tray program when the caller has none.
xvfb_display=98

# Everything below runs in the run's own prefix, never in the tests' one. The
# virtual button's library is preloaded from the first Wine command on:
# services started later inherit the environment of the prefix's first process.
export KRVN_BUILD_DIR=$build
export KRVN_WINEPREFIX=$build/run-prefix
export KRVN_VBUTTON_LIB=$build/vbutton/libvbutton.so
export KRVN_VBUTTON_STATE=$run/vbutton
export KRVN_VBUTTON_DEVICE=$run/vbutton/port
. "$root/scripts/wine-env.sh"
vbutton=$root/tools/virtual_button/vbutton

say() { echo "run: $*"; }

# The prefix's view of a Unix path.
dos() { echo "Z:$1" | tr / '\\'; }

# Starts a Windows program in the background and notes its pid for "stop".
start_program() {
    local name=$1
    shift
    wine "$@" </dev/null >"$run/logs/$name.out" 2>&1 &
    echo "$! $name" >>"$run/pids"
}

# Waits until a substitute server's log says "ready" and prints its TCP port.
wait_ready() {
    local log=$1 i
    for i in $(seq 200); do
        if grep -q ' ready' "$log" 2>/dev/null; then
            awk '$3 == "listening" && $2 !~ /^ncacn_np/ { n = split($2, a, ":"); print a[n]; exit }' "$log"
            return 0
        fi
        sleep 0.1
    done
    echo "run: $log never said ready" >&2
    return 1
}

stop() {
    if [ -f "$run/pids" ]; then
        if [ -f "$WINEPREFIX/system.reg" ]; then
            wine net stop Tolvane </dev/null >/dev/null 2>&1 || true
        fi
        local pid name
        while read -r pid name; do
            if kill "$pid" 2>/dev/null; then
                say "ended $name ($pid)"
            fi
        done <"$run/pids"
        rm -f "$run/pids"
    fi
    "$vbutton" down || true
    "$root/scripts/xvfb.sh" stop $xvfb_display >/dev/null
    if [ -d "$WINEPREFIX" ]; then
        "$root/scripts/wine-prefix.sh" down >/dev/null
        say "ended the processes of $WINEPREFIX"
    fi
}

if [ "${1:-}" = stop ]; then
    stop
    exit 0
fi

"$root/scripts/setup.sh"
# A new build tree is made for Ninja, which keeps both cores busy across
# targets; an existing one keeps the generator it was made with.
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}
mkdir -p "$build"
say "building in $build"
cmake -S "$root" -B "$build" >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j2 --target Tolvane Alarm substitute_server keep_alive vbutton_preload >"$build/run-build.log" 2>&1 \
    || { tail -40 "$build/run-build.log"; exit 1; }

stop >/dev/null
rm -rf "$run"
mkdir -p "$run/logs"

say "preparing the Wine prefix $WINEPREFIX"
"$root/scripts/wine-prefix.sh" up >/dev/null
"$vbutton" up $port >/dev/null

tolvane=$build/service/Tolvane.exe
say "installing Tolvane as a service"
wine reg delete 'HKLM\SOFTWARE\Corvane\Alarm' /f </dev/null >/dev/null 2>&1 || true
wine "$tolvane" -Service </dev/null >"$run/logs/install.out" 2>&1 \
    || { say "Tolvane.exe -Service failed"; cat "$run/logs/install.out"; exit 1; }

# Wine ends a prefix's services when its last ordinary process ends.
start_program keep_alive "$build/tools/keep_alive/keep_alive.exe"

say "starting substitute disk servers"
substitute=$build/substitute_server/substitute_server.exe
start_program disk-a "$substitute" --log "$(dos "$run/logs/disk-a.log")" --listen 127.0.0.2:0 --password $password
start_program disk-b "$substitute" --log "$(dos "$run/logs/disk-b.log")" --listen 127.0.0.3:0 --password $password
start_program disk-rpc "$substitute" --log "$(dos "$run/logs/disk-rpc.log")" --rpc --password $password
port_a=$(wait_ready "$run/logs/disk-a.log")
port_b=$(wait_ready "$run/logs/disk-b.log")
wait_ready "$run/logs/disk-rpc.log" >/dev/null

say "listing the servers in the service (its first client starts it)"
wine cscript //nologo "$(dos "$root/scripts/servers_client.vbs")" \
    port $port \
    add 127.0.0.2 $password "$port_a" \
    add 127.0.0.3 $password "$port_b" \
    add Quendor-RPC $password 0 \
    refresh wait-state 1 30 list </dev/null >"$run/logs/client.out" 2>&1 || true
sed 's/^/    /' "$run/logs/client.out"
grep -q SCRIPT-OK "$run/logs/client.out" || { say "the script client failed"; exit 1; }

# The tray program shows on the caller's display, or on an Xvfb of our own.
# Every program of the prefix shares one virtual desktop with a taskbar, so
# the tray icon and its balloons are visible in one window.
if [ -z "${DISPLAY:-}" ]; then
    "$root/scripts/xvfb.sh" start $xvfb_display >/dev/null
    export DISPLAY=:$xvfb_display
fi
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1280x800 /f </dev/null >/dev/null 2>&1
say "starting the tray program Alarm.exe on display $DISPLAY"
start_program alarm "$build/alarm_ui/Alarm.exe"
sleep 4
import -display "$DISPLAY" -window root "$run/logs/desktop.png" 2>/dev/null || true

say "pressing the virtual red button once"
for i in $(seq 100); do
    [ "$("$vbutton" dtr)" = 1 ] && break
    sleep 0.1
done
[ "$("$vbutton" dtr)" = 1 ] || say "warning: the service does not hold DTR on $port"
sleep 0.3
"$vbutton" press
sleep 1
"$vbutton" release
sleep 1
grep -h -E ' (unmount|RemoteOpen|RemoteAlarm) ' "$run/logs"/disk-*.log | sort | sed 's/^/    /'

cat <<EOF

The system runs in the Wine prefix $WINEPREFIX.
  Logs:              $run/logs (disk-*.log: what each substitute disk server received)
  Press the button:  KRVN_VBUTTON_STATE=$KRVN_VBUTTON_STATE $vbutton click
                     (a press and a release: two changes of the line, two alarms)
  Service state:     WINEPREFIX=$WINEPREFIX wine sc query Tolvane
  Tray program:      Alarm.exe on display $DISPLAY (a screenshot: $run/logs/desktop.png;
                     take another with: import -display $DISPLAY -window root shot.png)
  Stop everything:   KRVN_BUILD_DIR=$build $0 stop
EOF
