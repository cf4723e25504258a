#!/usr/bin/env bash
# wine-prefix.sh up|down|kill — create the build's Wine prefix if missing and
# keep a wineserver warm for the tests; "down" ends that prefix's processes.
set -u
. "$(dirname "$0")/wine-env.sh"
case "${1:-up}" in
up)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        start=$(date +%s.%N)
        wineboot -i </dev/null >"$WINEPREFIX.boot.log" 2>&1
        wineserver -w
        # Without Marlett, caption buttons show letters; dialogs want Tahoma.
        cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
        echo "created $WINEPREFIX in $(echo "$(date +%s.%N) - $start" | bc) s"
    fi
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1
    echo "wineserver warm for $WINEPREFIX"
    ;;
down|kill)
    wineserver -k </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
    echo "ended the processes of $WINEPREFIX"
    ;;
*)
    echo "usage: $0 up|down" >&2
    exit 2
    ;;
esac
exit 0
