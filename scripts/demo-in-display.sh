#!/usr/bin/env bash
# The headless demo inside an X display (demo.sh runs it under xvfb-run): a fresh prefix with the
# sample MAPI profiles, then the screenshot tour of the Messenger stand-in, once in English and
# briefly in Russian, on a Russian system (ANSI code page 1251) and on a Western European one
# (1252). The tour announces each view; this script photographs the screen.
# Usage: demo-in-display.sh <build-dir> <output-dir>
# Exits non-zero if a tour failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
out=$2
bin=$build/bin
prefix=$build/demo-prefix
shopt -s nullglob

tour_timeout=${ORVL_DEMO_TOUR_TIMEOUT:-270}   # seconds per tour; the tour gives up on its own sooner

say() { echo "demo: $*"; }
# A Unix path as Wine's Z: drive shows it (no winepath: every Wine process start is slow here).
winpath() { local p=$1; echo "Z:${p//\//\\}"; }
seconds() { echo $(( $(date +%s) - start )); }
start=$(date +%s)

# ORVL_DEMO_KEEP_PREFIX=1 reuses the prefix of an earlier run (it takes minutes to make here).
if [ "${ORVL_DEMO_KEEP_PREFIX:-0}" = 1 ] && [ -f "$prefix/system.reg" ]; then
  say "reusing the Wine prefix $prefix"
else
  say "making the Wine prefix $prefix"
  bash "$root/scripts/make-prefix.sh" "$prefix" "$build"/prefix-reg/*.reg
fi
. "$root/scripts/wine-env.sh" "$prefix"
wineserver -p            # one server for the whole run saves a start per process
trap 'wineserver -k 2>/dev/null || true' EXIT
trap 'exit 143' TERM INT
say "prefix ready after $(seconds) s"

# Every setting in one regedit run: each Wine process start costs seconds under emulation.
# Without a window manager nobody draws captions and frames: Wine draws them itself when its
# windows are not "decorated". (Wine's virtual desktop would too, but crashes under emulation.)
settings=$build/demo-settings.reg
cat >"$settings" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"=-

[HKEY_CURRENT_USER\Software\Orvella Sandbox\Browser]
"Show"=dword:00000001
"ShowSeconds"=dword:0000003c
EOF
wine regedit /S "$(winpath "$settings")" >/dev/null 2>&1
wine "$bin/orvl_mapi_fixture.exe" demo </dev/null >/dev/null 2>&1 || { say "cannot write the demo MAPI fixture"; exit 1; }
# Wine's background processes start now, away from this script's pipes, and stay for the run.
wine "$bin/orvl_keepalive.exe" </dev/null >/dev/null 2>&1 &

# The dialogs are drawn in "MS Shell Dlg" as Wine maps it, with Wine's Tahoma in the prefix
# (make-prefix.sh), as Windows 2000 and later draw them in Tahoma.
set_language() {
  local lang_reg=$build/demo-lang.reg
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Dorvane Ltd\\Orvella]\r\n"Lang"=dword:%08x\r\n' "$1" >"$lang_reg"
  wine regedit /S "$(winpath "$lang_reg")" >/dev/null 2>&1
}

# run_tour <name> <Lang value> [messenger options...]: pictures go to $out/<name>/NN-<step>.png
# Wine's own texts (sheet buttons, message box buttons, the help viewer) follow LC_MESSAGES; the
# ANSI code page follows LC_CTYPE (1251 unless the caller sets another).
run_tour() {
  local name=$1 lang=$2; shift 2
  if [ "$lang" = 0 ]; then export LC_MESSAGES=C; else export LC_MESSAGES=ru_RU.UTF-8; fi
  local dir=$out/$name
  rm -rf "$dir"; mkdir -p "$dir"
  set_language "$lang"
  say "$name tour: starting Messenger"
  wine "$bin/orvl_messenger.exe" --tour "$(winpath "$dir")" "$@" </dev/null >/dev/null 2>&1 &
  local messenger=$!
  local host_rc=0
  timeout 120 wine "$bin/orvl_host.exe" </dev/null >"$dir/host.log" 2>&1 || host_rc=$?
  sed 's/^/demo:   /' "$dir/host.log"
  [ $host_rc -eq 0 ] || say "$name tour: the host failed ($host_rc)"

  local begun=$(date +%s) ready base stop= finished_at=0
  while kill -0 "$messenger" 2>/dev/null; do
    for ready in "$dir"/step-*.ready; do
      base=${ready##*/}; base=${base%.ready}
      [ -e "$dir/$base.done" ] && continue
      timeout 30 import -window root "$dir/${base#step-}.png" || say "$name tour: import failed for $base"
      touch "$dir/$base.done"
      say "$name tour: ${base#step-}.png ($(seconds) s)"
    done
    # A Messenger that never starts its tour or never exits after it was lost to an emulator fault.
    [ -e "$dir/tour.finished" ] && [ $finished_at = 0 ] && finished_at=$(date +%s)
    if [ $finished_at != 0 ] && [ $(( $(date +%s) - finished_at )) -ge 20 ]; then
      stop="Messenger did not exit after its tour"
    elif [ ! -e "$dir/tour.log" ] && [ $(( $(date +%s) - begun )) -ge 90 ]; then
      stop="no tour log after 90 s"
    elif [ $(( $(date +%s) - begun )) -ge "$tour_timeout" ]; then
      stop="no end after $tour_timeout s"
    fi
    if [ -n "$stop" ]; then
      say "$name tour: $stop; stopping Messenger"
      kill "$messenger" 2>/dev/null || true
      sleep 5
      kill -KILL "$messenger" 2>/dev/null || true
      break
    fi
    sleep 0.3
  done
  local rc=0
  wait "$messenger" || rc=$?
  rm -f "$dir"/step-*.ready "$dir"/step-*.done
  # Every picture is taken once the tour has finished, whatever became of Messenger then.
  if [ -e "$dir/tour.finished" ]; then
    rm -f "$dir/tour.finished"
    say "$name tour: finished after $(seconds) s"
    grep WARNING "$dir/tour.log" | sed 's/^/demo:   /' || true
    return 0
  fi
  say "$name tour: FAILED (exit $rc); its log:"
  sed 's/^/demo:   /' "$dir/tour.log" 2>/dev/null || true
  return 1
}

# The emulated Wine now and then loses a process at start or exit: a failed tour runs once more.
tour() { run_tour "$@" || { say "$1 tour: once more"; run_tour "$@"; }; }

rc=0
tour en 0 || rc=1
# The language is read when the module loads: a new Messenger picks it up.
tour ru 1 --brief || rc=1
# The same on a Western European system (ANSI code page 1252): the Russian texts must read the same.
LC_CTYPE=C.UTF-8 tour ru-cp1252 1 --brief || rc=1
set_language 0
say "done after $(seconds) s"
exit $rc
