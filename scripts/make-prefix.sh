#!/usr/bin/env bash
# Makes a fresh 32-bit Wine prefix and loads the given .reg files into it.
# Usage: make-prefix.sh <prefix-dir> [file.reg ...]   (needs DISPLAY: run it under the display the prefix will be used on)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1; shift
. "$here/wine-env.sh" "$prefix"
wineserver -k 2>/dev/null || true
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
wineboot -i >"$prefix.log" 2>&1 || { cat "$prefix.log" >&2; exit 1; }
wineserver -w
# A crashing program must not wait for a click on Wine's crash dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
for reg in "$@"; do
  [ -f "$reg" ] || continue
  wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
done
wineserver -w
