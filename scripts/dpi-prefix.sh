#!/usr/bin/env bash
# A copy of the test prefix whose server runs at another DPI, for the cases that measure dialogs
# there (tests/CMakeLists.txt: ORVL_DPIS). Wine reads LogPixels only when its server starts, and
# the test run keeps one server for the main prefix, so each DPI gets a copy with a server of its own.
# Usage: dpi-prefix.sh <build-dir> <dpi> start|stop
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1 dpi=$2
prefix=$build/wineprefix-${dpi}dpi
. "$root/scripts/wine-env.sh" "$prefix"
wineserver -k 2>/dev/null || true
wineserver -w
[ "$3" = stop ] && { rm -rf "$prefix"; exit 0; }
rm -rf "$prefix"
cp -a "$build/wineprefix" "$prefix" || exit 1
# The main server may not have written its last changes yet: the run's window setting again.
reg=$prefix/logpixels.reg
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"LogPixels"=dword:%08x\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n' "$dpi" >"$reg"
wine regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1 || exit 1
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1
# Wine's background processes start now, away from CTest's output pipes, as run-in-display.sh does.
wine "$build/bin/orvl_keepalive.exe" </dev/null >/dev/null 2>&1 &
wine reg query 'HKCU\Control Panel\Desktop' /v LogPixels </dev/null >"$prefix/logpixels.txt" 2>&1
cat "$prefix/logpixels.txt"
grep -qi "REG_DWORD[[:space:]]*0x0*$(printf %x "$dpi")\b" "$prefix/logpixels.txt"
