#!/usr/bin/env bash
# Makes the package test's Wine prefix ($KRVN_WINEPREFIX) new, so nothing an
# earlier run installed there can pass for what this run's package does.
set -eu
scripts=$(cd "$(dirname "$0")/../../../scripts" && pwd)
: "${KRVN_WINEPREFIX:?names the package test prefix}"
if [ -d "$KRVN_WINEPREFIX" ]; then
    "$scripts/wine-prefix.sh" down
    rm -rf "$KRVN_WINEPREFIX"
fi
exec "$scripts/wine-prefix.sh" up
