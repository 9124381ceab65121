#!/usr/bin/env bash
# Makes a fresh 32-bit Wine prefix and loads the given .reg files into it.
# Usage: make-prefix.sh <prefix-dir> [file.reg ...]   (needs DISPLAY: run it under the display the prefix will be used on)
# The emulated 32-bit Wine of some machines now and then loses a process while the prefix is
# made; the whole prefix is then made again, up to three times in all.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1; shift
. "$here/wine-env.sh" "$prefix"

attempt() {
  wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  wineboot -i >"$prefix.log" 2>&1 || { echo "wineboot failed" >>"$prefix.log"; return 1; }
  wineserver -w
  # Dialogs in "MS Shell Dlg" are drawn in Tahoma on Windows 2000 and later; fonts-wine ships
  # Wine's Tahoma, which Wine 10 finds by itself and Wine 8 only in the prefix's Fonts folder.
  # Marlett draws the caption buttons (without it they show the letters "0 1 r").
  local face
  for face in tahoma tahomabd marlett; do
    cp /usr/share/wine/fonts/$face.ttf "$prefix/drive_c/windows/Fonts/" 2>>"$prefix.log" \
      || { echo "no /usr/share/wine/fonts/$face.ttf (package fonts-wine)" >>"$prefix.log"; return 1; }
  done
  # A crashing program must not wait for a click on Wine's crash dialog.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 \
    || { echo "reg add failed" >>"$prefix.log"; return 1; }
  for reg in "$@"; do
    [ -f "$reg" ] || continue
    wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1 || { echo "regedit $reg failed" >>"$prefix.log"; return 1; }
  done
  wineserver -w
  # The prefix is usable only if a registry value written last reads back.
  wine reg query 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog >/dev/null 2>&1 \
    || { echo "registry check failed" >>"$prefix.log"; return 1; }
  wineserver -w   # callers may start a persistent server of their own
}

for try in 1 2 3; do
  if attempt "$@"; then
    exit 0
  fi
  echo "make-prefix: attempt $try failed:" >&2
  tail -5 "$prefix.log" >&2
done
exit 1
