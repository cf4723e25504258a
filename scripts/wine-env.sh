# Sourced by the scripts that run Wine: one prefix per build tree, quiet
# Wine, and no offers to download the .NET or HTML add-ons.
: "${KRVN_BUILD_DIR:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}"
: "${KRVN_WINEPREFIX:=$KRVN_BUILD_DIR/wineprefix}"
export WINEPREFIX="$KRVN_WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# The virtual red button must be preloaded from the first Wine command on:
# services started later inherit the environment of the prefix's first process.
if [ -n "${KRVN_VBUTTON_LIB:-}" ] && [ -f "$KRVN_VBUTTON_LIB" ]; then
    export LD_PRELOAD="$KRVN_VBUTTON_LIB${LD_PRELOAD:+:$LD_PRELOAD}"
fi
