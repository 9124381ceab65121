#!/usr/bin/env bash
# Builds the module and its benchmarks, makes a fresh Wine prefix in the build tree, runs the
# benchmarks (under Xvfb when there is no usable display) and prints the results table, ready to
# paste into docs/performance.md. The table is also written to <build-dir>/bench-results.md and
# the benchmarks' own logs to <build-dir>/bench-logs/.
# Usage: scripts/bench.sh [build-dir]                         (default build dir: ./build)
# Environment: ORVL_BENCH_KEEP_PREFIX=1 reuses the prefix of an earlier run (making one takes
# minutes here); ORVL_BENCH_ONLY="inject" runs only the benchmarks named (hooks inject sheet
# sheet-logging size probe cpu); ORVL_BENCH_HOOK_ROUNDS, ORVL_BENCH_HOOK_MESSAGES,
# ORVL_BENCH_INJECT_ROUNDS, ORVL_BENCH_SHEET_ROUNDS and ORVL_BENCH_PROBE_RUNS change the number
# of rounds and runs.
# Exits non-zero if a benchmark could not be run; a missed goal is reported, not an error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Wine 10 (Debian 13) aborts at start whenever TMPDIR is set: none of the Wine runs below may see it.
unset TMPDIR

if [ "${ORVL_BENCH_IN_DISPLAY:-0}" != 1 ]; then
  case ${1:-} in -h|--help) sed -n '2,13s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
  build=${1:-$root/build}
  mkdir -p "$build"; build=$(cd "$build" && pwd)
  began=$(date +%s)
  bash "$root/scripts/setup.sh"
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >"$build/configure.log" \
    || { cat "$build/configure.log"; exit 1; }
  # What the benchmarks run: the module, the benchmark program and the stand-ins they use.
  cmake --build "$build" -j"$(nproc)" --target OrvlHook orvl_bench orvl_bench_reference orvl_bench_probe \
    sandbox_mapi_provider sandbox_keepalive sandbox_browser
  # The probe once more for x86-64, for Wine without the emulator (64-bit Wine runs natively).
  # Its compiler is not needed for anything else: installed here, when missing and possible.
  rm -f "$build/bin/orvl_bench_probe64.exe"
  cxx64=x86_64-w64-mingw32-g++-posix
  if ! command -v $cxx64 >/dev/null 2>&1 && [ "$(id -u)" = 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends g++-mingw-w64-x86-64-posix \
      >"$build/bench-apt.log" 2>&1 || echo "bench: no x86-64 compiler (see $build/bench-apt.log)" >&2
  fi
  if command -v $cxx64 >/dev/null 2>&1 && [ -x /usr/lib/wine/wine64 ]; then
    $cxx64 -std=c++17 -Os -Wall -Wextra -I"$root" -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0501 \
      -DWINVER=0x0501 -D_WIN32_IE=0x0501 -o "$build/bin/orvl_bench_probe64.exe" \
      "$root/bench/probe_main.cpp" "$root/bench/bench.cpp" "$root/bench/wine_calls.cpp" \
      "$root/sandbox/messenger/messenger_window.cpp" "$root/sandbox/common/win32_helpers.cpp" -static -static-libgcc -static-libstdc++ \
      -luser32 -ladvapi32 -lgdi32 -lkernel32 -s
  else
    echo "bench: no x86-64 compiler or 64-bit Wine: the comparison without the emulator is left out" >&2
  fi
  export ORVL_BENCH_IN_DISPLAY=1 ORVL_BENCH_BEGAN=$began
  display_usable() {
    [ -n "${DISPLAY:-}" ] && timeout 10 import -silent -window root -crop 1x1+0+0 null: >/dev/null 2>&1
  }
  if display_usable; then
    exec bash "$0" "$build"
  fi
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$build"
fi

# ---- Inside the display ----------------------------------------------------------------------
# ORVL_BENCH_ONLY="inject ..." runs only the benchmarks named (hooks, inject, sheet,
# sheet-logging, size, probe, cpu); unset, all of them.
selected() { [ -z "${ORVL_BENCH_ONLY:-}" ] || [[ " $ORVL_BENCH_ONLY " == *" $1 "* ]]; }
build=$1
bin=$build/bin
prefix=$build/bench-prefix
logs=$build/bench-logs
results=$build/bench-results.md
began=${ORVL_BENCH_BEGAN:-$(date +%s)}
shopt -s nullglob
say() { echo "bench: $*" >&2; }
# An emulator fault must not spend a minute writing a core file.
ulimit -c 0

if [ "${ORVL_BENCH_KEEP_PREFIX:-0}" = 1 ] && [ -f "$prefix/system.reg" ]; then
  say "reusing the Wine prefix $prefix"
else
  # wineboot now and then hangs after an emulator fault: bounded, and tried once more.
  made=0
  for attempt in 1 2; do
    say "making the Wine prefix $prefix (this takes minutes under emulation; attempt $attempt)"
    if timeout 900 bash "$root/scripts/make-prefix.sh" "$prefix" "$build"/prefix-reg/*.reg; then made=1; break; fi
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  done
  [ $made = 1 ] || { say "the Wine prefix could not be made (see $prefix.log)"; exit 1; }
fi
# A 64-bit prefix for the probe without the emulator (its programs run natively).
probe64=$bin/orvl_bench_probe64.exe
selected probe || probe64=$bin/not-selected
prefix64=$build/bench-prefix64
wine64_env() {
  env WINEPREFIX="$prefix64" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=;winegstreamer=;winedbg.exe=d" "$@"
}
if [ -e "$probe64" ]; then
  if [ "${ORVL_BENCH_KEEP_PREFIX:-0}" = 1 ] && [ -f "$prefix64/system.reg" ]; then
    say "reusing the 64-bit Wine prefix $prefix64"
  else
    say "making the 64-bit Wine prefix $prefix64"
    wine64_env wineserver -k 2>/dev/null || true
    rm -rf "$prefix64"
    if ! { timeout 300 env WINEPREFIX="$prefix64" WINEARCH=win64 WINEDEBUG=-all \
             WINEDLLOVERRIDES="mscoree=;mshtml=;winegstreamer=;winedbg.exe=d" /usr/lib/wine/wine64 wineboot -i \
             >"$prefix64.log" 2>&1 && timeout 300 env WINEPREFIX="$prefix64" wineserver -w; }; then
      wine64_env wineserver -k 2>/dev/null || true
      say "the 64-bit prefix could not be made (see $prefix64.log): the comparison is left out"
      rm -f "$probe64"
    fi
  fi
fi
. "$root/scripts/wine-env.sh" "$prefix"
wineserver -p
trap 'wineserver -k 2>/dev/null || true; [ -e "$probe64" ] && wine64_env wineserver -k 2>/dev/null; true' EXIT
# Unmanaged windows: with no window manager under Xvfb, Wine otherwise waits two seconds for one
# every time a window is hidden (after each sheet; never inside a timed span, but it adds up).
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
# Wine's background processes start once, away from the benchmarks' output.
wine "$bin/orvl_keepalive.exe" </dev/null >/dev/null 2>&1 &

rm -rf "$logs"; mkdir -p "$logs"
failed=0
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
# run <name> <arguments...>: runs orvl_bench.exe; once more if it failed (the emulated Wine now
# and then loses a process). Its ROW lines go to $logs/rows.
run() {
  local name=$1; shift
  local attempt
  selected "$name" || return 0
  for attempt in 1 2; do
    say "$name (attempt $attempt): orvl_bench.exe $*"
    local rc=0 start=$(date +%s)
    timeout 900 wine "$bin/orvl_bench.exe" "$@" </dev/null >"$logs/$name.log" 2>"$logs/$name.err" || rc=$?
    say "$name: exit $rc after $(( $(date +%s) - start )) s"
    if [ $rc -eq 0 ] && grep -q '^ROW|' "$logs/$name.log"; then
      grep '^ROW|' "$logs/$name.log" >>"$logs/rows"
      return 0
    fi
    grep '^ERROR|' "$logs/$name.log" | sed 's/^ERROR|/bench:   /' >&2 || true
  done
  echo "ROW|$name|the benchmark did not run (see $logs/$name.log)|-||" >>"$logs/rows"
  failed=1
}

: >"$logs/rows"
run hooks hooks "${ORVL_BENCH_HOOK_ROUNDS:-21}" "${ORVL_BENCH_HOOK_MESSAGES:-500}"
run inject inject "${ORVL_BENCH_INJECT_ROUNDS:-5}"
run sheet sheet "${ORVL_BENCH_SHEET_ROUNDS:-11}"
# Context: the same with the MAPI stand-in logging every call to a file.
run sheet-logging sheet "${ORVL_BENCH_SHEET_ROUNDS:-11}" logging

# 5: the module's size and imports. A system DLL is one that the fresh prefix's system folder
# has and that this build does not make.
dll=$bin/OrvlHook.dll
if selected size; then
size=$(stat -c %s "$dll")
imports=$(i686-w64-mingw32-objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p')
system32=$prefix/drive_c/windows/system32
foreign=
for name in $imports; do
  lower=${name,,}
  if [ ! -e "$system32/$lower" ] || ls "$bin" | grep -qix "$name"; then foreign="$foreign $name"; fi
done
kib=$(awk -v s="$size" 'BEGIN { printf "%.1f", s / 1024 }')
if [ "$size" -lt 57344 ]; then verdict=met; else verdict=$(awk -v s="$size" 'BEGIN { printf "missed by %.1f%%", (s / 57344 - 1) * 100 }'); fi
echo "ROW|5 DLL|OrvlHook.dll size|$size bytes ($kib KiB)|< 56 KiB|$verdict" >>"$logs/rows"
list=$(echo $imports | sed 's/ /, /g')
if [ -z "$foreign" ]; then verdict=met; else verdict="missed:$foreign"; fi
echo "ROW|5 DLL|imports ($(echo $imports | wc -w) DLLs)|$list|system DLLs only|$verdict" >>"$logs/rows"
fi

# The injection's Win32 calls without the module, in the emulated 32-bit Wine and, when the probe
# could be built for x86-64, in the 64-bit Wine that runs without the emulator: fresh processes,
# alternating, medians per figure.
probe_runs=${ORVL_BENCH_PROBE_RUNS:-5}
selected probe || probe_runs=0
: >"$logs/probe"   # stays empty when the probe is not selected
[ -e "$probe64" ] && wine64_env wineserver -p
for i in $(seq "$probe_runs"); do
  timeout 300 wine "$bin/orvl_bench_probe.exe" </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^PROBE|/emulated|/p' >>"$logs/probe" || true
  if [ -e "$probe64" ]; then
    timeout 300 env WINEPREFIX="$prefix64" WINEARCH=win64 WINEDEBUG=-all \
      WINEDLLOVERRIDES="mscoree=;mshtml=;winegstreamer=;winedbg.exe=d" /usr/lib/wine/wine64 "$probe64" </dev/null 2>/dev/null \
      | tr -d '\r' | sed -n 's/^PROBE|/native|/p' >>"$logs/probe" || true
  fi
done
say "probe: $(grep -c '^emulated|export_calls_first' "$logs/probe" || true) emulated and $(grep -c '^native|export_calls_first' "$logs/probe" || true) native runs"
# median <side> <key>: in microseconds, empty when there is no value.
median() {
  awk -F'|' -v side="$1" -v key="$2" '$1 == side && $2 == key { print $3 }' "$logs/probe" | sort -g \
    | awk '{ v[++n] = $1 } END { if (n) printf "%.1f", (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2 }'
}
# compare <measure> <key> <unit: ms|us>: a context row, emulated against native.
compare() {
  local e n divisor=1 format="%.1f"
  e=$(median emulated "$2"); n=$(median native "$2")
  [ -n "$e" ] || return 0
  if [ "$3" = ms ]; then divisor=1000; format="%.2f"; fi
  if [ -n "$n" ]; then
    echo "ROW|Emulation|$1: emulated 32-bit Wine / native 64-bit Wine (context)|$(awk -v e="$e" -v n="$n" -v d=$divisor \
      -v f="$format" -v u="$3" 'BEGIN { printf f " / " f " %s = %.1fx", e / d, n / d, u, e / n }')||" >>"$logs/rows"
  else
    echo "ROW|Emulation|$1: emulated 32-bit Wine (context)|$(awk -v e="$e" -v d=$divisor -v f="$format" -v u="$3" \
      'BEGIN { printf f " %s", e / d, u }')||" >>"$logs/rows"
  fi
}
compare "the export's Win32 calls, first time in a process" export_calls_first ms
compare "the same calls again, on a second window" export_calls_again ms
compare "of these, DrawMenuBar (first time)" first_draw_menu_bar ms
compare "SetWindowPos(SWP_FRAMECHANGED), which DrawMenuBar does" frame_changed ms
compare "loading comctl32.dll into a running process" load_comctl32 ms
compare "loading shell32.dll into a running process" load_shell32 ms
compare "GetMessageA per posted message, empty WH_GETMESSAGE hook" get_message_empty_hook us
compare "GetMessageA per posted message, no hook" get_message_no_hook us
compare "FindWindowA(\"MSBLClass\", NULL)" find_window us
native_calls=$(median native export_calls_first)
if [ -n "$native_calls" ]; then
  verdict=$(awk -v n="$native_calls" 'BEGIN { print (n <= 5000) ? "met by the same calls natively" : sprintf("missed: %.1fx the goal", n / 5000) }')
  echo "ROW|3 Injection|in-process without the emulator: the export's calls made by the probe in native 64-bit Wine (the module itself is 32-bit only)|$(awk -v n="$native_calls" 'BEGIN { printf "%.2f ms", n / 1000 }')|< 5 ms|$verdict" >>"$logs/rows"
fi

# How much slower the emulated processor runs plain code: the same computation under Wine and,
# when a native compiler is there, on the machine itself.
emulated= native=
selected cpu && emulated=$(timeout 300 wine "$bin/orvl_bench.exe" cpu </dev/null 2>/dev/null | sed -n 's/^CPU|//p' | tr -d '\r' || true)
if [ -n "$emulated" ] && command -v c++ >/dev/null 2>&1 && c++ -std=c++17 -Os -o "$logs/cpu_probe_native" "$root/bench/cpu_probe_native.cpp" 2>/dev/null; then
  native=$("$logs/cpu_probe_native")
fi
if [ -n "$emulated" ] && [ -n "$native" ]; then
  echo "ROW|Emulation|plain computation, emulated Wine / native (context)|$(awk -v e="$emulated" -v n="$native" 'BEGIN { printf "%.1fx (%.1f ms / %.1f ms)", e / n, e / 1000, n / 1000 }')||" >>"$logs/rows"
elif [ -n "$emulated" ]; then
  echo "ROW|Emulation|plain computation under emulated Wine (no native compiler to compare)|$(awk -v e="$emulated" 'BEGIN { printf "%.1f ms", e / 1000 }')||" >>"$logs/rows"
fi

# The table.
{
  echo "Run of $(date -u '+%Y-%m-%d %H:%M UTC'): $(nproc) cores, $(wine --version 2>/dev/null | tr -d '\r')" \
       "$( [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && echo 'under qemu-i386 user emulation' )," \
       "load average $load_before before the benchmarks, $(cut -d' ' -f1-3 /proc/loadavg) after."
  echo
  echo "| Benchmark | Measure | Figure | Goal | Verdict |"
  echo "| --- | --- | --- | --- | --- |"
  tr -d '\r' <"$logs/rows" | LC_ALL=C sort -s -t'|' -k2,2 \
    | awk -F'|' '{ printf "| %s | %s | %s | %s | %s |\n", $2, $3, $4, $5, $6 }'
  echo
  echo "Whole run (build, prefix, benchmarks): $(( $(date +%s) - began )) s."
} >"$results"
cat "$results"
say "table written to $results; logs in $logs"
exit $failed
