#!/usr/bin/env bash
# Static analysis of the module's own sources (host/, settings/, mapi/, about/) with cppcheck and
# clang-tidy. Tests, sandbox and benchmarks are not analysed.
# Usage: scripts/static-analysis.sh [cppcheck|clang-tidy|all]      (default: all)
# Prints every finding. Exits 0 when there are none, 1 when there are, 2 when a tool or the
# MinGW-w64 headers are missing (scripts/setup.sh installs them).
# CPPCHECK and CLANG_TIDY name other binaries; JOBS sets clang-tidy's parallel runs (default: nproc).
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 2

source_dirs=(host settings mapi about)
# The module's compile definitions, as in CMakeLists.txt.
defines=(-DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0501 -DWINVER=0x0501 -D_WIN32_IE=0x0501)

setup_problem() { echo "static-analysis: $*" >&2; exit 2; }

find_tool() {
    local name
    for name in "$@"; do
        if command -v "$name" >/dev/null 2>&1; then echo "$name"; return 0; fi
    done
    return 1
}

# Inline suppressions that one cppcheck release needs and another does not, as "<file>|<id>": the
# report that such a suppression matched nothing is not a finding. Any other unmatched suppression
# is.
#   constParameter in about/about_dialog.cpp: cppcheck 2.10 (Debian 12) takes the HWND parameter
#     for a pointer to the module's data; 2.17 (Debian 13) knows it for a handle and stays silent.
tolerated_unmatched=("about/about_dialog.cpp|constParameter")

# Reads cppcheck's lines ("<file>:<line>:<column>: <severity>: <message> [<id>]") and prints the
# findings among them. Notes (severity "information") are not findings, such as cppcheck 2.17's
# word that it limited its analysis of branches, except two about the sources: a header of the
# module that is missing, and an inline suppression that matched nothing (unless tolerated above).
cppcheck_findings() {
    local line file id entry tolerated
    while IFS= read -r line; do
        if [[ $line =~ ^([^:]*):[0-9]+:[0-9]+:\ information:\ (.*)\ \[([A-Za-z0-9_]+)\]$ ]]; then
            file=${BASH_REMATCH[1]} id=${BASH_REMATCH[3]}
            case $id in
                missingInclude) ;;
                unmatchedSuppression)
                    tolerated=0
                    for entry in "${tolerated_unmatched[@]}"; do
                        [[ $file == "${entry%%|*}" && ${BASH_REMATCH[2]} == "Unmatched suppression: ${entry#*|}" ]] && tolerated=1
                    done
                    [ $tolerated = 1 ] && continue ;;
                *) continue ;;
            esac
        fi
        [ -n "$line" ] && echo "$line"
    done
}

run_cppcheck() {
    local tool
    tool=$(find_tool "${CPPCHECK:-cppcheck}") || setup_problem "cppcheck not found (scripts/setup.sh installs it)"
    echo "== cppcheck ($("$tool" --version)): ${source_dirs[*]}"
    local start=$SECONDS rc=0 output findings
    # No system include paths: windows.cfg describes the Win32 API to cppcheck, which is faster and
    # more precise than letting it read the MinGW-w64 headers. With "information" enabled, an inline
    # suppression that no longer matches anything is reported too.
    # Enabled, by name: the classes warning, style, performance and portability (cppcheck selects by
    # class, not by single check).
    # That system headers are missing follows from this: cppcheck 2.10 says so in notes
    # (missingIncludeSystem), 2.17 does not; notes are not findings. A missing header of our own
    # (missingInclude) is one.
    # Suppressed everywhere:
    #   lstrlenACalled, lstrcpynACalled and their "W" twins: windows.cfg's blanket advice against
    #     the kernel32 string calls, whatever the arguments. Every call here passes the
    #     destination's capacity, and lstrcpyn cuts and terminates.
    # Not enabled: unusedFunction. The export (OrvlHook.def) and the window, dialog and hook
    # procedures are called from outside the sources cppcheck sees.
    output=$("$tool" --std=c++17 --language=c++ --platform=win32A --library=windows \
        "${defines[@]}" -I "$root" \
        --enable=warning,style,performance,portability,information --inconclusive \
        --suppress=lstrlenACalled --suppress=lstrcpynACalled \
        --suppress=lstrlenWCalled --suppress=lstrcpynWCalled \
        --inline-suppr --quiet --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
        "${source_dirs[@]}" 2>&1) || { rc=1; echo "$output"; echo "== cppcheck itself failed"; }
    findings=$(printf '%s\n' "$output" | cppcheck_findings)
    if [ -n "$findings" ]; then
        rc=1
        printf '%s\n' "$findings"
    fi
    if [ $rc -eq 0 ]; then
        echo "== cppcheck: no findings ($((SECONDS - start)) s)"
    else
        echo "== cppcheck: FINDINGS, see above ($((SECONDS - start)) s)"
    fi
    return $rc
}

