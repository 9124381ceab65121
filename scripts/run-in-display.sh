#!/usr/bin/env bash
# Runs the tests of a built tree inside an X display: a fresh prefix, one persistent wineserver,
# CTest, then the server is shut down. Called by test.sh under xvfb-run.
# Usage: run-in-display.sh <build-dir> [ctest arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1; shift
shopt -s nullglob
bash "$root/scripts/make-prefix.sh" "$build/wineprefix" "$build"/prefix-reg/*.reg
. "$root/scripts/wine-env.sh" "$build/wineprefix"
wineserver -p            # one server for the whole run saves a start per test process
# No window manager runs under Xvfb: Wine would wait up to two seconds for one each time a
# window is hidden. Unmanaged windows close at once.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 \
  || wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 \
  || echo "could not make test windows unmanaged: closing windows will be slow" >&2
# Start Wine's background processes now, away from CTest's output pipes (a process that holds
# such a pipe open would keep CTest waiting), and keep them for the whole run.
wine "$build/bin/orvl_keepalive.exe" </dev/null >/dev/null 2>&1 &
for _ in $(seq 60); do   # its window starts Wine's desktop process; let that finish first
  pgrep -f 'explorer.exe /desktop' >/dev/null && break
  sleep 1
done
# Under QEMU's user-mode emulator (scripts/setup.sh) some faults reach Wine as another kind of
# exception; the cases that check the kind read ORVL_EMULATED.
if pgrep -f '^/usr/bin/qemu-i386' >/dev/null; then export ORVL_EMULATED=1; fi
rc=0
# The emulated 32-bit Wine of some machines now and then loses a process to an emulator fault
# (a hang at start or exit); such a case is run again, up to three times in all. A real failure fails every time.
# Wine's heap checking for every test program (not for Wine's own background processes, started
# above): parameter validation, freed-block and tail checks; a case fails on any heap error
# report (tests/CMakeLists.txt).
(cd "$build" && WINEDEBUG="${ORVL_TEST_WINEDEBUG:--all,err+heap,warn+heap}" \
   ctest --output-on-failure --timeout 180 --repeat until-pass:3 "$@") || rc=$?
wineserver -k || true
for copy in "$build"/wineprefix-*dpi; do   # DPI copies that an interrupted run left (dpi-prefix.sh)
  WINEPREFIX=$copy wineserver -k 2>/dev/null || true
done
exit $rc
