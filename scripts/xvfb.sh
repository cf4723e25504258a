#!/usr/bin/env bash
# xvfb.sh start|stop N — an Xvfb server on display :N for window tests.
set -u
cmd=${1:-start}
disp=${2:-97}
run="${KRVN_BUILD_DIR:-/tmp}/xvfb-$disp.pid"
case "$cmd" in
start)
    if [ -f "$run" ] && kill -0 "$(cat "$run")" 2>/dev/null; then
        echo "Xvfb :$disp already running"
        exit 0
    fi
    nohup Xvfb ":$disp" -screen 0 1280x800x24 -nolisten tcp </dev/null >"$run.log" 2>&1 &
    echo $! >"$run"
    for _ in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$disp" ] && { echo "Xvfb :$disp up"; exit 0; }
        sleep 0.1
    done
    echo "Xvfb :$disp did not come up" >&2
    exit 1
    ;;
stop)
    if [ -f "$run" ]; then
        kill "$(cat "$run")" 2>/dev/null
        rm -f "$run"
    fi
    echo "Xvfb :$disp stopped"
    ;;
esac