# Compiler arguments that let clang parse the sources as the i686 MinGW-w64 g++ (posix) does.
# The clang driver's own search for this target takes the Linux host's /usr/include/c++ and
# /usr/include, so the standard directories are replaced: the cross-compiler's libstdc++, then
# clang's builtin headers (kept by -nostdlibinc; gcc's own include directory is left out, its
# intrinsics headers use gcc-only builtins), then the MinGW-w64 C and Win32 headers.
mingw_clang_args() {
    local cxx c_include dir
    cxx=$(printf '%s\n' /usr/lib/gcc/i686-w64-mingw32/*-posix/include/c++ | sort -V | tail -n 1)
    [ -d "$cxx/i686-w64-mingw32" ] \
        || setup_problem "no libstdc++ headers of the posix i686-w64-mingw32 g++ under /usr/lib/gcc/i686-w64-mingw32/*-posix/include/c++ (g++-mingw-w64-i686-posix)"
    c_include=
    for dir in /usr/i686-w64-mingw32/include /usr/share/mingw-w64/include; do
        if [ -f "$dir/windows.h" ]; then c_include=$dir; break; fi
    done
    [ -n "$c_include" ] || setup_problem "no MinGW-w64 headers (windows.h) in /usr/i686-w64-mingw32/include or /usr/share/mingw-w64/include"
    clang_args=(--target=i686-w64-mingw32 -std=c++17 -fno-exceptions -fno-rtti -Wall -Wextra
                -nostdinc++ -nostdlibinc
                -isystem "$cxx" -isystem "$cxx/i686-w64-mingw32" -isystem "$cxx/backward"
                -idirafter "$c_include"
                "${defines[@]}" -I "$root")
}

run_clang_tidy() {
    local tool
    if [ -n "${CLANG_TIDY:-}" ]; then
        tool=$(find_tool "$CLANG_TIDY") || setup_problem "$CLANG_TIDY not found"
    else
        tool=$(find_tool clang-tidy clang-tidy-14) || setup_problem "clang-tidy not found (scripts/setup.sh installs it)"
    fi
    local clang_args
    mingw_clang_args
    local files
    mapfile -t files < <(find "${source_dirs[@]}" -name '*.cpp' -type f | LC_ALL=C sort)
    [ ${#files[@]} -gt 0 ] || setup_problem "no .cpp files in ${source_dirs[*]}"
    echo "== clang-tidy ($("$tool" --version | sed -n 's/.*LLVM version \([0-9.]*\).*/\1/p')): ${#files[@]} files"

    local start=$SECONDS jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
    local out
    out=$(mktemp -d) || exit 2
    # shellcheck disable=SC2064 # the folder's name is fixed now
    trap "rm -rf '$out'" EXIT
    local i
    for i in "${!files[@]}"; do
        ( "$tool" --quiet --config-file="$root/.clang-tidy" "${files[$i]}" -- "${clang_args[@]}" \
              >"$out/$i.log" 2>&1
          echo $? >"$out/$i.rc" ) &
        while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
    done
    wait

    local failed=0 rc
    for i in "${!files[@]}"; do
        rc=$(cat "$out/$i.rc" 2>/dev/null || echo 1)
        # Any diagnostic counts, even one that was not turned into an error.
        if [ "$rc" -ne 0 ] || grep -qE ': (warning|error):' "$out/$i.log"; then
            failed=$((failed + 1))
            echo "-- ${files[$i]}"
            grep -vE '^[0-9]+ (warnings?|errors?)( and [0-9]+ errors?)? generated\.$' "$out/$i.log"
            if grep -q 'clang-diagnostic-error' "$out/$i.log"; then
                echo "-- ${files[$i]}: clang could not compile this file with the MinGW-w64 headers"
            fi
        fi
    done
    if [ $failed -eq 0 ]; then
        echo "== clang-tidy: no findings ($((SECONDS - start)) s)"
        return 0
    fi
    echo "== clang-tidy: FINDINGS in $failed of ${#files[@]} files, see above ($((SECONDS - start)) s)"
    return 1
}

what=${1:-all}
case $what in
    cppcheck)   run_cppcheck ;;
    clang-tidy) run_clang_tidy ;;
    all)
        rc=0
        run_cppcheck || rc=1
        run_clang_tidy || rc=1
        exit $rc ;;
    *) echo "usage: $0 [cppcheck|clang-tidy|all]" >&2; exit 2 ;;
esac
