# Sourced by the scripts: the Wine environment of one run.
# Usage: . scripts/wine-env.sh <prefix-dir>
export WINEPREFIX="$1"
export WINEARCH=win32
# No network here: never let Wine offer to download its .NET or HTML engines.
export WINEDLLOVERRIDES="${ORVL_EXTRA_DLLOVERRIDES:+$ORVL_EXTRA_DLLOVERRIDES;}mscoree=;mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
