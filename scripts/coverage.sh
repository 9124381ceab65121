#!/usr/bin/env bash
# Coverage of the module's own code (host/, settings/, mapi/, about/) by the whole test suite.
# Usage: scripts/coverage.sh [build-dir] [ctest arguments...]   (default build dir: ./build-coverage)
# Builds an instrumented tree (-DORVL_COVERAGE=ON) in its own folder, never the test build, runs the
# suite there as scripts/test.sh does, and has gcovr write
#   <build>/coverage/index.html      lines and branches, file by file and line by line
#   <build>/coverage/summary.json    the same figures per file
# and print a table per file. Exits non-zero when a test fails or when the module's coverage is
# below the floor: ORVL_COVERAGE_LINES (default 97) per cent of its lines or ORVL_COVERAGE_BRANCHES
# (default 91) per cent of its branches. Extra ctest arguments (-R ...) run a part of the suite;
# the floor is meant for the whole.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-coverage}; shift || true
mkdir -p "$build"; build=$(cd "$build" && pwd)
line_floor=${ORVL_COVERAGE_LINES:-97}
branch_floor=${ORVL_COVERAGE_BRANCHES:-91}

say() { echo "coverage: $*" >&2; }

# Counters would make the normal test build something else: only a folder that is new or already
# a coverage build is used.
if [ -f "$build/CMakeCache.txt" ] && ! grep -q '^ORVL_COVERAGE:BOOL=ON$' "$build/CMakeCache.txt"; then
  say "$build is a build without coverage; give a folder of its own (default: build-coverage)"
  exit 2
fi

bash "$root/scripts/setup.sh"
if ! command -v gcovr >/dev/null 2>&1; then
  [ "$(id -u)" -eq 0 ] || { say "gcovr is missing: run as root (or install the Debian package gcovr)"; exit 2; }
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q --no-install-recommends gcovr >/dev/null 2>&1 \
    || { apt-get update -q && apt-get install -y -q --no-install-recommends gcovr; }
fi
gcov_tool=i686-w64-mingw32-gcov-posix
command -v "$gcov_tool" >/dev/null 2>&1 || { say "$gcov_tool is missing (g++-mingw-w64-i686-posix)"; exit 2; }

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DORVL_COVERAGE=ON >"$build/configure.log" || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j"$(nproc)"
# Counters of an earlier run would add up with this one's. Only the module is instrumented.
objects=$build/CMakeFiles/OrvlHook.dir
find "$objects" -name '*.gcda' -delete

# The suite as scripts/test.sh runs it (its configure keeps ORVL_COVERAGE from the cache).
tests=0
bash "$root/scripts/test.sh" "$build" "$@" || tests=$?

report=$build/coverage
rm -rf "$report"; mkdir -p "$report"
# Only the module's own objects are searched: the build folder also holds the Wine prefix, whose
# drive Z: leads to the whole file system. Branches: with -fno-exceptions there are no throw
# branches; --exclude-unreachable-branches drops the ones gcc puts on lines without code of their
# own (a closing brace, a scope's end).
gcovr --root "$root" --gcov-executable "$gcov_tool" \
  --filter "$root/host/" --filter "$root/settings/" --filter "$root/mapi/" --filter "$root/about/" \
  --exclude-unreachable-branches \
  --html-details "$report/index.html" --html-title "OrvlHook coverage" \
  --json-summary-pretty --json-summary "$report/summary.json" \
  "$objects" >"$report/gcovr.log" 2>&1 || { cat "$report/gcovr.log" >&2; say "gcovr failed"; exit 1; }

floor=0
python3 - "$report/summary.json" "$line_floor" "$branch_floor" <<'EOF' || floor=$?
import json, sys
summary = json.load(open(sys.argv[1]))
line_floor, branch_floor = float(sys.argv[2]), float(sys.argv[3])
def cell(covered, total):
    return f"{100.0 * covered / total:6.2f}% {covered:4d}/{total:<4d}" if total else "      -          "
print(f"{'file':34} {'lines':>17} {'branches':>17}")
for f in sorted(summary["files"], key=lambda f: f["filename"]):
    print(f"{f['filename']:34} {cell(f['line_covered'], f['line_total'])} {cell(f['branch_covered'], f['branch_total'])}")
lines = 100.0 * summary["line_covered"] / summary["line_total"]
branches = 100.0 * summary["branch_covered"] / summary["branch_total"]
print(f"{'total':34} {cell(summary['line_covered'], summary['line_total'])} {cell(summary['branch_covered'], summary['branch_total'])}")
low = []
if lines < line_floor:
    low.append(f"lines {lines:.2f}% < {line_floor:g}%")
if branches < branch_floor:
    low.append(f"branches {branches:.2f}% < {branch_floor:g}%")
if low:
    print("BELOW THE FLOOR: " + ", ".join(low))
    sys.exit(1)
print(f"floor met: lines >= {line_floor:g}%, branches >= {branch_floor:g}%")
EOF
say "report: $report/index.html"
[ "$tests" -eq 0 ] || say "tests FAILED (the figures above are of the cases that ran)"
[ "$tests" -eq 0 ] && [ "$floor" -eq 0 ]
