#!/usr/bin/env bash
# Builds everything and runs every test under Wine and Xvfb, in a fresh prefix in the build tree.
# Usage: scripts/test.sh [build-dir] [ctest arguments...]     (default build dir: ./build)
# Exits non-zero if any test fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}; shift || true
mkdir -p "$build"; build=$(cd "$build" && pwd)

bash "$root/scripts/setup.sh"

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >"$build/configure.log" \
  || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j"$(nproc)"

xvfb-run -a -s "-screen 0 1280x1024x24" bash "$root/scripts/run-in-display.sh" "$build" "$@"
