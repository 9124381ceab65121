#!/usr/bin/env bash
# The demo: the Messenger stand-in with OrvlHook injected by the add-in host stand-in.
# Usage: scripts/demo.sh [--headless] [build-dir]          (default build dir: ./build)
#
# With a usable DISPLAY (and without --headless): opens Messenger on that display, with the
# "Orvella" menu in its menu bar and sample MAPI profiles for "Test logon", and waits until you
# close it. Otherwise: runs a screenshot tour under Xvfb, in English and then in Russian (on ANSI
# code pages 1251 and 1252), and writes the pictures to <build-dir>/demo-screenshots/en, .../ru
# and .../ru-cp1252; exits non-zero if it failed.
# ORVL_DEMO_LANG=ru shows the interactive demo in Russian.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

headless=0
build=
for arg in "$@"; do
  case $arg in
    --headless) headless=1 ;;
    -h|--help) sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 0 ;;
    -*) echo "demo: unknown option $arg" >&2; exit 2 ;;
    *) [ -z "$build" ] || { echo "demo: one build directory only" >&2; exit 2; }; build=$arg ;;
  esac
done
build=${build:-$root/build}
mkdir -p "$build"; build=$(cd "$build" && pwd)

bash "$root/scripts/setup.sh"

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >"$build/configure.log" \
  || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j"$(nproc)"

display_usable() {
  [ -n "${DISPLAY:-}" ] && timeout 10 import -silent -window root -crop 1x1+0+0 null: >/dev/null 2>&1
}

if [ $headless = 0 ] && display_usable; then
  shopt -s nullglob
  prefix=$build/demo-prefix
  bin=$build/bin
  echo "demo: making the Wine prefix $prefix on display $DISPLAY"
  bash "$root/scripts/make-prefix.sh" "$prefix" "$build"/prefix-reg/*.reg
  # Marlett from fonts-wine, which Wine does not load by itself: the caption buttons need it.
  cp -n /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null \
    || echo "demo: no /usr/share/wine/fonts/marlett.ttf (fonts-wine): caption buttons will show letters" >&2
  . "$root/scripts/wine-env.sh" "$prefix"
  wineserver -p
  trap 'wineserver -k 2>/dev/null || true' EXIT
  wine "$bin/orvl_mapi_fixture.exe" demo </dev/null >/dev/null 2>&1 || { echo "demo: cannot write the MAPI fixture" >&2; exit 1; }
  # The homepage link then shows its address in the browser stand-in's window.
  wine reg add 'HKCU\Software\Orvella Sandbox\Browser' /v Show /t REG_DWORD /d 1 /f >/dev/null 2>&1
  # Wine's own texts follow LC_MESSAGES; the module's follow "Lang".
  if [ "${ORVL_DEMO_LANG:-en}" = ru ]; then lang=1; export LC_MESSAGES=ru_RU.UTF-8; else lang=0; export LC_MESSAGES=C; fi
  wine reg add 'HKCU\SOFTWARE\Dorvane Ltd\Orvella' /v Lang /t REG_DWORD /d $lang /f >/dev/null 2>&1
  wine "$bin/orvl_keepalive.exe" </dev/null >/dev/null 2>&1 &
  echo "demo: starting Messenger"
  wine "$bin/orvl_messenger.exe" </dev/null >/dev/null 2>&1 &
  messenger=$!
  timeout 120 wine "$bin/orvl_host.exe" </dev/null | sed 's/^/demo: /' || true
  echo "demo: use the \"Orvella\" menu in Messenger's menu bar; close Messenger to end the demo."
  rc=0
  wait "$messenger" || rc=$?
  echo "demo: Messenger exited ($rc)"
  exit 0
fi

out=$build/demo-screenshots
mkdir -p "$out"
echo "demo: no display to show Messenger on (or --headless): screenshot tour under Xvfb"
rc=0
timeout 900 xvfb-run -a -s "-screen 0 1024x768x24" bash "$root/scripts/demo-in-display.sh" "$build" "$out" || rc=$?
echo "demo: screenshots in $out"
# The help viewer's topic pane stays empty under Wine here: Debian has no HTML engine for Wine, so
# the viewer opens the file but cannot show its pages. That is the viewer, not the module.
ls "$out"/en/*.png "$out"/ru/*.png "$out"/ru-cp1252/*.png 2>/dev/null \
  | sed -e 's/^/demo:   /' \
        -e '/help[^/]*\.png$/s/$/  (topic pane empty: Wine on Debian has no HTML engine to show help pages)/' || true
exit $rc
